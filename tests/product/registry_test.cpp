#include <gtest/gtest.h>

#include "kit/testkit.h"
#include "product/registry_work.h"
#include "session/update_session.h"

namespace {

const char* productKey = "Software\\Veltrane\\Corvindale\\CurrentVersion";
const char* longNameKey = "Software\\Veltrane\\Corvindale\\CurrentVersion\\UpdateLFNRename";
const char* runOnceKey = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char* hostKey = "System\\CurrentControlSet\\Services\\cv_host";

class RegistryWork : public testing::Test {
protected:
    kit::RegistrySandbox sandbox;
    kit::TempDir folder{"registry"};
    UpdateSession session;
    void SetUp() override
    {
        session.pathSeparator = "\\";
        session.manifestPath = folder / "trevix.ini";
        session.tempDir = folder.path();
    }
};

TEST_F(RegistryWork, RevisionIsADwordOnlyUnderAnExistingKey)
{
    kit::writeFile(session.manifestPath, "[TIDEWARDEN]\r\nRevision=1051\r\n");
    EXPECT_EQ(writeRevision(session), 0);
    EXPECT_FALSE(kit::keyExists(HKEY_LOCAL_MACHINE, productKey));

    kit::setString(HKEY_LOCAL_MACHINE, productKey, "Other", "x");
    EXPECT_EQ(writeRevision(session), 1);
    DWORD revision = 0;
    EXPECT_TRUE(kit::readDword(HKEY_LOCAL_MACHINE, productKey, "Revision", revision));
    EXPECT_EQ(revision, 1051u);

    kit::writeFile(session.manifestPath, "[TIDEWARDEN]\r\n");
    EXPECT_EQ(writeRevision(session), 1);
    EXPECT_TRUE(kit::readDword(HKEY_LOCAL_MACHINE, productKey, "Revision", revision));
    EXPECT_EQ(revision, 0u);
}

TEST_F(RegistryWork, CleanupRunIsAQuotedCommandOfTheCopy)
{
    kit::TempDir blanks{"temp with blanks"};
    session.tempDir = blanks.path();
    EXPECT_EQ(scheduleCleanupRun(session), 0);  // no RunOnce key: nothing created
    EXPECT_FALSE(kit::keyExists(HKEY_LOCAL_MACHINE, runOnceKey));

    kit::setString(HKEY_LOCAL_MACHINE, runOnceKey, "Other", "x");
    EXPECT_EQ(scheduleCleanupRun(session), 1);
    std::string command;
    EXPECT_TRUE(kit::readString(HKEY_LOCAL_MACHINE, runOnceKey, "Corvindale Update", command));
    EXPECT_EQ(command, "\"" + (blanks / "trevix.exe") + "\" /cleanup");
    EXPECT_TRUE(kit::fileExists(blanks / "trevix.exe"));
}

TEST_F(RegistryWork, LongNamesNeverCostTheOnlyCopy)
{
    const std::string longPath = folder / "Long Library Name.dll";
    const std::string staged = folder / "LONGLI~9.DLL";  // what the start-up rename left
    kit::writeFile(longPath, "old");
    kit::writeFile(staged, "new");
    const std::string kept = folder / "Kept Library Name.dll";
    kit::writeFile(kept, "only copy");
    char shortKept[MAX_PATH] = {};
    GetShortPathNameA(kept.c_str(), shortKept, MAX_PATH);

    kit::setString(HKEY_LOCAL_MACHINE, longNameKey, staged, longPath);
    kit::setString(HKEY_LOCAL_MACHINE, longNameKey, shortKept, kept);           // same file
    kit::setString(HKEY_LOCAL_MACHINE, longNameKey, folder / "MISSIN~1.DLL",  // rename never happened
                   folder / "Missing.dll");
    EXPECT_EQ(applyLongNameRenames(session), 1);

    std::string content;
    EXPECT_TRUE(kit::readFile(longPath, content));
    EXPECT_EQ(content, "new");
    EXPECT_FALSE(kit::fileExists(staged));
    EXPECT_TRUE(kit::readFile(kept, content));
    EXPECT_EQ(content, "only copy");
    EXPECT_FALSE(kit::keyExists(HKEY_LOCAL_MACHINE, longNameKey));
    EXPECT_EQ(applyLongNameRenames(session), 0);  // no list: nothing to do
}

TEST_F(RegistryWork, OverlongValueEndsTheWalkAndTheKeyGoes)
{
    kit::setString(HKEY_LOCAL_MACHINE, longNameKey, folder / "A~1.DLL", std::string(300, 'x'));
    EXPECT_EQ(applyLongNameRenames(session), 1);
    EXPECT_FALSE(kit::keyExists(HKEY_LOCAL_MACHINE, longNameKey));
}

TEST_F(RegistryWork, DisplayActiveFlagOnlyWhenMissing)
{
    EXPECT_EQ(ensureDisplayActiveFlag(session), 1);
    EXPECT_FALSE(kit::keyExists(HKEY_LOCAL_MACHINE, hostKey));

    kit::setDword(HKEY_LOCAL_MACHINE, hostKey, "DisplayActiveFlag", 0);
    ensureDisplayActiveFlag(session);
    DWORD flag = 9;
    EXPECT_TRUE(kit::readDword(HKEY_LOCAL_MACHINE, hostKey, "DisplayActiveFlag", flag));
    EXPECT_EQ(flag, 0u);

    kit::deleteTree(HKEY_LOCAL_MACHINE, hostKey);
    kit::setString(HKEY_LOCAL_MACHINE, hostKey, "Start", "x");
    ensureDisplayActiveFlag(session);
    EXPECT_TRUE(kit::readDword(HKEY_LOCAL_MACHINE, hostKey, "DisplayActiveFlag", flag));
    EXPECT_EQ(flag, 1u);
}

} // namespace
