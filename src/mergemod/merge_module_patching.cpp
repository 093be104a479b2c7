#include "mergemod/merge_module_patching.h"

#include <windows.h>

#include <algorithm>

#include "mergemod/merge_module_job.h"
#include "res/resource.h"
#include "session/outcome.h"
#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/paths.h"
#include "win/profile.h"
#include "win/result.h"
#include "win/security.h"
#include "win/text.h"

namespace {

const size_t maxModuleNameLength = 259;

} // namespace

int patchMergeModules(UpdateSession& session)
{
    // A folder of this run's own to unpack into: one that it cannot trust
    // (a link, another user's) is left alone for a fresh one.
    const std::string extractDir =
        win::takeFolder(win::join(session.mergeModulesDir, facts::extractionFolder), win::FolderAccess::administrators)
            .path;
    std::string moduleList = win::join(session.newFilesDir, facts::moduleListFile);
    for (const std::string& module : win::profileNames(moduleList, nullptr)) {
        const std::string path = win::join(session.mergeModulesDir, module);
        // Section names come from the package: only plain names of the modules' folder.
        if (module.size() > maxModuleNameLength || !win::isPlainFileName(module))
            session.outcome.report(Action::patch, "[" + module + "] of " + moduleList,
                                   win::failure(ERROR_INVALID_NAME));
        else if (!win::fileExists(path))
            session.outcome.skipped(Action::patch, path, Reason::absent);
        else if (extractDir.empty())
            session.outcome.report(Action::patch, path, win::failure(ERROR_PATH_NOT_FOUND));
        else
            patchMergeModule(session, module, extractDir, moduleList);
    }
    if (!extractDir.empty()) RemoveDirectoryA(extractDir.c_str());
    return 1;
}

int patchMergeModule(UpdateSession& session, const std::string& moduleFileName, const std::string& extractDir,
                     const std::string& moduleList)
{
    const std::string module = win::join(session.mergeModulesDir, moduleFileName);
    // The step's own error where it left one; a module or cabinet that
    // cannot be trusted leaves none.
    auto error = [] { return GetLastError() ? GetLastError() : static_cast<DWORD>(ERROR_INVALID_DATA); };
    // Every step runs, each doing nothing once one has failed: the later
    // ones also clear away the earlier ones' working files.
    mergemod::MergeModuleJob job(moduleFileName, session.mergeModulesDir, extractDir);
    SetLastError(0);
    DWORD failure = job.extractCabinetStream() ? 0 : error();
    job.unpackCabinet();
    if (!failure && !job.unpacked()) failure = error();
    int replaced = 1;
    bool oldFileLeft = false;
    for (const std::string& name : win::profileNames(moduleList, moduleFileName.c_str())) {
        SetLastError(0);
        if (!failure && !job.replaceModuleFile(session.newFilesDir, name)) {
            session.outcome.report(Action::patch, module, win::failure(error()), name);
            replaced = 0;
            // A name the module lacks leaves none of its files old.
            oldFileLeft = oldFileLeft || job.hasFile(name);
        }
    }
    SetLastError(0);
    if (!job.rebuildCabinet() && !failure) failure = error();
    SetLastError(0);
    if (!job.storeCabinetStream() && !failure) failure = error();
    if (failure) {
        session.outcome.report(Action::patch, module, win::failure(failure));
        session.unpatchedModules.push_back(moduleFileName);
        return 0;
    }
    // Its revision would say it holds files it does not.
    if (oldFileLeft) session.unpatchedModules.push_back(moduleFileName);
    if (replaced) session.outcome.report(Action::patch, module, {});
    return replaced;
}

int stampModuleRevision(UpdateSession& session)
{
    std::string manifestCopy = win::join(session.newFilesDir, win::loadText(IDS_MANIFEST_NAME));
    // Without the update's manifest there is no revision to stamp: a repeated
    // cleanup run, after the new-files folder went, must not write "#0" over
    // the revision an earlier run stamped.
    if (!win::fileExists(manifestCopy)) return 1;
    const unsigned long revision = manifestNumber(manifestCopy, facts::revisionKey).value_or(0);
    char value[16];
    wsprintfA(value, "#%d", static_cast<int>(revision));
    std::string extractDir = win::join(session.mergeModulesDir, facts::extractionFolder);
    for (const char* module : {facts::mainModuleFile, facts::remoteModuleFile}) {
        const std::string path = win::join(session.mergeModulesDir, module);
        if (!win::fileExists(path)) {
            session.outcome.skipped(Action::stamp, path, Reason::absent);
            continue;
        }
        // The revision of a module that still holds the old files would be a lie.
        if (std::find_if(session.unpatchedModules.begin(), session.unpatchedModules.end(),
                         [&](const std::string& name) { return win::sameText(name, module); }) !=
            session.unpatchedModules.end()) {
            session.outcome.skipped(Action::stamp, path, Reason::notPatched);
            continue;
        }
        mergemod::MergeModuleJob job(module, session.mergeModulesDir, extractDir);
        session.outcome.report(
            Action::stamp, path,
            win::result(job.setRegistryValue(HKEY_LOCAL_MACHINE, facts::productKey, facts::revisionValue, value)));
    }
    return 1;
}
