// Shows the progress dialog for a while, for pictures of it:
//   progress_show.exe FILECOUNT STEPS MILLISECONDS
#include <windows.h>

#include <cstdlib>

#include "session/progress.h"

int main(int argc, char** argv)
{
    if (argc < 4) return 2;
    ProgressWindow progress;
    progress.start(std::atoi(argv[1]));
    for (int i = 0; i < std::atoi(argv[2]); ++i) progress.step();
    Sleep(static_cast<DWORD>(std::atoi(argv[3])));
    return 0;
}
