#include "win/files.h"

#include "win/system_library.h"
#include "win/unique.h"

namespace win {

namespace {

std::string folderText(UINT (WINAPI* query)(LPSTR, UINT))
{
    char buffer[machineTextSize] = {};
    const UINT length = query(buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return std::string();
    std::string text(buffer, length);
    while (!text.empty() && text.back() == '\\') text.pop_back();
    return text;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Where moveOver sets the old target aside.
std::string asideName(const std::string& source)
{
    return source + ".old";
}

std::string lowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// "CON", "aux.txt", "LPT1 " and the like name devices in every folder:
// reading from one could wait for input that never comes.
bool isDeviceName(const std::string& name)
{
    std::string base = lowerAscii(name.substr(0, name.find('.')));
    while (!base.empty() && isBlank(base.back())) base.pop_back();
    static const char* const devices[] = {"con", "prn", "aux", "nul", "clock$"};
    for (const char* device : devices)
        if (base == device) return true;
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

} // namespace

std::string windowsFolder()
{
    return folderText(GetWindowsDirectoryA);
}

std::string systemFolder()
{
    return folderText(GetSystemDirectoryA);
}

std::string shortPath(const std::string& path, DWORD bufferSize)
{
    std::string buffer(bufferSize, '\0');
    const DWORD length = GetShortPathNameA(path.c_str(), &buffer[0], bufferSize);
    if (length == 0 || length >= bufferSize) return std::string();
    buffer.resize(length);
    return buffer;
}

int fileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

bool isAbsolutePath(const std::string& path)
{
    if (path.size() < 3) return false;
    const char first = path[0];
    const bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
    if (letter) return path[1] == ':' && path[2] == '\\';
    // "\\.\" and "\\?\" name devices and raw paths, not a share.
    return first == '\\' && path[1] == '\\' && path[2] != '\\' && path[2] != '.' && path[2] != '?';
}

bool isPlainFileName(const std::string& name)
{
    if (name.empty() || isDeviceName(name)) return false;
    bool onlyDotsAndBlanks = true;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        // A trail byte of a double-byte character may look like a backslash.
        if (IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < name.size()) {
            ++i;
            onlyDotsAndBlanks = false;
            continue;
        }
        if (c == '\\' || c == '/' || c == ':') return false;
        if (c != '.' && !isBlank(c)) onlyDotsAndBlanks = false;
    }
    return !onlyDotsAndBlanks;
}

bool listFolder(const std::string& folder, std::vector<WIN32_FIND_DATAA>& entries)
{
    entries.clear();
    // An empty folder text would list the root of the current drive.
    if (folder.empty()) return false;
    WIN32_FIND_DATAA entry;
    Find search(FindFirstFileA((folder + "\\*.*").c_str(), &entry));
    if (!search) return false;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") entries.push_back(entry);
    } while (FindNextFileA(search.get(), &entry));
    return true;
}

bool deleteFile(const std::string& path)
{
    if (DeleteFileA(path.c_str())) return true;
    if (GetLastError() != ERROR_ACCESS_DENIED) return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return false;
    SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileA(path.c_str()) != 0;
}

bool emptyFolder(const std::string& folder)
{
    std::vector<WIN32_FIND_DATAA> entries;
    if (!listFolder(folder, entries)) return false;
    for (const WIN32_FIND_DATAA& entry : entries)
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) deleteFile(folder + "\\" + entry.cFileName);
    return true;
}

bool createPrivateFolder(const std::string& path)
{
    // The 9x family has no access control; its advapi32 only has stubs, and
    // the functions are looked up so that the program still loads there.
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return CreateDirectoryA(path.c_str(), nullptr) != 0;
    auto allocateSid = systemFunction<decltype(AllocateAndInitializeSid)>("advapi32.dll", "AllocateAndInitializeSid");
    auto freeSid = systemFunction<decltype(FreeSid)>("advapi32.dll", "FreeSid");
    auto sidLength = systemFunction<decltype(GetLengthSid)>("advapi32.dll", "GetLengthSid");
    auto initializeAcl = systemFunction<decltype(InitializeAcl)>("advapi32.dll", "InitializeAcl");
    auto addAllowed = systemFunction<decltype(AddAccessAllowedAce)>("advapi32.dll", "AddAccessAllowedAce");
    auto getAce = systemFunction<decltype(GetAce)>("advapi32.dll", "GetAce");
    auto initializeDescriptor =
        systemFunction<decltype(InitializeSecurityDescriptor)>("advapi32.dll", "InitializeSecurityDescriptor");
    auto setDacl = systemFunction<decltype(SetSecurityDescriptorDacl)>("advapi32.dll", "SetSecurityDescriptorDacl");
    if (!allocateSid || !freeSid || !sidLength || !initializeAcl || !addAllowed || !getAce || !initializeDescriptor ||
        !setDacl)
        return false;

    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr, system = nullptr;
    auto freeSids = onScopeExit([&] {
        if (administrators) freeSid(administrators);
        if (system) freeSid(system);
    });
    if (!allocateSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                     &administrators) ||
        !allocateSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system))
        return false;
    const DWORD aclSize = sizeof(ACL) + 2 * sizeof(ACCESS_ALLOWED_ACE) + sidLength(administrators) + sidLength(system);
    std::vector<DWORD> acl((aclSize + sizeof(DWORD) - 1) / sizeof(DWORD));
    PACL list = reinterpret_cast<PACL>(acl.data());
    if (!initializeAcl(list, aclSize, ACL_REVISION) || !addAllowed(list, ACL_REVISION, GENERIC_ALL, administrators) ||
        !addAllowed(list, ACL_REVISION, GENERIC_ALL, system))
        return false;
    // NT 4.0 has no call that adds an inheritable entry: the flags are set in place.
    for (DWORD i = 0; i < 2; ++i) {
        void* ace = nullptr;
        if (!getAce(list, i, &ace)) return false;
        static_cast<ACE_HEADER*>(ace)->AceFlags |= OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    }
    SECURITY_DESCRIPTOR descriptor;
    if (!initializeDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) || !setDacl(&descriptor, TRUE, list, FALSE))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
    return CreateDirectoryA(path.c_str(), &attributes) != 0;
}

