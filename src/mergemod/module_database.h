#pragma once
// Reading a merge module through the Windows Installer database functions.
// Every operation here opens the module, works and releases every handle of
// the database API before it returns.
#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "mergemod/system_api.h"

namespace mergemod {

// Opens a module that is there (msi.dll must not create one) in mode.
bool openModule(const std::string& path, LPCSTR mode, MsiHandle& database);

// Opens and executes query.
bool openView(MSIHANDLE database, const char* query, MsiView& view);

// A text field of any length; empty when it cannot be read.
std::string recordText(MSIHANDLE record, UINT field);

// Fetches rows of a _Streams view until the one whose Name is name.
bool fetchStream(MSIHANDLE view, const std::string& name, MsiHandle& record);

// Opens the module in mode and hands each row of query to row, with the
// database and the view, until row answers false. 0 when the module or the
// view cannot be opened; every handle is released before it returns.
int forEachRow(const std::string& modulePath, LPCSTR mode, const char* query,
               const std::function<bool(MSIHANDLE database, MSIHANDLE view, MSIHANDLE record)>& row);

// The module's File rows as (File, FileName), in the order the view yields them.
int readFileNames(const std::string& modulePath, std::vector<std::pair<std::string, std::string>>& rows);

// The module's File rows as (File, Sequence), in the order the view yields them.
int readFileSequence(const std::string& modulePath, std::vector<std::pair<std::string, int>>& rows);

// Reads the named stream in chunks of up to chunkSize bytes and hands each to
// take, which answers false to stop; the copy ends after the first short read.
// 1 when the whole stream went through.
int readStreamChunks(const std::string& modulePath, const std::string& streamName, DWORD chunkSize,
                     const std::function<bool(const char*, DWORD)>& take);

// Reads the named stream whole. 0 when it is not there.
int readModuleStream(const std::string& modulePath, const std::string& streamName, std::string& data);

} // namespace mergemod
