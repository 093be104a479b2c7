#include "win/registry.h"

namespace win {

LONG openKey(HKEY root, const char* path, REGSAM access, Key& key, bool create)
{
    return create ? RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key.put(), nullptr)
                  : RegOpenKeyExA(root, path, 0, access, key.put());
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

} // namespace win
