#include "win/files.h"

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

bool replaceFile(const std::string& target, const void* data, DWORD size)
{
    const std::string temporary = target + ".new";
    File file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!file) return false;
    auto removeTemporary = onScopeExit([&] { DeleteFileA(temporary.c_str()); });
    DWORD written = 0;
    if (!WriteFile(file.get(), data, size, &written, nullptr) || written != size) return false;
    FlushFileBuffers(file.get());
    file.reset();

    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
    if (MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        removeTemporary.dismiss();
        return true;
    }
    // Windows 9x has no replacing move: set the old file aside, then put it back on failure.
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!MoveFileA(temporary.c_str(), target.c_str())) return false;
        removeTemporary.dismiss();
        return true;
    }
    const std::string old = target + ".old";
    DeleteFileA(old.c_str());
    if (!MoveFileA(target.c_str(), old.c_str())) return false;
    if (!MoveFileA(temporary.c_str(), target.c_str())) {
        MoveFileA(old.c_str(), target.c_str());
        return false;
    }
    removeTemporary.dismiss();
    DeleteFileA(old.c_str());
    return true;
}

} // namespace win
