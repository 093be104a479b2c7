#include "kit/kit.h"

#include <shlwapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "kit/watcher.h"

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
    bool ok = file != INVALID_HANDLE_VALUE &&
              WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return ok && written == content.size();
}

bool readFile(const std::string& path, std::string& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    content.clear();
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(file);
    return true;
}

bool exists(const std::string& path)
{
    // A wildcard in a folder part: any folder that matches will do.
    const size_t wild = path.find_first_of("*?");
    const size_t end = wild == std::string::npos ? std::string::npos : path.find('\\', wild);
    if (end == std::string::npos) {
        WIN32_FIND_DATAA data;
        HANDLE search = FindFirstFileA(path.c_str(), &data);
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
        return search != INVALID_HANDLE_VALUE || GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    const size_t start = path.rfind('\\', wild);
    const std::string folder = path.substr(0, start), pattern = path.substr(start + 1, end - start - 1);
    for (const std::string& name : listDir(folder))
        if (PathMatchSpecA(name.c_str(), pattern.c_str()) && exists(join(folder, name) + path.substr(end))) return true;
    return false;
}

std::vector<std::string> listDir(const std::string& path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(join(path, "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::strcmp(data.cFileName, ".") && std::strcmp(data.cFileName, "..")) names.push_back(data.cFileName);
    } while (FindNextFileA(search, &data));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void removeTree(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(path.c_str());
        return;
    }
    for (const std::string& name : listDir(path)) removeTree(join(path, name));
    RemoveDirectoryA(path.c_str());
}

namespace {

HKEY rootOf(const std::string& key, std::string& rest)
{
    const size_t slash = key.find('\\');
    rest = slash == std::string::npos ? "" : key.substr(slash + 1);
    const std::string root = key.substr(0, slash);
    return root == "HKLM" ? HKEY_LOCAL_MACHINE : root == "HKCU" ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
}

} // namespace

bool setValue(const std::string& key, const std::string& name, DWORD type, const std::string& data)
{
    std::string path;
    HKEY root = rootOf(key, path), handle;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr)) return false;
    const LONG rc = type == REG_NONE ? 0
                    : RegSetValueExA(handle, name.empty() ? nullptr : name.c_str(), 0, type,
                                     reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS;
}

bool readValue(const std::string& key, const std::string& name, DWORD& type, std::string& data)
{
    std::string path;
    HKEY root = rootOf(key, path), handle;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &handle)) return false;
    DWORD size = 0;
    const char* value = name.empty() ? nullptr : name.c_str();
    LONG rc = RegQueryValueExA(handle, value, nullptr, &type, nullptr, &size);
    data.assign(size, '\0');
    if (rc == ERROR_SUCCESS && size)
        rc = RegQueryValueExA(handle, value, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS;
}

bool keyExists(const std::string& key)
{
    std::string path;
    HKEY root = rootOf(key, path), handle;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &handle)) return false;
    RegCloseKey(handle);
    return true;
}

void deleteKey(const std::string& key)
{
    std::string path;
    HKEY root = rootOf(key, path), handle;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &handle)) return;
    std::vector<std::string> children;
    char name[512];
    for (DWORD size = sizeof name; !RegEnumKeyExA(handle, static_cast<DWORD>(children.size()), name, &size,
                                                  nullptr, nullptr, nullptr, nullptr);
         size = sizeof name)
        children.push_back(name);
    RegCloseKey(handle);
    for (const std::string& child : children) deleteKey(key + "\\" + child);
    RegDeleteKeyA(root, path.c_str());
}

void deleteValue(const std::string& key, const std::string& name)
{
    std::string path;
    HKEY root = rootOf(key, path), handle;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &handle)) return;
    RegDeleteValueA(handle, name.c_str());
    RegCloseKey(handle);
}

namespace {

// The settings file's format, written down here apart from the product: four
// XOR streams with these keys, each byte's high bit set, and four markers.
void scramble(std::string& image)
{
    for (const char* key : {"KoRiBlAnNaLbIrOk$", "DuNeWiSpEr*", "HeRoNrY-RaVe-CyClOnE-NoVaLiS-", "KWR"})
        for (size_t i = 0; i < image.size(); ++i) image[i] ^= key[i % std::strlen(key)] | 0x80;
}

const std::pair<size_t, const char*> markers[] = {{4, "KoRa"}, {68, "BlAn"}, {104, "NaLb"}, {8188, "IrOk"}};

unsigned word(const std::string& image, size_t at)
{
    return static_cast<unsigned char>(image[at]) | static_cast<unsigned char>(image[at + 1]) << 8;
}

} // namespace

