#include "win/system.h"

namespace win {

DWORD ntMajorVersion()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return 0;
    return version.dwMajorVersion;
}

} // namespace win
