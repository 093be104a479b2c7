#pragma once
// The test kit: what whole-program tests need under Wine, and nothing of the
// shipped code (a test must not check the code against itself).
#include <windows.h>

#include <string>
#include <vector>

namespace kit {

// Files; the last part of a path may hold wildcards for exists.
std::string binDir();  // where the built programs are
std::string join(const std::string& folder, const std::string& name);
bool writeFile(const std::string& path, const std::string& content);
bool readFile(const std::string& path, std::string& content);
bool exists(const std::string& path);
void removeTree(const std::string& path);
std::vector<std::string> listDir(const std::string& path);  // sorted, without "." and ".."

// Registry, keys written as "HKLM\Software\...", "" the default value;
// REG_NONE creates the key alone.
bool setValue(const std::string& key, const std::string& name, DWORD type, const std::string& data);
bool readValue(const std::string& key, const std::string& name, std::string& data);
bool keyExists(const std::string& key);
void deleteKey(const std::string& key, const char* value = nullptr);  // the key, or one value of it

// A genuine product settings file, scrambled with the format's literal keys,
// and the version of one (its first 8192 bytes, as the product reads it).
std::string settingsFile(unsigned major, unsigned minor, unsigned long options, unsigned long components);
bool settingsVersion(const std::string& file, unsigned& major, unsigned& minor);

// A dialog of another process: buttons "Yes/No" or "none", icon "none",
// "information", "question" ..., owner's caption or "none", the progress
// bar's range and last position seen ("MIN..MAX@POS", empty without one).
struct Dialog {
    std::string caption, text, buttons, icon, owner, bar;
};
std::string describe(const Dialog& dialog);

// The first rule whose caption matches and whose text is in the dialog's
// presses its button (IDYES ... or pressEscape); other dialogs get OK.
constexpr int pressEscape = -27;
struct Answer {
    std::string caption;
    int button;
    std::string text;
};
extern bool echoDialogs;  // print each dialog as it appears: a restart may end this program

struct Run {
    bool started = false, finished = false;
    DWORD exitCode = 0;
    std::vector<Dialog> dialogs;
    int calls = 0;  // runKilled: the changes the program reached
};

// Starts a command line, answers its dialogs and waits at most timeoutMs; a
// program still running then is ended. killAt > 0 runs it as its debugger and
// ends it just before its killAt-th change of a file, the registry or a
// database; -1 counts the changes.
Run run(const std::string& commandLine, const std::string& folder, const std::vector<Answer>& answers,
        int killAt = 0, DWORD timeoutMs = 120000);

// The next start of Windows: delayed moves, WinInit.Ini and RunOnce; ends
// only when the programs the start ran (and those they started) have ended.
Run restart(const std::vector<Answer>& answers);

} // namespace kit
