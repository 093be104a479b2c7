#include "mergemod/merge_module_job.h"

#include "mergemod/cabinet.h"
#include "mergemod/file_version.h"
#include "mergemod/module_database.h"
#include "mergemod/names.h"
#include "win/files.h"
#include "win/paths.h"
#include "win/text.h"

namespace mergemod {

namespace {

const DWORD streamChunk = 1024;

// Empties the unpacking folder: its files, and the sub-folders a large cabinet
// was spread over with theirs. A linked folder is left alone: emptying it
// would delete what lies elsewhere.
void clearUnpacked(const std::string& folder)
{
    std::vector<WIN32_FIND_DATAA> entries;
    if (!win::listFolder(folder, entries)) return;
    for (const WIN32_FIND_DATAA& entry : entries) {
        const std::string path = folder + "\\" + entry.cFileName;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            win::deleteFile(path);
        } else if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            win::emptyFolder(path);
            RemoveDirectoryA(path.c_str());
        }
    }
}

} // namespace

MergeModuleJob::MergeModuleJob(const std::string& moduleFileName, const std::string& moduleDir,
                               const std::string& extractDir, unsigned long long memoryBound)
    : extractDir_(extractDir), moduleDir_(moduleDir), modulePath_(moduleDir + "\\" + moduleFileName),
      cabinetPath_(moduleDir + "\\" + cabinetName), memoryBound_(memoryBound)
{
    // What a killed run may have left of its store.
    win::finishMoveOver(workingCopyOf(modulePath_), modulePath_);
    DeleteFileA(workingCopyOf(modulePath_).c_str());
}

