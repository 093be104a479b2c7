#include "kit/scenario.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "product/settings_container.h"

namespace kit {

namespace {

// The registry places an update may touch; walked whole.
const char* const watchedKeys[] = {
    "HKLM\\Software\\Veltrane",
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\WinLogon",
    "HKLM\\System\\CurrentControlSet\\Services\\cv_host",
    "HKCU\\Software\\Veltrane",
};
// Only the values of this key: delayed moves.
const char* const sessionManager = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager";

std::string hex(const BYTE* data, DWORD size)
{
    std::string out;
    char two[4];
    for (DWORD i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, "%02x", data[i]);
        out += two;
    }
    return out;
}

void snapshotKey(HKEY root, const std::string& rootName, const std::string& key, bool recurse,
                 Snapshot& out)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return;
    out["reg " + rootName + "\\" + key] = "key";
    for (DWORD i = 0;; ++i) {
        char name[1024];
        DWORD nameSize = sizeof name, type = 0;
        std::vector<BYTE> data(65536);
        DWORD dataSize = static_cast<DWORD>(data.size());
        if (RegEnumValueA(handle, i, name, &nameSize, nullptr, &type, data.data(), &dataSize) != ERROR_SUCCESS)
            break;
        out["reg " + rootName + "\\" + key + " [" + name + "]"] =
            std::to_string(type) + ":" + hex(data.data(), dataSize);
    }
    std::vector<std::string> children;
    for (DWORD i = 0; recurse; ++i) {
        char name[1024];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(handle, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.push_back(name);
    }
    RegCloseKey(handle);
    for (const std::string& child : children) snapshotKey(root, rootName, key + "\\" + child, true, out);
}

void snapshotFiles(const std::string& path, Snapshot& out)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info)) return;
    char line[128];
    bool folder = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    std::snprintf(line, sizeof line, "%s attr=%lx size=%lu time=%08lx%08lx", folder ? "dir" : "file",
                  info.dwFileAttributes, info.nFileSizeLow, info.ftLastWriteTime.dwHighDateTime,
                  folder ? 0 : info.ftLastWriteTime.dwLowDateTime);
    out["file " + path] = line;
    if (folder)
        for (const std::string& name : listDir(path)) snapshotFiles(joinPath(path, name), out);
}

std::string unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == 'r')) {
            out += text[i + 1] == 'n' ? '\n' : '\r';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

int buttonId(const std::string& name)
{
    if (name == "ok" || name == "OK") return IDOK;
    if (name == "cancel") return IDCANCEL;
    if (name == "yes") return IDYES;
    if (name == "no") return IDNO;
    if (name == "escape") return pressEscape;
    return std::atoi(name.c_str());
}

std::string buttonNames(const std::vector<int>& buttons)
{
    static const char* names[] = {"", "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"};
    std::string out;
    for (int id : buttons) out += (out.empty() ? "" : "/") + std::string(id >= 1 && id <= 7 ? names[id] : "?");
    return out.empty() ? "none" : out;
}

bool splitKey(const std::string& full, HKEY& root, std::string& key)
{
    size_t slash = full.find('\\');
    root = rootKey(full.substr(0, slash));
    key = slash == std::string::npos ? "" : full.substr(slash + 1);
    return root != nullptr;
}

std::string windowsDir()
{
    char buffer[MAX_PATH] = {};
    GetWindowsDirectoryA(buffer, MAX_PATH);
    return buffer;
}

std::string systemDir()
{
    char buffer[MAX_PATH] = {};
    GetSystemDirectoryA(buffer, MAX_PATH);
    return buffer;
}

std::string tempDir()
{
    char buffer[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, buffer);
    std::string text = buffer;
    while (!text.empty() && text.back() == '\\') text.pop_back();
    return text;
}

} // namespace

Snapshot takeSnapshot(const std::vector<std::string>& folders)
{
    Snapshot out;
    for (const char* full : watchedKeys) {
        HKEY root;
        std::string key;
        if (splitKey(full, root, key)) snapshotKey(root, std::string(full).substr(0, 4), key, true, out);
    }
    HKEY root;
    std::string key;
    splitKey(sessionManager, root, key);
    snapshotKey(root, "HKLM", key, false, out);
    for (const std::string& folder : folders) snapshotFiles(folder, out);
    return out;
}

std::string diffSnapshots(const Snapshot& before, const Snapshot& after)
{
    std::string out;
    for (const auto& [name, value] : before) {
        auto it = after.find(name);
        if (it == after.end())
            out += "  gone:    " + name + "\n";
        else if (it->second != value)
            out += "  changed: " + name + " (" + value + " -> " + it->second + ")\n";
    }
    for (const auto& [name, value] : after)
        if (!before.count(name)) out += "  new:     " + name + " = " + value + "\n";
    return out;
}

