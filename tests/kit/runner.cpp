// Runs a scenario (tests/scenarios/README.md) for one Windows family:
//   runner.exe SCENARIO FAMILY
// or one program, printing and answering its dialogs (the demo, and the Yes
// answer to the restart question, which ends every program of the machine):
//   runner.exe --run [CAPTION=yes|no]... -- COMMAND LINE
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "kit/kit.h"

namespace {

using Words = std::vector<std::string>;

struct Line {
    int number;
    Words words;
};

int buttonId(const std::string& name)
{
    return name == "yes" ? IDYES : name == "no" ? IDNO : name == "escape" ? kit::pressEscape : IDOK;
}

Words splitWords(const std::string& line)
{
    Words words;
    for (size_t i = line.find_first_not_of(" \t"); i != std::string::npos; i = line.find_first_not_of(" \t", i)) {
        std::string word;
        if (line[i] == '"') {
            // Inside quotes, \" is a quote character.
            for (++i; i < line.size() && line[i] != '"'; ++i) word += line[i] == '\\' && line[i + 1] == '"' ? line[++i] : line[i];
            ++i;
        } else {
            const size_t end = std::min(line.find_first_of(" \t", i), line.size());
            word = line.substr(i, end - i);
            i = end;
        }
        words.push_back(word);
    }
    return words;
}

std::string unescape(std::string text)
{
    for (size_t at = 0; (at = text.find('\\', at)) != std::string::npos; ++at)
        if (at + 1 < text.size() && (text[at + 1] == 'n' || text[at + 1] == 'r'))
            text.replace(at, 2, text[at + 1] == 'n' ? "\n" : "\r");
    return text;
}

std::string folderText(UINT (WINAPI* query)(LPSTR, UINT))
{
    char buffer[MAX_PATH] = {};
    query(buffer, MAX_PATH);
    return buffer;
}

std::string tempFolder()
{
    char buffer[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, buffer);
    std::string text = buffer;
    return text.substr(0, text.find_last_not_of('\\') + 1);
}

// TEXT, COUNT times (once when COUNT is empty).
std::string repeated(const std::string& text, const std::string& count)
{
    std::string out;
    for (unsigned long i = count.empty() ? 1 : std::strtoul(count.c_str(), nullptr, 10); i > 0; --i) out += text;
    return out;
}

// '*' in an expected text stands for any text.
bool matches(const std::string& text, const std::string& pattern)
{
    const size_t star = pattern.find('*');
    if (star == std::string::npos) return text == pattern;
    if (text.compare(0, star, pattern, 0, star) != 0) return false;
    for (size_t at = star; at <= text.size(); ++at)
        if (matches(text.substr(at), pattern.substr(star + 1))) return true;
    return false;
}

unsigned long familyCode(const std::string& v)
{
    return v == "win98" ? 1 : v == "nt40" ? 2 : v == "nt351" ? 3 : v == "win2k" || v == "win2003" ? 4 : v == "winxp" ? 5 : 0;
}

class Scenario {
public:
    Scenario(const std::string& path, const std::string& family) : path_(path), family_(family)
    {
        std::string text;
        if (!kit::readFile(path, text)) fail(0, "cannot read " + path);
        std::istringstream in(text);
        std::string raw;
        for (int number = 1; std::getline(in, raw); ++number) {
            if (!raw.empty() && raw.back() == '\r') raw.pop_back();
            Words words = splitWords(raw);
            if (!words.empty() && words[0][0] != '#' && words[0] != "families") lines_.push_back({number, words});
        }
        vars_ = {{"FAMILY", std::to_string(familyCode(family))}, {"WINDIR", folderText(GetWindowsDirectoryA)},
                 {"SYSDIR", folderText(GetSystemDirectoryA)},      {"TEMP", tempFolder()},
                 {"BIN", kit::binDir()},                           {"PROGRAMS", "C:\\Program Files"},
                 {"OUT", baseOut()}, {"FIXTURES", getenv("TREVIX_FIXTURES") ? getenv("TREVIX_FIXTURES") : ""}};
        kit::setValue("HKCU\\Software\\Wine\\AppDefaults\\trevix.exe", "Version", REG_SZ, family + '\0');
    }

