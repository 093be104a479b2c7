// Runs a scenario for one Windows family:  runner.exe SCENARIO FAMILY
// or one program, printing and answering its dialogs (the demo, and the Yes to
// the restart question, which ends every program of the machine, this one too):
//   runner.exe --run [CAPTION=yes|no]... -- COMMAND LINE
// or, as a program the update starts, fills a drive:  runner.exe --fill PATH BYTES
//
// A scenario (tests/scenarios/*.scn) is one whole-program case as data: the
// machine before, what is run, the machine expected after. "families" names
// the Windows versions (as Wine names them) it runs on, each on a fresh copy
// of the template prefix with trevix.exe reporting that version; "# small
// drive SIZE" gives the machine a drive D: of that size (tests run as root).
// One directive per line; words with blanks are quoted; "#" starts a comment.
// $NAME is a variable, @N string-table entry N (a line whose @N names no
// entry, or an empty one, fails). The runner sets $FAMILY (the family code
// trevix must derive), $WINDIR, $SYSDIR, $TEMP, $BIN (the built programs),
// $PROGRAMS, $FIXTURES (the modules of modules.sh) and $OUT. In an expected
// text, "*" stands for any text.
//
//   set NAME VALUE / env NAME VALUE       a variable / an environment variable of later programs
//   product DIR MAJOR MINOR OPTIONS COMPONENTS   the product installed in DIR, with a genuine
//                                         settings file of that version, options and components; sets $PRODUCT
//   modules NAME...                       the product's merge-module folder with these fixture
//                                         modules; sets $MODULES
//   package DIR                           an update folder with trevix.exe and trevixrun.exe; sets $PKG
//   dir PATH / file PATH TEXT [COUNT]     a folder / a file (\n, \r in TEXT, repeated COUNT times)
//   copy FROM TO... / readonly PATH       copies of a file / a read-only file
//   access PATH LIST                      a file's access list, as text (D:...)
//   link PATH FOLDER                      a link at PATH to FOLDER (a Linux symbolic link, which Wine
//                                         shows as a link with the reparse attribute)
//   fill PATH BYTES                       a file that leaves only BYTES free on its drive
//   settings PATH MAJOR MINOR OPTIONS COMPONENTS   a genuine product settings file
//   reg KEY NAME sz|dword|key VALUE / reg-delete KEY [NAME]   registry (NAME @ the default value)
//   hold PATH / release                   keep a file open without sharing, as a running program does
//   squat NAME                            a mutex of that name owned by the users (until release)
//   answer CAPTION ok|yes|no|escape [TEXT]   how such dialogs are answered, latest rule first; OK for others
//   run COMMAND... [in DIR] / restart     a program, waited for (bounded) / the next start of Windows
//   wait-absent PATH                      until a program started meanwhile has removed PATH (bounded)
//   kill-each all|N|#K COMMAND...         the rest of the scenario once per point at which COMMAND is
//                                         killed: just before each of its changes of a file, the registry
//                                         or a database (all), N spread over them, or change K only. For each point the
//                                         lines before it set the machine up anew (the update's copies,
//                                         RunOnce entry, log and record gone too) and every module of
//                                         the modules directive is exported as the kill left it: each must be its
//                                         fixture byte for byte or hold the new files that the scenario's
//                                         own export of it expects.
//   export PATH NAME [KEY=TEXT]...        a module for the check from the Linux side (every File row's
//                                         size and version are its file's), with what it must hold;
//                                         fails when the module is not there
//   expect-exit N / expect-dialogs N      the last run's exit status / number of dialogs
//   expect-dialog I caption=.. text=.. buttons=Yes/No icon=.. owner=..|none bar=MIN..MAX@POS
//   expect-reg KEY NAME sz|dword VALUE|absent / expect-key KEY present|absent
//   expect-file PATH TEXT [COUNT]|present|absent (wildcards in PATH's last part) / expect-same PATH PATH
//   expect-access PATH OTHER              the file's access list is OTHER's (the system may have recast both)
//   expect-settings PATH MAJOR MINOR / expect-log PATH LINE...|empty / expect-tail PATH LINE...
//                                         (the last line is one of these, or "(no file)"; the file ends
//                                         with a line break)
//   expect-blocks PATH N                  the log holds N runs' blocks (each starts with a line
//                                         "install ", "cleanup ", "status " or "plan " and the date)
//   expect-names KEY NAME                 the value, where present, names in quotes a file that exists
//   on FAMILIES DIRECTIVE... / except FAMILIES DIRECTIVE...   only for (or not for) those families
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "kit/kit.h"
#include "kit/runner.h"
#include "kit/script.h"

