#include <gtest/gtest.h>

#include "kit/testkit.h"
#include "res/resource.h"
#include "session/detection.h"
#include "session/update_session.h"
#include "win/text.h"

namespace {

const char* systemKey = "Software\\Veltrane\\Corvindale\\CurrentVersion\\System";

class Detection : public testing::Test {
protected:
    kit::RegistrySandbox sandbox;
};

TEST(StringTable, EveryEntryResolves)
{
    const UINT ids[] = {IDS_MACRO_PACKAGERRESDIR, IDS_MACRO_PROGDIR, IDS_MACRO_WINDIR, IDS_MACRO_SYSDIR,
                        IDS_PRODUCT_HOST, IDS_PRODUCT_FULL, IDS_PRODUCT_REMOTE, IDS_PRODUCT_HOSTLAN,
                        IDS_OS_WINDOWS9X, IDS_OS_WINNT40, IDS_OS_WINNT351, IDS_UPDATE_CAPTION,
                        IDS_VALUE_INSTALLDIR, IDS_NOT_INSTALLED, IDS_MANIFEST_NAME, IDS_KEY_SYSTEM,
                        IDS_VALUE_INSTALLED, IDS_PATH_SEPARATOR, IDS_MACRO_TWDIR, IDS_MACRO_VELDIR,
                        IDS_MACRO_DRVDIR, IDS_OS_WIN2000, IDS_RESTART_CAPTION, IDS_MACRO_CMSDIR,
                        IDS_MACRO_DATADIR, IDS_RESTART_QUESTION, IDS_WRONG_VERSION, IDS_MACRO_VELSHARED,
                        IDS_MACRO_MERGEMODULESDIR, IDS_MACRO_MERGEMODULESENGDIR, IDS_OS_WINDOWSXP};
    for (UINT id : ids) EXPECT_FALSE(win::loadText(id).empty()) << "entry " << id;
    EXPECT_EQ(win::loadText(IDS_PATH_SEPARATOR), "\\");
    EXPECT_EQ(win::loadText(IDS_UPDATE_CAPTION), "Veltrane Corvindale Update");
    EXPECT_EQ(win::loadText(IDS_NOT_INSTALLED),
              "Corvindale is not installed locally.  You must install Corvindale before it can be updated.");
}

TEST_F(Detection, ReadMachineStringDropsExactlyOneTrailingBackslash)
{
    struct Case {
        const char* stored;
        const char* expected;
    } cases[] = {
        {"C:\\Program Files\\Corvindale\\", "C:\\Program Files\\Corvindale"},
        {"C:\\Program Files\\Corvindale", "C:\\Program Files\\Corvindale"},
        {"C:\\Corvindale\\\\", "C:\\Corvindale\\"},
        {"\\", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        kit::setString(HKEY_LOCAL_MACHINE, systemKey, "InstallDir", c.stored);
        std::string out = "untouched";
        EXPECT_EQ(readMachineString(systemKey, "InstallDir", out), 1) << c.stored;
        EXPECT_EQ(out, c.expected) << c.stored;
    }
}

TEST_F(Detection, ReadMachineStringLeavesOutputAloneOnFailure)
{
    std::string out = "untouched";
    EXPECT_EQ(readMachineString(systemKey, "InstallDir", out), 0);  // no key
    kit::setString(HKEY_LOCAL_MACHINE, systemKey, "Other", "x");
    EXPECT_EQ(readMachineString(systemKey, "InstallDir", out), 0);  // no value
    kit::setString(HKEY_LOCAL_MACHINE, systemKey, "InstallDir", std::string(261, 'a'));
    EXPECT_EQ(readMachineString(systemKey, "InstallDir", out), 0);  // 262 bytes do not fit
    EXPECT_EQ(out, "untouched");
}

TEST_F(Detection, ReadMachineStringAlwaysYieldsATerminatedText)
{
    // Stored without a terminator: the text ends where the data ends.
    kit::setBytes(HKEY_LOCAL_MACHINE, systemKey, "InstallDir", "C:\\Short", 8, REG_SZ);
    std::string out;
    ASSERT_EQ(readMachineString(systemKey, "InstallDir", out), 1);
    EXPECT_EQ(out, "C:\\Short");

    // 261 bytes without a terminator fill the buffer exactly. Windows may hand
    // them over unterminated, Wine refuses them; either way nothing past them is read.
    std::string full(261, 'b');
    kit::setBytes(HKEY_LOCAL_MACHINE, systemKey, "InstallDir", full.data(), 261, REG_SZ);
    out = "untouched";
    if (readMachineString(systemKey, "InstallDir", out))
        EXPECT_EQ(out, full);
    else
        EXPECT_EQ(out, "untouched");

    // A longest fitting text with its terminator.
    kit::setString(HKEY_LOCAL_MACHINE, systemKey, "InstallDir", std::string(260, 'c'));
    ASSERT_EQ(readMachineString(systemKey, "InstallDir", out), 1);
    EXPECT_EQ(out, std::string(260, 'c'));

    // Another type: its bytes are taken as text up to the first zero.
    kit::setDword(HKEY_LOCAL_MACHINE, systemKey, "InstallDir", 0x00434241);
    ASSERT_EQ(readMachineString(systemKey, "InstallDir", out), 1);
    EXPECT_EQ(out, "ABC");
}

TEST_F(Detection, InstalledOnlyForTheOneCharacterText1)
{
    EXPECT_EQ(isProductInstalled(), 0);  // no key at all
    struct Case {
        std::string bytes;
        DWORD type;
        int expected;
    } cases[] = {
        {std::string("1\0", 2), REG_SZ, 1},
        {std::string("1", 1), REG_SZ, 1},  // stored without its terminator
        {std::string("10\0", 3), REG_SZ, 0},
        {std::string("1 \0", 3), REG_SZ, 0},
        {std::string("0\0", 2), REG_SZ, 0},
        {std::string("\x01\0\0\0", 4), REG_DWORD, 0},
        {std::string("1000000\0", 8), REG_SZ, 0},
        {std::string("", 0), REG_SZ, 0},
    };
    for (const Case& c : cases) {
        kit::setBytes(HKEY_LOCAL_MACHINE, systemKey, "Installed", c.bytes.data(),
                      static_cast<DWORD>(c.bytes.size()), c.type);
        EXPECT_EQ(isProductInstalled(), c.expected) << "bytes " << c.bytes.size();
    }
    kit::deleteTree(HKEY_LOCAL_MACHINE, systemKey);
    kit::setString(HKEY_LOCAL_MACHINE, systemKey, "InstallDir", "C:\\x");
    EXPECT_EQ(isProductInstalled(), 0);  // value missing
}

TEST(RunKind, PlainCaseSensitiveSubstrings)
{
    EXPECT_FALSE(isCleanupRun(""));
    EXPECT_FALSE(wantsStatus(""));
    EXPECT_TRUE(isCleanupRun(" /cleanup"));
    EXPECT_FALSE(isCleanupRun("/CLEANUP"));
    EXPECT_FALSE(wantsStatus("/Status"));
    EXPECT_TRUE(isCleanupRun("x/cleanupy"));
    EXPECT_TRUE(wantsStatus("--/statusX"));
    EXPECT_TRUE(isCleanupRun("/status /cleanup"));
    EXPECT_TRUE(wantsStatus("/status /cleanup"));
    EXPECT_FALSE(isCleanupRun("/clean up"));
}

TEST(Paths, FolderOfCutsAtTheLastSeparator)
{
    EXPECT_EQ(win::folderOf("D:\\Download\\Pkg\\trevix.exe"), "D:\\Download\\Pkg");
    EXPECT_EQ(win::folderOf("trevix.exe"), "");
    EXPECT_EQ(win::folderOf("C:\\trevix.exe"), "C:");
}

class Environment : public Detection {
protected:
    kit::TempDir product{"product"};
    std::string oldTmp, oldTemp;
    void SetUp() override
    {
        char buffer[MAX_PATH];
        oldTmp = GetEnvironmentVariableA("TMP", buffer, MAX_PATH) ? buffer : "";
        oldTemp = GetEnvironmentVariableA("TEMP", buffer, MAX_PATH) ? buffer : "";
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("TMP", oldTmp.empty() ? nullptr : oldTmp.c_str());
        SetEnvironmentVariableA("TEMP", oldTemp.empty() ? nullptr : oldTemp.c_str());
    }
};

TEST_F(Environment, FillsEveryFieldInOrder)
{
    kit::setString(HKEY_LOCAL_MACHINE, systemKey, "InstallDir", product.path() + "\\");
    kit::TempDir temp{"temp"};
    SetEnvironmentVariableA("TMP", (temp.path() + "\\\\").c_str());
    SetEnvironmentVariableA("TEMP", (temp.path() + "\\\\").c_str());

    UpdateSession session;
    EXPECT_EQ(initialiseEnvironment(session), 1);
    EXPECT_EQ(session.pathSeparator, "\\");
    EXPECT_EQ(session.productDir, product.path());
    EXPECT_EQ(session.programDir, kit::binDir());
    EXPECT_EQ(session.manifestPath, kit::binDir() + "\\trevix.ini");
    EXPECT_EQ(session.tempDir, temp.path());
    EXPECT_EQ(session.mergeModulesDir, product.path() + "\\Packager\\Merge Modules");
    EXPECT_EQ(session.newFilesDir, product.path() + "\\Packager\\Merge Modules\\NewFiles");
    EXPECT_EQ(session.hasMergeModules, 0);
    EXPECT_EQ(session.macroProgDir, "PROGDIR");
    EXPECT_EQ(session.macroPackagerResDir, "PACKAGERRESDIR");
    EXPECT_EQ(session.macroMergeModulesEngDir, "MERGEMODULESENGDIR");
    EXPECT_EQ(session.osFamily, detectOsFamily());
}

TEST_F(Environment, EmptyMergeModulesFolderCounts)
{
    kit::setString(HKEY_LOCAL_MACHINE, systemKey, "InstallDir", product.path());
    CreateDirectoryA((product / "Packager").c_str(), nullptr);
    CreateDirectoryA((product / "Packager\\Merge Modules").c_str(), nullptr);
    UpdateSession session;
    initialiseEnvironment(session);
    EXPECT_EQ(session.hasMergeModules, 1);
}

TEST_F(Environment, MissingInstallDirLeavesProductDirEmpty)
{
    UpdateSession session;
    EXPECT_EQ(initialiseEnvironment(session), 0);
    EXPECT_EQ(session.productDir, "");
    EXPECT_EQ(session.mergeModulesDir, "\\Packager\\Merge Modules");
    EXPECT_EQ(session.programDir, kit::binDir());
}

} // namespace
