#pragma once
// Cabinet adapters: the callbacks and the parameter block with which the
// platform's cabinet API (FCI, FDI) packs and unpacks single-folder cabinets.
#include <string>
#include <vector>

#include "mergemod/system_api.h"

namespace mergemod {

// The one cabinet name of the merge-module work: working file, stream and szCab.
extern const char* const cabinetName;

// Callbacks, declared with the API's own macros for its calling convention.
FNFCIALLOC(cabAlloc);
FNFCIFREE(cabFree);
FNFCIOPEN(fciOpen);
FNFCIREAD(fciRead);
FNFCIWRITE(fciWrite);
FNFCICLOSE(fciClose);
FNFCISEEK(fciSeek);
FNFCIDELETE(fciDelete);
FNFCIGETTEMPFILE(fciGetTempFile);
FNFCIGETNEXTCABINET(fciGetNextCabinet);
FNFCIGETOPENINFO(fciGetOpenInfo);
FNFCIFILEPLACED(fciFilePlaced);
FNFCISTATUS(fciStatus);
FNOPEN(fdiOpen);
FNREAD(fdiRead);
FNWRITE(fdiWrite);
FNCLOSE(fdiClose);
FNSEEK(fdiSeek);
FNFDINOTIFY(fdiNotify);
FNFDIDECRYPT(fdiDecrypt);

// What fdiNotify is given through FDICopy: the target folder, over how many
// of its sub-folders the entries go (0: into the folder itself), and the names
// it extracted (cabinet entries that are not plain names are skipped).
struct ExtractionContext {
    std::string targetDir;
    unsigned spread = 0;
    std::vector<std::string> extracted;
    unsigned long long unpacked = 0;
};

// Where an unpacked entry lies: in targetDir, or with a spread, in the
// sub-folder of targetDir that its name picks, whatever its case.
std::string unpackedPath(const std::string& targetDir, const std::string& name, unsigned spread);

// Clears the block, then sets the values of a single-cabinet, single-folder
// build. 0 when folder (ending in "\\") or name does not fit the block.
int setCabinetParameters(CCAB& block, const std::string& cabinetFolder, const std::string& name);

// Unpacks cabinetFolder (ending in "\\") + name into targetDir; 1 only when
// the whole cabinet was extracted. The names extracted, in cabinet order, go
// to extracted; a cabinet of many entries is spread over sub-folders, and
// unpackedPath with spread tells where each lies. Only a cabinet whose header
// declares one cabinet of one folder, with no reserve and no neighbours, is
// unpacked; an unpacking that would pass 3,000,000,000 bytes is abandoned.
int extractWholeCabinet(const std::string& cabinetFolder, const std::string& name, const std::string& targetDir,
                        std::vector<std::string>& extracted, unsigned& spread);

// The names a cabinet file holds, in order, without extracting anything.
int listCabinet(const std::string& cabinetPath, std::vector<std::string>& names);

// What the FCI callbacks share through their pv: the cabinet's folder, where
// the temporary files go, the names handed out for them, and the files FCI
// holds open, so that a build that fails half-way leaves nothing behind.
struct BuildFiles {
    std::string folder;
    std::vector<std::string> temporaries;
    std::vector<int> open;
    unsigned nextName = 0;
};

// One FCI builder writing one cabinet. Not movable: FCI keeps the addresses
// of the error record, the parameter block and the files' record.
class CabinetBuilder {
public:
    CabinetBuilder() = default;
    CabinetBuilder(const CabinetBuilder&) = delete;
    CabinetBuilder& operator=(const CabinetBuilder&) = delete;
    // Ends FCI, then closes and removes whatever files it left.
    ~CabinetBuilder();

    // FCICreate for cabinetFolder (ending in "\\") + name; FCI's temporary
    // files go to cabinetFolder too, under names not in use.
    int create(const std::string& cabinetFolder, const std::string& name);
    // FCIAddFile, MSZIP, the name in the cabinet stored unchanged.
    int addFile(const std::string& sourcePath, const std::string& nameInCabinet);
    // FCIFlushCabinet: writes the cabinet file.
    int flush();

private:
    ERF error_ = {};
    CCAB block_ = {};
    BuildFiles files_;
    FciContext fci_;
};

} // namespace mergemod
