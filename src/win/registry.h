#pragma once
// The registry: keys opened and values written, each call's own error code
// (ERROR_SUCCESS when it worked) handed back for the run's outcome.
#include <windows.h>

#include <string>

#include "win/unique.h"

namespace win {

// Opens (or, with create, creates) path below root with access.
LONG openKey(HKEY root, const char* path, REGSAM access, Key& key, bool create = false);

// A REG_SZ value of text, or a REG_DWORD value.
LONG setText(HKEY key, const char* name, const std::string& text);
LONG setNumber(HKEY key, const char* name, DWORD value);

} // namespace win
