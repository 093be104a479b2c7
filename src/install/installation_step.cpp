#include "install/installation_step.h"

#include <windows.h>

#include <vector>

#include "install/directory_macros.h"
#include "install/file_replacement.h"
#include "install/manifest.h"
#include "product/product_checks.h"
#include "product/registry_work.h"
#include "res/resource.h"
#include "session/detection.h"
#include "session/update_session.h"
#include "win/process.h"
#include "win/text.h"
#include "win/unique.h"

namespace {

const char* const settingsFileName = "vindale.bin";

std::string productKeyword(int productType)
{
    switch (productType) {
    case productFull: return win::loadText(IDS_PRODUCT_FULL);
    case productHost: return win::loadText(IDS_PRODUCT_HOST);
    case productRemote: return win::loadText(IDS_PRODUCT_REMOTE);
    case productHostLan: return win::loadText(IDS_PRODUCT_HOSTLAN);
    default: return std::string();
    }
}

std::string systemKeyword(unsigned long osFamily)
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

// Calls action with the name of every entry of folder but "." and "..".
// false when the folder cannot be listed.
template <typename Action>
bool forEachEntry(const std::string& folder, Action action)
{
    WIN32_FIND_DATAA entry;
    win::Find search(FindFirstFileA((folder + "\\*.*").c_str(), &entry));
    if (!search) return false;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") action(name);
    } while (FindNextFileA(search.get(), &entry));
    return true;
}

} // namespace

std::string productSectionName(int productType, unsigned long osFamily)
{
    return productKeyword(productType) + "." + systemKeyword(osFamily);
}

int hasAdminComponent(UpdateSession& session)
{
    return fileExists(session.productDir + session.pathSeparator + "cvdadmn.dll");
}

int hasManagerComponent(UpdateSession& session)
{
    return fileExists(session.productDir + session.pathSeparator + "cvdmgt.exe");
}

int installUpdateFiles(UpdateSession& session)
{
    const std::string& sep = session.pathSeparator;
    runAndWait(session.programDir + sep + "kosetup.exe", "-s");
    runAndWait(session.programDir + sep + "relinst.exe", "/Q Corvindale");

    installSection(session, "COMMON", 0, 1);
    installSection(session, productSectionName(readProductType(session), session.osFamily), 0, 0);
    installSection(session, "HOSTADMIN", hasAdminComponent(session) ? 0 : 1, 1);
    installSection(session, "REMOTEMANAGE", hasManagerComponent(session) ? 0 : 1, 1);
    installSection(session, "PACKAGER.RESOURCES", 0, 0);

    // Without a product folder there is no staging folder: the copy would go
    // to the root of the current drive.
    std::string staging;
    if (stagingDirFor(session, session.macroProgDir, staging) &&
        copyOneFile(settingsFileName, session.productDir, staging)) {
        stampStagedVersion(session, staging);
        writeRevision(session);
    }
    return 1;
}

int createNewFilesDir(UpdateSession& session)
{
    return CreateDirectoryA(session.newFilesDir.c_str(), nullptr) ? 1 : 0;
}

int copyProgramDirToNewFiles(UpdateSession& session)
{
    // An empty folder text would list the root of the current drive.
    if (session.programDir.empty() || session.newFilesDir.empty()) return 0;
    return forEachEntry(session.programDir, [&](const std::string& name) {
               copyOneFile(name, session.programDir, session.newFilesDir);
           })
               ? 1
               : 0;
}

int deleteNewFilesDir(UpdateSession& session)
{
    const std::string folder = session.newFilesDir;
    if (folder.empty()) return 0;
    // Names first: the folder is not changed under a running search.
    std::vector<std::string> names;
    if (!forEachEntry(folder, [&](const std::string& name) { names.push_back(name); })) return 0;
    for (const std::string& name : names) {
        const std::string path = folder + session.pathSeparator + name;
        if (DeleteFileA(path.c_str()) || GetLastError() != ERROR_ACCESS_DENIED) continue;
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        DeleteFileA(path.c_str());
    }
    return RemoveDirectoryA(folder.c_str()) ? 1 : 0;
}