int MergeModuleJob::extractCabinetStream()
{
    streamCopied_ = false;
    win::File out(
        CreateFileA(cabinetPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return 0;
    auto write = [&](const char* chunk, DWORD count) {
        DWORD written = 0;
        return count == 0 || (WriteFile(out.get(), chunk, count, &written, nullptr) && written == count);
    };
    streamCopied_ = readStreamChunks(modulePath_, cabinetName, streamChunk, write) == 1;
    return streamCopied_ ? 1 : 0;
}

int MergeModuleJob::unpackCabinet()
{
    unpacked_ = false;
    rebuilt_ = false;
    inMemory_ = false;
    held_.clear();
    replacements_.clear();
    // Leftovers of an interrupted run must not stand in for missing entries.
    clearUnpacked(extractDir_);
    if (!cabinetApi().complete) return 0;
    bool overBound = false;
    int whole = holdWholeCabinet(moduleDir_ + "\\", cabinetName, memoryBound_, held_, overBound);
    inMemory_ = whole == 1;
    if (overBound) {
        std::vector<std::string> extracted;
        whole = extractWholeCabinet(moduleDir_ + "\\", cabinetName, extractDir_, extracted, spread_);
    }
    // A cabinet that was not extracted whole is never repacked.
    unpacked_ = streamCopied_ && whole;
    return 1;
}

int MergeModuleJob::findFileKey(const std::string& longFileName, std::string& key)
{
    if (!fileRowsRead_) {
        std::vector<std::pair<std::string, std::string>> rows;
        if (!readFileNames(modulePath_, rows)) return 0;
        for (auto& row : rows) fileRows_.push_back(FileRow{row.first, row.second});
        fileRowsRead_ = true;
    }
    for (const FileRow& row : fileRows_) {
        if (win::sameText(longNameOf(row.fileName), longFileName)) {
            key = row.key;
            return 1;
        }
    }
    return 0;
}

int MergeModuleJob::replaceModuleFile(const std::string& newFilesDir, const std::string& longFileName)
{
    if (!win::isPlainFileName(longFileName)) return 0;
    std::string key;
    if (!findFileKey(longFileName, key) || !win::isPlainFileName(key)) return 0;
    if (!unpacked_) return 0;
    const std::string source = newFilesDir + "\\" + longFileName;
    // Refused now rather than when the cabinet is packed, should it not open.
    win::File file(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    const DWORD size = GetFileSize(file.get(), nullptr);
    if (size == INVALID_FILE_SIZE) return 0;
    file.reset();
    const std::string upperKey = win::upperCase(key);
    replacements_[upperKey] = source;
    held_.erase(upperKey);

    FileRowUpdate row{key, size, std::string()};
    readFileVersionText(source, row.version);
    for (FileRowUpdate& pending : newRows_) {
        if (win::sameText(pending.key, key)) {
            pending = row;
            return 1;
        }
    }
    newRows_.push_back(row);
    return 1;
}

int MergeModuleJob::addFilesInSequence(CabinetBuilder& builder, std::vector<std::string>& keys)
{
    std::vector<std::pair<std::string, int>> rows;
    if (!readFileSequence(modulePath_, rows)) return 0;
    // A gap or a repeated number would leave files out of the cabinet.
    keys = keysInSequence(rows);
    if (keys.empty()) return 0;
    for (const std::string& key : keys) {
        if (!win::isPlainFileName(key)) return 0;
        // A new file from where it lies, else the entry as unpacked.
        const std::string upperKey = win::upperCase(key);
        const auto replacement = replacements_.find(upperKey);
        const auto entry = held_.find(upperKey);
        int added = 0;
        if (replacement != replacements_.end())
            added = builder.addFile(replacement->second, key);
        else if (!inMemory_)
            added = builder.addFile(unpackedPath(extractDir_, key, spread_), key);
        else if (entry != held_.end())
            added = builder.addHeld(entry->second, key);
        if (!added) return 0;
    }
    return 1;
}

int MergeModuleJob::rebuildCabinet()
{
    rebuilt_ = false;
    // Nothing in extractDir is of use once this ends: without a new cabinet the
    // module keeps its old one, so the folder is emptied on every path.
    auto letGo = [&] {
        clearUnpacked(extractDir_);
        held_ = HeldEntries();
        replacements_.clear();
    };
    if (!unpacked_ || (!DeleteFileA(cabinetPath_.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)) {
        letGo();
        return 0;
    }
    std::vector<std::string> keys;
    int flushed = 0;
    {
        CabinetBuilder builder;
        if (builder.create(moduleDir_ + "\\", cabinetName) && addFilesInSequence(builder, keys))
            flushed = builder.flush();
    }
    // Only a cabinet that lists every File key in Sequence order may be stored.
    std::vector<std::string> names;
    rebuilt_ = flushed && listCabinet(cabinetPath_, names) && names == keys;
    if (!rebuilt_) DeleteFileA(cabinetPath_.c_str());
    letGo();
    return rebuilt_ ? 1 : 0;
}

int MergeModuleJob::storeCabinetStream()
{
    const int result = rebuilt_ ? storeCabinet(modulePath_, cabinetName, cabinetPath_, newRows_) : 0;
    rebuilt_ = false;
    newRows_.clear();
    DeleteFileA(cabinetPath_.c_str());
    return result;
}

int MergeModuleJob::setRegistryValue(HKEY root, const std::string& keyPath, const std::string& valueName,
                                     const std::string& value)
{
    int tableRoot;
    if (root == HKEY_CLASSES_ROOT)
        tableRoot = 0;
    else if (root == HKEY_CURRENT_USER)
        tableRoot = 1;
    else if (root == HKEY_LOCAL_MACHINE)
        tableRoot = 2;
    else
        return 0;
    const MsiApi& api = msiApi();
    // The first row of that name, root and key: its value set and committed.
    UINT stored = ERROR_NOT_FOUND;
    forEachRow(modulePath_, MSIDBOPEN_TRANSACT, "SELECT `Root`,`Key`,`Name`,`Value` FROM Registry",
               [&](MSIHANDLE database, MSIHANDLE view, MSIHANDLE record) {
                   if (!win::sameText(recordText(record, 3), valueName) || api.getInteger(record, 1) != tableRoot ||
                       !win::sameText(recordText(record, 2), keyPath))
                       return true;
                   stored = api.setString(record, 4, value.c_str());
                   if (stored == ERROR_SUCCESS) stored = api.modify(view, MSIMODIFY_UPDATE, record);
                   if (stored == ERROR_SUCCESS) stored = api.commit(database);
                   return false;
               });
    SetLastError(stored);
    return stored == ERROR_SUCCESS ? 1 : 0;
}

} // namespace mergemod
