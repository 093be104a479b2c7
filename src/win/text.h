#pragma once
#include <windows.h>

#include <string>

namespace win {

// The string-table entry id of this module; empty when it does not exist.
std::string loadText(UINT id);

// Full path of the running program's file; empty when it cannot be obtained.
std::string moduleFileName();

// Everything before the last backslash (multi-byte aware); empty without one.
std::string folderOf(const std::string& path);

// The text up to its first NUL, but never past size bytes.
std::string boundedText(const char* data, size_t size);

// The text in upper case by the system's rules (as file names compare).
std::string upperCase(std::string text);

// Whether two names are the same but for case, by the system's own rule
// (lstrcmpiA): file names, keys, rows, sections.
bool sameText(const std::string& a, const std::string& b);

// ASCII letters in lower case; other bytes stay (a key for lookups that
// must not depend on the code page).
std::string lowerAscii(std::string text);

// A blank or a tab.
bool isBlank(char c);

// Drops every trailing backslash ("C:\TEMP\\" becomes "C:\TEMP").
void stripTrailingBackslashes(std::string& path);

// Plain substring search that respects double-byte characters of the ANSI
// code page, so a trail byte never starts a match.
bool containsText(const std::string& haystack, const std::string& needle);

} // namespace win
