#pragma once
// The work on one merge module: its cabinet stream out to a working file,
// unpacked, files replaced, repacked in Sequence order and stored back; and
// one value of its Registry table.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "mergemod/cabinet.h"
#include "mergemod/stream_store.h"
#include "session/product_facts.h"

namespace mergemod {

// How much unpacked data a patch holds in memory; a larger cabinet is
// unpacked into the unpacking folder instead.
const unsigned long long heldBytesBound = 256ULL * 1024 * 1024;

class MergeModuleJob {
public:
    // The cabinet's one name: the module's stream, the working file beside
    // the module, and the cabinet's own name inside it.
    static constexpr const char* cabinetName = facts::moduleCabinetStream;

    // Also clears what a killed store of this module left behind.
    MergeModuleJob(const std::string& moduleFileName, const std::string& moduleDir, const std::string& extractDir,
                   unsigned long long memoryBound = heldBytesBound);
    MergeModuleJob(const MergeModuleJob&) = delete;
    MergeModuleJob& operator=(const MergeModuleJob&) = delete;

    // Copies the stream "MergeModule.CABinet" into cabinetPath. 1 when whole.
    int extractCabinetStream();
    // Empties extractDir and unpacks the working cabinet into memory, or into
    // extractDir when its entries pass the memory bound. 0 only when the
    // decompressor cannot be created.
    int unpackCabinet();
    // Puts newFilesDir\longFileName in place of the unpacked file whose File
    // row has that long name; the new file is packed from where it lies, and
    // its size and version go to the row when the cabinet is stored. 0 when skipped.
    int replaceModuleFile(const std::string& newFilesDir, const std::string& longFileName);
    // Packs every File key in Sequence order into a new cabinetPath, checks
    // it, and lets go of the unpacked entries. 1 when a complete new cabinet is ready.
    int rebuildCabinet();
    // Stores the new cabinet and the replaced files' rows in the module, then
    // removes the working files. Without a new cabinet the module stays as it was.
    int storeCabinetStream();
    // Sets Value of the first Registry row with this Name, Root and Key. 1 once
    // committed; 0 with the error in GetLastError (ERROR_NOT_FOUND without such a row).
    int setRegistryValue(HKEY root, const std::string& keyPath, const std::string& valueName, const std::string& value);

    // Whether the module's File table names a file of that long name.
    bool hasFile(const std::string& longFileName)
    {
        std::string key;
        return findFileKey(longFileName, key) != 0;
    }
    // Whether the whole cabinet was unpacked: only then are files replaced.
    bool unpacked() const { return unpacked_; }
    // Whether its entries are held in memory rather than in extractDir.
    bool heldInMemory() const { return inMemory_; }

private:
    struct FileRow {
        std::string key;
        std::string fileName;
    };

    int findFileKey(const std::string& longFileName, std::string& key);
    int addFilesInSequence(CabinetBuilder& builder, std::vector<std::string>& keys);

    std::string extractDir_;
    std::string moduleDir_;
    std::string modulePath_;
    std::string cabinetPath_;

    unsigned long long memoryBound_;

    bool streamCopied_ = false;
    bool unpacked_ = false;
    bool inMemory_ = false;
    HeldEntries held_;
    // The new files by their File keys in upper case.
    std::map<std::string, std::string> replacements_;
    unsigned spread_ = 0;
    bool rebuilt_ = false;
    bool fileRowsRead_ = false;
    std::vector<FileRow> fileRows_;
    std::vector<FileRowUpdate> newRows_;
};

} // namespace mergemod
