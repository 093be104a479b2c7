#include "app/driver.h"

#include <windows.h>

#include "install/directory_macros.h"
#include "install/file_replacement.h"
#include "install/installation_step.h"
#include "mergemod/merge_module_patching.h"
#include "product/logon_restart.h"
#include "product/product_checks.h"
#include "product/registry_work.h"
#include "product/version_record.h"
#include "res/resource.h"
#include "session/detection.h"
#include "session/product_facts.h"
#include "session/progress.h"
#include "session/self_removal.h"
#include "session/update_session.h"
#include "win/text.h"
#include "win/unique.h"

namespace {

void showDriverMessage(UINT textId)
{
    MessageBoxA(nullptr, win::loadText(textId).c_str(), win::loadText(IDS_UPDATE_CAPTION).c_str(),
                MB_OK);
}

void runCleanupSequence(UpdateSession& session)
{
    // Every family that scheduled staged files by their short names (all but
    // the NT 4 and 5 families) gets the long names back and removes the
    // emptied staging folders.
    const bool shortNames = session.osFamily == osWindows9x || session.osFamily == osWinNt351 ||
                            session.osFamily == osOther;
    if (shortNames) applyLongNameRenames(session);
    if (shortNames) prepareStagingDirs(session, stagingRemove);
    if (session.osFamily == osWinNt40) ensureDisplayActiveFlag(session);
    if (session.hasMergeModules == 1) {
        patchMergeModules(session);
        stampModuleRevision(session);
        deleteNewFilesDir(session);
    }
    registerComponents(session);
    scheduleSelfDelete();
}

void runInstallSequence(UpdateSession& session)
{
    if (!checkProductVersion(session)) {
        showDriverMessage(IDS_WRONG_VERSION);
        session.exitCode = exitOtherVersion;
        return;
    }
    if (wantsStatus(session.commandLine)) {
        const int fileCount = static_cast<int>(
            GetPrivateProfileIntA(facts::numbersSection, facts::fileCountKey, 0, session.manifestPath.c_str()));
        session.progress.reset(new ProgressWindow());
        session.progress->start(fileCount);
    }
    if (session.hasMergeModules) {
        createNewFilesDir(session);
        copyProgramDirToNewFiles(session);
    }
    installUpdateFiles(session);
    finishStagedFiles(session);
    scheduleCleanupRun(session);
    removeLogonComponent(session);
    if (!session.progress)
        writeDelayMarker();
    else
        offerRestart(session);
    recordProductVersion();
}

} // namespace

void writeDelayMarker()
{
    win::Key product;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, facts::releaseKey, 0, KEY_READ, product.put()) != ERROR_SUCCESS)
        return;
    product.reset();
    win::Key marker;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, facts::delayMarkerKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                    KEY_WRITE, nullptr, marker.put(), nullptr);
}

int runUpdate(UpdateSession& session)
{
    initialiseEnvironment(session);
    // Without a usable product folder every product path would start at the
    // root or the current folder: that is no installation to update.
    if (!isProductInstalled() || session.productDir.empty()) {
        showDriverMessage(IDS_NOT_INSTALLED);
        session.exitCode = exitNotInstalled;
        return 1;
    }
    if (isCleanupRun(session.commandLine))
        runCleanupSequence(session);
    else
        runInstallSequence(session);
    return 1;
}
