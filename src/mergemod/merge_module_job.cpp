#include "mergemod/merge_module_job.h"

#include <stdio.h>
#include <string.h>

#include "mergemod/cabinet.h"
#include "mergemod/names.h"
#include "mergemod/system_api.h"

namespace mergemod {

namespace {

const DWORD streamChunk = 1024;
const size_t versionCapacity = 128;

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Opens a module that is there; msi.dll must not create one.
bool openModule(const std::string& path, LPCSTR mode, MsiHandle& database)
{
    const MsiApi& api = msiApi();
    return api.complete && exists(path) &&
           api.openDatabase(path.c_str(), mode, database.put()) == ERROR_SUCCESS;
}

bool openView(MSIHANDLE database, const char* query, MsiView& view)
{
    const MsiApi& api = msiApi();
    return api.openView(database, query, view.put()) == ERROR_SUCCESS &&
           api.execute(view.get(), 0) == ERROR_SUCCESS;
}

// A text field of any length.
std::string recordText(MSIHANDLE record, UINT field)
{
    const MsiApi& api = msiApi();
    char small[261];
    DWORD size = sizeof small;
    UINT result = api.getString(record, field, small, &size);
    if (result == ERROR_SUCCESS) return std::string(small, size);
    if (result != ERROR_MORE_DATA) return std::string();
    std::string text(size + 1, '\0');
    DWORD capacity = size + 1;
    if (api.getString(record, field, &text[0], &capacity) != ERROR_SUCCESS) return std::string();
    text.resize(capacity);
    return text;
}

bool sameName(const std::string& a, const std::string& b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// Fetches rows of a _Streams view until the named one.
bool fetchStream(MSIHANDLE view, const std::string& name, MsiHandle& record)
{
    const MsiApi& api = msiApi();
    while (api.fetch(view, record.put()) == ERROR_SUCCESS) {
        if (recordText(record.get(), 1) == name) return true;
    }
    return false;
}

// Reads the named stream of a module in chunks of up to chunkSize bytes and
// hands each to take (which answers false to stop); the copy ends after the
// first short read. 1 when the whole stream went through.
template <typename Take>
int readStreamChunks(const std::string& modulePath, const std::string& streamName, DWORD chunkSize,
                     Take take)
{
    const MsiApi& api = msiApi();
    MsiCloseAll closeAll;
    MsiHandle database;
    if (!openModule(modulePath, MSIDBOPEN_READONLY, database)) return 0;
    MsiView view;
    if (!openView(database.get(), "SELECT `Name`, `Data` FROM _Streams", view)) return 0;
    // By its name: a module may hold other streams before the cabinet.
    MsiHandle record;
    if (!fetchStream(view.get(), streamName, record)) return 0;
    std::string chunk(chunkSize, '\0');
    for (;;) {
        DWORD count = chunkSize;
        if (api.readStream(record.get(), 2, &chunk[0], &count) != ERROR_SUCCESS) return 0;
        if (!take(chunk.data(), count)) return 0;
        if (count < chunkSize) return 1;
    }
}

bool readWholeFile(const std::string& path, std::string& data)
{
    win::File file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD size = GetFileSize(file.get(), nullptr);
    if (size == INVALID_FILE_SIZE) return false;
    data.assign(size, '\0');
    DWORD read = 0;
    return size == 0 || (ReadFile(file.get(), &data[0], size, &read, nullptr) && read == size);
}

DWORD fileSizeOf(const std::string& path)
{
    win::File file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    DWORD size = GetFileSize(file.get(), nullptr);
    return size == INVALID_FILE_SIZE ? 0 : size;
}

void clearReadOnly(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

} // namespace

MergeModuleJob::MergeModuleJob(const std::string& moduleFileName, const std::string& moduleDir,
                               const std::string& extractDir)
    : extractDir_(extractDir),
      moduleDir_(moduleDir),
      modulePath_(moduleDir + "\\" + moduleFileName),
      cabinetPath_(moduleDir + "\\" + cabinetName)
{
}

int MergeModuleJob::extractCabinetStream()
{
    streamCopied_ = false;
    win::File out(CreateFileA(cabinetPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
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
    // Leftovers of an interrupted run must not stand in for missing entries.
    emptyExtractDir();
    if (!cabinetApi().complete) return 0;
    std::vector<std::string> extracted;
    int whole = extractWholeCabinet(moduleDir_ + "\\", cabinetName, extractDir_, extracted);
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
        if (sameName(longNameOf(row.fileName), longFileName)) {
            key = row.key;
            return 1;
        }
    }
    return 0;
}

int MergeModuleJob::replaceModuleFile(const std::string& newFilesDir,
                                      const std::string& longFileName)
{
    if (!isPlainName(longFileName)) return 0;
    std::string key;
    if (!findFileKey(longFileName, key) || !isPlainName(key)) return 0;
    if (!unpacked_) return 0;
    std::string target = extractDir_ + "\\" + key;
    std::string source = newFilesDir + "\\" + longFileName;
    clearReadOnly(target);
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) return 0;

    NewRow row{key, fileSizeOf(target), std::string()};
    readFileVersionText(target, row.version);
    for (NewRow& pending : newRows_) {
        if (sameName(pending.key, key)) {
            pending = row;
            return 1;
        }
    }
    newRows_.push_back(row);
    return 1;
}

int MergeModuleJob::addFilesInSequence(CabinetBuilder& builder, std::vector<std::string>& keys)
{
    const MsiApi& api = msiApi();
    std::vector<std::pair<std::string, int>> rows;
    {
        MsiCloseAll closeAll;
        MsiHandle database;
        if (!openModule(modulePath_, MSIDBOPEN_READONLY, database)) return 0;
        MsiView view;
        if (!openView(database.get(), "SELECT `File`,`Sequence` FROM File", view)) return 0;
        // One pass over every row: the view need not yield them in Sequence order.
        MsiHandle record;
        while (api.fetch(view.get(), record.put()) == ERROR_SUCCESS)
            rows.emplace_back(recordText(record.get(), 1), api.getInteger(record.get(), 2));
    }
    // A gap or a repeated number would leave files out of the cabinet.
    keys = keysInSequence(rows);
    if (keys.empty()) return 0;
    for (const std::string& key : keys) {
        if (!isPlainName(key)) return 0;
        if (!builder.addFile(extractDir_ + "\\" + key, key)) return 0;
    }
    return 1;
}

int MergeModuleJob::rebuildCabinet()
{
    rebuilt_ = false;
    // Nothing in extractDir is of use once this ends: without a new cabinet the
    // module keeps its old one, so the folder is emptied on every path.
    if (!unpacked_ ||
        (!DeleteFileA(cabinetPath_.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)) {
        emptyExtractDir();
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
    emptyExtractDir();
    return rebuilt_ ? 1 : 0;
}

int MergeModuleJob::updateFileRows(unsigned long database)
{
    if (newRows_.empty()) return 1;
    const MsiApi& api = msiApi();
    MsiView view;
    if (!openView(database, "SELECT `File`,`FileSize`,`Version` FROM File", view)) return 0;
    size_t done = 0;
    MsiHandle record;
    while (done < newRows_.size() && api.fetch(view.get(), record.put()) == ERROR_SUCCESS) {
        std::string key = recordText(record.get(), 1);
        for (const NewRow& row : newRows_) {
            if (!sameName(row.key, key)) continue;
            if (api.setInteger(record.get(), 2, static_cast<int>(row.size)) != ERROR_SUCCESS ||
                api.setString(record.get(), 3, row.version.c_str()) != ERROR_SUCCESS ||
                api.modify(view.get(), MSIMODIFY_UPDATE, record.get()) != ERROR_SUCCESS)
                return 0;
            ++done;
            break;
        }
    }
    return 1;
}

int MergeModuleJob::storeCabinetStream()
{
    int result = 0;
    if (rebuilt_) {
        const MsiApi& api = msiApi();
        bool committed = false;
        {
            // The replaced files' rows and the cabinet go in one commit.
            MsiCloseAll closeAll;
            MsiHandle database;
            if (openModule(modulePath_, MSIDBOPEN_TRANSACT, database) &&
                updateFileRows(database.get())) {
                MsiView view;
                MsiHandle record;
                if (openView(database.get(), "SELECT `Name`, `Data` FROM _Streams", view) &&
                    fetchStream(view.get(), cabinetName, record) &&
                    api.setStream(record.get(), 2, cabinetPath_.c_str()) == ERROR_SUCCESS)
                    api.modify(view.get(), MSIMODIFY_UPDATE, record.get());
                record.reset();
                view.reset();
                committed = api.commit(database.get()) == ERROR_SUCCESS;
            }
        }
        std::string expected;
        std::string stored;
        if (committed && readWholeFile(cabinetPath_, expected)) {
            result = readModuleStream(modulePath_, cabinetName, stored) && stored == expected;
            // Wine's msi.dll cannot update an existing _Streams row and keeps the
            // old stream on commit, so the cabinet is written through the storage.
            if (!result && writeStreamThroughStorage(modulePath_, cabinetName, cabinetPath_))
                result = readModuleStream(modulePath_, cabinetName, stored) && stored == expected;
        }
    }
    rebuilt_ = false;
    newRows_.clear();
    if (!DeleteFileA(cabinetPath_.c_str())) return result;
    DeleteFileA((moduleDir_ + "\\Test2.cab").c_str());
    return result;
}

int MergeModuleJob::setRegistryValue(HKEY root, const std::string& keyPath,
                                     const std::string& valueName, const std::string& value)
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
    MsiCloseAll closeAll;
    MsiHandle database;
    if (!openModule(modulePath_, MSIDBOPEN_TRANSACT, database)) return 0;
    MsiView view;
    if (!openView(database.get(), "SELECT `Root`,`Key`,`Name`,`Value` FROM Registry", view))
        return 0;
    MsiHandle record;
    while (api.fetch(view.get(), record.put()) == ERROR_SUCCESS) {
        if (!sameName(recordText(record.get(), 3), valueName)) continue;
        if (api.getInteger(record.get(), 1) != tableRoot) continue;
        if (!sameName(recordText(record.get(), 2), keyPath)) continue;
        if (api.setString(record.get(), 4, value.c_str()) == ERROR_SUCCESS &&
            api.modify(view.get(), MSIMODIFY_UPDATE, record.get()) == ERROR_SUCCESS)
            api.commit(database.get());
        break;
    }
    return 1;
}

int MergeModuleJob::emptyExtractDir()
{
    WIN32_FIND_DATAA data;
    win::Find search(FindFirstFileA((extractDir_ + "\\*.*").c_str(), &data));
    if (!search) return 0;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        std::string path = extractDir_ + "\\" + name;
        if (!DeleteFileA(path.c_str()) && GetLastError() == ERROR_ACCESS_DENIED) {
            clearReadOnly(path);
            DeleteFileA(path.c_str());
        }
    } while (FindNextFileA(search.get(), &data));
    return 1;
}

int readFileNames(const std::string& modulePath,
                  std::vector<std::pair<std::string, std::string>>& rows)
{
    const MsiApi& api = msiApi();
    MsiCloseAll closeAll;
    MsiHandle database;
    if (!openModule(modulePath, MSIDBOPEN_READONLY, database)) return 0;
    MsiView view;
    if (!openView(database.get(), "SELECT `File`, `FileName` FROM File", view)) return 0;
    MsiHandle record;
    while (api.fetch(view.get(), record.put()) == ERROR_SUCCESS)
        rows.emplace_back(recordText(record.get(), 1), recordText(record.get(), 2));
    return 1;
}

int readFileVersionText(const std::string& path, std::string& version)
{
    version.clear();
    const VersionApi& api = versionApi();
    if (!api.complete) return 0;
    DWORD handle = 0;
    DWORD size = api.infoSize(path.c_str(), &handle);
    if (size == 0) return 0;
    std::vector<char> block(size);
    if (!api.info(path.c_str(), 0, size, block.data())) return 0;
    void* translation = nullptr;
    UINT length = 0;
    if (!api.query(block.data(), "\\VarFileInfo\\Translation", &translation, &length) ||
        !translation || length < 4)
        return 0;
    const WORD* pair = static_cast<const WORD*>(translation);
    char subBlock[64];
    sprintf(subBlock, "\\StringFileInfo\\%04x%04x\\FileVersion", pair[0], pair[1]);
    void* text = nullptr;
    if (!api.query(block.data(), subBlock, &text, &length) || !text) return 0;
    const char* start = static_cast<const char*>(text);
    const void* end = memchr(start, '\0', length);
    std::string raw(start, end ? static_cast<const char*>(end) - start : length);
    if (raw.size() >= versionCapacity) return 0;
    version = normaliseVersionText(raw);
    return 1;
}

int readModuleStream(const std::string& modulePath, const std::string& streamName,
                     std::string& data)
{
    data.clear();
    return readStreamChunks(modulePath, streamName, 65536, [&](const char* chunk, DWORD count) {
        data.append(chunk, count);
        return true;
    });
}

int writeStreamThroughStorage(const std::string& modulePath, const std::string& streamName,
                              const std::string& sourcePath)
{
    const StorageApi& api = storageApi();
    std::wstring name = encodeStreamName(streamName);
    if (!api.complete || name.empty()) return 0;
    int length = MultiByteToWideChar(CP_ACP, 0, modulePath.c_str(), -1, nullptr, 0);
    if (length <= 0) return 0;
    std::wstring path(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, modulePath.c_str(), -1, &path[0], length);

    win::File source(CreateFileA(sourcePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source) return 0;
    ComPtr<IStorage> storage;
    if (FAILED(api.openStorage(path.c_str(), nullptr,
                               STGM_TRANSACTED | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                               storage.put())))
        return 0;
    ComPtr<IStream> stream;
    if (FAILED(storage.get()->CreateStream(name.c_str(),
                                           STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                           stream.put())))
        return 0;
    char chunk[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source.get(), chunk, sizeof chunk, &read, nullptr)) return 0;
        if (read == 0) break;
        ULONG written = 0;
        if (FAILED(stream.get()->Write(chunk, read, &written)) || written != read) return 0;
    }
    stream.reset();
    // Nothing reaches the file before this commit: a failure leaves the old stream.
    return SUCCEEDED(storage.get()->Commit(STGC_DEFAULT)) ? 1 : 0;
}

} // namespace mergemod
