#include "mergemod/merge_module_patching.h"

#include <windows.h>

#include "mergemod/merge_module_job.h"
#include "res/resource.h"
#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/text.h"

namespace mergemod {

namespace {

const DWORD listBufferSize = 1024;
const size_t maxModuleNameLength = 259;
const DWORD maxListSize = 16 * 1024 * 1024;

std::vector<std::string> splitNames(const std::vector<char>& buffer, DWORD length)
{
    std::vector<std::string> names;
    for (DWORD start = 0; start < length;) {
        std::string name(&buffer[start]);
        if (name.empty()) break;
        start += static_cast<DWORD>(name.size()) + 1;
        names.push_back(name);
    }
    return names;
}

} // namespace

std::vector<std::string> readProfileNames(const std::string& path, const char* section)
{
    // A list cut at the buffer's end would end in a shortened name, which may
    // name another file: the buffer grows until the whole list fits.
    for (DWORD size = listBufferSize; size <= maxListSize; size *= 2) {
        std::vector<char> buffer(size, '\0');
        DWORD length = section
                           ? GetPrivateProfileStringA(section, nullptr, nullptr, buffer.data(), size,
                                                      path.c_str())
                           : GetPrivateProfileSectionNamesA(buffer.data(), size, path.c_str());
        if (length + 2 < size) return splitNames(buffer, length);
    }
    return {};
}

} // namespace mergemod

int patchMergeModules(UpdateSession& session)
{
    const std::string& separator = session.pathSeparator;
    std::string extractDir = session.mergeModulesDir + separator + facts::extractionFolder;
    CreateDirectoryA(extractDir.c_str(), nullptr);
    std::string moduleList = session.newFilesDir + separator + facts::moduleListFile;
    for (const std::string& module : mergemod::readProfileNames(moduleList, nullptr)) {
        // Section names come from the package: only plain names of the modules' folder.
        if (module.size() > mergemod::maxModuleNameLength || !win::isPlainFileName(module))
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
    for (const std::string& name : mergemod::readProfileNames(moduleList, moduleFileName.c_str()))
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
