#include "kit/testkit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "product/settings_container.h"

namespace kit {

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty()) return name;
    return folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

std::string binDir()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text = path;
    return text.substr(0, text.find_last_of('\\'));
}

TempDir::TempDir(const std::string& label)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    static LONG counter = 0;
    char name[64];
    std::snprintf(name, sizeof name, "kit-%s-%lu-%ld", label.c_str(), GetCurrentProcessId(),
                  InterlockedIncrement(&counter));
    path_ = joinPath(temp, name);
    removeTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

TempDir::~TempDir() { removeTree(path_); }

void removeTree(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(path.c_str());
        return;
    }
    for (const std::string& name : listDir(path)) removeTree(joinPath(path, name));
    RemoveDirectoryA(path.c_str());
}

bool writeFile(const std::string& path, const std::string& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

bool readFile(const std::string& path, std::string& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    content.clear();
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(file);
    return true;
}

bool fileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool copyFile(const std::string& from, const std::string& to)
{
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

std::vector<std::string> listDir(const std::string& path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(joinPath(path, "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = data.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &data));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

HKEY rootKey(const std::string& name)
{
    if (name == "HKLM") return HKEY_LOCAL_MACHINE;
    if (name == "HKCU") return HKEY_CURRENT_USER;
    if (name == "HKCR") return HKEY_CLASSES_ROOT;
    if (name == "HKU") return HKEY_USERS;
    return nullptr;
}

bool setBytes(HKEY root, const std::string& key, const std::string& value, const void* data,
              DWORD size, DWORD type)
{
    HKEY handle;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(handle, value.empty() ? nullptr : value.c_str(), 0, type,
                             static_cast<const BYTE*>(data), size);
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS;
}

bool setString(HKEY root, const std::string& key, const std::string& value, const std::string& data,
               DWORD type)
{
    return setBytes(root, key, value, data.c_str(), static_cast<DWORD>(data.size() + 1), type);
}

bool setDword(HKEY root, const std::string& key, const std::string& value, DWORD data)
{
    return setBytes(root, key, value, &data, sizeof data, REG_DWORD);
}

bool readString(HKEY root, const std::string& key, const std::string& value, std::string& data)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    char buffer[8192] = {};
    DWORD size = sizeof buffer - 1;
    LONG rc = RegQueryValueExA(handle, value.empty() ? nullptr : value.c_str(), nullptr, nullptr,
                               reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS) return false;
    data.assign(buffer, strnlen(buffer, size));
    return true;
}

bool readDword(HKEY root, const std::string& key, const std::string& value, DWORD& data)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = sizeof data;
    LONG rc = RegQueryValueExA(handle, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS && type == REG_DWORD;
}

bool valueExists(HKEY root, const std::string& key, const std::string& value)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    LONG rc = RegQueryValueExA(handle, value.empty() ? nullptr : value.c_str(), nullptr, nullptr,
                               nullptr, nullptr);
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS;
}

bool keyExists(HKEY root, const std::string& key)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

void deleteTree(HKEY root, const std::string& key)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | KEY_WRITE, &handle) != ERROR_SUCCESS) return;
    std::vector<std::string> children;
    char name[512];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(handle, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.push_back(name);
    }
    RegCloseKey(handle);
    for (const std::string& child : children) deleteTree(root, key + "\\" + child);
    RegDeleteKeyA(root, key.c_str());
}

RegistrySandbox::RegistrySandbox()
{
    char name[96];
    static LONG counter = 0;
    std::snprintf(name, sizeof name, "Software\\TrevixTests\\%lu-%ld", GetCurrentProcessId(),
                  InterlockedIncrement(&counter));
    base_ = name;
    // Both scratch keys are opened before either root is redirected.
    RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + "\\HKLM").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &machine_, nullptr);
    RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + "\\HKCU").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &user_, nullptr);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_);
    RegOverridePredefKey(HKEY_CURRENT_USER, user_);
}

RegistrySandbox::~RegistrySandbox()
{
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(machine_);
    RegCloseKey(user_);
    deleteTree(HKEY_CURRENT_USER, base_);
}

FileHolder::FileHolder(const std::string& path)
    : handle_(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr))
{
}

FileHolder::~FileHolder()
{
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

const std::vector<std::string>& families()
{
    static const std::vector<std::string> names = {"win98", "nt40", "nt351", "win2k",
                                                   "winxp", "win2003", "win7"};
    return names;
}

unsigned long expectedFamily(const std::string& v)
{
    if (v == "win98" || v == "win95" || v == "winme") return 1;
    if (v == "nt40") return 2;
    if (v == "nt351") return 3;
    if (v == "win2k" || v == "win2003") return 4;
    if (v == "winxp") return 5;
    return 0;
}

void setFamily(const std::string& exeName, const std::string& wineVersion)
{
    const std::string key = "Software\\Wine\\AppDefaults\\" + exeName;
    if (wineVersion.empty())
        deleteTree(HKEY_CURRENT_USER, key);
    else
        setString(HKEY_CURRENT_USER, key, "Version", wineVersion);
}

RunResult runProgram(const std::string& commandLine, const std::string& directory,
                     const std::vector<Answer>& answers, DWORD timeoutMs,
                     std::function<void(const Dialog&)> onSeen)
{
    RunResult result;
    DialogWatcher watcher(answers);
    if (onSeen) watcher.onSeen(std::move(onSeen));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &process))
        return result;
    result.started = true;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        result.finished = true;
        GetExitCodeProcess(process.hProcess, &result.exitCode);
    } else {
        TerminateProcess(process.hProcess, 255);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // Dialogs of programs it started may still be closing.
    Sleep(100);
    watcher.stop();
    result.dialogs = watcher.dialogs();
    return result;
}

bool restartMachine(DWORD timeoutMs)
{
    RunResult r = runProgram("wineboot.exe -r", "", {}, timeoutMs);
    return r.started && r.finished;
}

std::string settingsFile(unsigned short major, unsigned short minor, unsigned long options,
                         unsigned long components)
{
    std::string image(SettingsContainer::imageSize, '\0');
    auto put = [&](size_t offset, unsigned long value, int bytes) {
        for (int i = 0; i < bytes; ++i) image[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    put(0, 8192, 2);
    put(8, major, 2);
    put(10, minor, 2);
    put(16, options, 4);
    put(20, components, 4);
    put(72, 8, 2);
    std::memcpy(&image[4], "KoRa", 4);
    std::memcpy(&image[68], "BlAn", 4);
    std::memcpy(&image[104], "NaLb", 4);
    std::memcpy(&image[8188], "IrOk", 4);
    SettingsContainer::scramble(reinterpret_cast<unsigned char*>(&image[0]));
    return image;
}

ProductFixture::ProductFixture(const std::string& dir, bool installed) : installDir(dir)
{
    CreateDirectoryA(dir.c_str(), nullptr);
    const char* key = "Software\\Veltrane\\Corvindale\\CurrentVersion\\System";
    setString(HKEY_LOCAL_MACHINE, key, "InstallDir", dir);
    if (installed) setString(HKEY_LOCAL_MACHINE, key, "Installed", "1");
}

ProductFixture::~ProductFixture()
{
    deleteTree(HKEY_LOCAL_MACHINE, "Software\\Veltrane");
    removeTree(installDir);
}

} // namespace kit
