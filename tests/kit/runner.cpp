// Runs a scenario for one Windows family:  runner.exe SCENARIO FAMILY
// or one program, printing and answering its dialogs (the demo, and the Yes to
// the restart question, which ends every program of the machine, this one too):
//   runner.exe --run [CAPTION=yes|no]... -- COMMAND LINE
//
// A scenario (tests/scenarios/*.scn) is one whole-program case as data: the
// machine before, what is run, the machine expected after. "families" names
// the Windows versions (as Wine names them) it runs on, each on a fresh copy
// of the template prefix with trevix.exe reporting that version; "# small
// drive SIZE" gives the machine a drive D: of that size (tests run as root).
// One directive per line; words with blanks are quoted; "#" starts a comment.
// $NAME is a variable, @N string-table entry N. The runner sets $FAMILY (the
// family code trevix must derive), $WINDIR, $SYSDIR, $TEMP, $BIN (the built
// programs), $PROGRAMS, $FIXTURES (the modules of modules.sh) and $OUT. In an
// expected text, "*" stands for any text.
//
//   set NAME VALUE / env NAME VALUE       a variable / an environment variable of later programs
//   product DIR MAJOR MINOR OPTIONS COMPONENTS   the product installed in DIR, with a genuine
//                                         settings file of that version and parts; sets $PRODUCT
//   modules NAME...                       the product's merge-module folder with these fixture
//                                         modules; sets $MODULES
//   package DIR                           an update folder with trevix.exe and trevixrun.exe; sets $PKG
//   dir PATH / file PATH TEXT [COUNT]     a folder / a file (\n, \r in TEXT, repeated COUNT times)
//   copy FROM TO... / readonly PATH       copies of a file / a read-only file
//   fill PATH BYTES                       a file that leaves only BYTES free on its drive
//   settings PATH MAJOR MINOR OPTIONS COMPONENTS   a genuine product settings file
//   reg KEY NAME sz|dword|key VALUE / reg-delete KEY [NAME]   registry (NAME @ the default value)
//   hold PATH / release                   keep a file open without sharing, as a running program does
//   answer CAPTION ok|yes|no|escape [TEXT]   how such dialogs are answered, latest rule first; OK for others
//   run COMMAND... [in DIR] / restart     a program, waited for (bounded) / the next start of Windows
//   kill-each all|N COMMAND...            the rest of the scenario once per point at which COMMAND is
//                                         killed: just before each of its changes of a file, the registry
//                                         or a database (all), or N spread over them. For each point the
//                                         lines before it set the machine up anew and the modules in
//                                         $MODULES are exported as the kill left them.
//   export PATH NAME [KEY=TEXT]...        a module for the check from the Linux side (every File row's
//                                         size and version are its file's), with what it must hold
//   expect-exit N / expect-dialogs N      the last run's exit status / number of dialogs
//   expect-dialog I caption=.. text=.. buttons=Yes/No icon=.. owner=..|none bar=MIN..MAX@POS
//   expect-reg KEY NAME sz|dword VALUE|absent / expect-key KEY present|absent
//   expect-file PATH TEXT [COUNT]|present|absent (wildcards in PATH's last part) / expect-same PATH PATH
//   expect-settings PATH MAJOR MINOR / expect-log PATH LINE...|empty
//   on FAMILIES DIRECTIVE... / except FAMILIES DIRECTIVE...   only for (or not for) those families
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "kit/kit.h"

namespace {

using namespace kit;

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
    std::string caption;
    int button;
    std::string text;
};

struct Run {
    bool started = false, finished = false;
    DWORD exitCode = 0;
    std::vector<Dialog> dialogs;
    int calls = 0;  // runKilled: the changes the program reached
};

bool echoDialogs = false;  // print each dialog as it appears: a restart may end this program