    int run()
    {
        size_t killAt = 0;
        while (killAt < lines_.size() && lines_[killAt].words[0] != "kill-each") ++killAt;
        if (killAt < lines_.size()) killEach(killAt);
        else
            for (const Line& line : lines_) execute(line);
        std::printf("%s %s: %d failed expectation(s)\n", path_.c_str(), family_.c_str(), failures_);
        return failures_ ? 1 : 0;
    }

private:
    void fail(int line, const std::string& message)
    {
        std::printf("%s:%d: %s%s\n", path_.c_str(), line, point_ ? ("kill point " + std::to_string(point_) + ": ").c_str() : "",
                    message.c_str());
        ++failures_;
    }

    std::string expand(std::string word) const
    {
        if (word.size() > 1 && word[0] == '@' && std::isdigit(static_cast<unsigned char>(word[1]))) {
            char text[1024] = {};
            LoadStringA(GetModuleHandleA(nullptr), std::atoi(word.c_str() + 1), text, sizeof text);
            return text;
        }
        for (const auto& var : vars_)
            for (size_t at; (at = word.find("$" + var.first)) != std::string::npos;) word.replace(at, var.first.size() + 1, var.second);
        return word;
    }

    // The rest of the scenario once for each point at which the run is
    // killed: the machine is set up anew, the run killed just before its
    // n-th change, the modules exported as the kill left them; the lines
    // after it then say how the machine must end up. "all" kills at every
    // change, a number at that many evenly spread ones.
    void killEach(size_t at)
    {
        for (size_t i = 0; i < at; ++i) execute(lines_[i]);
        const Words w = expandAll(lines_[at].words);
        const std::string command = joinCommand(w, 2);
        const int total = kit::runKilled(command, 0).calls;
        if (total == 0) fail(lines_[at].number, "no change counted in " + command);
        const int points = w[1] == "all" ? total : std::min(total, std::atoi(w[1].c_str()));
        for (point_ = 1; point_ <= points; ++point_) {
            const int killAt = w[1] == "all" ? point_ : 1 + (point_ - 1) * total / points;
            wipe();
            for (size_t i = 0; i < at; ++i) execute(lines_[i]);
            const kit::Run killed = kit::runKilled(command, killAt);
            if (killed.exitCode != 99) fail(lines_[at].number, "not killed at change " + std::to_string(killAt));
            if (vars_.count("MODULES")) exportModules(vars_["MODULES"], "kill-" + std::to_string(point_) + "\\mid");
            vars_["OUT"] = kit::join(baseOut(), "kill-" + std::to_string(point_));
            for (size_t i = at + 1; i < lines_.size(); ++i) execute(lines_[i]);
        }
        std::printf("%s %s: killed at %d of %d changes\n", path_.c_str(), family_.c_str(), points, total);
    }

    std::string baseOut() const { return getenv("TREVIX_OUT") ? getenv("TREVIX_OUT") : kit::join(tempFolder(), "out"); }

    void exportModules(const std::string& folder, const std::string& name)
    {
        const std::string target = kit::join(baseOut(), name);
        kit::removeTree(target);
        CreateDirectoryA(kit::join(baseOut(), name.substr(0, name.find('\\'))).c_str(), nullptr);
        CreateDirectoryA(target.c_str(), nullptr);
        for (const std::string& file : kit::listDir(folder))
            if (file.size() > 4 && !lstrcmpiA(file.c_str() + file.size() - 4, ".msm"))
                CopyFileA(kit::join(folder, file).c_str(), kit::join(target, file).c_str(), FALSE);
    }

    // What the set-up lines made, gone again.
    void wipe()
    {
        for (HANDLE h : held_) CloseHandle(h);
        held_.clear();
        for (const std::string& folder : made_) {
            kit::removeTree(folder);
            kit::removeTree(folder + ".tmp");
        }
        for (const std::string& key : keys_) kit::deleteKey(key);
        kit::deleteValue("HKLM\\System\\CurrentControlSet\\Control\\Session Manager", "PendingFileRenameOperations");
        DeleteFileA(kit::join(vars_["WINDIR"], "wininit.ini").c_str());
        for (const std::string& name : kit::listDir(vars_["TEMP"]))
            if (name.compare(0, 7, "trevix-") == 0) kit::removeTree(kit::join(vars_["TEMP"], name));
    }

