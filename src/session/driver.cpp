#include "session/driver.h"

#include <windows.h>

#include "res/resource.h"
#include "mergemod/merge_module_patching.h"
#include "session/detection.h"
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
    // C1 applyLongNameRenames and C2 prepareStagingDirs (remove) on the 9x family,
    // C3 ensureDisplayActiveFlag on NT 4.
    if (session.hasMergeModules == 1) patchMergeModules(session);
    if (session.hasMergeModules == 1) stampModuleRevision(session);
    // C6 deleteNewFilesDir when merge modules are present,
    // C7 registerComponents, C8 scheduleSelfDelete.
}

void runInstallSequence(UpdateSession& session)
{
    // I1 checkProductVersion: message 100 and stop on a mismatch.
    // I2 progress display when "/status" is given.
    // I3-I4 new-files folder when merge modules are present.
    // I5 installUpdateFiles, I6 finishStagedFiles, I7 scheduleCleanupRun,
    // I8 removeLogonComponent.
    if (!session.progress) writeDelayMarker();
    // I9 otherwise offerRestart; I10 recordProductVersion.
}

} // namespace

void writeDelayMarker()
{
    win::Key product;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltrane\\Corvindale\\10.5.0", 0, KEY_READ,
                      product.put()) != ERROR_SUCCESS)
        return;
    product.reset();
    win::Key marker;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltrane\\Tidewarden\\Clients\\Delay", 0,
                    nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, marker.put(), nullptr);
}

int runUpdate(UpdateSession& session)
{
    initialiseEnvironment(session);
    if (!isProductInstalled()) {
        showDriverMessage(IDS_NOT_INSTALLED);
        return 1;
    }
    if (isCleanupRun(session.commandLine))
        runCleanupSequence(session);
    else
        runInstallSequence(session);
    return 1;
}