std::string describe(const Dialog& d)
{
    std::string text = d.text;
    std::replace(text.begin(), text.end(), '\n', ' ');
    return "[" + d.caption + "] \"" + text + "\" buttons=" + d.buttons + " icon=" + d.icon + " owner=" + d.owner +
           (d.bar.empty() ? "" : " bar=" + d.bar);
}

std::string textOf(HWND window)
{
    char buffer[2048] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

bool isClass(HWND window, const char* name)
{
    char buffer[64] = {};
    return GetClassNameA(window, buffer, sizeof buffer) && !lstrcmpiA(buffer, name);
}

// Finds the dialogs (class #32770) of other processes while it runs, reads
// what they show and answers them.
class Watcher {
public:
    explicit Watcher(std::vector<Answer> answers) : answers_(std::move(answers)) {}
    std::vector<Dialog> stop()
    {
        SetEvent(stop_);
        WaitForSingleObject(thread_, 10000);
        std::vector<Dialog> dialogs(seen_.size());
        for (const auto& entry : seen_) dialogs[entry.second.first] = entry.second.second;
        return dialogs;
    }

private:
    static DWORD WINAPI watch(void* self)
    {
        // Icon handles mean nothing in another process: kitlib's hook marks
        // each dialog's icon kind from inside the dialog's own process.
        HMODULE library = LoadLibraryA(join(binDir(), "kitlib.dll").c_str());
        auto hook = reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(GetProcAddress(library, "iconMarkHook")));
        HHOOK handle = hook ? SetWindowsHookExA(WH_CBT, hook, library, 0) : nullptr;
        for (auto* watcher = static_cast<Watcher*>(self);
             MsgWaitForMultipleObjects(1, &watcher->stop_, FALSE, 20, QS_ALLINPUT) != WAIT_OBJECT_0;) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
            watcher->poll();
        }
        UnhookWindowsHookEx(handle);
        return 0;
    }

    static BOOL CALLBACK collect(HWND window, LPARAM found)
    {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != GetCurrentProcessId() && IsWindowVisible(window) && isClass(window, "#32770"))
            reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
        return TRUE;
    }

    // The bar's range and its latest position. A dialog that is going is
    // hidden first and may then answer zeros, so a reading counts only when
    // the dialog was still shown after it.
    static void readBar(HWND window, std::string& bar)
    {
        HWND control = GetDlgItem(window, 1003);
        if (!control || !isClass(control, PROGRESS_CLASSA)) return;
        const std::string range = std::to_string(SendMessageA(control, PBM_GETRANGE, TRUE, 0)) + ".." +
                                  std::to_string(SendMessageA(control, PBM_GETRANGE, FALSE, 0)) + "@";
        const std::string reading = range + std::to_string(SendMessageA(control, PBM_GETPOS, 0, 0));
        if (IsWindowVisible(window) && (bar.empty() || bar.compare(0, range.size(), range) == 0)) bar = reading;
    }

    static Dialog inspect(HWND window)
    {
        Dialog d{textOf(window), textOf(GetDlgItem(window, 0xFFFF)), "", "none", "none", ""};
        static const char* const names[] = {"", "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"};
        for (int id = IDOK; id <= IDNO; ++id)
            if (IsWindowVisible(GetDlgItem(window, id))) d.buttons += (d.buttons.empty() ? "" : "/") + std::string(names[id]);
        if (d.buttons.empty()) d.buttons = "none";
        static const char* const kinds[] = {"unknown", "information", "question", "warning", "error"};
        const UINT_PTR mark = reinterpret_cast<UINT_PTR>(GetPropA(window, "kit.icon"));
        if (mark && mark != 8) d.icon = kinds[mark <= 4 ? mark : 0];
        if (HWND owner = GetWindow(window, GW_OWNER)) d.owner = textOf(owner);
        readBar(window, d.bar);
        return d;
    }

    void poll()
    {
        std::vector<HWND> windows, fresh;
        EnumWindows(collect, reinterpret_cast<LPARAM>(&windows));
        // Known dialogs first: a bar's position is read before an answer lets the run go on.
        for (HWND window : windows)
            if (seen_.count(window)) readBar(window, seen_[window].second.bar);
            else fresh.insert(fresh.begin(), window);  // bottom first: the order of appearance
        for (HWND window : fresh) {
            Sleep(50);  // let the dialog finish its initialisation
            if (!IsWindow(window)) continue;
            const Dialog d = inspect(window);
            const int order = static_cast<int>(seen_.size());
            seen_[window] = {order, d};
            if (echoDialogs) std::printf("  dialog: %s\n", describe(d).c_str()), std::fflush(stdout);
            auto rule = std::find_if(answers_.begin(), answers_.end(), [&](const Answer& a) {
                return a.caption == d.caption && d.text.find(a.text) != std::string::npos;
            });
            const int press = rule == answers_.end() ? IDOK : rule->button;
            if (press == pressEscape) PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            else if (HWND button = GetDlgItem(window, press)) PostMessageA(window, WM_COMMAND, press, reinterpret_cast<LPARAM>(button));
        }
    }

    std::vector<Answer> answers_;
    std::map<HWND, std::pair<int, Dialog>> seen_;  // the order of appearance, what it showed
    HANDLE stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread_ = CreateThread(nullptr, 0, watch, this, 0, nullptr);
};

