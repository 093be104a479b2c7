#pragma once
// What one call that acts on the machine gave: whether it worked and, when
// not, the system's error, taken at the call (GetLastError is gone three
// calls later).
#include <windows.h>

namespace win {

struct Result {
    bool ok = true;
    DWORD error = 0;
};

// A call that reports through GetLastError. One that failed without an
// error of its own (a check of data, not a system call) gets otherwise.
inline Result result(bool ok, DWORD otherwise = ERROR_INVALID_DATA)
{
    if (ok) return {};
    const DWORD error = GetLastError();
    return {false, error ? error : otherwise};
}

// A call that returns its error (the registry's, ERROR_SUCCESS when it worked).
inline Result status(LONG code) { return {code == ERROR_SUCCESS, static_cast<DWORD>(code)}; }

inline Result failure(DWORD error) { return {false, error}; }

} // namespace win
