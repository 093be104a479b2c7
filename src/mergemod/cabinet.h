#pragma once
// Cabinet adapters: the callbacks and the parameter block with which the
// platform's cabinet API (FCI, FDI) packs and unpacks single-folder cabinets.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "mergemod/system_api.h"

namespace mergemod {

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

// A file as the callbacks of both libraries hand it around: one the C runtime
// opened, or bytes in memory read and written at a position.
struct CabinetFile {
    int fd = -1;
    std::string* bytes = nullptr;
    size_t position = 0;
    // FDI's own opens are freed when FDI closes them; the file an unpacking
    // writes belongs to its context, which closes it if FDI does not.
    bool freedOnClose = false;

    CabinetFile() = default;
    CabinetFile(const CabinetFile&) = delete;
    CabinetFile& operator=(const CabinetFile&) = delete;
    ~CabinetFile() { close(); }
    // The C runtime's result, or 0 for bytes in memory.
    int close();
};

// An entry unpacked into memory, with the time and attributes the cabinet gave it.
struct HeldEntry {
    std::string data;
    USHORT date = 0;
    USHORT time = 0;
    USHORT attributes = 0;
};
// Entries by their names in upper case, as the file system would find them.
using HeldEntries = std::unordered_map<std::string, HeldEntry>;

// What fdiNotify is given through FDICopy: the target folder, over how many
// of its sub-folders the entries go (0: into the folder itself), and the names
// it extracted (cabinet entries that are not plain names are skipped). With
// held, the entries go there instead, while their sizes stay within bound.
struct ExtractionContext {
    std::string targetDir;
    unsigned spread = 0;
    std::vector<std::string> extracted;
    unsigned long long unpacked = 0;
    HeldEntries* held = nullptr;
    unsigned long long bound = 0;
    bool overBound = false;
    // The entry being written, and where it goes in memory.
    CabinetFile output;
    HeldEntry* holding = nullptr;
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

// Unpacks cabinetFolder (ending in "\\") + name into held under the same rules
// as extractWholeCabinet, as long as the entries' sizes together stay within
// bound. 1 only when the whole cabinet is held; otherwise held is empty, and
// overBound says whether memory alone stopped it: the bound, or an entry's
// size that could not be had.
int holdWholeCabinet(const std::string& cabinetFolder, const std::string& name, unsigned long long bound,
                     HeldEntries& held, bool& overBound);

// The names a cabinet file holds, in order, without extracting anything.
int listCabinet(const std::string& cabinetPath, std::vector<std::string>& names);

// What the FCI callbacks share through their pv: the cabinet's folder, where
// the temporary files go, the names handed out for them, and the files FCI
// holds open, so that a build that fails half-way leaves nothing behind; and
// the entry in memory that the file being added is read from, if any.
struct BuildFiles {
    std::string folder;
    std::vector<std::string> temporaries;
    std::vector<std::unique_ptr<CabinetFile>> open;
    unsigned nextName = 0;
    HeldEntry* source = nullptr;
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
    // The same for an entry held in memory, with its own time and attributes.
    int addHeld(HeldEntry& entry, const std::string& nameInCabinet);
    // FCIFlushCabinet: writes the cabinet file.
    int flush();

private:
    ERF error_ = {};
    CCAB block_ = {};
    BuildFiles files_;
    FciContext fci_;
};

} // namespace mergemod