std::vector<std::string> splitWords(const std::string& line)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::string word;
        if (line[i] == '"') {
            // Inside quotes, \" is a quote character.
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '"') ++i;
                word += line[i];
            }
            ++i;
        } else {
            size_t end = line.find_first_of(" \t", i);
            if (end == std::string::npos) end = line.size();
            word = line.substr(i, end - i);
            i = end;
        }
        words.push_back(word);
    }
    return words;
}

bool Scenario::load(const std::string& path, std::string& error)
{
    path_ = path;
    std::string text;
    if (!readFile(path, text)) {
        error = "cannot read " + path;
        return false;
    }
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        std::vector<std::string> words = splitWords(raw);
        if (words.empty() || words[0][0] == '#') continue;
        if (words[0] == "families") {
            families_.assign(words.begin() + 1, words.end());
            continue;
        }
        lines_.push_back({number, words});
    }
    return true;
}

std::string Scenario::expand(const std::string& word) const
{
    // @N is string-table entry N, as the update program shows it.
    if (word.size() > 1 && word[0] == '@' && isdigit(static_cast<unsigned char>(word[1]))) {
        char buffer[1024] = {};
        LoadStringA(GetModuleHandleA(nullptr), std::atoi(word.c_str() + 1), buffer, sizeof buffer);
        return buffer;
    }
    std::string out = word;
    for (const auto& [name, value] : vars_) {
        const std::string token = "$" + name;
        for (size_t at = out.find(token); at != std::string::npos; at = out.find(token, at + value.size()))
            out.replace(at, token.size(), value);
    }
    return out;
}

void Scenario::run(const std::string& family)
{
    family_ = family;
    vars_["FAMILY"] = std::to_string(expectedFamily(family));
    vars_["WINDIR"] = windowsDir();
    vars_["SYSDIR"] = systemDir();
    vars_["TEMP"] = tempDir();
    vars_["BIN"] = binDir();
    vars_["PROGRAMS"] = "C:\\Program Files";
    setFamily("trevix.exe", family);
    watched_ = {tempDir(), windowsDir() + "\\wininit.ini"};
    for (const ScenarioLine& line : lines_) {
        SCOPED_TRACE(path_ + ":" + std::to_string(line.number));
        execute(line);
        if (testing::Test::HasFatalFailure()) break;
    }
    holders_.clear();
    setFamily("trevix.exe", "");
}

