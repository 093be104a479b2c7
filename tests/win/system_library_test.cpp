// Libraries outside the protected set come only from the system folder: never
// from the program's folder or the current one, and a missing library or
// function is a null, not a crash, a box or a wait.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "kit/testkit.h"
#include "win/system_library.h"

namespace {

std::string systemFolder()
{
    char buffer[MAX_PATH] = {};
    GetSystemDirectoryA(buffer, MAX_PATH);
    return buffer;
}

std::string folderOf(const std::string& path)
{
    return path.substr(0, path.find_last_of('\\'));
}

// The file of the module that holds an address.
std::string moduleFileOf(const void* address)
{
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(address, &info, sizeof info)) return "";
    char path[MAX_PATH] = {};
    GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), path, MAX_PATH);
    return path;
}

bool sameFolder(const std::string& a, const std::string& b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

using PlantedPath = int WINAPI(char*, int);

// The test library, under a name of our choosing, removed again at the end.
class Planted {
public:
    Planted(const std::string& folder, const std::string& name, const char* source = "planted.dll")
        : path_(kit::joinPath(folder, name))
    {
        ok_ = kit::copyFile(kit::joinPath(kit::binDir(), source), path_);
    }
    ~Planted() { DeleteFileA(path_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string path_;
    bool ok_ = false;
};

struct Wanted {
    const char* library;
    const char* function;
};

// What the update program calls through the loader.
const Wanted used[] = {
    {"cabinet.dll", "FCICreate"},       {"cabinet.dll", "FDICreate"},
    {"msi.dll", "MsiOpenDatabaseA"},    {"msi.dll", "MsiDatabaseCommit"},
    {"version.dll", "GetFileVersionInfoSizeA"}, {"version.dll", "VerQueryValueA"},
    {"comctl32.dll", "InitCommonControls"},
    {"ole32.dll", "CoInitialize"},      {"ole32.dll", "CoCreateInstance"},
    {"oleaut32.dll", "SysAllocString"},
};

TEST(SystemLibrary, EveryLibraryTheUpdateUsesResolvesFromTheSystemFolder)
{
    for (const Wanted& w : used) {
        FARPROC function = win::systemProc(w.library, w.function);
        ASSERT_NE(function, nullptr) << w.library << " " << w.function;
        EXPECT_TRUE(sameFolder(folderOf(moduleFileOf(reinterpret_cast<const void*>(function))), systemFolder()))
            << w.library << " came from " << moduleFileOf(reinterpret_cast<const void*>(function));
    }
}

TEST(SystemLibrary, AResolvedFunctionWorks)
{
    auto size = win::systemFunction<decltype(GetFileVersionInfoSizeA)>("version.dll", "GetFileVersionInfoSizeA");
    ASSERT_NE(size, nullptr);
    DWORD handle = 0;
    EXPECT_GT(size(kit::joinPath(systemFolder(), "kernel32.dll").c_str(), &handle), 0u);
}

TEST(SystemLibrary, MissingOrUnfitNamesGiveNull)
{
    const struct {
        const char* library;
        const char* function;
        const char* why;
    } cases[] = {
        {"trevix-absent.dll", "Anything", "library missing from the system folder"},
        {"cabinet.dll", "NoSuchFunction", "function missing from a present library"},
        {"cabinet.dll", "", "empty function name"},
        {"cabinet.dll", nullptr, "no function name"},
        {"", "FCICreate", "empty library name"},
        {nullptr, "FCICreate", "no library name"},
        {"..\\cabinet.dll", "FCICreate", "relative folder part"},
        {"C:\\cabinet.dll", "FCICreate", "absolute path"},
    };
    for (const auto& c : cases) {
        // Twice: a remembered failure stays a failure.
        EXPECT_EQ(win::systemProc(c.library, c.function), nullptr) << c.why;
        EXPECT_EQ(win::systemProc(c.library, c.function), nullptr) << c.why << ", asked again";
    }
}

// A library present beside the program and in the current folder but not in
// the system folder is not found; one in all three places comes from the system folder.
TEST(SystemLibrary, NeverLoadsFromTheProgramOrTheCurrentFolder)
{
    kit::TempDir current{"cwd"};
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(current.path().c_str()));

    Planted besideOnly(kit::binDir(), "trevix-beside.dll");
    Planted currentOnly(current.path(), "trevix-beside.dll");
    Planted besideBoth(kit::binDir(), "trevix-everywhere.dll");
    Planted currentBoth(current.path(), "trevix-everywhere.dll");
    Planted systemBoth(systemFolder(), "trevix-everywhere.dll");
    ASSERT_TRUE(besideOnly.ok() && currentOnly.ok() && besideBoth.ok() && currentBoth.ok() && systemBoth.ok());

    EXPECT_EQ(win::systemProc("trevix-beside.dll", "plantedPath"), nullptr);
    EXPECT_FALSE(kit::fileExists("C:\\planted-trevix-beside.txt"));

    auto where = win::systemFunction<PlantedPath>("trevix-everywhere.dll", "plantedPath");
    ASSERT_NE(where, nullptr);
    char path[MAX_PATH] = {};
    ASSERT_GT(where(path, MAX_PATH), 0);
    EXPECT_TRUE(sameFolder(folderOf(path), systemFolder())) << path;
    SetCurrentDirectoryA(previous);
}

// A system-folder library whose own import is missing: a null, no box, no wait.
TEST(SystemLibrary, ABrokenSystemLibraryGivesNullWithoutADialog)
{
    Planted broken(systemFolder(), "trevix-broken.dll", "broken.dll");
    ASSERT_TRUE(broken.ok());
    kit::DialogWatcher watcher({}, 0);
    EXPECT_EQ(win::systemProc("trevix-broken.dll", "brokenEntry"), nullptr);
    Sleep(300);
    watcher.stop();
    EXPECT_TRUE(watcher.dialogs().empty()) << kit::describe(watcher.dialogs().front());
}

} // namespace
