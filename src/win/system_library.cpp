#include "win/system_library.h"
#include "win/paths.h"

#include <map>
#include <string>

#include "win/files.h"

namespace win {

namespace {

// The progress dialog's thread and the main thread may both ask for a library.
class LoadedLibraries {
public:
    LoadedLibraries() { InitializeCriticalSection(&lock_); }
    LoadedLibraries(const LoadedLibraries&) = delete;
    LoadedLibraries& operator=(const LoadedLibraries&) = delete;

    // Loaded once per name; a failed load is remembered as null.
    HMODULE get(const char* library)
    {
        EnterCriticalSection(&lock_);
        auto found = loaded_.find(library);
        HMODULE module = found != loaded_.end() ? found->second : load(library);
        if (found == loaded_.end()) loaded_.emplace(library, module);
        LeaveCriticalSection(&lock_);
        return module;
    }

private:
    static HMODULE load(const char* library)
    {
        // No system folder, no library: never fall back to a search by name.
        const std::string folder = systemFolder();
        if (folder.empty()) return nullptr;
        const std::string path = join(folder, library);
        // A library that is missing or broken must not stop an unattended run
        // with the system's "cannot find" box.
        UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        // The library's own imports are then looked up beside it, not beside us.
        HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        SetErrorMode(mode);
        return module;
    }

    CRITICAL_SECTION lock_;
    std::map<std::string, HMODULE> loaded_;
};

} // namespace

FARPROC systemProc(const char* library, const char* function)
{
    // Anything with a folder part could leave the system folder.
    if (!library || !isPlainFileName(library) || !function || !*function) return nullptr;
    // Never destroyed: other static objects may still call us at exit.
    static LoadedLibraries* libraries = new LoadedLibraries;
    HMODULE module = libraries->get(library);
    return module ? GetProcAddress(module, function) : nullptr;
}

} // namespace win
