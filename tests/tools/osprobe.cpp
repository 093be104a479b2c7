// Reports the family code the update program derives, as its exit status.
#include <windows.h>

#include "session/detection.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return static_cast<int>(detectOsFamily());
}
