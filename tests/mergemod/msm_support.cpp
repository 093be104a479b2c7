#include "mergemod/msm_support.h"

#include <cstdlib>
#include <cstring>

#include "mergemod/cabinet.h"
#include "mergemod/file_version.h"
#include "mergemod/merge_module_job.h"
#include "mergemod/module_database.h"
#include "mergemod/stream_store.h"
#include "win/files.h"
#include "mergemod/system_api.h"
#include "win/system_library.h"

namespace msm {

std::string fixturesDir()
{
    const char* root = std::getenv("TREVIX_MSM_ROOT");
    return root ? kit::joinPath(root, "fixtures") : std::string();
}

std::string outputDir(const std::string& name)
{
    const char* root = std::getenv("TREVIX_MSM_ROOT");
    if (!root) return std::string();
    std::string out = kit::joinPath(root, "out");
    CreateDirectoryA(out.c_str(), nullptr);
    std::string folder = kit::joinPath(out, name);
    kit::removeTree(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

bool copyModule(const std::string& name, const std::string& folder)
{
    std::string target = kit::joinPath(folder, name);
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    return CopyFileA(kit::joinPath(kit::joinPath(fixturesDir(), "modules"), name).c_str(),
                     target.c_str(), FALSE) != 0;
}

bool readTable(const std::string& module, const std::string& table, Table& rows)
{
    using namespace mergemod;
    const MsiApi& api = msiApi();
    rows.clear();
    MsiCloseAll closeAll;
    MsiHandle database;
    if (!api.complete || api.openDatabase(module.c_str(), MSIDBOPEN_READONLY, database.put()) != 0)
        return false;
    MsiView view;
    std::string query = "SELECT * FROM `" + table + "`";
    if (api.openView(database.get(), query.c_str(), view.put()) != 0 ||
        api.execute(view.get(), 0) != 0)
        return false;
    MsiHandle record;
    while (api.fetch(view.get(), record.put()) == 0) {
        static auto fieldCount = reinterpret_cast<decltype(&MsiRecordGetFieldCount)>(
            reinterpret_cast<void*>(win::systemProc("msi.dll", "MsiRecordGetFieldCount")));
        UINT count = fieldCount ? fieldCount(record.get()) : 0;
        std::vector<std::string> row;
        for (UINT field = 1; field <= count; ++field) {
            char text[4096];
            DWORD size = sizeof text;
            api.getString(record.get(), field, text, &size);
            row.emplace_back(text, size);
        }
        rows.push_back(row);
    }
    return true;
}

std::vector<std::string> rowOf(const Table& rows, const std::string& key)
{
    for (const auto& row : rows)
        if (!row.empty() && row[0] == key) return row;
    return {};
}

namespace {

unsigned long le(const std::string& b, size_t at, int bytes)
{
    unsigned long v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

} // namespace

bool parseCabinet(const std::string& b, CabInfo& info)
{
    info = CabInfo();
    if (b.size() < 36 || b.compare(0, 4, "MSCF") != 0) return false;
    unsigned long filesAt = le(b, 16, 4);
    info.folders = static_cast<unsigned short>(le(b, 26, 2));
    info.files = static_cast<unsigned short>(le(b, 28, 2));
    unsigned flags = le(b, 30, 2);
    info.setId = static_cast<unsigned short>(le(b, 32, 2));
    size_t at = 36 + ((flags & 4) ? 4 + le(b, 36, 2) : 0);
    if (at + 8 > b.size()) return false;
    info.compression = static_cast<unsigned short>(le(b, at + 6, 2));
    at = filesAt;
    for (unsigned i = 0; i < info.files; ++i) {
        if (at + 16 > b.size()) return false;
        CabEntry e;
        e.size = le(b, at, 4);
        e.date = static_cast<unsigned short>(le(b, at + 10, 2));
        e.time = static_cast<unsigned short>(le(b, at + 12, 2));
        e.attribs = static_cast<unsigned short>(le(b, at + 14, 2));
        size_t end = b.find('\0', at + 16);
        if (end == std::string::npos) return false;
        e.name = b.substr(at + 16, end - at - 16);
        info.entries.push_back(e);
        at = end + 1;
    }
    return true;
}

bool moduleIsSound(const std::string& module, std::string& why)
{
    std::vector<std::pair<std::string, std::string>> rows;
    if (!mergemod::readFileNames(module, rows) || rows.empty()) {
        why = "File rows cannot be listed";
        return false;
    }
    std::string cabinet;
    if (!mergemod::readModuleStream(module, mergemod::cabinetName, cabinet)) {
        why = "no cabinet stream";
        return false;
    }
    CabInfo info;
    if (!parseCabinet(cabinet, info)) {
        why = "the stream is no cabinet";
        return false;
    }
    for (const auto& row : rows) {
        bool found = false;
        for (const auto& e : info.entries) found = found || e.name == row.first;
        if (!found) {
            why = "the cabinet lacks " + row.first;
            return false;
        }
    }
    kit::TempDir scratch{"sound"};
    CreateDirectoryA((scratch / "x").c_str(), nullptr);
    kit::writeFile(scratch / "c.cab", cabinet);
    std::vector<std::string> extracted;
    if (!mergemod::extractWholeCabinet(scratch.path() + "\\", "c.cab", scratch / "x", extracted) ||
        extracted.size() != info.entries.size()) {
        why = "the cabinet does not extract whole";
        return false;
    }
    return true;
}

std::string fixtureFile(const std::string& folder, const std::string& name)
{
    std::string content;
    kit::readFile(kit::joinPath(kit::joinPath(fixturesDir(), folder), name), content);
    return content;
}

} // namespace msm
