#include "mergemod/system_api.h"

#include "win/system_library.h"

namespace mergemod {

namespace {

template <typename Function>
bool load(Function*& slot, const char* library, const char* function)
{
    slot = win::systemFunction<Function>(library, function);
    return slot != nullptr;
}

} // namespace

const CabinetApi& cabinetApi()
{
    static const CabinetApi api = [] {
        CabinetApi a;
        const char* dll = "cabinet.dll";
        a.complete = load(a.fciCreate, dll, "FCICreate") & load(a.fciAddFile, dll, "FCIAddFile") &
                     load(a.fciFlushCabinet, dll, "FCIFlushCabinet") & load(a.fciDestroy, dll, "FCIDestroy") &
                     load(a.fdiCreate, dll, "FDICreate") & load(a.fdiIsCabinet, dll, "FDIIsCabinet") &
                     load(a.fdiCopy, dll, "FDICopy") & load(a.fdiDestroy, dll, "FDIDestroy");
        return a;
    }();
    return api;
}

const MsiApi& msiApi()
{
    static const MsiApi api = [] {
        MsiApi a;
        const char* dll = "msi.dll";
        a.complete = load(a.openDatabase, dll, "MsiOpenDatabaseA") & load(a.openView, dll, "MsiDatabaseOpenViewA") &
                     load(a.execute, dll, "MsiViewExecute") & load(a.fetch, dll, "MsiViewFetch") &
                     load(a.modify, dll, "MsiViewModify") & load(a.closeView, dll, "MsiViewClose") &
                     load(a.commit, dll, "MsiDatabaseCommit") & load(a.getString, dll, "MsiRecordGetStringA") &
                     load(a.getInteger, dll, "MsiRecordGetInteger") & load(a.setString, dll, "MsiRecordSetStringA") &
                     load(a.setInteger, dll, "MsiRecordSetInteger") & load(a.readStream, dll, "MsiRecordReadStream") &
                     load(a.setStream, dll, "MsiRecordSetStreamA") & load(a.closeHandle, dll, "MsiCloseHandle") &
                     load(a.closeAllHandles, dll, "MsiCloseAllHandles");
        return a;
    }();
    return api;
}

const VersionApi& versionApi()
{
    static const VersionApi api = [] {
        VersionApi a;
        const char* dll = "version.dll";
        a.complete = load(a.infoSize, dll, "GetFileVersionInfoSizeA") & load(a.info, dll, "GetFileVersionInfoA") &
                     load(a.query, dll, "VerQueryValueA");
        return a;
    }();
    return api;
}

const StorageApi& storageApi()
{
    static const StorageApi api = [] {
        StorageApi a;
        a.complete = load(a.openStorage, "ole32.dll", "StgOpenStorage");
        return a;
    }();
    return api;
}

} // namespace mergemod
