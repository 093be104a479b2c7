#include "session/detection.h"

#include <windows.h>

#include <vector>

#include "res/resource.h"
#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/paths.h"
#include "win/registry.h"
#include "win/text.h"
#include "win/unique.h"

int readMachineString(const std::string& key, const std::string& value, std::string& out)
{
    // Any type; a value stored without its terminator ends at its size.
    std::string data;
    if (win::readValue(HKEY_LOCAL_MACHINE, key.c_str(), value.c_str(), win::machineTextSize, data) != ERROR_SUCCESS)
        return 0;
    std::string text = win::boundedText(data.data(), data.size());
    if (!text.empty() && text.back() == '\\') text.pop_back();
    out = std::move(text);
    return 1;
}

namespace {

// The variable the temporary folder comes from, TMP before TEMP (empty when
// neither is set); 0 when it is no absolute path itself: GetTempPathA makes a
// relative one ("..", "C:", "\Temp") absolute against the current folder,
// so its answer cannot tell.
int readTemporaryVariable(std::string& value)
{
    value.clear();
    for (const char* name : {"TMP", "TEMP"}) {
        const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
        if (size == 0) continue;
        std::string text(size, '\0');
        const DWORD length = GetEnvironmentVariableA(name, &text[0], size);
        if (length == 0) continue; // set, but empty: GetTempPathA passes it by too
        if (length >= size || !win::isAbsolutePath(text.substr(0, length))) return 0;
        value = text.substr(0, length);
        return 1;
    }
    return 1;
}

// The temporary folder; its short form when the long one does not fit the
// buffer. Empty when neither fits or it is no absolute path: the cleanup
// run's copy would otherwise land at the root of the drive or below the
// current folder.
std::string temporaryFolder()
{
    std::string variable;
    if (!readTemporaryVariable(variable)) return std::string();
    char buffer[win::machineTextSize] = {};
    const DWORD length = GetTempPathA(sizeof buffer, buffer);
    std::string folder;
    if (length > 0 && length < sizeof buffer) {
        folder.assign(buffer, length);
    } else if (length >= sizeof buffer) {
        std::string full(length + 1, '\0');
        const DWORD fullLength = GetTempPathA(length + 1, &full[0]);
        if (fullLength > 0 && fullLength <= length) folder = win::shortPath(full.substr(0, fullLength));
    } else if (!variable.empty()) {
        // Wine answers nothing for a folder longer than MAX_PATH; Windows
        // answers with the variable's own absolute path.
        folder = variable;
    }
    win::stripTrailingBackslashes(folder);
    return win::isAbsolutePath(folder + "\\") ? folder : std::string();
}

} // namespace

int readMachineFolder(const std::string& key, const std::string& value, std::string& out)
{
    std::string text;
    // The folder is only ever joined with a backslash: what counts is that
    // the joined path is absolute ("C:" then stands for the root).
    if (!readMachineString(key, value, text) || !win::isAbsolutePath(text + "\\")) return 0;
    out = std::move(text);
    return 1;
}

int isProductInstalled()
{
    // Four bytes, zero where nothing was read: only the one-character text "1".
    std::string value;
    win::readValue(HKEY_LOCAL_MACHINE, win::loadText(IDS_KEY_SYSTEM).c_str(),
                   win::loadText(IDS_VALUE_INSTALLED).c_str(), 4, value);
    value.resize(4, '\0');
    return value[0] == '1' && value[1] == '\0';
}

unsigned long detectOsFamily()
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info; // 148: the record without the service-pack fields of later systems
    if (!GetVersionExA(&info)) return osOther;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return osWindows9x;
    if (info.dwPlatformId != VER_PLATFORM_WIN32_NT) return osOther;
    switch (info.dwMajorVersion) {
    case 5:
        return info.dwMinorVersion == 1 ? osWindowsXp : osWin2000;
    case 4:
        return osWinNt40;
    case 3:
        return osWinNt351;
    default:
        return osOther;
    }
}

std::string familyKeyword(unsigned long osFamily)
{
    switch (osFamily) {
    case osWindows9x:
        return win::loadText(IDS_OS_WINDOWS9X);
    case osWinNt40:
        return win::loadText(IDS_OS_WINNT40);
    case osWinNt351:
        return win::loadText(IDS_OS_WINNT351);
    case osWin2000:
        return win::loadText(IDS_OS_WIN2000);
    case osWindowsXp:
        return win::loadText(IDS_OS_WINDOWSXP);
    default:
        return std::string();
    }
}

int findProgramDir(std::string& out)
{
    std::string path = win::moduleFileName();
    if (path.empty()) {
        out.clear();
        return 0;
    }
    out = win::folderOf(path);
    return 1;
}

int findMergeModules(UpdateSession& session)
{
    WIN32_FIND_DATAA data;
    win::Find search(FindFirstFileA(win::join(session.mergeModulesDir, "*.*").c_str(), &data));
    return search ? 1 : 0;
}

int initialiseEnvironment(UpdateSession& session)
{
    int result = 1;
    if (!readMachineFolder(win::loadText(IDS_KEY_SYSTEM), win::loadText(IDS_VALUE_INSTALLDIR), session.productDir))
        result = 0;
    if (!findProgramDir(session.programDir)) result = 0;

    session.tempDir = temporaryFolder();
    win::stripTrailingBackslashes(session.tempDir);

    session.manifestPath = win::join(session.programDir, win::loadText(IDS_MANIFEST_NAME));
    session.osFamily = detectOsFamily();
    // Without a product folder these would be relative to the current one.
    if (!session.productDir.empty()) {
        session.mergeModulesDir =
            win::join(win::join(session.productDir, facts::packagerFolder), facts::mergeModulesFolder);
        session.newFilesDir = win::join(session.mergeModulesDir, facts::newFilesFolder);
        if (findMergeModules(session)) session.hasMergeModules = 1;
    }
    return result;
}
