#include "mergemod/stream_store.h"

#include "mergemod/module_database.h"
#include "mergemod/names.h"
#include "mergemod/system_api.h"
#include "win/files.h"
#include "win/text.h"
#include "win/unique.h"

namespace mergemod {

namespace {

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

int updateFileRows(MSIHANDLE database, const std::vector<FileRowUpdate>& rows)
{
    if (rows.empty()) return 1;
    const MsiApi& api = msiApi();
    MsiView view;
    if (!openView(database, "SELECT `File`,`FileSize`,`Version` FROM File", view)) return 0;
    size_t done = 0;
    MsiHandle record;
    while (done < rows.size() && api.fetch(view.get(), record.put()) == ERROR_SUCCESS) {
        std::string key = recordText(record.get(), 1);
        for (const FileRowUpdate& row : rows) {
            if (!win::sameText(row.key, key)) continue;
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

// Writes the file sourcePath as a module's stream through the module's
// structured storage, in one transacted commit.
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

    win::File source(CreateFileA(sourcePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source) return 0;
    win::ComPtr<IStorage> storage;
    if (FAILED(api.openStorage(path.c_str(), nullptr, STGM_TRANSACTED | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr,
                               0, storage.put())))
        return 0;
    win::ComPtr<IStream> stream;
    if (FAILED(storage.get()->CreateStream(name.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
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

} // namespace

int storeCabinet(const std::string& modulePath, const std::string& streamName, const std::string& cabinetPath,
                 const std::vector<FileRowUpdate>& rows)
{
    // The rows and the cabinet change together or not at all: both go into a
    // copy of the module, which replaces the module only once it reads back
    // the new cabinet. A run killed on the way leaves the module as it was.
    const std::string work = workingCopyOf(modulePath);
    auto removeWork = win::onScopeExit([&] { DeleteFileA(work.c_str()); });
    if (!CopyFileA(modulePath.c_str(), work.c_str(), FALSE)) return 0;
    // A read-only module would make the copy read-only too.
    SetFileAttributesA(work.c_str(), FILE_ATTRIBUTE_NORMAL);
    const MsiApi& api = msiApi();
    bool committed = false;
    {
        MsiCloseAll closeAll;
        MsiHandle database;
        if (openModule(work, MSIDBOPEN_TRANSACT, database) && updateFileRows(database.get(), rows)) {
            MsiView view;
            MsiHandle record;
            if (openView(database.get(), "SELECT `Name`, `Data` FROM _Streams", view) &&
                fetchStream(view.get(), streamName, record) &&
                api.setStream(record.get(), 2, cabinetPath.c_str()) == ERROR_SUCCESS)
                api.modify(view.get(), MSIMODIFY_UPDATE, record.get());
            record.reset();
            view.reset();
            committed = api.commit(database.get()) == ERROR_SUCCESS;
        }
    }
    std::string expected;
    std::string stored;
    if (!committed || !readWholeFile(cabinetPath, expected)) return 0;
    // Wine's msi.dll cannot update an existing _Streams row and keeps the old
    // stream on commit, so the cabinet is then written through the storage.
    const bool holdsCabinet = (readModuleStream(work, streamName, stored) && stored == expected) ||
                              (writeStreamThroughStorage(work, streamName, cabinetPath) &&
                               readModuleStream(work, streamName, stored) && stored == expected);
    if (!holdsCabinet) return 0;
    // The copy's data reaches the disk before its name replaces the module's:
    // after a power loss the module must not be a file that was never written.
    win::File written(CreateFileA(work.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!written || !FlushFileBuffers(written.get())) return 0;
    written.reset();
    return win::moveOver(work, modulePath) ? 1 : 0;
}

std::string workingCopyOf(const std::string& modulePath) { return modulePath + ".new"; }

} // namespace mergemod
