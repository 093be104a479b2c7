#pragma once
// The version a File row records for a file.
#include <string>

namespace mergemod {

// The file's FileVersion text normalised for the File table; 0 and an empty
// text when it has no version resource, translation or FileVersion, or when
// the text does not fit 128 bytes.
int readFileVersionText(const std::string& path, std::string& version);

} // namespace mergemod
