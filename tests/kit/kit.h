#pragma once
// The test kit: what whole-program tests need under Wine, and nothing of the
// shipped code (a test must not check the code against itself).
#include <windows.h>

#include <string>
#include <vector>

namespace kit {

// Files and folders.
std::string binDir();  // where the built programs are
std::string join(const std::string& folder, const std::string& name);
bool writeFile(const std::string& path, const std::string& content);
bool readFile(const std::string& path, std::string& content);
bool exists(const std::string& path);  // wildcards allowed
void removeTree(const std::string& path);
std::vector<std::string> listDir(const std::string& path);  // sorted, without "." and ".."

// Registry, keys written as "HKLM\Software\...".
bool setValue(const std::string& key, const std::string& name, DWORD type, const std::string& data);
bool readValue(const std::string& key, const std::string& name, DWORD& type, std::string& data);
bool keyExists(const std::string& key);
void deleteKey(const std::string& key);
void deleteValue(const std::string& key, const std::string& name);

// A genuine product settings file, scrambled with the format's literal keys.
std::string settingsFile(unsigned major, unsigned minor, unsigned long options, unsigned long components);
// The version of a genuine settings file (its first 8192 bytes, as the
// product reads it); false when it is none.
bool settingsVersion(const std::string& file, unsigned& major, unsigned& minor);

// A dialog of another process as the watcher read it.
struct Dialog {
    std::string caption, text, buttons, icon, owner;  // buttons "Yes/No", icon "none", owner "none"
    int barMin = 0, barMax = 0, barPos = -1;           // barPos -1: no progress bar
};
std::string describe(const Dialog& dialog);

// How a dialog is answered: the first rule whose caption matches, and whose
// text is in the dialog's text, presses its button (IDOK, IDYES, ... or
// pressEscape); other dialogs get OK.
constexpr int pressEscape = -27;
struct Answer {
    std::string caption;
    int button;
    std::string text;
};

// Print each dialog as it appears (a restart may end this program before the run returns).
extern bool echoDialogs;

struct Run {
    bool started = false, finished = false;
    DWORD exitCode = 0;
    std::vector<Dialog> dialogs;
    int calls = 0;  // runKilled: the counted calls the program reached
};

// Starts a command line, answers its dialogs and waits at most timeoutMs; a
// program still running then is ended.
Run run(const std::string& commandLine, const std::string& folder, const std::vector<Answer>& answers,
        DWORD timeoutMs = 120000);

// Runs a command line as its debugger and ends it just before its killAt-th
// call of a function that changes files, the registry or a database (1 is
// the first). killAt 0 ends it nowhere and counts the calls.
Run runKilled(const std::string& commandLine, int killAt, DWORD timeoutMs = 120000);

// The next start of Windows: delayed moves, WinInit.Ini and RunOnce; ends
// only when the programs the start ran (and those they started) have ended.
Run restart(const std::vector<Answer>& answers);

} // namespace kit
