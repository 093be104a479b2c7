// Patches one module from a module list, the way the cleanup run does, and
// prints the time it took in milliseconds.
//   mergemod_bench MODULEDIR NEWFILESDIR MODULE
#include <windows.h>

#include <cstdio>
#include <string>

#include "mergemod/merge_module_job.h"
#include "mergemod/merge_module_patching.h"
#include "session/update_session.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: mergemod_bench MODULEDIR NEWFILESDIR MODULE\n");
        return 2;
    }
    UpdateSession session;
    session.pathSeparator = "\\";
    session.mergeModulesDir = argv[1];
    session.newFilesDir = argv[2];
    std::string extractDir = session.mergeModulesDir + "\\Extracted";
    CreateDirectoryA(extractDir.c_str(), nullptr);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    patchMergeModule(session, argv[3], extractDir, session.newFilesDir + "\\msm.ini");
    QueryPerformanceCounter(&end);
    RemoveDirectoryA(extractDir.c_str());
    std::printf("%.0f\n", 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart);
    return 0;
}
