// A stand-in for a program the update starts: appends its name and command
// line to standin.log in its own folder, sleeps as standin.sleep says (ms),
// then leaves "<name>.done" beside itself. The log lets tests check what was
// started, with which arguments and in which order.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path = self;
    std::string dir = path.substr(0, path.find_last_of('\\'));
    std::string name = path.substr(path.find_last_of('\\') + 1);

    std::string line = std::string(GetCommandLineA()) + "\r\n";
    HANDLE log = CreateFileA((dir + "\\standin.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        DWORD written;
        SetFilePointer(log, 0, nullptr, FILE_END);
        WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(log);
    }
    char sleep[32] = {};
    HANDLE sleepFile = CreateFileA((dir + "\\standin.sleep").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    if (sleepFile != INVALID_HANDLE_VALUE) {
        DWORD got = 0;
        ReadFile(sleepFile, sleep, sizeof sleep - 1, &got, nullptr);
        CloseHandle(sleepFile);
        Sleep(static_cast<DWORD>(std::atoi(sleep)));
    }
    HANDLE done = CreateFileA((dir + "\\" + name + ".done").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (done != INVALID_HANDLE_VALUE) CloseHandle(done);
    return 7;
}
