#pragma once
// Storing a rebuilt cabinet in its merge module together with the File rows
// that describe it.
#include <windows.h>

#include <string>
#include <vector>

namespace mergemod {

// A replaced file's new row values.
struct FileRowUpdate {
    std::string key;
    DWORD size;
    std::string version;
};

// Stores the file cabinetPath as the module's stream streamName together with
// the rows' FileSize and Version, in a working copy that replaces the module
// once it reads back that cabinet. 1 when the module was replaced; otherwise
// it stays byte for byte as it was.
int storeCabinet(const std::string& modulePath, const std::string& streamName, const std::string& cabinetPath,
                 const std::vector<FileRowUpdate>& rows);

// The working copy of a module while it is stored; a leftover of a killed
// run is of no use.
std::string workingCopyOf(const std::string& modulePath);

} // namespace mergemod
