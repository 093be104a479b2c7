#pragma once
// Libraries outside the protected system set are never imported at load time:
// Windows looks for a program's libraries in the program's own folder first,
// and the update runs from a download folder and, at the cleanup run, from
// TEMP. They are loaded here, by full path from the system folder, on first use.
#include <windows.h>

namespace win {

// The function of a system-folder library, or null when the library or the
// function is missing. The library stays loaded for the life of the process.
FARPROC systemProc(const char* library, const char* function);

template <typename Function>
Function* systemFunction(const char* library, const char* function)
{
    return reinterpret_cast<Function*>(systemProc(library, function));
}

} // namespace win
