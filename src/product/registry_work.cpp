#include "product/registry_work.h"

#include <windows.h>

#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/process.h"
#include "win/text.h"
#include "win/unique.h"

namespace {

// The product's libraries, registered in this order.
const char* const componentLibraries[] = {
    "Legendpane.dll", "Carrymeter.dll", "Cvcarry.dll",  "Cvcarryview.dll", "idiomcore.dll",
    "rookgate.dll",   "wrengate.dll",   "larkgate.dll", "kitegate.dll",    "owlgate.dll",
    "jaygate.dll",    "terngate.dll",   "cvdgate.dll",  "swiftgate.dll",   "ibisgate.dll",
    "finchgate.dll",  "RavenGate.dll",
};

// The start-up rename gave the file its short path only when the short path
// names a file other than the one at the long path. Otherwise (the rename did
// not happen, or the system keeps long names itself) deleting the long path
// would delete the only copy.
bool pairNeedsRename(const std::string& shortPath, const std::string& longPath)
{
    if (shortPath.empty() || longPath.empty() || !win::fileExists(shortPath)) return false;
    if (!win::fileExists(longPath)) return true;
    const std::string a = win::shortPath(shortPath, MAX_PATH), b = win::shortPath(longPath, MAX_PATH);
    return a.empty() || b.empty() || lstrcmpiA(a.c_str(), b.c_str()) != 0;
}

} // namespace

int writeRevision(UpdateSession& session)
{
    const DWORD revision =
        GetPrivateProfileIntA(facts::numbersSection, facts::revisionKey, 0, session.manifestPath.c_str());
    win::Key key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, facts::productKey, 0, KEY_WRITE, key.put()) != ERROR_SUCCESS) return 0;
    RegSetValueExA(key.get(), facts::revisionValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&revision),
                   sizeof revision);
    return 1;
}

int scheduleCleanupRun(UpdateSession& session)
{
    const std::string self = win::moduleFileName();
    const std::string target = session.tempDir + session.pathSeparator + facts::programFile;
    CopyFileA(self.c_str(), target.c_str(), FALSE);
    // Quoted: with a blank in the path, an unquoted entry would let Windows
    // start C:\Documents.exe or the like first, with administrator rights.
    const std::string command = "\"" + target + "\" /cleanup";
    win::Key key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, facts::runOnceKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return 0;
    RegSetValueExA(key.get(), facts::cleanupRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>(command.size() + 1));
    return 1;
}

int applyLongNameRenames(UpdateSession&)
{
    win::Key key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, facts::longNameRenameKey, 0, KEY_READ | KEY_WRITE, key.put()) != ERROR_SUCCESS)
        return 0;
    for (DWORD index = 0;; ++index) {
        char name[win::machineTextSize] = {};
        BYTE data[win::machineTextSize] = {};
        DWORD nameSize = sizeof name, dataSize = sizeof data;
        if (RegEnumValueA(key.get(), index, name, &nameSize, nullptr, nullptr, data, &dataSize) != ERROR_SUCCESS)
            break;
        const std::string shortPath(name, nameSize);
        const std::string longPath = win::boundedText(reinterpret_cast<const char*>(data), dataSize);
        if (!pairNeedsRename(shortPath, longPath)) continue;
        DeleteFileA(longPath.c_str());
        MoveFileA(shortPath.c_str(), longPath.c_str());
    }
    key.reset();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, facts::longNameRenameKey);
    return 1;
}

int ensureDisplayActiveFlag(UpdateSession&)
{
    win::Key key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, facts::hostServiceKey, 0, KEY_READ | KEY_WRITE, key.put()) != ERROR_SUCCESS)
        return 1;
    DWORD size = 4;
    if (RegQueryValueExA(key.get(), facts::displayActiveValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        const DWORD one = 1;
        RegSetValueExA(key.get(), facts::displayActiveValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                       sizeof one);
    }
    return 1;
}

int registerComponents(UpdateSession& session)
{
    const std::string system = win::systemFolder();
    if (system.empty()) return 0;
    const std::string program = system + "\\REGSVR32.EXE";
    for (const char* library : componentLibraries)
        win::runAndWait(program, "\"" + session.productDir + session.pathSeparator + library + "\" /s");
    return 0;
}
