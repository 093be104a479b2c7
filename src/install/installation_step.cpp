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
#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/process.h"
#include "win/text.h"

namespace {

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

} // namespace

std::string productSectionName(int productType, unsigned long osFamily)
{
    return productKeyword(productType) + "." + systemKeyword(osFamily);
}

int hasAdminComponent(UpdateSession& session)
{
    return win::fileExists(session.productDir + session.pathSeparator + facts::adminComponentFile);
}

int hasManagerComponent(UpdateSession& session)
{
    return win::fileExists(session.productDir + session.pathSeparator + facts::managerComponentFile);
}

int installUpdateFiles(UpdateSession& session)
{
    const std::string& sep = session.pathSeparator;
    win::runAndWait(session.programDir + sep + "kosetup.exe", "-s");
    win::runAndWait(session.programDir + sep + "relinst.exe", "/Q Corvindale");

    installSection(session, "COMMON", 0, 1);
    installSection(session, productSectionName(readProductType(session), session.osFamily), 0, 0);
    installSection(session, "HOSTADMIN", hasAdminComponent(session) ? 0 : 1, 1);
    installSection(session, "REMOTEMANAGE", hasManagerComponent(session) ? 0 : 1, 1);
    installSection(session, "PACKAGER.RESOURCES", 0, 0);

    // Without a product folder there is no staging folder: the copy would go
    // to the root of the current drive.
    std::string staging;
    if (stagingDirFor(session, session.macroProgDir, staging) &&
        copyOneFile(facts::settingsFile, session.productDir, staging)) {
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
    if (session.newFilesDir.empty()) return 0;
    std::vector<WIN32_FIND_DATAA> entries;
    if (!win::listFolder(session.programDir, entries)) return 0;
    for (const WIN32_FIND_DATAA& entry : entries)
        copyOneFile(entry.cFileName, session.programDir, session.newFilesDir);
    return 1;
}

int deleteNewFilesDir(UpdateSession& session)
{
    if (!win::emptyFolder(session.newFilesDir)) return 0;
    return RemoveDirectoryA(session.newFilesDir.c_str()) ? 1 : 0;
}
