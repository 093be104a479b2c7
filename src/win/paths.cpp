#include "win/paths.h"

#include "win/text.h"
#include "win/unique.h"

namespace win {

namespace {

std::string folderText(UINT(WINAPI* query)(LPSTR, UINT))
{
    char buffer[machineTextSize] = {};
    const UINT length = query(buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return std::string();
    std::string text(buffer, length);
    stripTrailingBackslashes(text);
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
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) && base[3] >= '1' &&
           base[3] <= '9';
}

} // namespace

std::string windowsFolder() { return folderText(GetWindowsDirectoryA); }

std::string systemFolder() { return folderText(GetSystemDirectoryA); }

std::string join(const std::string& folder, const std::string& name)
{
    if (folder.empty()) return name;
    // The trail byte of a double-byte character may look like a backslash.
    bool endsWithSeparator = false;
    for (size_t i = 0; i < folder.size(); ++i) {
        const bool lead = IsDBCSLeadByte(static_cast<BYTE>(folder[i])) && i + 1 < folder.size();
        endsWithSeparator = !lead && folder[i] == '\\';
        if (lead) ++i;
    }
    return endsWithSeparator ? folder + name : folder + "\\" + name;
}

std::string driveRoot(const std::string& path)
{
    if (!isAbsolutePath(path)) return std::string();
    if (path[1] == ':') return path.substr(0, 3);
    // "\\server\share\": the share is the volume.
    const size_t server = path.find('\\', 2);
    if (server == std::string::npos) return std::string();
    const size_t share = path.find('\\', server + 1);
    return share == std::string::npos ? path + "\\" : path.substr(0, share + 1);
}

namespace {

// The ANSI short-name call takes at most MAX_PATH: a longer path is shortened
// one component at a time, each looked up in the short form so far.
std::string shortPathOfLong(const std::string& path)
{
    const std::string root = driveRoot(path);
    if (root.empty()) return std::string();
    std::string shortForm = root.substr(0, root.size() - 1);
    for (size_t start = root.size(); start < path.size();) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        const std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty()) continue;
        // The folder is listed: the component itself may not fit a path.
        WIN32_FIND_DATAA entry;
        std::string found;
        Find search(FindFirstFileA(join(shortForm, "*").c_str(), &entry));
        for (bool more = static_cast<bool>(search); more && found.empty(); more = FindNextFileA(search.get(), &entry))
            if (sameText(entry.cFileName, component))
                found = entry.cAlternateFileName[0] ? entry.cAlternateFileName : entry.cFileName;
        if (found.empty()) return std::string();
        shortForm = join(shortForm, found);
        if (shortForm.size() >= MAX_PATH) return std::string();
    }
    return shortForm;
}

} // namespace

std::string shortPath(const std::string& path, DWORD bufferSize)
{
    if (path.size() >= MAX_PATH) {
        const std::string shortForm = shortPathOfLong(path);
        return shortForm.size() < bufferSize ? shortForm : std::string();
    }
    std::string buffer(bufferSize, '\0');
    const DWORD length = GetShortPathNameA(path.c_str(), &buffer[0], bufferSize);
    if (length == 0 || length >= bufferSize) return std::string();
    buffer.resize(length);
    return buffer;
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

} // namespace win