// The calls that change something: each one a point where a run may be killed.
const std::pair<const char*, const char*> changes[] = {
    {"kernel32", "CopyFileA"},  {"kernel32", "MoveFileA"},         {"kernel32", "MoveFileExA"},
    {"kernel32", "DeleteFileA"}, {"kernel32", "CreateDirectoryA"}, {"kernel32", "RemoveDirectoryA"},
    {"kernel32", "SetEndOfFile"}, {"advapi32", "RegSetValueExA"},  {"advapi32", "RegDeleteKeyA"},
    {"msi", "MsiDatabaseCommit"}, {"cabinet", "FCIFlushCabinet"},  {"cabinet", "FDICopy"},
    {"ole32", "StgOpenStorage"}};

std::string lowerName(std::string path)
{
    path = path.substr(path.find_last_of("\\/") + 1);
    CharLowerA(&path[0]);
    return path;
}

// Where each call's code lives, the same in every process: the module that
// holds it (a forwarded export lives in another one) and the offset there.
const std::vector<std::pair<std::string, uintptr_t>>& changeOffsets()
{
    static std::vector<std::pair<std::string, uintptr_t>> offsets;
    if (!offsets.empty()) return offsets;
    for (const auto& call : changes) {
        auto address = reinterpret_cast<LPCSTR>(GetProcAddress(LoadLibraryA(call.first), call.second));
        HMODULE owner = nullptr;
        char path[MAX_PATH] = {};
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, address, &owner);
        GetModuleFileNameA(owner, path, MAX_PATH);
        offsets.emplace_back(lowerName(path), reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(owner));
    }
    return offsets;
}

void poke(HANDLE process, uintptr_t address, BYTE value, BYTE* old = nullptr)
{
    if (old) ReadProcessMemory(process, reinterpret_cast<void*>(address), old, 1, nullptr);
    WriteProcessMemory(process, reinterpret_cast<void*>(address), &value, 1, nullptr);
    FlushInstructionCache(process, reinterpret_cast<void*>(address), 1);
}

