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
#include "session/outcome.h"
#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/process.h"
#include "win/text.h"

namespace {

std::string productKeyword(int productType)
{
    switch (productType) {
    case productFull:
        return win::loadText(IDS_PRODUCT_FULL);
    case productHost:
        return win::loadText(IDS_PRODUCT_HOST);
    case productRemote:
        return win::loadText(IDS_PRODUCT_REMOTE);
    case productHostLan:
        return win::loadText(IDS_PRODUCT_HOSTLAN);
    default:
        return std::string();
    }
}

} // namespace

std::string productSectionName(int productType, unsigned long osFamily)
{
    return productKeyword(productType) + "." + familyKeyword(osFamily);
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
    RunOutcome& outcome = session.outcome;
    // The auxiliary programs may be missing; what they do is theirs.
    for (const auto& program : facts::auxiliaryPrograms) {
        const std::string path = session.programDir + sep + program.file;
        if (!win::fileExists(path)) {
            outcome.skipped(Action::start, path, Reason::absent);
            continue;
        }
        outcome.flush();
        if (win::runAndWait(path, program.arguments))
            outcome.done(Action::start, path);
        else
            outcome.failed(Action::start, path, GetLastError());
    }

    installSection(session, facts::commonSection, 0, 1);
    installSection(session, productSectionName(readProductType(session), session.osFamily), 0, 0);
    installSection(session, facts::hostAdminSection, hasAdminComponent(session) ? 0 : 1, 1);
    installSection(session, facts::remoteManageSection, hasManagerComponent(session) ? 0 : 1, 1);
    installSection(session, facts::packagerResourcesSection, 0, 0);

    // Without a product folder there is no staging folder: the copy would go
    // to the root of the current drive.
    const std::string settings = session.productDir + sep + facts::settingsFile;
    std::string staging;
    if (!stagingFolderFor(session, session.macroProgDir, staging) ||
        !stageOneFile(session, session.macroProgDir, facts::settingsFile, session.productDir)) {
        outcome.failed(Action::stage, settings, GetLastError());
        return 1;
    }
    outcome.done(Action::stage, settings);
    const std::string staged = staging + sep + facts::settingsFile;
    if (stampStagedVersion(session, staging))
        outcome.done(Action::stamp, staged);
    else
        outcome.failed(Action::stamp, staged, GetLastError() ? GetLastError() : ERROR_INVALID_DATA);
    writeRevision(session);
    return 1;
}

int createNewFilesDir(UpdateSession& session)
{
    if (CreateDirectoryA(session.newFilesDir.c_str(), nullptr)) {
        session.outcome.done(Action::createFolder, session.newFilesDir);
        return 1;
    }
    // A rerun before the restart finds the folder of the first run.
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        session.outcome.failed(Action::createFolder, session.newFilesDir, GetLastError());
    return 0;
}

int copyProgramDirToNewFiles(UpdateSession& session)
{
    std::vector<WIN32_FIND_DATAA> entries;
    if (session.newFilesDir.empty() || !win::listFolder(session.programDir, entries)) {
        session.outcome.failed(Action::copy, session.programDir, GetLastError(), session.newFilesDir);
        return 0;
    }
    for (const WIN32_FIND_DATAA& entry : entries) {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string source = session.programDir + "\\" + entry.cFileName;
        if (copyOneFile(entry.cFileName, session.programDir, session.newFilesDir))
            session.outcome.done(Action::copy, source, session.newFilesDir);
        else
            session.outcome.failed(Action::copy, source, GetLastError(), session.newFilesDir);
    }
    return 1;
}

int deleteNewFilesDir(UpdateSession& session)
{
    if (win::emptyFolder(session.newFilesDir) && RemoveDirectoryA(session.newFilesDir.c_str())) {
        session.outcome.done(Action::removeFolder, session.newFilesDir);
        return 1;
    }
    session.outcome.failed(Action::removeFolder, session.newFilesDir, GetLastError());
    return 0;
}
