#include <gtest/gtest.h>

#include "kit/testkit.h"

namespace {

const char* completion =
    "The Corvindale update is complete.\n\nYou must reboot your machine for the settings to take effect.";

class Launcher : public testing::Test {
protected:
    kit::TempDir folder{"launcher"};
    void SetUp() override
    {
        ASSERT_TRUE(kit::copyFile(kit::joinPath(kit::binDir(), "trevixrun.exe"), folder / "trevixrun.exe"));
    }
};

void expectCompletion(const kit::Dialog& d)
{
    EXPECT_EQ(d.caption, "Corvindale Update");
    EXPECT_EQ(d.text, completion);
    EXPECT_EQ(d.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(d.icon, "information");
    EXPECT_EQ(d.owner, nullptr);
}

TEST_F(Launcher, WithoutTheUpdateProgramShowsNothing)
{
    DWORD start = GetTickCount();
    kit::RunResult r = kit::runProgram("\"" + (folder / "trevixrun.exe") + "\"", folder.path(), {}, 20000);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.dialogs.empty());
    EXPECT_LT(GetTickCount() - start, 10000u);
}

TEST_F(Launcher, WaitsForTheUpdateThenReportsWithoutPassingArguments)
{
    ASSERT_TRUE(kit::copyFile(kit::joinPath(kit::binDir(), "standin.exe"), folder / "trevix.exe"));
    kit::writeFile(folder / "standin.sleep", "1500");
    bool endedFirst = false;
    kit::RunResult r = kit::runProgram(
        "\"" + (folder / "trevixrun.exe") + "\" /status /cleanup x", folder.path(), {}, 30000,
        [&](const kit::Dialog&) { endedFirst = kit::fileExists(folder / "trevix.exe.done"); });
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0u);  // the stand-in ends with 7; the launcher does not pass it on
    ASSERT_EQ(r.dialogs.size(), 1u);
    expectCompletion(r.dialogs[0]);
    EXPECT_TRUE(endedFirst) << "the completion message came before the update program ended";
    std::string log;
    kit::readFile(folder / "standin.log", log);
    EXPECT_EQ(log, "trevix.exe\r\n");
}

TEST_F(Launcher, ReportsAlsoAfterTheNotInstalledMessage)
{
    ASSERT_TRUE(kit::copyFile(kit::joinPath(kit::binDir(), "trevix.exe"), folder / "trevix.exe"));
    kit::deleteTree(HKEY_LOCAL_MACHINE, "Software\\Veltrane");
    kit::RunResult r = kit::runProgram("\"" + (folder / "trevixrun.exe") + "\"", folder.path(), {}, 30000);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(r.dialogs.size(), 2u);
    EXPECT_EQ(r.dialogs[0].caption, "Veltrane Corvindale Update");
    EXPECT_NE(r.dialogs[0].processId, r.dialogs[1].processId);
    expectCompletion(r.dialogs[1]);
}

} // namespace