// Runs the debuggee until it ends, counting its changes by breakpoints on
// their first byte, and ends it just before the killAt-th.
void debug(const PROCESS_INFORMATION& process, int killAt, DWORD timeoutMs, Run& result)
{
    const auto& offsets = changeOffsets();
    std::map<uintptr_t, BYTE> original;
    uintptr_t stepping = 0;
    DEBUG_EVENT event;
    for (const DWORD begin = GetTickCount(); !result.finished && WaitForDebugEvent(&event, timeoutMs - (GetTickCount() - begin));) {
        DWORD status = DBG_CONTINUE;
        const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
        const uintptr_t at = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
        if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
            char path[MAX_PATH] = {};
            GetFinalPathNameByHandleA(event.u.LoadDll.hFile, path, MAX_PATH, 0);
            CloseHandle(event.u.LoadDll.hFile);
            const uintptr_t base = reinterpret_cast<uintptr_t>(event.u.LoadDll.lpBaseOfDll);
            for (const auto& offset : offsets)
                if (offset.first == lowerName(path)) poke(process.hProcess, base + offset.second, 0xCC, &original[base + offset.second]);
        } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            result.finished = true;
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT && record.ExceptionCode == EXCEPTION_BREAKPOINT &&
                   original.count(at)) {
            if (++result.calls == killAt) {
                TerminateProcess(process.hProcess, 99);
            } else {
                // Let the call run: its first byte back for one step, then the breakpoint again.
                poke(process.hProcess, at, original[at]);
                HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, event.dwThreadId);
                CONTEXT context = {};
                context.ContextFlags = CONTEXT_CONTROL;
                GetThreadContext(thread, &context);
#ifdef _WIN64
                context.Rip = at;
#else
                context.Eip = at;
#endif
                context.EFlags |= 0x100;
                SetThreadContext(thread, &context);
                CloseHandle(thread);
                stepping = at;
            }
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT && record.ExceptionCode == EXCEPTION_SINGLE_STEP && stepping) {
            poke(process.hProcess, stepping, 0xCC);
            stepping = 0;
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT && record.ExceptionCode != EXCEPTION_BREAKPOINT) {
            status = DBG_EXCEPTION_NOT_HANDLED;
        } else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            CloseHandle(event.u.CreateProcessInfo.hFile);
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
}

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

// Starts a command line, answers its dialogs and waits at most timeoutMs; a
// program still running then is ended. killAt > 0 runs it as its debugger and
// ends it just before its killAt-th change of a file, the registry or a
// database; -1 counts the changes.
Run runCommand(const std::string& commandLine, const std::string& folder, const std::vector<Answer>& answers, int killAt = 0,
               DWORD timeoutMs = 120000)
{
    Run result;
    // Before the watcher's thread hooks dialogs: Wine can deadlock loading
    // libraries on one thread while another installs a hook.
    if (killAt) changeOffsets();
    Watcher watcher(answers);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    result.started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, killAt ? DEBUG_ONLY_THIS_PROCESS : 0,
                                    nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &process);
    if (result.started && killAt) debug(process, killAt, timeoutMs, result);
    if (result.started && !killAt) result.finished = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (result.started && !result.finished) TerminateProcess(process.hProcess, 255);
    WaitForSingleObject(process.hProcess, 5000);
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (commandLine == "wineboot.exe -r")
        for (const DWORD begin = GetTickCount(); startProgramsRunning() && GetTickCount() - begin < timeoutMs;) Sleep(100);
    Sleep(200);  // dialogs of programs it started may still be closing
    result.dialogs = watcher.stop();
    return result;
}

// The next start of Windows: delayed moves, WinInit.Ini and RunOnce; ends
// only when the programs the start ran (and those they started) have ended.
Run restart(const std::vector<Answer>& answers)
{
    Run result = runCommand("wineboot.exe -r", "", answers);
    result.finished = result.finished && !startProgramsRunning();
    return result;
}

using Words = std::vector<std::string>;

std::string env(const char* name, const std::string& otherwise = "")
{
    return getenv(name) ? getenv(name) : otherwise;
}

std::string folder(UINT (WINAPI* query)(LPSTR, UINT))
{
    char buffer[MAX_PATH] = {};
    query(buffer, MAX_PATH);
    return std::string(buffer).substr(0, std::string(buffer).find_last_not_of('\\') + 1);
}

