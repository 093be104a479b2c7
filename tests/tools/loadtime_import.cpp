// The fault the import-table check keeps out of the shipped programs: a
// program that imports cabinet.dll, msi.dll, comctl32.dll and version.dll at
// load time. Started beside planted copies, it loads them: the planting
// scenario can see the fault.
#include <windows.h>
#include <commctrl.h>
#include <fci.h>
#include <msi.h>
#include <msiquery.h>

const void* volatile imported;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    imported = reinterpret_cast<const void*>(&FCICreate);
    imported = reinterpret_cast<const void*>(&MsiOpenDatabaseA);
    imported = reinterpret_cast<const void*>(&InitCommonControls);
    imported = reinterpret_cast<const void*>(&GetFileVersionInfoSizeA);
    return 0;
}
