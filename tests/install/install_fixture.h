#pragma once
// A product folder, an update folder and a session pointing at them, for the
// tests of the file installation.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "install/directory_macros.h"
#include "kit/testkit.h"
#include "session/detection.h"
#include "session/update_session.h"

namespace installtest {

// Session texts as the program loads them, with the folders of a test.
inline void prepareSession(UpdateSession& session, const std::string& productDir,
                           const std::string& programDir, unsigned long osFamily)
{
    initialiseEnvironment(session);
    session.productDir = productDir;
    session.programDir = programDir;
    session.manifestPath = programDir + "\\trevix.ini";
    session.mergeModulesDir = productDir + "\\Packager\\Merge Modules";
    session.newFilesDir = session.mergeModulesDir + "\\NewFiles";
    session.osFamily = osFamily;
    session.hasMergeModules = 0;
}

inline std::string content(const std::string& path)
{
    std::string text;
    if (!kit::readFile(path, text)) return "<missing>";
    return text;
}

inline std::string shortPath(const std::string& path)
{
    char buffer[MAX_PATH] = {};
    DWORD length = GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
}

inline std::string windowsDir()
{
    char buffer[MAX_PATH] = {};
    GetWindowsDirectoryA(buffer, MAX_PATH);
    return buffer;
}

inline std::string upper(std::string text)
{
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

// The delayed moves queued in the Session Manager key, as (source, target)
// pairs with their "\??\" and "!" markers. Must be read outside a registry
// sandbox: the system writes the key by its absolute path.
const char* const sessionManagerKey = "System\\CurrentControlSet\\Control\\Session Manager";
const char* const pendingValue = "PendingFileRenameOperations";

inline std::vector<std::pair<std::string, std::string>> pendingMoves()
{
    std::vector<std::pair<std::string, std::string>> moves;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sessionManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return moves;
    DWORD size = 0, type = 0;
    std::string data;
    if (RegQueryValueExA(key, pendingValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size) {
        data.resize(size);
        RegQueryValueExA(key, pendingValue, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
        data.resize(size);
    }
    RegCloseKey(key);
    EXPECT_TRUE(data.empty() || type == REG_MULTI_SZ) << "type " << type;
    std::vector<std::string> strings;
    size_t start = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] != '\0') continue;
        strings.push_back(data.substr(start, i - start));
        start = i + 1;
    }
    // The list ends with an empty string after the last pair.
    if (strings.size() % 2 == 1 && strings.back().empty()) strings.pop_back();
    for (size_t i = 0; i + 1 < strings.size(); i += 2) moves.emplace_back(strings[i], strings[i + 1]);
    return moves;
}

inline void clearPendingMoves()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sessionManagerKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, pendingValue);
    RegCloseKey(key);
}

// Whether this machine refuses writes to read-only files: Wine run as root
// does not (it maps the attribute to Unix permissions, which root ignores).
inline bool readOnlyIsEnforced(const std::string& folder)
{
    const std::string probe = folder + "\\readonly.probe";
    kit::writeFile(probe, "x");
    SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool enforced = file == INVALID_HANDLE_VALUE;
    if (!enforced) CloseHandle(file);
    SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(probe.c_str());
    return enforced;
}

// Sets the last-write time of path to a fixed moment plus seconds.
inline bool setWriteTime(const std::string& path, int seconds)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ULARGE_INTEGER value;
    value.QuadPart = static_cast<unsigned long long>(130000000000000000ll + seconds * 10000000ll);
    FILETIME time = {value.LowPart, value.HighPart};
    BOOL ok = SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
    return ok != 0;
}

} // namespace installtest
