#include "app/driver.h"

#include <windows.h>

#include "app/self_removal.h"
#include "install/directory_macros.h"
#include "install/file_replacement.h"
#include "install/install_plan.h"
#include "install/installation_step.h"
#include "mergemod/merge_module_patching.h"
#include "product/logon_restart.h"
#include "product/product_checks.h"
#include "product/registry_work.h"
#include "product/version_record.h"
#include "res/resource.h"
#include "session/detection.h"
#include "session/outcome.h"
#include "session/product_facts.h"
#include "session/progress.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/registry.h"
#include "win/result.h"
#include "win/security.h"
#include "win/system.h"
#include "win/text.h"
#include "win/unique.h"

namespace {

// How long a cleanup run waits for another run to end before it leaves its
// entry for the next start: the logon that started it waits as long.
const DWORD cleanupWaitMs = 5 * 60 * 1000;

// A message of the driver's own; a quiet run tells only by its exit code and log.
void showDriverMessage(const UpdateSession& session, UINT textId)
{
    if (isQuiet(session.commandLine)) return;
    MessageBoxA(nullptr, win::loadText(textId).c_str(), win::loadText(IDS_UPDATE_CAPTION).c_str(), MB_OK);
}

void cleanUp(UpdateSession& session)
{
    // Every family that scheduled staged files by their short names gets the
    // long names back and removes the emptied staging folders.
    if (schedulesByShortNames(session.osFamily)) {
        applyLongNameRenames(session);
        prepareStagingDirs(session, stagingRemove);
    }
    if (session.osFamily == osWinNt40) ensureDisplayActiveFlag(session);
    if (session.hasMergeModules == 1 && findNewFilesDir(session)) {
        patchMergeModules(session);
        stampModuleRevision(session);
        deleteNewFilesDir(session);
    }
    registerComponents(session);
    endCleanupEntry(session);
}

void runCleanupSequence(UpdateSession& session, bool superseded)
{
    if (!superseded) cleanUp(session);
    // The removal runs after this program has ended: what was logged is
    // complete first, and the outcome ends here.
    session.workFolders.removeAll();
    const std::string program = win::moduleFileName();
    session.outcome.flush();
    session.outcome.report(Action::start, "the removal of " + program, win::result(scheduleSelfDelete()));
}

void runInstallSequence(UpdateSession& session)
{
    if (!checkProductVersion(session)) {
        session.outcome.flush();
        showDriverMessage(session, IDS_WRONG_VERSION);
        session.exitCode = exitOtherVersion;
        return;
    }
    // Decide, then act: nothing is changed before the plan has passed its
    // checks, and a plan run only tells what the run would do.
    const InstallPlan plan = planInstall(session);
    if (isPlanRun(session.commandLine)) tellPlan(session, plan);
    session.exitCode = checkPlan(session, plan);
    if (isPlanRun(session.commandLine)) return;
    if (session.exitCode) {
        session.outcome.flush();
        if (session.exitCode == exitOtherVersion) showDriverMessage(session, IDS_NEWER_INSTALLED);
        return;
    }
    const bool quiet = isQuiet(session.commandLine), noRestart = quiet || wantsNoRestart(session.commandLine);
    if (wantsStatus(session.commandLine) && !quiet) {
        const std::optional<unsigned long> fileCount = manifestNumber(session.manifestPath, facts::fileCountKey);
        if (!fileCount)
            session.outcome.skipped(Action::read,
                                    std::string("\"") + facts::fileCountKey + "\" of " + session.manifestPath,
                                    Reason::absent);
        session.progress.reset(new ProgressWindow());
        session.progress->start(static_cast<int>(fileCount.value_or(0)));
    }
    if (session.hasMergeModules) {
        createNewFilesDir(session);
        copyProgramDirToNewFiles(session, plan);
    }
    installUpdateFiles(session, plan);
    finishStagedFiles(session);
    scheduleCleanupRun(session);
    removeLogonComponent(session);
    // The copies are done; Yes to the restart question ends the run at once.
    session.workFolders.removeAll();
    if (!session.progress) {
        writeDelayMarker(session);
    } else if (noRestart) {
        session.outcome.skipped(Action::restart, "of the computer", Reason::notAsked);
    } else {
        // Yes restarts the machine at once: the log and the record must
        // already tell what happened.
        session.outcome.flush();
        session.outcome.record(session.exitCode);
        offerRestart(session);
    }
    recordProductVersion(session);
    // A deployment tool that was asked to leave the restart to others learns
    // that one is still needed.
    if (noRestart && session.outcome.failures() == 0 && session.outcome.isCleanupScheduled())
        session.exitCode = exitRestartRequired;
}

} // namespace