bool moveOver(const std::string& source, const std::string& target)
{
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
    // In use: a program holds it open. Asked first, because not every system
    // refuses to move a file over one that is open.
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        !File(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)))
        return false;
    if (MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    if (attributes == INVALID_FILE_ATTRIBUTES) return MoveFileA(source.c_str(), target.c_str()) != 0;
    const std::string old = asideName(source);
    DeleteFileA(old.c_str());
    if (!MoveFileA(target.c_str(), old.c_str())) return false;
    if (!MoveFileA(source.c_str(), target.c_str())) {
        MoveFileA(old.c_str(), target.c_str());
        return false;
    }
    DeleteFileA(old.c_str());
    return true;
}

void finishMoveOver(const std::string& source, const std::string& target)
{
    if (!fileExists(target)) MoveFileA(asideName(source).c_str(), target.c_str());
}

namespace {

const char* const saveSuffix = ".save";

// The whole-or-nothing replacement: write makes the new file at the path it
// is given.
template <typename Write>
bool replaceWhole(const std::string& target, Write write)
{
    const std::string folder = target + saveSuffix;
    const std::string temporary = folder + "\\new";
    finishMoveOver(temporary, target);
    emptyFolder(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    auto removeFolder = onScopeExit([&] {
        emptyFolder(folder);
        RemoveDirectoryA(folder.c_str());
    });
    return write(temporary) && moveOver(temporary, target);
}

} // namespace

void removeLeftoverCopies(const std::string& folder)
{
    std::vector<WIN32_FIND_DATAA> entries;
    listFolder(folder, entries);
    for (const WIN32_FIND_DATAA& entry : entries) {
        const std::string name = entry.cFileName;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name.size() <= 5 ||
            lstrcmpiA(name.c_str() + name.size() - 5, saveSuffix) != 0)
            continue;
        // The target of a move cut off on Windows 9x waits there to be put back.
        finishMoveOver(folder + "\\" + name + "\\new", folder + "\\" + name.substr(0, name.size() - 5));
        emptyFolder(folder + "\\" + name);
        RemoveDirectoryA((folder + "\\" + name).c_str());
    }
}

bool copyOver(const std::string& source, const std::string& target)
{
    return replaceWhole(target, [&](const std::string& temporary) {
        return CopyFileA(source.c_str(), temporary.c_str(), FALSE) != 0;
    });
}

bool replaceFile(const std::string& target, const void* data, DWORD size)
{
    return replaceWhole(target, [&](const std::string& temporary) {
        File file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
        DWORD written = 0;
        const bool ok = file && WriteFile(file.get(), data, size, &written, nullptr) && written == size;
        if (ok) FlushFileBuffers(file.get());
        return ok;
    });
}

} // namespace win
