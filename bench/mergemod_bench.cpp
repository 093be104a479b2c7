// Patches one module from a module list, the way the cleanup run does, and
// prints the time it took in milliseconds, the program's peak working set and
// how far that peak rose above the working set before the patch, in KB; with
// "steps", the same work step by step, with the time of each.
//   mergemod_bench MODULEDIR NEWFILESDIR MODULE [steps]
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "mergemod/file_version.h"
#include "mergemod/merge_module_job.h"
#include "mergemod/merge_module_patching.h"
#include "mergemod/module_database.h"
#include "mergemod/stream_store.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/profile.h"

namespace {

class Clock {
public:
    Clock()
    {
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&last_);
    }
    // Milliseconds since the previous lap.
    double lap()
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        double ms = 1000.0 * (now.QuadPart - last_.QuadPart) / frequency_.QuadPart;
        last_ = now;
        return ms;
    }

private:
    LARGE_INTEGER frequency_;
    LARGE_INTEGER last_;
};

// The working set now and at its peak, in KB.
void workingSet(unsigned long& now, unsigned long& peak)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    now = static_cast<unsigned long>(counters.WorkingSetSize / 1024);
    peak = static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024);
}

void patchStepByStep(UpdateSession& session, const std::string& module, const std::string& extractDir,
                     const std::string& moduleList)
{
    Clock clock;
    mergemod::MergeModuleJob job(module, session.mergeModulesDir, extractDir);
    job.extractCabinetStream();
    double stream = clock.lap();
    job.unpackCabinet();
    double unpack = clock.lap();
    for (const std::string& name : win::profileNames(moduleList, module.c_str()))
        job.replaceModuleFile(session.newFilesDir, name);
    double replace = clock.lap();
    job.rebuildCabinet();
    double rebuild = clock.lap();
    job.storeCabinetStream();
    double store = clock.lap();
    std::printf("stream out %.0f, unpack %.0f, replace %.0f, rebuild %.0f, store %.0f\n", stream, unpack, replace,
                rebuild, store);
}

} // namespace

int main(int argc, char** argv)
{
    bool steps = argc == 5 && std::strcmp(argv[4], "steps") == 0;
    if (argc != 4 && !steps) {
        std::fprintf(stderr, "usage: mergemod_bench MODULEDIR NEWFILESDIR MODULE [steps]\n");
        return 2;
    }
    UpdateSession session;
    session.mergeModulesDir = argv[1];
    session.newFilesDir = argv[2];
    std::string extractDir = session.mergeModulesDir + "\\Extracted";
    std::string moduleList = session.newFilesDir + "\\msm.ini";
    CreateDirectoryA(extractDir.c_str(), nullptr);
    if (steps) {
        patchStepByStep(session, argv[3], extractDir, moduleList);
    } else {
        unsigned long before = 0, peak = 0, after = 0;
        workingSet(before, peak);
        Clock clock;
        patchMergeModule(session, argv[3], extractDir, moduleList);
        const double ms = clock.lap();
        workingSet(after, peak);
        std::printf("%.0f %lu %lu\n", ms, peak, peak > before ? peak - before : 0);
    }
    RemoveDirectoryA(extractDir.c_str());
    return 0;
}
