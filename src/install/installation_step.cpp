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
#include "win/registry.h"
#include "win/result.h"
#include "win/security.h"
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

namespace {

// A new-files folder of a fresh name that an install run used because the
// usual one could not be trusted, as the product's key records it: only a
// real folder of a trusted owner, of that form, beside the usual one.
std::string recordedNewFiles(const UpdateSession& session)
{
    std::string data;
    DWORD type = 0;
    if (win::readValue(HKEY_LOCAL_MACHINE, facts::productKey, facts::newFilesValue, win::machineTextSize, data,
                       &type) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::string();
    const std::string path = win::boundedText(data.data(), data.size()), prefix = session.newFilesDir + "-";
    if (path.size() != prefix.size() + 8 || !win::sameText(path.substr(0, prefix.size()), prefix) ||
        path.find_first_not_of("0123456789ABCDEFabcdef", prefix.size()) != std::string::npos)
        return std::string();
    return win::isTrustedFolder(path) ? path : std::string();
}

} // namespace

int createNewFilesDir(UpdateSession& session)
{
    RunOutcome& outcome = session.outcome;
    // A rerun before the restart goes on with the folder of the first run.
    const std::string recorded = recordedNewFiles(session);
    if (!recorded.empty()) {
        session.newFilesDir = recorded;
        return 1;
    }
    const std::string usual = session.newFilesDir;
    const win::RunFolder folder = win::takeFolder(usual, win::FolderAccess::administrators);
    if (folder.fresh) outcome.skipped(Action::use, usual, Reason::notTrusted);
    if (folder.path.empty()) {
        outcome.report(Action::createFolder, usual, win::result(false));
        return 0;
    }
    if (folder.made) outcome.report(Action::createFolder, folder.path, {});
    session.newFilesDir = folder.path;
    if (!folder.fresh) return 1;
    // The cleanup run knows only the usual name: it finds this one here.
    win::Key product;
    LONG result = win::openKey(HKEY_LOCAL_MACHINE, facts::productKey, KEY_SET_VALUE, product);
    if (result == ERROR_SUCCESS) result = win::setText(product.get(), facts::newFilesValue, folder.path);
    outcome.report(Action::write, win::machineName(facts::productKey, facts::newFilesValue), win::status(result));
    return result == ERROR_SUCCESS ? 1 : 0;
}

int findNewFilesDir(UpdateSession& session)
{
    const std::string recorded = recordedNewFiles(session);
    if (!recorded.empty()) {
        session.newFilesDir = recorded;
        return 1;
    }
    if (!win::fileExists(session.newFilesDir)) return 0;
    // Patched into the product's modules: never files of a link or of
    // another user's folder.
    if (win::isTrustedFolder(session.newFilesDir)) return 1;
    session.outcome.skipped(Action::use, session.newFilesDir, Reason::notTrusted);
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
    const LONG forgotten = removed.ok ? win::deleteValue(HKEY_LOCAL_MACHINE, facts::productKey, facts::newFilesValue)
                                      : ERROR_FILE_NOT_FOUND;
    if (forgotten != ERROR_FILE_NOT_FOUND)
        session.outcome.report(Action::remove, win::machineName(facts::productKey, facts::newFilesValue),
                               win::status(forgotten));
    return removed.ok ? 1 : 0;
}
