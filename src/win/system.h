#pragma once
// The running system's version.
#include <windows.h>

namespace win {

// 0 on the 9x family, else the NT major version (4 for NT 4.0, 5 for 2000 and XP).
DWORD ntMajorVersion();

} // namespace win
