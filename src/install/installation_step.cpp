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
#include "win/paths.h"
#include "win/process.h"
#include "win/result.h"
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
    return win::fileExists(win::join(session.productDir, facts::adminComponentFile));
}

int hasManagerComponent(UpdateSession& session)
{
    return win::fileExists(win::join(session.productDir, facts::managerComponentFile));
}

int installUpdateFiles(UpdateSession& session, const InstallPlan& plan)
{
    RunOutcome& outcome = session.outcome;
    // The auxiliary programs may be missing; what they do is theirs.
    for (const InstallPlan::Program& program : plan.programs) {
        if (!program.present) {
            outcome.skipped(Action::start, program.path, Reason::absent);
            continue;
        }
        outcome.flush();
        outcome.report(Action::start, program.path, win::result(win::runAndWait(program.path, program.arguments)));
    }
    prepareStagingDirs(session, stagingCreate);
    installSection(session, plan.entries);

    // Without a product folder there is no staging folder: the copy would go
    // to the root of the current drive.
    std::string staging;
    const win::Result staged =
        win::result(stagingInUse(session, session.macroProgDir, staging) &&
                        stageOneFile(session, session.macroProgDir, facts::settingsFile, session.productDir),
                    ERROR_PATH_NOT_FOUND);
    outcome.report(Action::stage, plan.settings, staged);
    if (!staged.ok) return 1;
    outcome.report(Action::stamp, win::join(staging, facts::settingsFile),
                   win::result(stampStagedVersion(session, staging)));
    writeRevision(session);
    return 1;
}

int createNewFilesDir(UpdateSession& session)
{
    if (CreateDirectoryA(session.newFilesDir.c_str(), nullptr)) {
        session.outcome.report(Action::createFolder, session.newFilesDir, {});
        return 1;
    }
    // A rerun before the restart finds the folder of the first run.
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        session.outcome.report(Action::createFolder, session.newFilesDir, win::result(false));
    return 0;
}

int copyProgramDirToNewFiles(UpdateSession& session, const InstallPlan& plan)
{
    if (session.newFilesDir.empty()) return 0;
    for (const std::string& name : plan.newFiles)
        session.outcome.report(
            Action::copy, win::join(session.programDir, name),
            win::result(copyOneFile(session.workFolders, name, session.programDir, session.newFilesDir)),
            session.newFilesDir);
    return 1;
}

int deleteNewFilesDir(UpdateSession& session)
{
    const win::Result removed =
        win::result(win::emptyFolder(session.newFilesDir) && RemoveDirectoryA(session.newFilesDir.c_str()));
    session.outcome.report(Action::removeFolder, session.newFilesDir, removed);
    return removed.ok ? 1 : 0;
}
