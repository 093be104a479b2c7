#include "kit/kit.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

namespace kit {

bool echoDialogs = false;

std::string binDir()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, std::strrchr(path, '\\'));
}

std::string join(const std::string& folder, const std::string& name)
{
    return folder.empty() || folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

bool writeFile(const std::string& path, const std::string& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

bool readFile(const std::string& path, std::string& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    char buffer[65536];
    DWORD got = 0;
    for (content.clear(); ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0;) content.append(buffer, got);
    CloseHandle(file);
    return file != INVALID_HANDLE_VALUE;
}

bool exists(const std::string& path)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(path.c_str(), &data);
    FindClose(search);
    return search != INVALID_HANDLE_VALUE || GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> listDir(const std::string& path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(join(path, "*").c_str(), &data);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &data))
        if (std::strcmp(data.cFileName, ".") && std::strcmp(data.cFileName, "..")) names.push_back(data.cFileName);
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void removeTree(const std::string& path)
{
    for (const std::string& name : listDir(path)) removeTree(join(path, name));
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
}

namespace {

// The root of a key given as "HKLM\...", and the path below it.
HKEY rootOf(const std::string& key, std::string& path)
{
    const size_t slash = key.find('\\');
    path = slash == std::string::npos ? "" : key.substr(slash + 1);
    const std::string root = key.substr(0, slash);
    return root == "HKLM" ? HKEY_LOCAL_MACHINE : root == "HKCU" ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
}

HKEY openKey(const std::string& key, REGSAM access, bool create = false)
{
    std::string path;
    HKEY root = rootOf(key, path), handle;
    const LONG rc = create ? RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, access, nullptr, &handle, nullptr)
                           : RegOpenKeyExA(root, path.c_str(), 0, access, &handle);
    return rc == ERROR_SUCCESS ? handle : nullptr;
}

} // namespace

bool setValue(const std::string& key, const std::string& name, DWORD type, const std::string& data)
{
    HKEY handle = openKey(key, KEY_SET_VALUE, true);
    const bool ok = handle && (type == REG_NONE || !RegSetValueExA(handle, name.c_str(), 0, type,
                                                                   reinterpret_cast<const BYTE*>(data.data()),
                                                                   static_cast<DWORD>(data.size())));
    RegCloseKey(handle);
    return ok;
}

bool readValue(const std::string& key, const std::string& name, std::string& data)
{
    HKEY handle = openKey(key, KEY_READ);
    DWORD size = 0;
    bool ok = handle && !RegQueryValueExA(handle, name.c_str(), nullptr, nullptr, nullptr, &size);
    data.assign(size, '\0');
    ok = ok && (!size || !RegQueryValueExA(handle, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&data[0]), &size));
    RegCloseKey(handle);
    return ok;
}

bool keyExists(const std::string& key)
{
    HKEY handle = openKey(key, KEY_READ);
    RegCloseKey(handle);
    return handle != nullptr;
}

void deleteKey(const std::string& key, const char* value)
{
    HKEY handle = openKey(key, KEY_ALL_ACCESS);
    std::vector<std::string> children;
    char name[512];
    for (DWORD size = sizeof name; !value && !RegEnumKeyExA(handle, static_cast<DWORD>(children.size()), name, &size,
                                                            nullptr, nullptr, nullptr, nullptr);
         size = sizeof name)
        children.push_back(name);
    if (value) RegDeleteValueA(handle, value);
    RegCloseKey(handle);
    for (const std::string& child : children) deleteKey(key + "\\" + child);
    std::string path;
    HKEY root = rootOf(key, path);
    if (!value) RegDeleteKeyA(root, path.c_str());
}

namespace {

// The settings file's format, written down apart from the product: four XOR
// streams of these keys, each byte's high bit set, and four markers.
void scramble(std::string& image)
{
    for (const char* key : {"KoRiBlAnNaLbIrOk$", "DuNeWiSpEr*", "HeRoNrY-RaVe-CyClOnE-NoVaLiS-", "KWR"})
        for (size_t i = 0; i < image.size(); ++i) image[i] ^= key[i % std::strlen(key)] | 0x80;
}

const std::pair<size_t, const char*> markers[] = {{4, "KoRa"}, {68, "BlAn"}, {104, "NaLb"}, {8188, "IrOk"}};

} // namespace

std::string settingsFile(unsigned major, unsigned minor, unsigned long options, unsigned long components)
{
    std::string image(8192, '\0');
    const std::pair<size_t, unsigned long> fields[] = {{0, 8192}, {8, major}, {10, minor}, {72, 8}};
    for (const auto& field : fields) image.replace(field.first, 2, {char(field.second), char(field.second >> 8)});
    for (size_t i = 0; i < 4; ++i) image[16 + i] = char(options >> 8 * i), image[20 + i] = char(components >> 8 * i);
    for (const auto& marker : markers) image.replace(marker.first, 4, marker.second);
    scramble(image);
    return image;
}

bool settingsVersion(const std::string& file, unsigned& major, unsigned& minor)
{
    std::string image;
    if (!readFile(file, image) || image.size() < 8192) return false;
    image.resize(8192);
    scramble(image);
    for (const auto& marker : markers)
        if (image.compare(marker.first, 4, marker.second)) return false;
    major = static_cast<unsigned char>(image[8]) | static_cast<unsigned char>(image[9]) << 8;
    minor = static_cast<unsigned char>(image[10]) | static_cast<unsigned char>(image[11]) << 8;
    return true;
}

std::string describe(const Dialog& d)
{
    std::string text = d.text;
    std::replace(text.begin(), text.end(), '\n', ' ');
    return "[" + d.caption + "] \"" + text + "\" buttons=" + d.buttons + " icon=" + d.icon + " owner=" + d.owner +
           (d.bar.empty() ? "" : " bar=" + d.bar);
}

namespace {

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

} // namespace

Run run(const std::string& commandLine, const std::string& folder, const std::vector<Answer>& answers, int killAt,
        DWORD timeoutMs)
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

Run restart(const std::vector<Answer>& answers)
{
    Run result = run("wineboot.exe -r", "", answers);
    result.finished = result.finished && !startProgramsRunning();
    return result;
}

} // namespace kit
