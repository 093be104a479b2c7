#pragma once
// Libraries outside the protected system set are never imported at load time:
// Windows looks for a program's libraries in the program's own folder first,
// and the update runs from a download folder and, at the cleanup run, from
// TEMP. They are loaded here, by full path from the system folder, on first use.
#include <windows.h>

namespace win {

// The function of a system-folder library, or null when the library or the
// function is missing or the name has a folder part. The library stays loaded
// for the life of the process. Safe to call from any thread.
FARPROC systemProc(const char* library, const char* function);

template <typename Function>
Function* systemFunction(const char* library, const char* function)
{
    // Through void (*)(), the one function type GCC lets any other become.
    return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(systemProc(library, function)));
}

} // namespace win
