#pragma once
// The test kit: what whole-program tests need under Wine, and nothing of the
// shipped code (a test must not check the code against itself).
#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace kit {

inline std::string binDir() // where the built programs are
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, std::strrchr(path, '\\'));
}

inline std::string join(const std::string& folder, const std::string& name)
{
    return folder.empty() || folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

inline bool writeFile(const std::string& path, const std::string& content)
{
    // A prefix shares Wine's own files with its template by hard links: a
    // file written in place would change it for every prefix made later.
    DeleteFileA(path.c_str());
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

inline bool readFile(const std::string& path, std::string& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[65536];
    DWORD got = 0;
    for (content.clear(); ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0;) content.append(buffer, got);
    CloseHandle(file);
    return file != INVALID_HANDLE_VALUE;
}

// The last part of the path may hold wildcards.
inline bool exists(const std::string& path)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(path.c_str(), &data);
    FindClose(search);
    return search != INVALID_HANDLE_VALUE || GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::vector<std::string> listDir(const std::string& path) // sorted, without "." and ".."
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

inline void removeTree(const std::string& path)
{
    for (const std::string& name : listDir(path)) removeTree(join(path, name));
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
}

// The root of a key given as "HKLM\...", and the path below it.
inline HKEY rootOf(const std::string& key, std::string& path)
{
    const size_t slash = key.find('\\');
    path = slash == std::string::npos ? "" : key.substr(slash + 1);
    const std::string root = key.substr(0, slash);
    return root == "HKLM" ? HKEY_LOCAL_MACHINE : root == "HKCU" ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
}

inline HKEY openKey(const std::string& key, REGSAM access, bool create = false)
{
    std::string path;
    HKEY root = rootOf(key, path), handle;
    const LONG rc =
        create ? RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, access, nullptr, &handle, nullptr) : RegOpenKeyExA(root, path.c_str(), 0, access, &handle);
    return rc == ERROR_SUCCESS ? handle : nullptr;
}

// Keys written as "HKLM\Software\...", "" the default value; REG_NONE
// creates the key alone.
inline bool setValue(const std::string& key, const std::string& name, DWORD type, const std::string& data)
{
    HKEY handle = openKey(key, KEY_SET_VALUE, true);
    const bool ok = handle && (type == REG_NONE ||
                               !RegSetValueExA(handle, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size())));
    RegCloseKey(handle);
    return ok;
}

inline bool readValue(const std::string& key, const std::string& name, std::string& data)
{
    HKEY handle = openKey(key, KEY_READ);
    DWORD size = 0;
    bool ok = handle && !RegQueryValueExA(handle, name.c_str(), nullptr, nullptr, nullptr, &size);
    data.assign(size, '\0');
    ok = ok && (!size || !RegQueryValueExA(handle, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&data[0]), &size));
    RegCloseKey(handle);
    return ok;
}

inline bool keyExists(const std::string& key)
{
    HKEY handle = openKey(key, KEY_READ);
    RegCloseKey(handle);
    return handle != nullptr;
}

// The key, or one value of it.
inline void deleteKey(const std::string& key, const char* value = nullptr)
{
    HKEY handle = openKey(key, KEY_ALL_ACCESS);
    std::vector<std::string> children;
    char name[512];
    for (DWORD size = sizeof name; !value && !RegEnumKeyExA(handle, static_cast<DWORD>(children.size()), name, &size, nullptr, nullptr, nullptr, nullptr);
         size = sizeof name)
        children.push_back(name);
    if (value) RegDeleteValueA(handle, value);
    RegCloseKey(handle);
    for (const std::string& child : children) deleteKey(key + "\\" + child);
    std::string path;
    HKEY root = rootOf(key, path);
    if (!value) RegDeleteKeyA(root, path.c_str());
}

// The settings file's format, written down apart from the product: four XOR
// streams of these keys, each byte's high bit set, and four markers.
inline void scramble(std::string& image)
{
    for (const char* key : {"KoRiBlAnNaLbIrOk$", "DuNeWiSpEr*", "HeRoNrY-RaVe-CyClOnE-NoVaLiS-", "KWR"})
        for (size_t i = 0; i < image.size(); ++i) image[i] ^= key[i % std::strlen(key)] | 0x80;
}

inline const std::pair<size_t, const char*> markers[] = {{4, "KoRa"}, {68, "BlAn"}, {104, "NaLb"}, {8188, "IrOk"}};

// A genuine product settings file, scrambled with the format's literal keys,
// and the version of one (its first 8192 bytes, as the product reads it).
inline std::string settingsFile(unsigned major, unsigned minor, unsigned long options, unsigned long components)
{
    std::string image(8192, '\0');
    const std::pair<size_t, unsigned long> fields[] = {{0, 8192}, {8, major}, {10, minor}, {72, 8}};
    for (const auto& field : fields) image.replace(field.first, 2, {char(field.second), char(field.second >> 8)});
    for (size_t i = 0; i < 4; ++i) image[16 + i] = char(options >> 8 * i), image[20 + i] = char(components >> 8 * i);
    for (const auto& marker : markers) image.replace(marker.first, 4, marker.second);
    scramble(image);
    return image;
}

inline bool settingsVersion(const std::string& file, unsigned& major, unsigned& minor)
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

// A file's access list as text (D:...), or "none" when it cannot be read.
inline std::string accessList(const std::string& path)
{
    std::vector<char> descriptor(4096);
    DWORD size = 0;
    char* text = nullptr;
    if (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), static_cast<DWORD>(descriptor.size()), &size) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return "none";
    const std::string list = text;
    LocalFree(text);
    return list;
}

inline bool setAccessList(const std::string& path, const std::string& list)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(list.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) return false;
    const bool set = SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return set;
}

} // namespace kit
