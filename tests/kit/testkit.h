#pragma once
// Support for tests that run under Wine: folders, registry, programs, families.
#include <windows.h>

#include <string>
#include <vector>

#include "kit/watcher.h"

namespace kit {

// The folder holding the built programs (and the test programs).
std::string binDir();
std::string joinPath(const std::string& folder, const std::string& name);

// A fresh folder under TEMP that removes itself, read-only files included.
class TempDir {
public:
    explicit TempDir(const std::string& label = "t");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return joinPath(path_, name); }

private:
    std::string path_;
};

void removeTree(const std::string& path);
bool writeFile(const std::string& path, const std::string& content);
bool readFile(const std::string& path, std::string& content);
bool fileExists(const std::string& path);
bool copyFile(const std::string& from, const std::string& to);
// Names of the entries of a folder, sorted, without "." and "..".
std::vector<std::string> listDir(const std::string& path);

// Registry: root keys by name ("HKLM", "HKCU", "HKCR"), paths with backslashes.
HKEY rootKey(const std::string& name);
bool setString(HKEY root, const std::string& key, const std::string& value, const std::string& data,
               DWORD type = REG_SZ);
bool setBytes(HKEY root, const std::string& key, const std::string& value, const void* data,
              DWORD size, DWORD type);
bool setDword(HKEY root, const std::string& key, const std::string& value, DWORD data);
bool readString(HKEY root, const std::string& key, const std::string& value, std::string& data);
bool readDword(HKEY root, const std::string& key, const std::string& value, DWORD& data);
bool valueExists(HKEY root, const std::string& key, const std::string& value);
bool keyExists(HKEY root, const std::string& key);
void deleteTree(HKEY root, const std::string& key);

// Redirects HKLM and HKCU of this process to scratch keys for its lifetime.
class RegistrySandbox {
public:
    RegistrySandbox();
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

private:
    std::string base_;
    HKEY machine_ = nullptr;
    HKEY user_ = nullptr;
};

// Keeps a file open without sharing, as a running product does.
class FileHolder {
public:
    explicit FileHolder(const std::string& path);
    ~FileHolder();
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

// The families Wine can report, by the names its Version setting takes.
const std::vector<std::string>& families();
// Family code the update program must derive for a Wine version name.
unsigned long expectedFamily(const std::string& wineVersion);
// Makes every program named exeName report that Windows version; empty resets.
void setFamily(const std::string& exeName, const std::string& wineVersion);

struct RunResult {
    bool started = false;
    bool finished = false;   // false: killed at the time limit
    DWORD exitCode = 0;
    std::vector<Dialog> dialogs;
};

// Starts a command line, answers its dialogs as told, and waits at most
// timeoutMs. A program still running then is killed. onSeen is called for each
// dialog before it is answered.
RunResult runProgram(const std::string& commandLine, const std::string& directory,
                     const std::vector<Answer>& answers = {}, DWORD timeoutMs = 60000,
                     std::function<void(const Dialog&)> onSeen = nullptr);

// Performs what Windows does at its next start: delayed moves, WinInit.Ini,
// RunOnce entries (those run to their end).
bool restartMachine(DWORD timeoutMs = 120000);

// A genuine product settings file (scrambled, with its markers) of that
// version, option word and component word (bit 0 remote part, bit 1 host part).
std::string settingsFile(unsigned short major, unsigned short minor, unsigned long options,
                         unsigned long components);

// The product as the update program finds it installed.
struct ProductFixture {
    std::string installDir;
    ProductFixture(const std::string& dir, bool installed = true);
    ~ProductFixture();
};

} // namespace kit
