#include "kit/runner.h"

#include <tlhelp32.h>

namespace {

// Programs a start of Windows runs for the update, and what they start.
bool startProgramsRunning()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        const std::string name = lowerName(entry.szExeFile);
        running = running || name == "trevix.exe" || name == "regsvr32.exe" || name == "cmd.exe";
    }
    CloseHandle(snapshot);
    return running;
}

} // namespace

Run runCommand(const std::string& commandLine, const std::string& folder, const std::vector<Answer>& answers, int killAt, DWORD timeoutMs)
{
    Run result;
    // Before the watcher's thread hooks dialogs: Wine can deadlock loading
    // libraries on one thread while another installs a hook.
    if (killAt) changeOffsets();
    result.dialogs = watchDialogs(answers, [&] {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        std::string line = commandLine;
        result.started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, killAt ? DEBUG_ONLY_THIS_PROCESS : 0, nullptr,
                                        folder.empty() ? nullptr : folder.c_str(), &startup, &process);
        if (result.started && killAt) debug(process, killAt, timeoutMs, result);
        if (result.started && !killAt) result.finished = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
        if (result.started && !result.finished) TerminateProcess(process.hProcess, 255);
        WaitForSingleObject(process.hProcess, 5000);
        GetExitCodeProcess(process.hProcess, &result.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        if (commandLine == "wineboot.exe -r") {
            for (const DWORD begin = GetTickCount(); startProgramsRunning() && GetTickCount() - begin < timeoutMs;) Sleep(100);
            result.finished = result.finished && !startProgramsRunning();
        }
        Sleep(200); // dialogs of programs it started may still be closing
    });
    return result;
}
