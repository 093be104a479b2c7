// Starts the update program from this folder, waits for it and tells the
// user how it ended: complete, still to be started again, refused before it
// changed anything, or not complete (with where its log is). After 1605 and
// 1638 the update program has shown its own reason, and this program stays
// silent. It ends with the update program's exit code, or with the system's
// error when it could not start it.
#include <windows.h>

#include <cstring>

#include "res/launcher.h"

namespace {

const DWORD notInstalled = 1605, anotherRun = 1618, otherVersion = 1638;
// Refused by the update program's checks before any change: a file missing
// from the package, a drive without room.
const DWORD missingFiles = 1620, diskFull = 112;
const DWORD restartRequired = 3010;

void tell(UINT textId, const char* detail, UINT icon)
{
    char format[512] = {}, text[1024] = {}, caption[128] = {};
    LoadStringA(GetModuleHandleA(nullptr), textId, format, sizeof format);
    LoadStringA(GetModuleHandleA(nullptr), IDS_LAUNCH_CAPTION, caption, sizeof caption);
    wsprintfA(text, format, detail);
    MessageBoxA(nullptr, text, caption, MB_OK | icon);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup; // 68 bytes in the 32-bit program
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    char commandLine[] = "trevix.exe";
    // The update program beside this one, by its full path: a bare name is
    // looked for in the current folder and along PATH too, where anyone may
    // have put a program of that name.
    char program[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    char* name = length > 0 && length < MAX_PATH ? std::strrchr(program, '\\') : nullptr;
    if (name && static_cast<size_t>(name - program) + sizeof commandLine < MAX_PATH)
        std::memcpy(name + 1, commandLine, sizeof commandLine);
    else
        SetLastError(ERROR_PATH_NOT_FOUND);
    if (!name || !CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                                 &startup, &process)) {
        const DWORD error = GetLastError();
        char reason[512] = {};
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, reason,
                       sizeof reason, nullptr);
        tell(IDS_LAUNCH_NOT_STARTED, reason, MB_ICONERROR);
        return static_cast<int>(error);
    }
    DWORD status = 0;
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &status))
        status = GetLastError();
    // This program shares no code with trevix, so it closes its two handles itself.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    char windows[MAX_PATH] = {};
    if (status == 0 || status == restartRequired)
        tell(IDS_LAUNCH_COMPLETE, "", MB_ICONINFORMATION);
    else if (status == anotherRun)
        tell(IDS_LAUNCH_BUSY, "", MB_ICONWARNING);
    else if ((status == missingFiles || status == diskFull) && GetWindowsDirectoryA(windows, sizeof windows))
        tell(IDS_LAUNCH_REFUSED, windows, MB_ICONWARNING);
    else if (status != notInstalled && status != otherVersion && GetWindowsDirectoryA(windows, sizeof windows))
        tell(IDS_LAUNCH_INCOMPLETE, windows, MB_ICONWARNING);
    return static_cast<int>(status);
}