    Words expandAll(const Words& words) const
    {
        Words out;
        for (const std::string& word : words) out.push_back(expand(word));
        return out;
    }

    static std::string joinCommand(const Words& w, size_t from, std::string* folder = nullptr)
    {
        std::string command;
        for (size_t i = from; i < w.size() && !w[i].empty(); ++i) {
            if (w[i] == "in" && folder && i + 1 < w.size()) {
                *folder = w[++i];
                continue;
            }
            const bool quote = w[i].find(' ') != std::string::npos;
            command += (command.empty() ? "" : " ") + (quote ? "\"" + w[i] + "\"" : w[i]);
        }
        return command;
    }

    // What an update may change: the files of the folders the scenario made
    // and of TEMP, the cleanup run's entry, the revision and what waits for
    // the next start.
    std::string snapshot()
    {
        std::string out, data;
        for (const std::string& folder : made_) snapshotFiles(folder, out);
        snapshotFiles(vars_["TEMP"], out);
        const char* const values[][2] = {
            {"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "Corvindale Update"},
            {"HKLM\\Software\\Veltrane\\Corvindale\\CurrentVersion", "Revision"},
            {"HKLM\\System\\CurrentControlSet\\Control\\Session Manager", "PendingFileRenameOperations"}};
        for (const auto& value : values) {
            DWORD type = 0;
            out += std::string(value[1]) + "=" + (kit::readValue(value[0], value[1], type, data) ? data : "-") + "\n";
        }
        snapshotFiles(kit::join(vars_["WINDIR"], "wininit.ini"), out);
        return out;
    }

    static void snapshotFiles(const std::string& path, std::string& out)
    {
        std::string content;
        if (!kit::exists(path)) return;
        if (!kit::readFile(path, content)) content = "<folder>";
        out += path + ": " + std::to_string(content.size()) + " " + std::to_string(std::hash<std::string>()(content)) + "\n";
        if (content == "<folder>")
            for (const std::string& name : kit::listDir(path)) snapshotFiles(kit::join(path, name), out);
    }

    void expectEqual(int line, const std::string& what, const std::string& got, const std::string& want)
    {
        if (!matches(got, want)) fail(line, what + ": got \"" + got + "\", expected \"" + want + "\"");
    }

    void execute(const Line& line)
    {

        Words w = expandAll(line.words);
        // "on FAMILIES DIRECTIVE...", "except FAMILIES DIRECTIVE...".
        while (w.size() > 2 && (w[0] == "on" || w[0] == "except")) {
            if ((("," + w[1] + ",").find("," + family_ + ",") != std::string::npos) != (w[0] == "on")) return;
            w.erase(w.begin(), w.begin() + 2);
        }
        w.resize(std::max<size_t>(w.size(), 6));
        const std::string op = w[0];
        const int n = line.number;
        DWORD type = 0;
        std::string data;
        if (op == "set") {
            vars_[w[1]] = w[2];
        } else if (op == "product") {
            CreateDirectoryA(w[1].c_str(), nullptr);
            kit::setValue("HKLM\\Software\\Veltrane\\Corvindale\\CurrentVersion\\System", "InstallDir", REG_SZ, w[1] + '\0');
            kit::setValue("HKLM\\Software\\Veltrane\\Corvindale\\CurrentVersion\\System", "Installed", REG_SZ, std::string("1", 2));
            vars_["PRODUCT"] = w[1];
            made_.push_back(w[1]);
            keys_.push_back("HKLM\\Software\\Veltrane");
        } else if (op == "package") {
            CreateDirectoryA(w[1].c_str(), nullptr);
            for (const char* program : {"trevix.exe", "trevixrun.exe"})
                CopyFileA(kit::join(kit::binDir(), program).c_str(), kit::join(w[1], program).c_str(), FALSE);
            vars_["PKG"] = w[1];
            made_.push_back(w[1]);
        } else if (op == "dir") {
            CreateDirectoryA(w[1].c_str(), nullptr);
            made_.push_back(w[1]);
        } else if (op == "file") {
            if (!kit::writeFile(w[1], repeated(unescape(w[2]), w[3]))) fail(n, "cannot write " + w[1]);
        } else if (op == "copy") {
            for (size_t i = 2; i < w.size() && !w[i].empty(); ++i)
                if (!CopyFileA(w[1].c_str(), w[i].c_str(), FALSE)) fail(n, "cannot copy " + w[1] + " to " + w[i]);
        } else if (op == "readonly") {
            SetFileAttributesA(w[1].c_str(), FILE_ATTRIBUTE_READONLY);
        } else if (op == "fill") {
            // Takes all but the given number of bytes of a drive's free space.
            ULARGE_INTEGER free = {};
            GetDiskFreeSpaceExA(kit::join(w[1].substr(0, 2), "").c_str(), &free, nullptr, nullptr);
            kit::writeFile(w[1], std::string(static_cast<size_t>(free.QuadPart - std::strtoull(w[2].c_str(), nullptr, 0)), 'f'));
        } else if (op == "settings") {
            auto number = [&](int i) { return std::strtoul(w[i].c_str(), nullptr, 0); };
            kit::writeFile(w[1], kit::settingsFile(number(2), number(3), number(4), number(5)));
        } else if (op == "reg") {
            const std::string name = w[2] == "@" ? "" : w[2];
            const DWORD value = std::strtoul(w[4].c_str(), nullptr, 0);
            const bool ok = w[3] == "dword" ? kit::setValue(w[1], name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), 4))
                            : w[3] == "key" ? kit::setValue(w[1], name, REG_NONE, "")
                                            : kit::setValue(w[1], name, REG_SZ, w[4] + '\0');
            if (!ok) fail(n, "cannot set " + w[1]);
            keys_.push_back(w[1]);
        } else if (op == "reg-delete") {
            if (w[2].empty()) kit::deleteKey(w[1]);
            else kit::deleteValue(w[1], w[2]);
        } else if (op == "env") {
            SetEnvironmentVariableA(w[1].c_str(), w[2].c_str());
        } else if (op == "hold") {
            held_.push_back(CreateFileA(w[1].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            if (held_.back() == INVALID_HANDLE_VALUE) fail(n, "cannot hold " + w[1]);
        } else if (op == "release") {
            for (HANDLE h : held_) CloseHandle(h);
            held_.clear();
        } else if (op == "answer") {
            answers_.insert(answers_.begin(), {w[1], buttonId(w[2]), w[3]});
        } else if (op == "run") {
            std::string folder;
            const std::string command = joinCommand(Words(w.begin(), w.end()), 1, &folder);
            last_ = kit::run(command, folder, answers_);
            if (!last_.started || !last_.finished) fail(n, command + (last_.started ? " did not end in time" : " did not start"));
            for (const kit::Dialog& d : last_.dialogs) std::printf("    dialog: %s\n", kit::describe(d).c_str());
        } else if (op == "restart") {
            last_ = kit::restart(answers_);
            if (!last_.finished) fail(n, "the restart did not end in time");
            for (const kit::Dialog& d : last_.dialogs) std::printf("    dialog at restart: %s\n", kit::describe(d).c_str());
        } else if (op == "export") {
            // A module for the check from the Linux side, with what its cabinet must hold.
            const std::string name = kit::join(vars_["OUT"], w[2]);
            CreateDirectoryA(vars_["OUT"].c_str(), nullptr);
            CopyFileA(w[1].c_str(), (name + ".MSM").c_str(), FALSE);
            std::string expectations;
            for (size_t i = 3; i < w.size() && !w[i].empty(); ++i) expectations += w[i] + "\n";
            kit::writeFile(name + ".expect", expectations);
        } else if (op == "snapshot") {
            snapshot_ = snapshot();
        } else if (op == "expect-unchanged") {
            expectEqual(n, "the machine", snapshot(), snapshot_);
        } else if (op == "expect-exit") {
            expectEqual(n, "exit status", std::to_string(last_.exitCode), w[1]);
        } else if (op == "expect-dialogs") {
            expectEqual(n, "dialogs", std::to_string(last_.dialogs.size()), w[1]);
        } else if (op == "expect-dialog") {
            const size_t index = std::strtoul(w[1].c_str(), nullptr, 10);
            if (index >= last_.dialogs.size()) return fail(n, "no dialog " + w[1]);
            const kit::Dialog& d = last_.dialogs[index];
            const std::map<std::string, std::string> fields = {
                {"caption", d.caption}, {"text", d.text}, {"buttons", d.buttons}, {"icon", d.icon}, {"owner", d.owner},
                {"bar", std::to_string(d.barMin) + ".." + std::to_string(d.barMax) + "@" + std::to_string(d.barPos)}};
            for (size_t i = 2; i < w.size() && !w[i].empty(); ++i) {
                const size_t eq = w[i].find('=');
                const auto field = fields.find(w[i].substr(0, eq));
                if (field == fields.end()) fail(n, "no dialog field " + w[i]);
                else expectEqual(n, "dialog " + field->first, field->second, unescape(expand(w[i].substr(eq + 1))));
            }
        } else if (op == "expect-reg") {
            const bool found = kit::readValue(w[1], w[2] == "@" ? "" : w[2], type, data);
            if (w[3] == "absent") expectEqual(n, w[1] + " " + w[2], found ? "present" : "absent", "absent");
            else if (!found) fail(n, w[1] + " " + w[2] + " is missing");
            else if (w[3] == "dword") expectEqual(n, w[2], std::to_string(*reinterpret_cast<const DWORD*>(data.data())), w[4]);
            else expectEqual(n, w[2], data.substr(0, data.find('\0')), w[4]);
        } else if (op == "expect-same") {
            std::string other;
            kit::readFile(w[1], data);
            kit::readFile(w[2], other);
            if (data != other || data.empty()) fail(n, w[1] + " differs from " + w[2]);
        } else if (op == "expect-key") {
            expectEqual(n, w[1], kit::keyExists(w[1]) ? "present" : "absent", w[2]);
        } else if (op == "expect-file") {
            const bool found = kit::readFile(w[1], data) || kit::exists(w[1]);
            if (w[2] == "absent" || w[2] == "present") expectEqual(n, w[1], found ? "present" : "absent", w[2]);
            else if (data != repeated(unescape(w[2]), w[3])) fail(n, w[1] + (found ? " holds other text" : " is missing"));
        } else if (op == "expect-settings") {
            unsigned major = 0, minor = 0;
            const bool genuine = kit::settingsVersion(w[1], major, minor);
            expectEqual(n, w[1], genuine ? std::to_string(major) + "." + std::to_string(minor) : "(not genuine)", w[2] + "." + w[3]);
        } else if (op == "expect-log") {
            std::string want;
            for (size_t i = 2; i < w.size() && !w[i].empty() && w[i] != "empty"; ++i) want += w[i] + "\r\n";
            kit::readFile(w[1], data);
            expectEqual(n, w[1], data, want);
        } else {
            fail(n, "unknown directive " + op);
        }
    }

    std::string path_, family_;
    std::vector<Line> lines_;
    std::map<std::string, std::string> vars_;
    std::vector<std::string> made_, keys_;
    std::vector<HANDLE> held_;
    std::vector<kit::Answer> answers_;
    kit::Run last_;
    std::string snapshot_;
    int failures_ = 0, point_ = 0;
};

// ctest passes Unix paths; under Wine they live on drive Z:.
std::string windowsPath(std::string path)
{
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path) c = c == '/' ? '\\' : c;
    return path;
}

int watchOne(int argc, char** argv)
{
    std::vector<kit::Answer> answers;
    int i = 2;
    for (; i < argc && std::strcmp(argv[i], "--"); ++i) {
        const std::string rule = argv[i];
        answers.push_back({rule.substr(0, rule.rfind('=')), buttonId(rule.substr(rule.rfind('=') + 1)), ""});
    }
    std::string command;
    for (++i; i < argc; ++i) command += (command.empty() ? "" : " ") + std::string(argv[i]);
    kit::echoDialogs = true;
    const kit::Run run = kit::run(command, "", answers, 300000);
    std::printf("  exit status %lu\n", run.exitCode);
    return run.started ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && !std::strcmp(argv[1], "--run")) return watchOne(argc, argv);
    if (argc != 3) {
        std::printf("usage: runner SCENARIO FAMILY | runner --run [CAPTION=BUTTON]... -- COMMAND\n");
        return 2;
    }
    return Scenario(windowsPath(argv[1]), argv[2]).run();
}
