#include "mergemod/file_version.h"

#include <stdio.h>
#include <string.h>

#include <vector>

#include "mergemod/names.h"
#include "mergemod/system_api.h"

namespace mergemod {

namespace {

const size_t versionCapacity = 128;

} // namespace

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
    if (!api.query(block.data(), "\\VarFileInfo\\Translation", &translation, &length) || !translation || length < 4)
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

} // namespace mergemod