namespace {

using namespace kit;

class Scenario {
public:
    Scenario(const std::string& path, const std::string& family) : path_(path), family_(family)
    {
        std::string content, raw;
        kit::readFile(path, content);
        std::istringstream in(content);
        for (int number = 1; std::getline(in, raw); ++number) {
            Words words = split(raw.substr(0, raw.find_last_not_of('\r') + 1));
            if (!words.empty() && words[0][0] != '#' && words[0] != "families") lines_.push_back({number, words});
        }
        const std::map<std::string, int> codes = {{"win98", 1}, {"nt40", 2}, {"nt351", 3}, {"win2k", 4}, {"win2003", 4}, {"winxp", 5}};
        vars_ = {{"FAMILY", std::to_string(codes.count(family) ? codes.at(family) : 0)},
                 {"WINDIR", folder(GetWindowsDirectoryA)},
                 {"SYSDIR", folder(GetSystemDirectoryA)},
                 {"TEMP", folder(tempPath)},
                 {"BIN", kit::binDir()},
                 {"PROGRAMS", "C:\\Program Files"},
                 {"OUT", out_},
                 {"FIXTURES", env("TREVIX_FIXTURES")}};
        kit::setValue("HKCU\\Software\\Wine\\AppDefaults\\trevix.exe", "Version", REG_SZ, family + '\0');
    }

    int run()
    {
        // A kill-each line takes over the rest of the scenario.
        size_t at = 0;
        for (; at < lines_.size() && lines_[at].second[0] != "kill-each"; ++at) execute(lines_[at]);
        if (at < lines_.size()) killEach(at);
        std::printf("%s %s: %d failed expectation(s)\n", path_.c_str(), family_.c_str(), failures_);
        return failures_ ? 1 : 0;
    }

private:
    void fail(int line, const std::string& message)
    {
        std::printf("%s:%d: %s%s\n", path_.c_str(), line, point_ ? ("kill point " + std::to_string(point_) + ": ").c_str() : "", message.c_str());
        ++failures_;
    }

    void expect(int line, const std::string& what, const std::string& got, const std::string& want)
    {
        if (!matches(got, want)) fail(line, what + ": got \"" + got + "\", expected \"" + want + "\"");
    }

    // Variables and string-table entries put in. An entry that is missing or
    // empty fails the line: an expectation against it would hold for any text.
    bool expand(int line, Words& words)
    {
        for (std::string& word : words) {
            if (word.size() > 1 && word[0] == '@' && std::isdigit(static_cast<unsigned char>(word[1]))) {
                char entry[1024] = {};
                if (!LoadStringA(GetModuleHandleA(nullptr), std::atoi(word.c_str() + 1), entry, sizeof entry)) {
                    fail(line, word + " names no string-table entry");
                    return false;
                }
                word = entry;
            }
            for (const auto& var : vars_)
                for (size_t at; (at = word.find("$" + var.first)) != std::string::npos;) word.replace(at, var.first.size() + 1, var.second);
        }
        words.resize(std::max<size_t>(words.size() + 1, 8)); // an empty word always ends the line
        return true;
    }

