#include "mergemod/merge_module_patching.h"

#include <windows.h>

#include "mergemod/merge_module_job.h"
#include "mergemod/names.h"
#include "session/update_session.h"
#include "win/process.h"

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
    std::string extractDir = session.mergeModulesDir + separator + "Extracted";
    CreateDirectoryA(extractDir.c_str(), nullptr);
    std::string moduleList = session.newFilesDir + separator + "msm.ini";
    for (const std::string& module : mergemod::readProfileNames(moduleList, nullptr)) {
        // Section names come from the package: only plain names of the modules' folder.
        if (module.size() > mergemod::maxModuleNameLength || !mergemod::isPlainName(module))
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
    std::string manifestCopy =
        session.mergeModulesDir + separator + "NewFiles" + separator + "trevix.ini";
    // Without the update's manifest there is no revision to stamp: a repeated
    // cleanup run, after the new-files folder went, must not write "#0" over
    // the revision an earlier run stamped.
    if (!fileExists(manifestCopy)) return 1;
    UINT revision = GetPrivateProfileIntA("TIDEWARDEN", "Revision", 0, manifestCopy.c_str());
    char value[16];
    wsprintfA(value, "#%d", static_cast<int>(revision));
    std::string extractDir = session.mergeModulesDir + separator + "Extracted";
    for (const char* module : {"CVDCOREMAIN.MSM", "CVDREMOTE.MSM"}) {
        mergemod::MergeModuleJob job(module, session.mergeModulesDir, extractDir);
        job.setRegistryValue(HKEY_LOCAL_MACHINE, "Software\\Veltrane\\Corvindale\\CurrentVersion",
                             "Revision", value);
    }
    return 1;
}
