// Stands in for a program the update starts (its auxiliary setup programs):
// appends its file name and arguments to standin.log beside itself, and what
// a progress bar of the update shows at that moment, so that tests see what
// was started, how, and where the run then stood. With STANDIN_RUN set, it
// first runs that command line and logs its exit code (with a leading "&",
// starts it and goes on): a second update started while the first one waits.
#include <windows.h>

#include <commctrl.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path = self;
    const std::string command = GetCommandLineA();
    const size_t end = command[0] == '"' ? command.find('"', 1) + 1 : command.find(' ');
    std::string line = path.substr(path.rfind('\\') + 1) + (end < command.size() ? command.substr(end) : "");
    HWND dialog = FindWindowA("#32770", "Corvindale Update");
    HWND bar = dialog ? GetDlgItem(dialog, 1003) : nullptr;
    if (bar) line += " bar=" + std::to_string(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)) + "@" + std::to_string(SendMessageA(bar, PBM_GETPOS, 0, 0));
    char other[MAX_PATH] = {};
    if (GetEnvironmentVariableA("STANDIN_RUN", other, sizeof other)) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        DWORD code = 0;
        const bool wait = other[0] != '&'; // "&COMMAND": started, not waited for
        if (!CreateProcessA(nullptr, other + (wait ? 0 : 1), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            line += " did not start it";
        else if (!wait)
            line += " started it";
        else if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &code))
            line += " ran " + std::to_string(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    line += "\r\n";
    HANDLE log = CreateFileA((path.substr(0, path.rfind('\\')) + "\\standin.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(log);
    return 7;
}
