// Runs a command line and reports every dialog it shows, answering each with
// its default button (or as --answer CAPTION=BUTTON says). Used by the demo.
//   watcher.exe [--timeout SECONDS] [--answer "Caption=yes"]... -- COMMAND LINE
#include <cstdio>
#include <cstring>
#include <string>

#include "kit/testkit.h"

int main(int argc, char** argv)
{
    std::vector<kit::Answer> answers;
    DWORD timeout = 120000;
    std::string command;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
        if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            timeout = static_cast<DWORD>(std::atoi(argv[++i])) * 1000;
        } else if (std::strcmp(argv[i], "--answer") == 0 && i + 1 < argc) {
            std::string rule = argv[++i];
            size_t eq = rule.rfind('=');
            if (eq == std::string::npos) continue;
            std::string button = rule.substr(eq + 1);
            int id = button == "yes" ? IDYES : button == "no" ? IDNO : button == "cancel" ? IDCANCEL : IDOK;
            answers.push_back({rule.substr(0, eq), "", id});
        }
    }
    for (; i < argc; ++i) {
        if (!command.empty()) command += " ";
        command += argv[i];
    }
    kit::DialogWatcher watcher(answers);
    watcher.onSeen([](const kit::Dialog& d) {
        std::printf("  dialog: %s\n", kit::describe(d).c_str());
        std::fflush(stdout);
    });
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::printf("  could not start %s\n", command.c_str());
        return 1;
    }
    DWORD wait = WaitForSingleObject(process.hProcess, timeout);
    if (wait != WAIT_OBJECT_0) {
        std::printf("  still running after %lu s: stopped\n", timeout / 1000);
        TerminateProcess(process.hProcess, 1);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    Sleep(200);
    watcher.stop();
    std::printf("  exit status %lu\n", code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
