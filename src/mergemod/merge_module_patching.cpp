#include "mergemod/merge_module_patching.h"

#include <windows.h>

#include "mergemod/merge_module_job.h"
#include "res/resource.h"
#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/profile.h"
#include "win/text.h"

namespace {

const size_t maxModuleNameLength = 259;

} // namespace

int patchMergeModules(UpdateSession& session)
{
    const std::string& separator = session.pathSeparator;
    std::string extractDir = session.mergeModulesDir + separator + facts::extractionFolder;
    CreateDirectoryA(extractDir.c_str(), nullptr);
    std::string moduleList = session.newFilesDir + separator + facts::moduleListFile;
    for (const std::string& module : win::profileNames(moduleList, nullptr)) {
        // Section names come from the package: only plain names of the modules' folder.
        if (module.size() > maxModuleNameLength || !win::isPlainFileName(module))
            continue;
        patchMergeModule(session, module, extractDir, moduleList);
    }
    RemoveDirectoryA(extractDir.c_str());
    return 1;
}

int patchMergeModule(UpdateSession& session, const std::string& moduleFileName,
                     const std::string& extractDir, const std::string& moduleList)
{
    mergemod::MergeModuleJob job(moduleFileName, session.mergeModulesDir, extractDir);
    job.extractCabinetStream();
    job.unpackCabinet();
    for (const std::string& name : win::profileNames(moduleList, moduleFileName.c_str()))
        job.replaceModuleFile(session.newFilesDir, name);
    job.rebuildCabinet();
    job.storeCabinetStream();
    return 1;
}

int stampModuleRevision(UpdateSession& session)
{
    const std::string& separator = session.pathSeparator;
    std::string manifestCopy = session.newFilesDir + separator + win::loadText(IDS_MANIFEST_NAME);
    // Without the update's manifest there is no revision to stamp: a repeated
    // cleanup run, after the new-files folder went, must not write "#0" over
    // the revision an earlier run stamped.
    if (!win::fileExists(manifestCopy)) return 1;
    UINT revision = GetPrivateProfileIntA(facts::numbersSection, facts::revisionKey, 0, manifestCopy.c_str());
    char value[16];
    wsprintfA(value, "#%d", static_cast<int>(revision));
    std::string extractDir = session.mergeModulesDir + separator + facts::extractionFolder;
    for (const char* module : {facts::mainModuleFile, facts::remoteModuleFile}) {
        mergemod::MergeModuleJob job(module, session.mergeModulesDir, extractDir);
        job.setRegistryValue(HKEY_LOCAL_MACHINE, facts::productKey, facts::revisionValue, value);
    }
    return 1;
}
