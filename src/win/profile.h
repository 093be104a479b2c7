#pragma once
// Name lists of INI files, read with the profile functions.
#include <string>
#include <vector>

namespace win {

// The names of a profile list in file order: the section names when section
// is null, else the key names of section. Read whole however long the list
// is, so that no name is ever cut.
std::vector<std::string> profileNames(const std::string& path, const char* section);

} // namespace win