std::string settingsFile(unsigned major, unsigned minor, unsigned long options, unsigned long components)
{
    std::string image(8192, '\0');
    const std::pair<size_t, unsigned long> fields[] = {{0, 8192}, {8, major}, {10, minor}, {16, options},
                                                       {20, components}, {72, 8}};
    for (const auto& field : fields)
        for (size_t i = 0; i < (field.first == 16 || field.first == 20 ? 4 : 2); ++i)
            image[field.first + i] = static_cast<char>(field.second >> (8 * i));
    for (const auto& marker : markers) image.replace(marker.first, 4, marker.second);
    scramble(image);
    return image;
}

bool settingsVersion(const std::string& file, unsigned& major, unsigned& minor)
{
    std::string image;
    // As the product reads one: the first 8192 bytes.
    if (!readFile(file, image) || image.size() < 8192) return false;
    image.resize(8192);
    scramble(image);
    for (const auto& marker : markers)
        if (image.compare(marker.first, 4, marker.second) != 0) return false;
    major = word(image, 8);
    minor = word(image, 10);
    return true;
}

std::string describe(const Dialog& d)
{
    std::string text = d.text;
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::string line = "[" + d.caption + "] \"" + text + "\" buttons=" + d.buttons + " icon=" + d.icon +
                       " owner=" + d.owner;
    if (d.barPos >= 0)
        line += " bar=" + std::to_string(d.barMin) + ".." + std::to_string(d.barMax) + "@" + std::to_string(d.barPos);
    return line;
}

namespace {

Run start(const std::string& commandLine, const std::string& folder, const std::vector<Answer>& answers,
          DWORD flags, PROCESS_INFORMATION& process, Watcher*& watcher)
{
    Run result;
    watcher = new Watcher(answers, echoDialogs);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string line = commandLine;
    result.started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, flags, nullptr,
                                    folder.empty() ? nullptr : folder.c_str(), &startup, &process) != 0;
    return result;
}

void finish(Run& result, PROCESS_INFORMATION& process, Watcher* watcher);

// run, and once the program has ended, until done says so.
template <typename Done>
Run runThen(const std::string& commandLine, const std::string& folder, const std::vector<Answer>& answers,
            DWORD timeoutMs, Done done)
{
    PROCESS_INFORMATION process = {};
    Watcher* watcher = nullptr;
    Run result = start(commandLine, folder, answers, 0, process, watcher);
    if (result.started) {
        result.finished = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
        if (!result.finished) TerminateProcess(process.hProcess, 255);
        WaitForSingleObject(process.hProcess, 5000);
        const DWORD begin = GetTickCount();
        while (!done() && GetTickCount() - begin < timeoutMs) Sleep(100);
        result.finished = result.finished && done();
    }
    finish(result, process, watcher);
    return result;
}