UINT WINAPI tempPath(LPSTR buffer, UINT size) { return GetTempPathA(size, buffer); }

int button(const std::string& name)
{
    return name == "yes" ? IDYES : name == "no" ? IDNO : name == "escape" ? pressEscape : IDOK;
}

Words split(const std::string& line)
{
    Words words;
    for (size_t i = line.find_first_not_of(" \t"); i != std::string::npos; i = line.find_first_not_of(" \t", i)) {
        std::string word;
        if (line[i] == '"')  // inside quotes, \" is a quote character
            for (++i; i < line.size() && line[i++] != '"';) word += line[i - 1] == '\\' && line[i] == '"' ? line[i++] : line[i - 1];
        else
            for (; i < line.size() && line[i] != ' ' && line[i] != '\t'; ++i) word += line[i];
        words.push_back(word);
    }
    return words;
}

std::string text(std::string from, const std::string& count = "")
{
    for (size_t at = 0; (at = from.find('\\', at)) != std::string::npos; ++at)
        if (from[at + 1] == 'n' || from[at + 1] == 'r') from.replace(at, 2, from[at + 1] == 'n' ? "\n" : "\r");
    std::string out;
    for (unsigned long i = count.empty() ? 1 : std::strtoul(count.c_str(), nullptr, 10); i > 0; --i) out += from;
    return out;
}

