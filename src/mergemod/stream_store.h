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

// Stores the file cabinetPath as the module's stream streamName and the rows'
// FileSize and Version. 1 when the module then reads back that cabinet.
int storeCabinet(const std::string& modulePath, const std::string& streamName,
                 const std::string& cabinetPath, const std::vector<FileRowUpdate>& rows);

// Writes the file sourcePath as a module's stream through the module's
// structured storage, in one transacted commit.
int writeStreamThroughStorage(const std::string& modulePath, const std::string& streamName,
                              const std::string& sourcePath);

} // namespace mergemod
