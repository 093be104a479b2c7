// Starts the update program from this folder, waits for it and tells the user
// that the update is complete. When the update program did not get through
// (it ended with a status other than 0), it has shown its own reason, and
// this program stays silent.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    STARTUPINFOA startup = {};
    startup.cb = 68;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    char commandLine[] = "trevix.exe";
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &process))
        return 0;
    DWORD status = 1;
    if (WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process.hProcess, &status) && status == 0)
        MessageBoxA(nullptr,
                    "The Corvindale update is complete.\n\nYou must reboot your machine for the "
                    "settings to take effect.",
                    "Corvindale Update", MB_OK | MB_ICONINFORMATION);
    // This program shares no code with trevix, so it closes its two handles itself.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
