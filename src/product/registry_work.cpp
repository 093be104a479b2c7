#include "product/registry_work.h"

#include <windows.h>

#include <utility>
#include <vector>

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

// A pair is carried out only between two absolute paths in one folder: the
// list is the registry's, not ours alone, and a rename may not move a file
// anywhere else. And only when the start-up rename gave the file its short
// path: the short path must name a file other than the one at the long path.
// Otherwise (the rename did not happen, or the system keeps long names
// itself) deleting the long path would delete the only copy.
bool pairNeedsRename(const std::string& shortPath, const std::string& longPath)
{
    if (!win::isAbsolutePath(shortPath) || !win::isAbsolutePath(longPath)) return false;
    if (lstrcmpiA(win::folderOf(shortPath).c_str(), win::folderOf(longPath).c_str()) != 0) return false;
    if (!win::fileExists(shortPath)) return false;
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
    // Without a temporary folder there is no safe place for the copy.
    if (session.tempDir.empty()) return 0;
    // A fresh folder of this run's own: nothing planted beside the copy is
    // loaded with it, and no other run's leftovers touch it.
    std::string folder;
    const DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (DWORD attempt = 0; attempt < 100 && folder.empty(); ++attempt) {
        char name[16];
        wsprintfA(name, "%08lX", static_cast<unsigned long>(seed + attempt));
        const std::string candidate = session.tempDir + session.pathSeparator + facts::runFolderPrefix + name;
        if (win::createPrivateFolder(candidate)) folder = candidate;
    }
    if (folder.empty()) return 0;
    const std::string target = folder + session.pathSeparator + facts::programFile;
    // Only a copy that is there may be started: otherwise the entry would
    // start, with administrator rights, whatever file stands at that path.
    if (!CopyFileA(win::moduleFileName().c_str(), target.c_str(), TRUE)) {
        RemoveDirectoryA(folder.c_str());
        return 0;
    }
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
    // Buffers as large as the longest name and data: every pair the install
    // run could write is read, whatever its length.
    DWORD count = 0, nameLength = 0, dataLength = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &nameLength,
                         &dataLength, nullptr, nullptr) != ERROR_SUCCESS)
        count = 0;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (DWORD index = 0; index < count; ++index) {
        std::string name(nameLength + 1, '\0');
        std::string data(dataLength + 1, '\0');
        DWORD nameSize = nameLength + 1, dataSize = dataLength;
        if (RegEnumValueA(key.get(), index, &name[0], &nameSize, nullptr, nullptr,
                          reinterpret_cast<BYTE*>(&data[0]), &dataSize) != ERROR_SUCCESS)
            continue;
        pairs.emplace_back(name.substr(0, nameSize), win::boundedText(data.data(), dataSize));
    }
    key.reset();
    for (const auto& pair : pairs) {
        if (!pairNeedsRename(pair.first, pair.second)) continue;
        DeleteFileA(pair.second.c_str());
        MoveFileA(pair.first.c_str(), pair.second.c_str());
    }
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