bool matches(const std::string& got, const std::string& pattern)
{
    const size_t star = pattern.find('*');
    if (star == std::string::npos || got.compare(0, star, pattern, 0, star)) return got == pattern;
    for (size_t at = star; at <= got.size(); ++at)
        if (matches(got.substr(at), pattern.substr(star + 1))) return true;
    return false;
}

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
        vars_ = {{"FAMILY", std::to_string(codes.count(family) ? codes.at(family) : 0)}, {"WINDIR", folder(GetWindowsDirectoryA)},
                 {"SYSDIR", folder(GetSystemDirectoryA)}, {"TEMP", folder(tempPath)}, {"BIN", kit::binDir()},
                 {"PROGRAMS", "C:\\Program Files"}, {"OUT", out_}, {"FIXTURES", env("TREVIX_FIXTURES")}};
        kit::setValue("HKCU\\Software\\Wine\\AppDefaults\\trevix.exe", "Version", REG_SZ, family + '\0');
    }

    int run()
    {
        size_t kill = 0;
        while (kill < lines_.size() && lines_[kill].second[0] != "kill-each") ++kill;
        if (kill == lines_.size())
            for (const auto& line : lines_) execute(line);
        else
            killEach(kill);
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

    void expect(int line, const std::string& what, const std::string& got, const std::string& want)
    {
        if (!matches(got, want)) fail(line, what + ": got \"" + got + "\", expected \"" + want + "\"");
    }

    Words expand(const Words& words) const
    {
        Words out;
        for (std::string word : words) {
            if (word.size() > 1 && word[0] == '@' && std::isdigit(static_cast<unsigned char>(word[1]))) {
                char entry[1024] = {};
                LoadStringA(GetModuleHandleA(nullptr), std::atoi(word.c_str() + 1), entry, sizeof entry);
                word = entry;
            }
            for (const auto& var : vars_)
                for (size_t at; (at = word.find("$" + var.first)) != std::string::npos;) word.replace(at, var.first.size() + 1, var.second);
            out.push_back(word);
        }
        out.resize(std::max<size_t>(out.size() + 1, 8));  // an empty word always ends the line
        return out;
    }

    static std::string command(const Words& w, size_t from, std::string* in = nullptr)
    {
        std::string line;
        for (size_t i = from; i < w.size() && !w[i].empty(); ++i) {
            if (in && w[i] == "in") return *in = w[i + 1], line;
            line += (line.empty() ? "" : " ") + (w[i].find(' ') == std::string::npos ? w[i] : "\"" + w[i] + "\"");
        }
        return line;
    }

    void killEach(size_t at)
    {
        for (size_t i = 0; i < at; ++i) execute(lines_[i]);
        const Words w = expand(lines_[at].second);
        const std::string program = command(w, 2);
        const int total = runCommand(program, "", {}, -1).calls;
        const int points = w[1] == "all" ? total : std::min(total, std::atoi(w[1].c_str()));
        if (!total) fail(lines_[at].first, "no change counted in " + program);
        for (point_ = 1; point_ <= points; ++point_) {
            const int killAt = w[1] == "all" ? point_ : 1 + (point_ - 1) * total / points;
            // The machine set up anew: what the set-up lines made goes first.
            release();
            for (const std::string& made : made_) kit::removeTree(made), kit::removeTree(made + ".tmp");
            for (const std::string& key : keys_) kit::deleteKey(key);
            kit::deleteKey("HKLM\\System\\CurrentControlSet\\Control\\Session Manager", "PendingFileRenameOperations");
            DeleteFileA(kit::join(vars_["WINDIR"], "wininit.ini").c_str());
            for (size_t i = 0; i < at; ++i) execute(lines_[i]);
            if (runCommand(program, "", {}, killAt).exitCode != 99) fail(lines_[at].first, "not killed at change " + std::to_string(killAt));
            vars_["OUT"] = kit::join(out_, "kill-" + std::to_string(point_));
            if (vars_.count("MODULES"))
                for (const std::string& name : kit::listDir(vars_["MODULES"]))
                    if (matches(name, "*.MSM")) exportModule(kit::join(vars_["MODULES"], name), "mid-" + name.substr(0, name.size() - 4), "");
            for (size_t i = at + 1; i < lines_.size(); ++i) execute(lines_[i]);
        }
        std::printf("%s %s: killed at %d of %d changes\n", path_.c_str(), family_.c_str(), points, total);
    }

    void release()
    {
        for (HANDLE h : held_) CloseHandle(h);
        held_.clear();
    }

    void exportModule(const std::string& module, const std::string& name, const std::string& expectations)
    {
        CreateDirectoryA(vars_["OUT"].c_str(), nullptr);
        CopyFileA(module.c_str(), (kit::join(vars_["OUT"], name) + ".MSM").c_str(), FALSE);
        kit::writeFile(kit::join(vars_["OUT"], name) + ".expect", expectations);
    }

    void execute(const std::pair<int, Words>& line)
    {
        Words w = expand(line.second);
        while (w[0] == "on" || w[0] == "except") {  // "on FAMILIES DIRECTIVE..."
            if ((("," + w[1] + ",").find("," + family_ + ",") != std::string::npos) != (w[0] == "on")) return;
            w.erase(w.begin(), w.begin() + 2);
        }
        const std::string op = w[0];
        const int n = line.first;
        std::string data;
        if (op == "set") vars_[w[1]] = w[2];
        else if (op == "env") SetEnvironmentVariableA(w[1].c_str(), w[2].c_str());
        else if (op == "dir") CreateDirectoryA(w[1].c_str(), nullptr), made_.push_back(w[1]);
        else if (op == "readonly") SetFileAttributesA(w[1].c_str(), FILE_ATTRIBUTE_READONLY);
        else if (op == "release") release();
        else if (op == "answer") answers_.insert(answers_.begin(), {w[1], button(w[2]), w[3]});
        else if (op == "expect-exit") expect(n, "exit status", std::to_string(last_.exitCode), w[1]);
        else if (op == "expect-dialogs") expect(n, "dialogs", std::to_string(last_.dialogs.size()), w[1]);
        else if (op == "expect-key") expect(n, w[1], kit::keyExists(w[1]) ? "present" : "absent", w[2]);
        else if (op == "export") {
            for (size_t i = 3; !w[i].empty(); ++i) data += w[i] + "\n";
            exportModule(w[1], w[2], data);
        }
        else if (op == "product") {
            // A product folder with its settings file, the registry saying it is installed.
            const std::string key = "HKLM\\Software\\Veltrane\\Corvindale\\CurrentVersion\\System";
            CreateDirectoryA(w[1].c_str(), nullptr);
            kit::setValue(key, "InstallDir", REG_SZ, w[1] + '\0');
            kit::setValue(key, "Installed", REG_SZ, std::string("1", 2));
            execute({n, {"settings", w[1] + "\\vindale.bin", w[2], w[3], w[4], w[5]}});
            vars_["PRODUCT"] = w[1];
            made_.push_back(w[1]);
            keys_.push_back("HKLM\\Software\\Veltrane");
        } else if (op == "modules") {
            vars_["MODULES"] = vars_["PRODUCT"] + "\\Packager\\Merge Modules";
            CreateDirectoryA((vars_["PRODUCT"] + "\\Packager").c_str(), nullptr);
            CreateDirectoryA(vars_["MODULES"].c_str(), nullptr);
            for (size_t i = 1; !w[i].empty(); ++i)
                CopyFileA(kit::join(vars_["FIXTURES"], w[i]).c_str(), kit::join(vars_["MODULES"], w[i]).c_str(), FALSE);
        } else if (op == "package") {
            CreateDirectoryA(w[1].c_str(), nullptr);
            for (const char* program : {"trevix.exe", "trevixrun.exe"})
                CopyFileA(kit::join(kit::binDir(), program).c_str(), kit::join(w[1], program).c_str(), FALSE);
            vars_["PKG"] = w[1];
            made_.push_back(w[1]);
        } else if (op == "file" || op == "settings") {
            auto number = [&](int i) { return std::strtoul(w[i].c_str(), nullptr, 0); };
            if (!kit::writeFile(w[1], op == "file" ? text(w[2], w[3]) : kit::settingsFile(number(2), number(3), number(4), number(5))))
                fail(n, "cannot write " + w[1]);
        } else if (op == "copy") {
            for (size_t i = 2; !w[i].empty(); ++i)
                if (!CopyFileA(w[1].c_str(), w[i].c_str(), FALSE)) fail(n, "cannot copy " + w[1] + " to " + w[i]);
        } else if (op == "fill") {
            ULARGE_INTEGER free = {};
            GetDiskFreeSpaceExA(w[1].substr(0, 3).c_str(), &free, nullptr, nullptr);
            kit::writeFile(w[1], std::string(static_cast<size_t>(free.QuadPart - std::strtoull(w[2].c_str(), nullptr, 0)), 'f'));
        } else if (op == "reg") {
            const DWORD value = std::strtoul(w[4].c_str(), nullptr, 0);
            const DWORD type = w[3] == "dword" ? REG_DWORD : w[3] == "key" ? REG_NONE : REG_SZ;
            if (!kit::setValue(w[1], w[2] == "@" ? "" : w[2], type, type == REG_DWORD ? std::string(reinterpret_cast<const char*>(&value), 4) : w[4] + '\0'))
                fail(n, "cannot set " + w[1]);
            keys_.push_back(w[1]);
        } else if (op == "reg-delete") {
            kit::deleteKey(w[1], w[2].empty() ? nullptr : w[2].c_str());
        } else if (op == "hold") {
            held_.push_back(CreateFileA(w[1].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            if (held_.back() == INVALID_HANDLE_VALUE) fail(n, "cannot hold " + w[1]);
        } else if (op == "run" || op == "restart") {
            std::string in;
            const std::string program = command(w, 1, &in);
            last_ = op == "run" ? runCommand(program, in, answers_) : restart(answers_);
            if (!last_.finished) fail(n, op + " " + program + (last_.started ? " did not end in time" : " did not start"));
            for (const Dialog& d : last_.dialogs) std::printf("    dialog: %s\n", describe(d).c_str());
        } else if (op == "expect-dialog") {
            const size_t index = std::strtoul(w[1].c_str(), nullptr, 10);
            if (index >= last_.dialogs.size()) return fail(n, "no dialog " + w[1]);
            const Dialog& d = last_.dialogs[index];
            const std::map<std::string, std::string> fields = {{"caption", d.caption}, {"text", d.text}, {"buttons", d.buttons},
                                                               {"icon", d.icon}, {"owner", d.owner}, {"bar", d.bar}};
            for (size_t i = 2; !w[i].empty(); ++i) {
                const std::string field = w[i].substr(0, w[i].find('='));
                if (!fields.count(field)) fail(n, "no dialog field " + field);
                else expect(n, "dialog " + field, fields.at(field), text(expand({w[i].substr(field.size() + 1)})[0]));
            }
        } else if (op == "expect-reg") {
            const bool found = kit::readValue(w[1], w[2] == "@" ? "" : w[2], data);
            if (w[3] == "absent" || !found) expect(n, w[1] + " " + w[2], found ? "present" : "absent", w[3] == "absent" ? "absent" : "present");
            else expect(n, w[2], w[3] == "dword" ? std::to_string(*reinterpret_cast<const DWORD*>(data.data())) : data.c_str(), w[4]);
        } else if (op == "expect-file") {
            const bool found = kit::exists(w[1]);
            if (w[2] == "absent" || w[2] == "present") expect(n, w[1], found ? "present" : "absent", w[2]);
            else if (!kit::readFile(w[1], data) || data != text(w[2], w[3])) fail(n, w[1] + (found ? " holds other text" : " is missing"));
        } else if (op == "expect-same") {
            std::string other;
            if (!kit::readFile(w[1], data) || !kit::readFile(w[2], other) || data != other) fail(n, w[1] + " differs from " + w[2]);
        } else if (op == "expect-settings") {
            unsigned major = 0, minor = 0;
            expect(n, w[1], kit::settingsVersion(w[1], major, minor) ? std::to_string(major) + "." + std::to_string(minor) : "none",
                   w[2] + "." + w[3]);
        } else if (op == "expect-log") {
            std::string want;
            for (size_t i = 2; !w[i].empty() && w[i] != "empty"; ++i) want += w[i] + "\r\n";
            kit::readFile(w[1], data);
            expect(n, w[1], data, want);
        } else {
            fail(n, "unknown directive " + op);
        }
    }

    std::string path_, family_, out_ = env("TREVIX_OUT", "C:\\out");
    std::vector<std::pair<int, Words>> lines_;
    std::map<std::string, std::string> vars_;
    std::vector<std::string> made_, keys_;
    std::vector<HANDLE> held_;
    std::vector<Answer> answers_;
    Run last_;
    int failures_ = 0, point_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && !std::strcmp(argv[1], "--run")) {
        std::vector<Answer> answers;
        int i = 2;
        for (; i < argc && std::strcmp(argv[i], "--"); ++i) {
            const std::string rule = argv[i];
            answers.push_back({rule.substr(0, rule.rfind('=')), button(rule.substr(rule.rfind('=') + 1)), ""});
        }
        std::string line;
        for (++i; i < argc; ++i) line += (line.empty() ? "" : " ") + std::string(argv[i]);
        echoDialogs = true;
        const Run run = runCommand(line, "", answers, 0, 300000);
        std::printf("  exit status %lu\n", run.exitCode);
        return run.started ? 0 : 1;
    }
    if (argc != 3) return std::printf("usage: runner SCENARIO FAMILY | runner --run [CAPTION=BUTTON]... -- COMMAND\n"), 2;
    // ctest passes Unix paths; under Wine they live on drive Z:.
    std::string path = argv[1][0] == '/' ? std::string("Z:") + argv[1] : argv[1];
    for (char& c : path) c = c == '/' ? '\\' : c;
    return Scenario(path, argv[2]).run();
}
