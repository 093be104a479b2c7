#include "win/system_library.h"

#include <map>
#include <string>

namespace win {

namespace {

// Loaded once per name; a failed load is remembered as null.
HMODULE loadFromSystemFolder(const char* library)
{
    static std::map<std::string, HMODULE> loaded;
    auto found = loaded.find(library);
    if (found != loaded.end()) return found->second;
    char folder[MAX_PATH + 1] = {};
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    HMODULE module = nullptr;
    if (length > 0 && length < MAX_PATH) {
        std::string path = std::string(folder, length) + "\\" + library;
        // The library's own imports are then looked up beside it, not beside us.
        module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    loaded.emplace(library, module);
    return module;
}

} // namespace

FARPROC systemProc(const char* library, const char* function)
{
    HMODULE module = loadFromSystemFolder(library);
    return module ? GetProcAddress(module, function) : nullptr;
}

} // namespace win
