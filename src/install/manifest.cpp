#include "install/manifest.h"

#include <windows.h>

#include "install/directory_macros.h"
#include "install/file_replacement.h"
#include "session/progress.h"
#include "session/update_session.h"
#include "win/process.h"

namespace {

std::string readValue(const std::string& manifestPath, const std::string& section,
                      const std::string& key)
{
    char buffer[manifestValueSize] = {};
    DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer, sizeof buffer,
                                            manifestPath.c_str());
    if (length >= sizeof buffer) length = sizeof buffer - 1;
    return std::string(buffer, length);
}

} // namespace

std::vector<std::string> sectionKeys(const std::string& manifestPath, const std::string& section)
{
    std::vector<std::string> keys;
    std::string buffer(manifestKeyListSize, '\0');
    DWORD length = GetPrivateProfileStringA(section.c_str(), nullptr, "", &buffer[0],
                                            manifestKeyListSize, manifestPath.c_str());
    if (length >= manifestKeyListSize) length = manifestKeyListSize - 1;
    // Zero-terminated names one after another; the list ends at an empty name.
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
        if (buffer[i] != '\0') continue;
        if (i == start) break;
        keys.push_back(buffer.substr(start, i - start));
        start = i + 1;
    }
    if (start < length) keys.push_back(buffer.substr(start, length - start));
    return keys;
}

bool isPlainFileName(const std::string& name)
{
    if (name.empty()) return false;
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
        if (c != '.' && c != ' ') onlyDotsAndBlanks = false;
    }
    // Windows drops trailing dots and blanks: "..." would name the folder itself.
    return !onlyDotsAndBlanks;
}

int installSection(UpdateSession& session, const std::string& section, int discardAll,
                   int replaceOnly)
{
    prepareStagingDirs(session, stagingCreate);
    const std::string& sep = session.pathSeparator;
    for (const std::string& name : sectionKeys(session.manifestPath, section)) {
        if (isPlainFileName(name)) {
            const std::string value = readValue(session.manifestPath, section, name);
            const std::string updateCopy = session.programDir + sep + name;
            bool install = true;
            std::string staging;
            if (value == "DELETE" || discardAll) {
                DeleteFileA(updateCopy.c_str());
                install = false;
            } else if (!stagingDirFor(session, value, staging)) {
                // No macro: a new name for the update's copy, within its own folder.
                if (isPlainFileName(value))
                    MoveFileA(updateCopy.c_str(), (session.programDir + sep + value).c_str());
                install = false;
            }
            std::string folder;
            if (install) resolveMacro(session, value, folder);
            if (install && replaceOnly && !fileExists(folder + sep + name)) install = false;
            if (install && !copyOneFile(name, session.programDir, folder))
                copyOneFile(name, session.programDir, staging);
        }
        if (session.progress) session.progress->step();
    }
    return 1;
}