void writeDelayMarker(UpdateSession& session)
{
    if (!win::keyExists(HKEY_LOCAL_MACHINE, facts::releaseKey)) return;
    win::Key marker;
    session.outcome.report(
        Action::write, win::machineName(facts::delayMarkerKey),
        win::status(win::openKey(HKEY_LOCAL_MACHINE, facts::delayMarkerKey, KEY_WRITE, marker, true)));
}

int runUpdate(UpdateSession& session)
{
    // One run at a time, of either kind: another one changes nothing and
    // tells nothing but its exit code. The lock allows administrators only;
    // one of that name that an ordinary user made (anyone may make one, even
    // in the global namespace) must not stop updates, and is gone around.
    const char* name = win::ntMajorVersion() >= 5 ? facts::runMutexName : facts::runMutexNameNt4;
    win::Handle running(win::createPrivateMutex(name));
    const DWORD made = GetLastError();
    const bool squatted =
        running ? made == ERROR_ALREADY_EXISTS && !win::isOwnedByTrusted(running.get()) : made == ERROR_ACCESS_DENIED;
    bool waited = false;
    if (!squatted && (!running || made == ERROR_ALREADY_EXISTS)) {
        // The system has deleted a cleanup run's entry already: written
        // again, it is not lost when the wait runs out.
        const bool cleanup = isCleanupRun(session.commandLine);
        if (cleanup && cleanupEntryIs(session, CleanupEntry::other)) {
            // An install run has scheduled a cleanup run of its own: nothing
            // names this copy any more, so it goes.
            scheduleSelfDelete();
            session.exitCode = exitAnotherRun;
            return 1;
        }
        if (!running || !cleanup || writeCleanupEntry(session) != ERROR_SUCCESS) {
            session.exitCode = exitAnotherRun;
            return 1;
        }
        const DWORD ended = WaitForSingleObject(running.get(), cleanupWaitMs);
        if (ended != WAIT_OBJECT_0 && ended != WAIT_ABANDONED) {
            session.exitCode = exitAnotherRun;
            return 1;
        }
        waited = true;
    }
    // A cleanup run's entry comes before its first other change. An entry of
    // another command (an install run's, whose cleanup run comes after the
    // restart), or none after a wait (another cleanup run has finished),
    // means the work is another run's: it is left to that one.
    const bool cleanup = isCleanupRun(session.commandLine);
    const bool superseded = cleanup && (cleanupEntryIs(session, CleanupEntry::other) ||
                                        (waited && cleanupEntryIs(session, CleanupEntry::absent)));
    const LONG renewed = cleanup && !superseded ? writeCleanupEntry(session) : ERROR_SUCCESS;
    initialiseEnvironment(session);
    resolveMacros(session);
    const std::string family = familyKeyword(session.osFamily);
    session.outcome.begin({isCleanupRun(session.commandLine)  ? facts::cleanupRunKind
                           : isPlanRun(session.commandLine)   ? facts::planRunKind
                           : wantsStatus(session.commandLine) ? facts::statusRunKind
                                                              : facts::installRunKind,
                           family.empty() ? "other" : family, session.commandLine, session.programDir,
                           session.productDir});
    if (squatted) session.outcome.skipped(Action::use, std::string("the run lock ") + name, Reason::notTrusted);
    const std::string entry = win::machineName(facts::runOnceKey, facts::cleanupRunValue);
    if (superseded)
        session.outcome.skipped(Action::write, entry, Reason::superseded);
    else if (cleanup)
        session.outcome.report(Action::write, entry, win::status(renewed));
    // Without a usable product folder every product path would start at the
    // root or the current folder: that is no installation to update.
    if (!isProductInstalled() || session.productDir.empty()) {
        session.outcome.flush();
        showDriverMessage(session, IDS_NOT_INSTALLED);
        session.exitCode = exitNotInstalled;
        // Nothing to clean up: the entry would start this run at every start.
        if (cleanup && !superseded) endCleanupEntry(session);
    } else if (cleanup) {
        runCleanupSequence(session, superseded);
    } else {
        runInstallSequence(session);
    }
    session.exitCode = session.outcome.finish(session.exitCode);
    return 1;
}