    // The lines before it have run once.
    void killEach(size_t at)
    {
        Words w = lines_[at].second;
        if (!expand(lines_[at].first, w)) return;
        const std::string program = command(w, 2);
        const int total = runCommand(program, "", {}, -1).calls;
        const bool one = w[1][0] == '#'; // "#K": at change K only
        const int points = w[1] == "all" ? total : one ? 1 : std::min(total, std::atoi(w[1].c_str()));
        if (!total) fail(lines_[at].first, "no change counted in " + program);
        for (point_ = 1; point_ <= points; ++point_) {
            // Spread to the last change; the first changes nothing the run could tell of.
            const int killAt = w[1] == "all" ? point_ : one ? std::atoi(w[1].c_str() + 1) : std::max(1, point_ * total / points);
            // The machine set up anew: what the set-up lines made goes first.
            release();
            for (const std::string& made : made_) kit::removeTree(made), kit::removeTree(made + ".tmp");
            for (const std::string& key : keys_) kit::deleteKey(key);
            kit::deleteKey("HKLM\\System\\CurrentControlSet\\Control\\Session Manager", "PendingFileRenameOperations");
            kit::deleteKey("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "Corvindale Update");
            for (const std::string& name : kit::listDir(vars_["TEMP"]))
                if (matches(name, "trevix-*")) kit::removeTree(kit::join(vars_["TEMP"], name));
            for (const char* name : {"wininit.ini", "trevix.log"}) DeleteFileA(kit::join(vars_["WINDIR"], name).c_str());
            for (size_t i = 0; i < at; ++i) execute(lines_[i]);
            if (runCommand(program, "", {}, killAt).exitCode != 99) fail(lines_[at].first, "not killed at change " + std::to_string(killAt));
            vars_["OUT"] = kit::join(out_, "kill-" + std::to_string(point_));
            // Every module made, whatever the kill left: one gone is no module that passes.
            for (const std::string& name : modules_)
                exportModule(lines_[at].first, kit::join(vars_["MODULES"], name), "mid-" + name.substr(0, name.size() - 4), newFiles(at, name));
            for (size_t i = at + 1; i < lines_.size(); ++i) execute(lines_[i]);
        }
        std::printf("%s %s: killed at %d of %d changes\n", path_.c_str(), family_.c_str(), points, total);
    }

    // The new files that the scenario's own export of module expects after
    // line at: a module killed half-way must hold all of them or none.
    std::string newFiles(size_t at, const std::string& module)
    {
        std::string expectations;
        for (size_t i = at + 1; i < lines_.size(); ++i) {
            Words w = lines_[i].second;
            if (w[0] != "export" || !expand(lines_[i].first, w) || !matches(w[1], "*\\" + module)) continue;
            for (size_t k = 3; !w[k].empty(); ++k)
                if (w[k].compare(0, 9, "Revision=")) expectations += w[k] + "\n";
        }
        return expectations;
    }

    void release()
    {
        for (HANDLE h : held_) CloseHandle(h);
        held_.clear();
    }

    void exportModule(int line, const std::string& module, const std::string& name, const std::string& expectations)
    {
        CreateDirectoryA(vars_["OUT"].c_str(), nullptr);
        if (!CopyFileA(module.c_str(), (kit::join(vars_["OUT"], name) + ".MSM").c_str(), FALSE)) return fail(line, "cannot export " + module);
        kit::writeFile(kit::join(vars_["OUT"], name) + ".expect", expectations);
    }

    void write(int line, const std::string& path, const std::string& content)
    {
        if (!kit::writeFile(path, content)) fail(line, "cannot write " + path);
    }

    void execute(const std::pair<int, Words>& line)
    {
        Words w = line.second;
        if (!expand(line.first, w)) return;
        while (w[0] == "on" || w[0] == "except") { // "on FAMILIES DIRECTIVE..."
            if ((("," + w[1] + ",").find("," + family_ + ",") != std::string::npos) != (w[0] == "on")) return;
            w.erase(w.begin(), w.begin() + 2);
        }
        const auto directive = directives_.find(w[0]);
        if (directive == directives_.end()) return fail(line.first, "unknown directive " + w[0]);
        directive->second(line.first, w);
    }

    std::string path_, family_, out_ = env("TREVIX_OUT", "C:\\out");
    std::vector<std::pair<int, Words>> lines_;
    std::map<std::string, std::string> vars_;
    std::vector<std::string> made_, keys_;
    std::set<std::string> modules_; // the modules directive's, by name
    std::vector<HANDLE> held_;
    std::vector<Answer> answers_;
    Run last_;
    int failures_ = 0, point_ = 0;

    // Each directive's action, given its line's number and words (w[0] its
    // name; an empty word ends them).
    const std::map<std::string, std::function<void(int, const Words&)>> directives_ = {
        {"set", [this](int, const Words& w) { vars_[w[1]] = w[2]; }},
        {"env", [](int, const Words& w) { SetEnvironmentVariableA(w[1].c_str(), w[2].c_str()); }},
        {"product",
         [this](int n, const Words& w) {
             // A product folder with its settings file, the registry saying it is installed.
             const std::string key = "HKLM\\Software\\Veltrane\\Corvindale\\CurrentVersion\\System";
             directives_.at("dir")(n, w);
             kit::setValue(key, "InstallDir", REG_SZ, w[1] + '\0');
             kit::setValue(key, "Installed", REG_SZ, std::string("1", 2));
             directives_.at("settings")(n, {"settings", w[1] + "\\vindale.bin", w[2], w[3], w[4], w[5]});
             vars_["PRODUCT"] = w[1];
             keys_.push_back("HKLM\\Software\\Veltrane");
         }},
        {"modules",
         [this](int n, const Words& w) {
             vars_["MODULES"] = vars_["PRODUCT"] + "\\Packager\\Merge Modules";
             CreateDirectoryA((vars_["PRODUCT"] + "\\Packager").c_str(), nullptr);
             CreateDirectoryA(vars_["MODULES"].c_str(), nullptr);
             for (size_t i = 1; !w[i].empty(); ++i) {
                 if (!CopyFileA(kit::join(vars_["FIXTURES"], w[i]).c_str(), kit::join(vars_["MODULES"], w[i]).c_str(), FALSE)) fail(n, "cannot copy " + w[i]);
                 modules_.insert(w[i]);
             }
         }},
        {"package",
         [this](int n, const Words& w) {
             directives_.at("dir")(n, w);
             for (const char* program : {"trevix.exe", "trevixrun.exe"})
                 CopyFileA(kit::join(kit::binDir(), program).c_str(), kit::join(w[1], program).c_str(), FALSE);
             vars_["PKG"] = w[1];
         }},
        {"dir",
         [this](int, const Words& w) {
             CreateDirectoryA(w[1].c_str(), nullptr);
             made_.push_back(w[1]);
         }},
        {"file", [this](int n, const Words& w) { write(n, w[1], text(w[2], w[3])); }},
        {"copy",
         [this](int n, const Words& w) {
             for (size_t i = 2; !w[i].empty(); ++i) {
                 DeleteFileA(w[i].c_str()); // never written through a link the prefix shares with its template
                 if (!CopyFileA(w[1].c_str(), w[i].c_str(), FALSE)) fail(n, "cannot copy " + w[1] + " to " + w[i]);
             }
         }},
        {"readonly", [](int, const Words& w) { SetFileAttributesA(w[1].c_str(), FILE_ATTRIBUTE_READONLY); }},
        {"access",
         [this](int n, const Words& w) {
             if (!kit::setAccessList(w[1], w[2])) fail(n, "cannot set the access list of " + w[1]);
         }},
        {"link",
         [this](int n, const Words& w) {
             // A Linux program started from here runs as itself, on the prefix's Linux paths.
             const auto unix = [](std::string path) {
                 std::replace(path.begin(), path.end(), '\\', '/');
                 return env("WINEPREFIX") + "/drive_" + char(std::tolower(path[0])) + path.substr(2);
             };
             runCommand("Z:\\bin\\ln -s \"" + unix(w[2]) + "\" \"" + unix(w[1]) + "\"", "", {});
             for (const DWORD begin = GetTickCount(); !kit::exists(w[1]) && GetTickCount() - begin < 5000;) Sleep(50);
             // No link at all reads as INVALID_FILE_ATTRIBUTES, every bit set.
             const DWORD attributes = GetFileAttributesA(w[1].c_str());
             if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) fail(n, "cannot link " + w[1]);
         }},
        {"fill", [](int, const Words& w) { fill(w[1], w[2]); }},
        {"settings", [this](int n, const Words& w) { write(n, w[1], kit::settingsFile(number(w[2]), number(w[3]), number(w[4]), number(w[5]))); }},
        {"reg",
         [this](int n, const Words& w) {
             const DWORD value = number(w[4]);
             const DWORD type = w[3] == "dword" ? REG_DWORD : w[3] == "key" ? REG_NONE : REG_SZ;
             if (!kit::setValue(w[1], w[2] == "@" ? "" : w[2], type, type == REG_DWORD ? std::string(reinterpret_cast<const char*>(&value), 4) : w[4] + '\0'))
                 fail(n, "cannot set " + w[1]);
             keys_.push_back(w[1]);
         }},
        {"reg-delete", [](int, const Words& w) { kit::deleteKey(w[1], w[2].empty() ? nullptr : w[2].c_str()); }},
        {"hold",
         [this](int n, const Words& w) {
             held_.push_back(CreateFileA(w[1].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
             if (held_.back() == INVALID_HANDLE_VALUE) fail(n, "cannot hold " + w[1]);
         }},
        {"squat",
         [this](int n, const Words& w) {
             // As an ordinary user may: a mutex of that name, owned by the users.
             PSECURITY_DESCRIPTOR descriptor = nullptr;
             ConvertStringSecurityDescriptorToSecurityDescriptorA("O:BUD:(A;;GA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr);
             SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
             held_.push_back(CreateMutexA(&attributes, FALSE, w[1].c_str()));
             LocalFree(descriptor);
             if (!held_.back()) fail(n, "cannot make " + w[1]);
         }},
        {"release", [this](int, const Words&) { release(); }},
        {"answer",
         [this](int, const Words& w) {
             answers_.insert(answers_.begin(), {w[1], w[3], button(w[2])});
         }},
        {"run",
         [this](int n, const Words& w) {
             std::string in;
             const std::string program = command(w, 1, &in);
             last_ = runCommand(program, in, answers_);
             if (!last_.finished) fail(n, "run " + program + (last_.started ? " did not end in time" : " did not start"));
             for (const Dialog& d : last_.dialogs) std::printf("    dialog: %s\n", describe(d).c_str());
         }},
        {"wait-absent",
         [this](int n, const Words& w) {
             for (const DWORD begin = GetTickCount(); kit::exists(w[1]) && GetTickCount() - begin < 60000;) Sleep(100);
             if (kit::exists(w[1])) fail(n, w[1] + " is still there");
         }},
        {"restart",
         [this](int n, const Words&) {
             directives_.at("run")(n, {"run", "wineboot.exe", "-r", ""});
         }},
        {"export",
         [this](int n, const Words& w) {
             std::string expectations;
             for (size_t i = 3; !w[i].empty(); ++i) expectations += w[i] + "\n";
             exportModule(n, w[1], w[2], expectations);
         }},
        {"expect-exit", [this](int n, const Words& w) { expect(n, "exit status", std::to_string(last_.exitCode), w[1]); }},
        {"expect-dialogs", [this](int n, const Words& w) { expect(n, "dialogs", std::to_string(last_.dialogs.size()), w[1]); }},
        {"expect-dialog",
         [this](int n, const Words& w) {
             const size_t index = std::strtoul(w[1].c_str(), nullptr, 10);
             if (index >= last_.dialogs.size()) return fail(n, "no dialog " + w[1]);
             const Dialog& d = last_.dialogs[index];
             const std::map<std::string, std::string> fields = {{"caption", d.caption}, {"text", d.text},   {"buttons", d.buttons},
                                                                {"icon", d.icon},       {"owner", d.owner}, {"bar", d.bar}};
             for (size_t i = 2; !w[i].empty(); ++i) {
                 const std::string field = w[i].substr(0, w[i].find('='));
                 Words want = {w[i].substr(std::min(w[i].size(), field.size() + 1))};
                 if (!fields.count(field))
                     fail(n, "no dialog field " + field);
                 else if (expand(n, want))
                     expect(n, "dialog " + field, fields.at(field), text(want[0]));
             }
         }},
        {"expect-reg",
         [this](int n, const Words& w) {
             std::string data;
             const bool found = kit::readValue(w[1], w[2] == "@" ? "" : w[2], data);
             if (w[3] == "absent" || !found)
                 expect(n, w[1] + " " + w[2], found ? "present" : "absent", w[3] == "absent" ? "absent" : "present");
             else
                 expect(n, w[2], w[3] == "dword" ? std::to_string(*reinterpret_cast<const DWORD*>(data.data())) : data.c_str(), w[4]);
         }},
        {"expect-key", [this](int n, const Words& w) { expect(n, w[1], kit::keyExists(w[1]) ? "present" : "absent", w[2]); }},
        {"expect-file",
         [this](int n, const Words& w) {
             std::string data;
             const bool found = kit::exists(w[1]);
             if (w[2] == "absent" || w[2] == "present")
                 expect(n, w[1], found ? "present" : "absent", w[2]);
             else if (!kit::readFile(w[1], data) || !matches(data, text(w[2], w[3])))
                 fail(n, w[1] + (found ? " holds other text" : " is missing"));
         }},
        {"expect-access", [this](int n, const Words& w) { expect(n, "access list of " + w[1], kit::accessList(w[1]), kit::accessList(w[2])); }},
        {"expect-same",
         [this](int n, const Words& w) {
             std::string data, other;
             if (!kit::readFile(w[1], data) || !kit::readFile(w[2], other) || data != other) fail(n, w[1] + " differs from " + w[2]);
         }},
        {"expect-settings",
         [this](int n, const Words& w) {
             unsigned major = 0, minor = 0;
             expect(n, w[1], kit::settingsVersion(w[1], major, minor) ? std::to_string(major) + "." + std::to_string(minor) : "none", w[2] + "." + w[3]);
         }},
        {"expect-tail",
         [this](int n, const Words& w) {
             std::string data;
             const bool found = kit::readFile(w[1], data);
             // Only a whole line counts: the file ends with a line break.
             const bool whole = data.size() >= 2 && data.compare(data.size() - 2, 2, "\r\n") == 0;
             if (whole) data.resize(data.size() - 2);
             const size_t start = data.rfind("\r\n");
             const std::string last = !found ? "(no file)" : whole ? data.substr(start == std::string::npos ? 0 : start + 2) : "(none whole)";
             size_t i = 2;
             while (!w[i].empty() && !matches(last, w[i])) ++i;
             if (w[i].empty()) fail(n, w[1] + " ends with \"" + last + "\"");
         }},
        {"expect-names",
         [this](int n, const Words& w) {
             std::string data;
             if (!kit::readValue(w[1], w[2], data)) return;
             const size_t open = data.find('"'), close = data.find('"', open + 1);
             const std::string named = close == std::string::npos ? "" : data.substr(open + 1, close - open - 1);
             if (named.empty() || !kit::exists(named)) fail(n, w[2] + " names no file that is there: " + data.c_str());
         }},
        {"expect-blocks",
         [this](int n, const Words& w) {
             const std::regex start("^(install|cleanup|status|plan) \\d{4}-\\d\\d-\\d\\d ");
             std::string data, line;
             kit::readFile(w[1], data);
             std::istringstream in(data);
             int blocks = 0;
             while (std::getline(in, line)) blocks += std::regex_search(line, start);
             expect(n, "blocks of " + w[1], std::to_string(blocks), w[2]);
         }},
        {"expect-log",
         [this](int n, const Words& w) {
             std::string data, want;
             for (size_t i = 2; !w[i].empty() && w[i] != "empty"; ++i) want += w[i] + "\r\n";
             kit::readFile(w[1], data);
             expect(n, w[1], data, want);
         }},
    };
};

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && !std::strcmp(argv[1], "--run")) {
        std::vector<Answer> answers;
        int i = 2;
        for (; i < argc && std::strcmp(argv[i], "--"); ++i) {
            const std::string rule = argv[i];
            answers.push_back({rule.substr(0, rule.rfind('=')), "", button(rule.substr(rule.rfind('=') + 1))});
        }
        std::string line;
        for (++i; i < argc; ++i) line += (line.empty() ? "" : " ") + std::string(argv[i]);
        echoDialogs = true;
        const Run run = runCommand(line, "", answers, 0, 300000);
        std::printf("  exit status %lu\n", run.exitCode);
        return run.started ? 0 : 1;
    }
    // A program that fills a drive while the update runs (as its auxiliary program).
    if (argc == 4 && !std::strcmp(argv[1], "--fill")) return fill(argv[2], argv[3]) ? 0 : 1;
    if (argc != 3) return std::printf("usage: runner SCENARIO FAMILY | runner --run [CAPTION=BUTTON]... -- COMMAND | runner --fill PATH BYTES\n"), 2;
    // ctest passes Unix paths; under Wine they live on drive Z:.
    std::string path = argv[1][0] == '/' ? std::string("Z:") + argv[1] : argv[1];
    for (char& c : path) c = c == '/' ? '\\' : c;
    return Scenario(path, argv[2]).run();
}
