#include "mergemod/module_database.h"

#include "win/files.h"

namespace mergemod {

bool openModule(const std::string& path, LPCSTR mode, MsiHandle& database)
{
    const MsiApi& api = msiApi();
    return api.complete && win::fileExists(path) &&
           api.openDatabase(path.c_str(), mode, database.put()) == ERROR_SUCCESS;
}

bool openView(MSIHANDLE database, const char* query, MsiView& view)
{
    const MsiApi& api = msiApi();
    return api.openView(database, query, view.put()) == ERROR_SUCCESS && api.execute(view.get(), 0) == ERROR_SUCCESS;
}

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

bool fetchStream(MSIHANDLE view, const std::string& name, MsiHandle& record)
{
    const MsiApi& api = msiApi();
    while (api.fetch(view, record.put()) == ERROR_SUCCESS) {
        if (recordText(record.get(), 1) == name) return true;
    }
    return false;
}

int forEachRow(const std::string& modulePath, LPCSTR mode, const char* query,
               const std::function<bool(MSIHANDLE database, MSIHANDLE view, MSIHANDLE record)>& row)
{
    const MsiApi& api = msiApi();
    MsiCloseAll closeAll;
    MsiHandle database;
    if (!openModule(modulePath, mode, database)) return 0;
    MsiView view;
    if (!openView(database.get(), query, view)) return 0;
    MsiHandle record;
    while (api.fetch(view.get(), record.put()) == ERROR_SUCCESS && row(database.get(), view.get(), record.get())) {}
    return 1;
}

int readFileNames(const std::string& modulePath, std::vector<std::pair<std::string, std::string>>& rows)
{
    return forEachRow(modulePath, MSIDBOPEN_READONLY, "SELECT `File`, `FileName` FROM File",
                      [&](MSIHANDLE, MSIHANDLE, MSIHANDLE record) {
                          rows.emplace_back(recordText(record, 1), recordText(record, 2));
                          return true;
                      });
}

int readFileSequence(const std::string& modulePath, std::vector<std::pair<std::string, int>>& rows)
{
    // One pass over every row: the view need not yield them in Sequence order.
    return forEachRow(modulePath, MSIDBOPEN_READONLY, "SELECT `File`,`Sequence` FROM File",
                      [&](MSIHANDLE, MSIHANDLE, MSIHANDLE record) {
                          rows.emplace_back(recordText(record, 1), msiApi().getInteger(record, 2));
                          return true;
                      });
}

int readStreamChunks(const std::string& modulePath, const std::string& streamName, DWORD chunkSize,
                     const std::function<bool(const char*, DWORD)>& take)
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

int readModuleStream(const std::string& modulePath, const std::string& streamName, std::string& data)
{
    data.clear();
    return readStreamChunks(modulePath, streamName, 65536, [&](const char* chunk, DWORD count) {
        data.append(chunk, count);
        return true;
    });
}

} // namespace mergemod