void Scenario::execute(const ScenarioLine& line)
{
    std::vector<std::string> w;
    for (const std::string& word : line.words) w.push_back(expand(word));
    // "on win98,nt40 DIRECTIVE..." and "except win98 DIRECTIVE...": only for (or
    // not for) those families.
    while (w.size() > 2 && (w[0] == "on" || w[0] == "except")) {
        const bool listed = ("," + w[1] + ",").find("," + family_ + ",") != std::string::npos;
        if (listed != (w[0] == "on")) return;
        w.erase(w.begin(), w.begin() + 2);
    }
    const std::string& op = w[0];
    auto need = [&](size_t n) {
        if (w.size() < n) ADD_FAILURE() << op << " needs " << n - 1 << " arguments";
        return w.size() >= n;
    };

    if (op == "set" && need(3)) {
        vars_[w[1]] = w[2];
    } else if (op == "product" && need(2)) {
        CreateDirectoryA(w[1].c_str(), nullptr);
        const char* key = "Software\\Veltrane\\Corvindale\\CurrentVersion\\System";
        setString(HKEY_LOCAL_MACHINE, key, "InstallDir", w[1]);
        setString(HKEY_LOCAL_MACHINE, key, "Installed", "1");
        vars_["PRODUCT"] = w[1];
        watched_.push_back(w[1]);
    } else if (op == "package" && need(2)) {
        CreateDirectoryA(w[1].c_str(), nullptr);
        ASSERT_TRUE(copyFile(joinPath(binDir(), "trevix.exe"), joinPath(w[1], "trevix.exe")));
        ASSERT_TRUE(copyFile(joinPath(binDir(), "trevixrun.exe"), joinPath(w[1], "trevixrun.exe")));
        vars_["PKG"] = w[1];
        watched_.push_back(w[1]);
    } else if (op == "dir" && need(2)) {
        CreateDirectoryA(w[1].c_str(), nullptr);
    } else if (op == "watch" && need(2)) {
        watched_.push_back(w[1]);
    } else if (op == "file" && need(3)) {
        EXPECT_TRUE(writeFile(w[1], unescape(w[2]))) << w[1];
    } else if (op == "copy-bin" && need(3)) {
        EXPECT_TRUE(copyFile(joinPath(binDir(), w[1]), w[2])) << w[1] << " -> " << w[2];
    } else if (op == "hold" && need(2)) {
        holders_.push_back(std::make_unique<FileHolder>(w[1]));
        EXPECT_TRUE(holders_.back()->held()) << w[1];
    } else if (op == "release") {
        holders_.clear();
    } else if (op == "reg" && need(4)) {
        HKEY root;
        std::string key;
        ASSERT_TRUE(splitKey(w[1], root, key)) << w[1];
        const std::string name = w[2] == "@" ? "" : w[2];
        if (w[3] == "key") {
            EXPECT_TRUE(setBytes(root, key, "kit.tmp", "", 0, REG_SZ));
            HKEY handle;
            if (RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE, &handle) == ERROR_SUCCESS) {
                RegDeleteValueA(handle, "kit.tmp");
                RegCloseKey(handle);
            }
        } else if (w[3] == "dword" && need(5)) {
            EXPECT_TRUE(setDword(root, key, name, static_cast<DWORD>(std::strtoul(w[4].c_str(), nullptr, 0))));
        } else if (w[3] == "sz" && need(5)) {
            EXPECT_TRUE(setString(root, key, name, w[4]));
        } else {
            ADD_FAILURE() << "unknown registry type " << w[3];
        }
    } else if (op == "reg-delete" && need(2)) {
        HKEY root;
        std::string key;
        ASSERT_TRUE(splitKey(w[1], root, key));
        if (w.size() > 2) {
            HKEY handle;
            if (RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE, &handle) == ERROR_SUCCESS) {
                RegDeleteValueA(handle, w[2].c_str());
                RegCloseKey(handle);
            }
        } else {
            deleteTree(root, key);
        }
    } else if (op == "env" && need(3)) {
        // Programs started later inherit it.
        SetEnvironmentVariableA(w[1].c_str(), w[2].c_str());
    } else if (op == "settings" && need(6)) {
        // settings PATH MAJOR MINOR OPTIONWORD COMPONENTWORD: a genuine settings file.
        auto number = [&](size_t i) { return std::strtoul(w[i].c_str(), nullptr, 0); };
        const std::string image = settingsFile(static_cast<unsigned short>(number(2)),
                                               static_cast<unsigned short>(number(3)), number(4), number(5));
        EXPECT_TRUE(writeFile(w[1], image)) << w[1];
    } else if (op == "expect-settings" && need(4)) {
        // expect-settings PATH MAJOR MINOR: a genuine file of 8192 bytes with that version.
        SettingsContainer settings;
        EXPECT_EQ(settings.load(w[1].c_str()), 1) << w[1];
        std::string plain;
        readFile(w[1], plain);
        ASSERT_EQ(plain.size(), SettingsContainer::imageSize) << w[1];
        SettingsContainer::unscramble(reinterpret_cast<unsigned char*>(&plain[0]));
        auto word = [&](size_t at) { return static_cast<unsigned long>(static_cast<unsigned char>(plain[at]) |
                                                                     static_cast<unsigned char>(plain[at + 1]) << 8); };
        EXPECT_EQ(word(8), std::strtoul(w[2].c_str(), nullptr, 0)) << w[1] << " major";
        EXPECT_EQ(word(10), std::strtoul(w[3].c_str(), nullptr, 0)) << w[1] << " minor";
    } else if (op == "snapshot") {
        snapshot_ = takeSnapshot(watched_);
    } else if (op == "answer" && need(3)) {
        answers_.push_back({w[1], w.size() > 3 ? w[3] : "", buttonId(w[2])});
    } else if (op == "run" && need(2)) {
        std::string command;
        std::string directory;
        for (size_t i = 1; i < w.size(); ++i) {
            if (w[i] == "in" && i + 1 < w.size()) {
                directory = w[++i];
                continue;
            }
            // A word with blanks was quoted in the file; keep it one argument.
            const bool quote = w[i].find(' ') != std::string::npos;
            command += (command.empty() ? "" : " ") + (quote ? "\"" + w[i] + "\"" : w[i]);
        }
        last_ = runProgram(command, directory, answers_);
        ASSERT_TRUE(last_.started) << command;
        EXPECT_TRUE(last_.finished) << command << " did not end in time";
        for (const Dialog& d : last_.dialogs) std::printf("    dialog: %s\n", describe(d).c_str());
    } else if (op == "restart") {
        DialogWatcher watcher(answers_);
        EXPECT_TRUE(restartMachine()) << "restart did not end in time";
        Sleep(200);
        watcher.stop();
        last_ = RunResult();
        last_.started = last_.finished = true;
        last_.dialogs = watcher.dialogs();
        for (const Dialog& d : last_.dialogs) std::printf("    dialog at restart: %s\n", describe(d).c_str());
    } else if (op == "wait-gone" && need(3)) {
        DWORD limit = static_cast<DWORD>(std::atoi(w[2].c_str()));
        DWORD start = GetTickCount();
        while (fileExists(w[1]) && GetTickCount() - start < limit) Sleep(50);
        EXPECT_FALSE(fileExists(w[1])) << w[1] << " still there after " << limit << " ms";
    } else if (op == "expect-exit" && need(2)) {
        EXPECT_EQ(last_.exitCode, static_cast<DWORD>(std::atoi(w[1].c_str())));
    } else if (op == "expect-dialogs" && need(2)) {
        EXPECT_EQ(last_.dialogs.size(), static_cast<size_t>(std::atoi(w[1].c_str())));
    } else if (op == "expect-dialog" && need(2)) {
        size_t index = static_cast<size_t>(std::atoi(w[1].c_str()));
        ASSERT_LT(index, last_.dialogs.size()) << "no dialog " << index;
        const Dialog& d = last_.dialogs[index];
        for (size_t i = 2; i < w.size(); ++i) {
            size_t eq = w[i].find('=');
            std::string field = w[i].substr(0, eq), want = expand(w[i].substr(eq + 1));
            if (field == "caption") {
                EXPECT_EQ(d.caption, want);
            } else if (field == "text") {
                EXPECT_EQ(d.text, unescape(want));
            } else if (field == "buttons") {
                EXPECT_EQ(buttonNames(d.buttons), want);
            } else if (field == "icon") {
                EXPECT_EQ(d.icon, want);
            } else if (field == "owner") {
                EXPECT_EQ(d.owner ? "\"" + d.ownerCaption + "\"" : std::string("none"),
                          want == "none" ? want : "\"" + want + "\"");
            } else if (field == "bar") {
                EXPECT_TRUE(d.progressBar);
                EXPECT_EQ(std::to_string(d.progressMin) + ".." + std::to_string(d.progressMax), want);
            } else {
                ADD_FAILURE() << "unknown dialog field " << field;
            }
        }
    } else if (op == "expect-unchanged") {
        EXPECT_EQ(diffSnapshots(snapshot_, takeSnapshot(watched_)), "");
    } else if (op == "expect-reg" && need(4)) {
        HKEY root;
        std::string key;
        ASSERT_TRUE(splitKey(w[1], root, key));
        const std::string name = w[2] == "@" ? "" : w[2];
        if (w[3] == "absent") {
            EXPECT_FALSE(valueExists(root, key, name)) << w[1] << " " << w[2];
        } else if (w[3] == "dword" && need(5)) {
            DWORD value = 0;
            EXPECT_TRUE(readDword(root, key, name, value)) << w[1] << " " << w[2];
            EXPECT_EQ(value, static_cast<DWORD>(std::strtoul(w[4].c_str(), nullptr, 0))) << w[1] << " " << w[2];
        } else if (w[3] == "sz" && need(5)) {
            std::string value;
            EXPECT_TRUE(readString(root, key, name, value)) << w[1] << " " << w[2];
            EXPECT_EQ(value, w[4]) << w[1] << " " << w[2];
        }
    } else if (op == "expect-key" && need(3)) {
        HKEY root;
        std::string key;
        ASSERT_TRUE(splitKey(w[1], root, key));
        EXPECT_EQ(keyExists(root, key), w[2] == "present") << w[1];
    } else if (op == "expect-file" && need(3)) {
        if (w[2] == "absent") {
            EXPECT_FALSE(fileExists(w[1])) << w[1];
        } else if (w[2] == "present") {
            EXPECT_TRUE(fileExists(w[1])) << w[1];
        } else {
            std::string content;
            EXPECT_TRUE(readFile(w[1], content)) << w[1];
            EXPECT_EQ(content, unescape(w[2])) << w[1];
        }
    } else if (op == "expect-contains" && need(3)) {
        std::string content;
        EXPECT_TRUE(readFile(w[1], content)) << w[1];
        EXPECT_NE(content.find(unescape(w[2])), std::string::npos) << w[1] << ": " << content;
    } else if (op == "expect-log" && need(3)) {
        // The stand-in's log: one started command line per line.
        std::string content;
        readFile(w[1], content);
        std::string want;
        for (size_t i = 2; i < w.size(); ++i) want += w[i] + "\r\n";
        if (w[2] == "empty") want.clear();
        EXPECT_EQ(content, want) << w[1];
    } else {
        ADD_FAILURE() << "unknown directive " << op;
    }
}

} // namespace kit
