#pragma once
// The functions of cabinet.dll, msi.dll, version.dll and ole32.dll that the
// merge-module work calls. None of them is imported at load time: each table
// is filled from the system folder on first use, and an operation whose table
// is incomplete fails without doing anything.
#include <windows.h>

#include <fci.h>
#include <fdi.h>
#include <msi.h>
#include <msiquery.h>
#include <objbase.h>

#include "win/unique.h"

namespace mergemod {

struct CabinetApi {
    decltype(&::FCICreate) fciCreate = nullptr;
    decltype(&::FCIAddFile) fciAddFile = nullptr;
    decltype(&::FCIFlushCabinet) fciFlushCabinet = nullptr;
    decltype(&::FCIDestroy) fciDestroy = nullptr;
    decltype(&::FDICreate) fdiCreate = nullptr;
    decltype(&::FDIIsCabinet) fdiIsCabinet = nullptr;
    decltype(&::FDICopy) fdiCopy = nullptr;
    decltype(&::FDIDestroy) fdiDestroy = nullptr;
    bool complete = false;
};

struct MsiApi {
    decltype(&::MsiOpenDatabaseA) openDatabase = nullptr;
    decltype(&::MsiDatabaseOpenViewA) openView = nullptr;
    decltype(&::MsiViewExecute) execute = nullptr;
    decltype(&::MsiViewFetch) fetch = nullptr;
    decltype(&::MsiViewModify) modify = nullptr;
    decltype(&::MsiViewClose) closeView = nullptr;
    decltype(&::MsiDatabaseCommit) commit = nullptr;
    decltype(&::MsiRecordGetStringA) getString = nullptr;
    decltype(&::MsiRecordGetInteger) getInteger = nullptr;
    decltype(&::MsiRecordSetStringA) setString = nullptr;
    decltype(&::MsiRecordSetInteger) setInteger = nullptr;
    decltype(&::MsiRecordReadStream) readStream = nullptr;
    decltype(&::MsiRecordSetStreamA) setStream = nullptr;
    decltype(&::MsiCloseHandle) closeHandle = nullptr;
    decltype(&::MsiCloseAllHandles) closeAllHandles = nullptr;
    bool complete = false;
};

struct VersionApi {
    decltype(&::GetFileVersionInfoSizeA) infoSize = nullptr;
    decltype(&::GetFileVersionInfoA) info = nullptr;
    decltype(&::VerQueryValueA) query = nullptr;
    bool complete = false;
};

struct StorageApi {
    decltype(&::StgOpenStorage) openStorage = nullptr;
    bool complete = false;
};

// Loaded once; the same table on every call.
const CabinetApi& cabinetApi();
const MsiApi& msiApi();
const VersionApi& versionApi();
const StorageApi& storageApi();

// Owners for database, view and record handles (0 is empty).
struct MsiTraits {
    using Handle = MSIHANDLE;
    static Handle empty() noexcept { return 0; }
    static void close(Handle h) noexcept
    {
        if (msiApi().closeHandle) msiApi().closeHandle(h);
    }
};
using MsiHandle = win::Unique<MsiTraits>;

// A view is closed before its handle is released.
struct MsiViewTraits {
    using Handle = MSIHANDLE;
    static Handle empty() noexcept { return 0; }
    static void close(Handle h) noexcept
    {
        if (msiApi().closeView) msiApi().closeView(h);
        if (msiApi().closeHandle) msiApi().closeHandle(h);
    }
};
using MsiView = win::Unique<MsiViewTraits>;

// Declared before a database operation's handles: once they are released,
// every handle of the database API still open in the process goes too.
struct MsiCloseAll {
    MsiCloseAll() = default;
    MsiCloseAll(const MsiCloseAll&) = delete;
    MsiCloseAll& operator=(const MsiCloseAll&) = delete;
    ~MsiCloseAll()
    {
        if (msiApi().closeAllHandles) msiApi().closeAllHandles();
    }
};

struct FciTraits {
    using Handle = HFCI;
    static Handle empty() noexcept { return nullptr; }
    static void close(Handle h) noexcept
    {
        if (cabinetApi().fciDestroy) cabinetApi().fciDestroy(h);
    }
};
using FciContext = win::Unique<FciTraits>;

struct FdiTraits {
    using Handle = HFDI;
    static Handle empty() noexcept { return nullptr; }
    static void close(Handle h) noexcept
    {
        if (cabinetApi().fdiDestroy) cabinetApi().fdiDestroy(h);
    }
};
using FdiContext = win::Unique<FdiTraits>;

} // namespace mergemod