void finish(Run& result, PROCESS_INFORMATION& process, Watcher* watcher)
{
    if (result.started) {
        GetExitCodeProcess(process.hProcess, &result.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    // Dialogs of programs it started may still be closing.
    Sleep(200);
    result.dialogs = watcher->stop();
    delete watcher;
}

} // namespace

Run run(const std::string& commandLine, const std::string& folder, const std::vector<Answer>& answers,
        DWORD timeoutMs)
{
    return runThen(commandLine, folder, answers, timeoutMs, [] { return true; });
}

namespace {

// The calls that change something: each one a point where a run may be killed.
const std::pair<const char*, const char*> mutatingCalls[] = {
    {"kernel32.dll", "CopyFileA"},       {"kernel32.dll", "MoveFileA"},         {"kernel32.dll", "MoveFileExA"},
    {"kernel32.dll", "DeleteFileA"},     {"kernel32.dll", "CreateDirectoryA"},  {"kernel32.dll", "RemoveDirectoryA"},
    {"kernel32.dll", "SetEndOfFile"},    {"advapi32.dll", "RegSetValueExA"},    {"advapi32.dll", "RegDeleteKeyA"},
    {"msi.dll", "MsiDatabaseCommit"},    {"cabinet.dll", "FCIFlushCabinet"},    {"cabinet.dll", "FDICopy"},
};

std::string lowerBaseName(std::string path)
{
    path = path.substr(path.find_last_of("\\/") + 1);
    for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return path;
}

// Where each call lives: the module that holds its code (a forwarded export
// lives in another one) and its offset there, the same in every process.
std::vector<std::pair<std::string, uintptr_t>> callOffsets()
{
    std::vector<std::pair<std::string, uintptr_t>> offsets;
    for (const auto& call : mutatingCalls) {
        FARPROC address = GetProcAddress(LoadLibraryA(call.first), call.second);
        HMODULE owner = nullptr;
        char path[MAX_PATH] = {};
        if (address && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                          reinterpret_cast<LPCSTR>(address), &owner))
            GetModuleFileNameA(owner, path, MAX_PATH);
        if (owner)
            offsets.emplace_back(lowerBaseName(path),
                                 reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(owner));
    }
    return offsets;
}

void poke(HANDLE process, uintptr_t address, BYTE value, BYTE* old)
{
    if (old) ReadProcessMemory(process, reinterpret_cast<void*>(address), old, 1, nullptr);
    WriteProcessMemory(process, reinterpret_cast<void*>(address), &value, 1, nullptr);
    FlushInstructionCache(process, reinterpret_cast<void*>(address), 1);
}

} // namespace

Run runKilled(const std::string& commandLine, int killAt, DWORD timeoutMs)
{
    static const auto offsets = callOffsets();
    PROCESS_INFORMATION process = {};
    Watcher* watcher = nullptr;
    Run result = start(commandLine, "", {}, DEBUG_ONLY_THIS_PROCESS, process, watcher);
    std::map<uintptr_t, BYTE> original;  // breakpoints set: address -> the byte it replaced
    uintptr_t stepping = 0;              // a breakpoint lifted while its call runs on
    const DWORD begin = GetTickCount();
    DEBUG_EVENT event;
    while (result.started && !result.finished && GetTickCount() - begin < timeoutMs &&
           WaitForDebugEvent(&event, timeoutMs - (GetTickCount() - begin))) {
        DWORD status = DBG_CONTINUE;
        if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
            char path[MAX_PATH] = {};
            GetFinalPathNameByHandleA(event.u.LoadDll.hFile, path, MAX_PATH, 0);
            CloseHandle(event.u.LoadDll.hFile);
            const uintptr_t base = reinterpret_cast<uintptr_t>(event.u.LoadDll.lpBaseOfDll);
            for (const auto& offset : offsets)
                if (offset.first == lowerBaseName(path))
                    poke(process.hProcess, base + offset.second, 0xCC, &original[base + offset.second]);
        } else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            CloseHandle(event.u.CreateProcessInfo.hFile);
        } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            result.finished = true;
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            const uintptr_t at = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
            if (record.ExceptionCode == EXCEPTION_BREAKPOINT && original.count(at)) {
                if (++result.calls == killAt) {
                    TerminateProcess(process.hProcess, 99);
                } else {
                    // Let the call run: its first byte back, one step, then the breakpoint again.
                    poke(process.hProcess, at, original[at], nullptr);
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
            } else if (record.ExceptionCode == EXCEPTION_SINGLE_STEP && stepping) {
                poke(process.hProcess, stepping, 0xCC, nullptr);
                stepping = 0;
            } else if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    if (result.started && !result.finished) {
        TerminateProcess(process.hProcess, 255);
        result.finished = false;
    }
    finish(result, process, watcher);
    return result;
}

namespace {

// Programs a start of Windows runs for the update, and what they start.
bool startProgramsRunning()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !running; more = Process32Next(snapshot, &entry)) {
        const std::string name = lowerBaseName(entry.szExeFile);
        running = name == "trevix.exe" || name == "regsvr32.exe" || name == "cmd.exe";
    }
    CloseHandle(snapshot);
    return running;
}

} // namespace

Run restart(const std::vector<Answer>& answers)
{
    return runThen("wineboot.exe -r", "", answers, 120000, [] { return !startProgramsRunning(); });
}

} // namespace kit
