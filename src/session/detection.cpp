#include "session/detection.h"

#include <windows.h>

#include <cstring>

#include "res/resource.h"
#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/text.h"
#include "win/unique.h"

int readMachineString(const std::string& key, const std::string& value, std::string& out)
{
    win::Key handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS)
        return 0;
    // One spare byte: a value stored without its terminator still ends here.
    char buffer[win::machineTextSize + 1] = {};
    DWORD size = win::machineTextSize;
    if (RegQueryValueExA(handle.get(), value.c_str(), nullptr, nullptr,
                         reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return 0;
    std::string text = win::boundedText(buffer, size);
    if (!text.empty() && text.back() == '\\') text.pop_back();
    out = std::move(text);
    return 1;
}

namespace {

// Whether the variable the temporary folder comes from, TMP before TEMP, is
// an absolute path itself: GetTempPathA makes a relative one ("..", "C:",
// "\Temp") absolute against the current folder, so its answer cannot tell.
bool temporaryVariableIsAbsolute()
{
    for (const char* name : {"TMP", "TEMP"}) {
        const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
        if (size == 0) continue;
        std::string value(size, '\0');
        const DWORD length = GetEnvironmentVariableA(name, &value[0], size);
        if (length == 0) continue;  // set, but empty: GetTempPathA passes it by too
        return length < size && win::isAbsolutePath(value.substr(0, length));
    }
    return true;
}

// The temporary folder; its short form when the long one does not fit the
// buffer. Empty when neither fits or it is no absolute path: the cleanup
// run's copy would otherwise land at the root of the drive or below the
// current folder.
std::string temporaryFolder()
{
    if (!temporaryVariableIsAbsolute()) return std::string();
    char buffer[win::machineTextSize] = {};
    const DWORD length = GetTempPathA(sizeof buffer, buffer);
    std::string folder;
    if (length > 0 && length < sizeof buffer) {
        folder.assign(buffer, length);
    } else if (length >= sizeof buffer) {
        std::string full(length + 1, '\0');
        const DWORD fullLength = GetTempPathA(length + 1, &full[0]);
        if (fullLength > 0 && fullLength <= length) folder = win::shortPath(full.substr(0, fullLength));
    }
    return win::isAbsolutePath(folder) ? folder : std::string();
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
    char buffer[4] = {};
    win::Key key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, win::loadText(IDS_KEY_SYSTEM).c_str(), 0, KEY_READ,
                      key.put()) == ERROR_SUCCESS) {
        DWORD size = sizeof buffer;
        // After a failed read the buffer's contents are undefined; treat them as nothing read.
        if (RegQueryValueExA(key.get(), win::loadText(IDS_VALUE_INSTALLED).c_str(), nullptr,
                             nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
            std::memset(buffer, 0, sizeof buffer);
    }
    return buffer[0] == '1' && buffer[1] == '\0';
}

unsigned long detectOsFamily()
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = 148;
    if (!GetVersionExA(&info)) return osOther;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return osWindows9x;
    if (info.dwPlatformId != VER_PLATFORM_WIN32_NT) return osOther;
    switch (info.dwMajorVersion) {
    case 5: return info.dwMinorVersion == 1 ? osWindowsXp : osWin2000;
    case 4: return osWinNt40;
    case 3: return osWinNt351;
    default: return osOther;
    }
}

std::string familyKeyword(unsigned long osFamily)
{
    switch (osFamily) {
    case osWindows9x: return win::loadText(IDS_OS_WINDOWS9X);
    case osWinNt40: return win::loadText(IDS_OS_WINNT40);
    case osWinNt351: return win::loadText(IDS_OS_WINNT351);
    case osWin2000: return win::loadText(IDS_OS_WIN2000);
    case osWindowsXp: return win::loadText(IDS_OS_WINDOWSXP);
    default: return std::string();
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
    win::Find search(FindFirstFileA((session.mergeModulesDir + "\\*.*").c_str(), &data));
    return search ? 1 : 0;
}

int initialiseEnvironment(UpdateSession& session)
{
    int result = 1;
    session.pathSeparator = win::loadText(IDS_PATH_SEPARATOR);
    const std::string manifestName = win::loadText(IDS_MANIFEST_NAME);

    session.macroProgDir = win::loadText(IDS_MACRO_PROGDIR);
    session.macroWinDir = win::loadText(IDS_MACRO_WINDIR);
    session.macroSysDir = win::loadText(IDS_MACRO_SYSDIR);
    session.macroVelDir = win::loadText(IDS_MACRO_VELDIR);
    session.macroTwDir = win::loadText(IDS_MACRO_TWDIR);
    session.macroDrvDir = win::loadText(IDS_MACRO_DRVDIR);
    session.macroCmsDir = win::loadText(IDS_MACRO_CMSDIR);
    session.macroDataDir = win::loadText(IDS_MACRO_DATADIR);
    session.macroVelShared = win::loadText(IDS_MACRO_VELSHARED);
    session.macroMergeModulesDir = win::loadText(IDS_MACRO_MERGEMODULESDIR);
    session.macroMergeModulesEngDir = win::loadText(IDS_MACRO_MERGEMODULESENGDIR);
    session.macroPackagerResDir = win::loadText(IDS_MACRO_PACKAGERRESDIR);

    if (!readMachineFolder(win::loadText(IDS_KEY_SYSTEM), win::loadText(IDS_VALUE_INSTALLDIR),
                           session.productDir))
        result = 0;
    if (!findProgramDir(session.programDir)) result = 0;

    session.tempDir = temporaryFolder();
    if (!session.tempDir.empty() && session.tempDir.back() == session.pathSeparator[0]) {
        while (!session.tempDir.empty() && session.tempDir.back() == '\\')
            session.tempDir.pop_back();
    }

    session.manifestPath = session.programDir + session.pathSeparator + manifestName;
    session.osFamily = detectOsFamily();
    session.mergeModulesDir = session.productDir + session.pathSeparator + facts::packagerFolder +
                              session.pathSeparator + facts::mergeModulesFolder;
    session.newFilesDir = session.mergeModulesDir + session.pathSeparator + facts::newFilesFolder;
    if (findMergeModules(session)) session.hasMergeModules = 1;
    return result;
}
