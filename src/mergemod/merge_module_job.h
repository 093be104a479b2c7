#pragma once
// The work on one merge module: its cabinet stream out to a working file,
// unpacked, files replaced, repacked in Sequence order and stored back; and
// one value of its Registry table.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace mergemod {

class MergeModuleJob {
public:
    MergeModuleJob(const std::string& moduleFileName, const std::string& moduleDir,
                   const std::string& extractDir);
    MergeModuleJob(const MergeModuleJob&) = delete;
    MergeModuleJob& operator=(const MergeModuleJob&) = delete;

    // Copies the stream "MergeModule.CABinet" into cabinetPath. 1 when whole.
    int extractCabinetStream();
    // Empties extractDir and unpacks the working cabinet into it. 0 only when
    // the decompressor cannot be created.
    int unpackCabinet();
    // Puts newFilesDir\longFileName in place of the unpacked file whose File
    // row has that long name; its size and version go to the row when the
    // cabinet is stored. 0 when skipped.
    int replaceModuleFile(const std::string& newFilesDir, const std::string& longFileName);
    // Packs every File key in Sequence order into a new cabinetPath, checks
    // it, and empties extractDir. 1 when a complete new cabinet is ready.
    int rebuildCabinet();
    // Stores the new cabinet and the replaced files' rows in the module, then
    // removes the working files. Without a new cabinet the module stays as it was.
    int storeCabinetStream();
    // Sets Value of the first Registry row with this Name, Root and Key.
    int setRegistryValue(HKEY root, const std::string& keyPath, const std::string& valueName,
                         const std::string& value);

    const std::string& modulePath() const { return modulePath_; }
    const std::string& cabinetPath() const { return cabinetPath_; }
    const std::string& extractDir() const { return extractDir_; }

private:
    struct FileRow {
        std::string key;
        std::string fileName;
    };
    struct NewRow {
        std::string key;
        DWORD size;
        std::string version;
    };

    int findFileKey(const std::string& longFileName, std::string& key);
    int addFilesInSequence(class CabinetBuilder& builder, std::vector<std::string>& keys);
    int updateFileRows(unsigned long database);
    int emptyExtractDir();

    std::string extractDir_;
    std::string moduleDir_;
    std::string modulePath_;
    std::string cabinetPath_;

    bool streamCopied_ = false;
    bool unpacked_ = false;
    bool rebuilt_ = false;
    bool fileRowsRead_ = false;
    std::vector<FileRow> fileRows_;
    std::vector<NewRow> newRows_;
};

// The module's File rows as (File, FileName), in the order the view yields them.
int readFileNames(const std::string& modulePath, std::vector<std::pair<std::string, std::string>>& rows);

// The file's FileVersion text normalised for the File table; 0 and an empty
// text when it has no version resource, translation or FileVersion, or when
// the text does not fit 128 bytes.
int readFileVersionText(const std::string& path, std::string& version);

// Reads the named stream of a module whole. 0 when it is not there.
int readModuleStream(const std::string& modulePath, const std::string& streamName,
                     std::string& data);

// Writes file's content as a module's stream through the module's structured
// storage, in one transacted commit.
int writeStreamThroughStorage(const std::string& modulePath, const std::string& streamName,
                              const std::string& sourcePath);

} // namespace mergemod
