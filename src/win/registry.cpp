#include "win/registry.h"

#include "win/text.h"

namespace win {

std::string machineName(const std::string& path, const std::string& value)
{
    return "HKLM\\" + path + (value.empty() ? "" : "\\" + value);
}

LONG openKey(HKEY root, const char* path, REGSAM access, Key& key, bool create)
{
    return create
               ? RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key.put(), nullptr)
               : RegOpenKeyExA(root, path, 0, access, key.put());
}

bool keyExists(HKEY root, const char* path)
{
    Key key;
    return openKey(root, path, KEY_READ, key) == ERROR_SUCCESS;
}

LONG deleteKey(HKEY root, const char* path) { return RegDeleteKeyA(root, path); }

LONG readValue(HKEY root, const char* path, const char* name, DWORD limit, std::string& data, DWORD* type)
{
    Key key;
    LONG result = openKey(root, path, KEY_READ, key);
    if (result != ERROR_SUCCESS) return result;
    std::string buffer(limit, '\0');
    DWORD size = limit, kind = REG_NONE;
    result = RegQueryValueExA(key.get(), name, nullptr, &kind, reinterpret_cast<BYTE*>(&buffer[0]), &size);
    if (result != ERROR_SUCCESS) return result;
    buffer.resize(size);
    data = std::move(buffer);
    if (type) *type = kind;
    return ERROR_SUCCESS;
}

bool valueExists(HKEY key, const char* name)
{
    return RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

LONG readTexts(HKEY root, const char* path, std::vector<std::pair<std::string, std::string>>& values)
{
    Key key;
    LONG result = openKey(root, path, KEY_READ, key);
    if (result != ERROR_SUCCESS) return result;
    // Buffers as large as the longest name and data.
    DWORD count = 0, nameLength = 0, dataLength = 0;
    result = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &nameLength,
                              &dataLength, nullptr, nullptr);
    if (result != ERROR_SUCCESS) return result;
    for (DWORD index = 0; index < count; ++index) {
        std::string name(nameLength + 1, '\0'), data(dataLength + 1, '\0');
        DWORD nameSize = nameLength + 1, dataSize = dataLength;
        if (RegEnumValueA(key.get(), index, &name[0], &nameSize, nullptr, nullptr, reinterpret_cast<BYTE*>(&data[0]),
                          &dataSize) == ERROR_SUCCESS)
            values.emplace_back(name.substr(0, nameSize), boundedText(data.data(), dataSize));
    }
    return ERROR_SUCCESS;
}

LONG setText(HKEY key, const char* name, const std::string& text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

LONG setNumber(HKEY key, const char* name, DWORD value)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG writeText(HKEY root, const char* path, const char* name, const std::string& text)
{
    Key key;
    const LONG result = openKey(root, path, KEY_SET_VALUE, key, true);
    return result == ERROR_SUCCESS ? setText(key.get(), name, text) : result;
}

LONG deleteValue(HKEY root, const char* path, const char* name)
{
    Key key;
    const LONG result = openKey(root, path, KEY_SET_VALUE, key);
    return result == ERROR_SUCCESS ? RegDeleteValueA(key.get(), name) : result;
}

} // namespace win
