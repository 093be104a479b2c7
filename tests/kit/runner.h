#pragma once
// What the scenario language (scenario.cpp) builds on: the dialog watcher
// (watcher.cpp), the debugger that kills a run just before a change
// (debugger.cpp) and the runs of programs (runs.cpp).
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// A dialog of another process: buttons "Yes/No" or "none", icon "none",
// "information", "question" ..., owner's caption or "none", the progress
// bar's range and last position seen ("MIN..MAX@POS", empty without one).
struct Dialog {
    std::string caption, text, buttons, icon, owner, bar;
};

// The first rule whose caption matches and whose text is in the dialog's
// presses its button (IDYES ... or pressEscape); other dialogs get OK.
constexpr int pressEscape = -27;
struct Answer {
    std::string caption, text;
    int button;
};

struct Run {
    bool started = false, finished = false;
    DWORD exitCode = 0;
    std::vector<Dialog> dialogs;
    int calls = 0; // a debugged run: the changes the program reached
};

inline bool echoDialogs = false; // print each dialog as it appears: a restart may end this program

std::string describe(const Dialog& d);

inline std::string lowerName(std::string path)
{
    path = path.substr(path.find_last_of("\\/") + 1);
    CharLowerA(&path[0]);
    return path;
}

// Runs during() while answering the dialogs (class #32770) of other
// processes; what they showed, in the order they appeared.
std::vector<Dialog> watchDialogs(const std::vector<Answer>& answers, const std::function<void()>& during);

// Where each call that changes something lives, the same in every process:
// the module's lower-case file name and the offset there.
const std::vector<std::pair<std::string, uintptr_t>>& changeOffsets();

// Runs the debuggee until it ends or timeoutMs have passed, counting its
// changes, and ends it just before the killAt-th.
void debug(const PROCESS_INFORMATION& process, int killAt, DWORD timeoutMs, Run& result);

// Starts a command line, answers its dialogs and waits at most timeoutMs; a
// program still running then is ended. killAt > 0 runs it as its debugger and
// ends it just before its killAt-th change of a file, the registry or a
// database; -1 counts the changes. "wineboot.exe -r" is the next start of
// Windows (delayed moves, WinInit.Ini, RunOnce): it ends only when the
// programs the start ran, and those they started, have ended.
Run runCommand(const std::string& commandLine, const std::string& folder, const std::vector<Answer>& answers, int killAt = 0, DWORD timeoutMs = 120000);
