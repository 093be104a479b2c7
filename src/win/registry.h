#pragma once
// The registry: keys opened, values read and written, each call's own error
// code (ERROR_SUCCESS when it worked) handed back for the run's outcome.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "win/unique.h"

namespace win {

// How the log names a key of HKEY_LOCAL_MACHINE, or a value of it:
// "HKLM\\path" or "HKLM\\path\\value".
std::string machineName(const std::string& path, const std::string& value = std::string());

// Opens (or, with create, creates) path below root with access.
LONG openKey(HKEY root, const char* path, REGSAM access, Key& key, bool create = false);
bool keyExists(HKEY root, const char* path);
LONG deleteKey(HKEY root, const char* path);

// A value's bytes, at most limit of them (a longer value fails with
// ERROR_MORE_DATA); data and type change only on success.
LONG readValue(HKEY root, const char* path, const char* name, DWORD limit, std::string& data, DWORD* type = nullptr);
bool valueExists(HKEY key, const char* name);
// The values of a key as texts, read whole whatever their length: name and
// the text up to its first NUL.
LONG readTexts(HKEY root, const char* path, std::vector<std::pair<std::string, std::string>>& values);

// A REG_SZ value of text, or a REG_DWORD value; writeText creates the key.
LONG setText(HKEY key, const char* name, const std::string& text);
LONG setNumber(HKEY key, const char* name, DWORD value);
LONG writeText(HKEY root, const char* path, const char* name, const std::string& text);
LONG deleteValue(HKEY root, const char* path, const char* name);

} // namespace win
