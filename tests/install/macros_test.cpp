// The directory macros: which folder each name stands for, and the staging
// folders beside them.
#include <gtest/gtest.h>

#include <algorithm>

#include "install/directory_macros.h"
#include "install_fixture.h"
#include "kit/testkit.h"

namespace {

const char* const sharedUsage = "SOFTWARE\\Veltrane\\SharedUsage";
const char* const productSystem = "SOFTWARE\\Veltrane\\Corvindale\\CurrentVersion\\System";
const char* const windowsVersion = "Software\\Microsoft\\Windows\\CurrentVersion";

class Macros : public testing::Test {
protected:
    kit::RegistrySandbox sandbox;
    UpdateSession session;
    void SetUp() override
    {
        installtest::prepareSession(session, "C:\\Program Files\\Corvindale", "C:\\pkg", osWindowsXp);
    }
};

TEST_F(Macros, ResolveEachName)
{
    const std::string windows = installtest::windowsDir();
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    kit::setString(HKEY_LOCAL_MACHINE, sharedUsage, "", "D:\\Veltrane\\");
    kit::setString(HKEY_LOCAL_MACHINE, sharedUsage, "Tidewarden", "D:\\Tidewarden");
    kit::setString(HKEY_LOCAL_MACHINE, productSystem, "CMSDir", "E:\\cms\\\\");
    kit::setString(HKEY_LOCAL_MACHINE, productSystem, "FilesDirectory", "F:\\");
    kit::setString(HKEY_LOCAL_MACHINE, windowsVersion, "CommonFilesDir", "C:\\Program Files\\Common Files\\");

    struct Case {
        const char* name;
        int result;
        std::string folder;
        std::string staging;
    } cases[] = {
        {"PROGDIR", 1, "C:\\Program Files\\Corvindale", "C:\\Program Files\\Corvindale.tmp"},
        {"WINDIR", 1, windows, windows + ".tmp"},
        {"SYSDIR", 1, system, std::string(system) + ".tmp"},
        {"VELDIR", 1, "D:\\Veltrane", "D:\\Veltrane.tmp"},
        {"TWDIR", 1, "D:\\Tidewarden", "D:\\Tidewarden.tmp"},
        {"DRVDIR", 1, windows + "\\System32\\Drivers", windows + "\\System32\\Drivers.tmp"},
        // Every trailing backslash goes, not only the one the registry read drops.
        {"CMSDIR", 1, "E:\\cms", "E:\\cms.tmp"},
        // A drive root: the staging folder must not be "F:.tmp", which is
        // relative to the drive's current folder.
        {"DATADIR", 1, "F:", "F:\\.tmp"},
        {"VELSHARED", 1, "C:\\Program Files\\Common Files\\Veltrane Shared",
         "C:\\Program Files\\Common Files\\Veltrane Shared.tmp"},
        {"MERGEMODULESDIR", 1, "C:\\Program Files\\Corvindale\\Packager\\Merge Modules",
         "C:\\Program Files\\Corvindale\\Packager\\Merge Modules.tmp"},
        {"MERGEMODULESENGDIR", 1, "C:\\Program Files\\Corvindale\\Packager\\Merge Modules\\0000",
         "C:\\Program Files\\Corvindale\\Packager\\Merge Modules\\0000.tmp"},
        {"PACKAGERRESDIR", 1, "C:\\Program Files\\Corvindale\\Packager\\Resources\\0000",
         "C:\\Program Files\\Corvindale\\Packager\\Resources\\0000.tmp"},
        // Names are compared exactly.
        {"progdir", 0, "untouched", "untouched"},
        {"PROGDIR ", 0, "untouched", "untouched"},
        {"", 0, "untouched", "untouched"},
        {"Corvindale.dll", 0, "untouched", "untouched"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = "untouched", staging = "untouched";
        EXPECT_EQ(resolveMacro(session, c.name, folder), c.result);
        EXPECT_EQ(folder, c.folder);
        EXPECT_EQ(stagingDirFor(session, c.name, staging), c.result);
        EXPECT_EQ(staging, c.staging);
    }
}

TEST_F(Macros, MissingRegistryFoldersFail)
{
    kit::setString(HKEY_LOCAL_MACHINE, sharedUsage, "Other", "D:\\x");
    for (const char* name : {"VELDIR", "TWDIR", "CMSDIR", "DATADIR", "VELSHARED"}) {
        SCOPED_TRACE(name);
        std::string folder = "before\\";
        EXPECT_EQ(resolveMacro(session, name, folder), 0);
        // Left as it was, trailing backslashes stripped.
        EXPECT_EQ(folder, "before");
    }
    // An empty registry text is no folder: files would land at the root.
    kit::setString(HKEY_LOCAL_MACHINE, productSystem, "CMSDir", "\\");
    std::string folder;
    EXPECT_EQ(resolveMacro(session, "CMSDIR", folder), 0);
}

TEST_F(Macros, ProductFolderWithTrailingBackslash)
{
    session.productDir = "C:\\Program Files\\Corvindale\\";
    std::string folder, staging;
    EXPECT_EQ(resolveMacro(session, "PROGDIR", folder), 1);
    EXPECT_EQ(folder, "C:\\Program Files\\Corvindale");
    EXPECT_EQ(stagingDirFor(session, "PROGDIR", staging), 1);
    EXPECT_EQ(staging, "C:\\Program Files\\Corvindale.tmp");
}

TEST_F(Macros, NoProductFolderNoProductMacros)
{
    session.productDir.clear();
    for (const char* name : {"PROGDIR", "MERGEMODULESDIR", "MERGEMODULESENGDIR", "PACKAGERRESDIR"}) {
        std::string folder;
        EXPECT_EQ(resolveMacro(session, name, folder), 0) << name;
    }
}

TEST_F(Macros, RemovingNonEmptyStagingFoldersFailsOnlyForThose)
{
    kit::TempDir root("macro roots");
    session.productDir = root / "Corvindale";
    const char* folders[] = {"Corvindale", "Corvindale\\Packager", "Corvindale\\Packager\\Merge Modules",
                             "Corvindale\\Packager\\Merge Modules\\0000", "Corvindale\\Packager\\Resources",
                             "Corvindale\\Packager\\Resources\\0000", "Veltrane", "Tidewarden", "cms",
                             "data", "Common"};
    for (const char* folder : folders) ASSERT_TRUE(CreateDirectoryA((root / folder).c_str(), nullptr));
    kit::setString(HKEY_LOCAL_MACHINE, sharedUsage, "", root / "Veltrane");
    kit::setString(HKEY_LOCAL_MACHINE, sharedUsage, "Tidewarden", root / "Tidewarden");
    kit::setString(HKEY_LOCAL_MACHINE, productSystem, "CMSDir", root / "cms");
    kit::setString(HKEY_LOCAL_MACHINE, productSystem, "FilesDirectory", root / "data");
    kit::setString(HKEY_LOCAL_MACHINE, windowsVersion, "CommonFilesDir", root / "Common");
    ASSERT_TRUE(CreateDirectoryA((root / "Common\\Veltrane Shared").c_str(), nullptr));

    std::vector<std::string> staging;
    for (const std::string& macro : macroNames(session)) {
        std::string folder;
        ASSERT_EQ(stagingDirFor(session, macro, folder), 1) << macro;
        staging.push_back(folder);
    }
    ASSERT_EQ(staging.size(), 12u);
    auto cleanup = [&] {
        for (const std::string& folder : staging) kit::removeTree(folder);
    };
    for (const std::string& folder : staging) kit::removeTree(folder);

    EXPECT_EQ(prepareStagingDirs(session, stagingCreate), 1);
    for (const std::string& folder : staging) EXPECT_TRUE(kit::fileExists(folder)) << folder;
    // Folders that exist already count as failures.
    EXPECT_EQ(prepareStagingDirs(session, stagingCreate), 0);

    kit::writeFile(staging[0] + "\\cvd.exe", "staged");
    kit::writeFile(staging[8] + "\\shared.dll", "staged");
    EXPECT_EQ(prepareStagingDirs(session, stagingRemove), 0);
    for (size_t i = 0; i < staging.size(); ++i)
        EXPECT_EQ(kit::fileExists(staging[i]), i == 0 || i == 8) << staging[i];
    EXPECT_EQ(installtest::content(staging[0] + "\\cvd.exe"), "staged");
    cleanup();
}

TEST_F(Macros, UnresolvedMacrosCreateNothing)
{
    // No registry folders at all: the five registry macros fail and must not
    // leave folders such as "\Veltrane Shared" at the root of the drive.
    kit::TempDir root("bare");
    session.productDir = root / "Corvindale";
    CreateDirectoryA(session.productDir.c_str(), nullptr);
    // The Windows folder's own staging folder is the one expected at the root.
    const std::string windowsStaging = installtest::windowsDir() + ".tmp";
    kit::removeTree(windowsStaging);
    const std::vector<std::string> before = kit::listDir("C:\\");
    EXPECT_EQ(prepareStagingDirs(session, stagingCreate), 0);
    std::vector<std::string> after = kit::listDir("C:\\");
    after.erase(std::remove(after.begin(), after.end(), windowsStaging.substr(3)), after.end());
    EXPECT_EQ(after, before);
    EXPECT_TRUE(kit::fileExists(session.productDir + ".tmp"));
    prepareStagingDirs(session, stagingRemove);
    EXPECT_FALSE(kit::fileExists(session.productDir + ".tmp"));
}

} // namespace
