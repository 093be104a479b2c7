// The order of a status run, seen from outside while it runs: the progress
// dialog is there before the first manifest entry is handled, the restart
// question comes after the logon step and before the version record.
#include <gtest/gtest.h>

#include "kit/testkit.h"
#include "res/resource.h"
#include "win/text.h"

namespace {

const char* const winLogon = "SOFTWARE\\MICROSOFT\\WINDOWS NT\\CurrentVersion\\WinLogon";

TEST(StatusRun, DialogFirstThenQuestionAfterTheLogonStepThenTheRecord)
{
    kit::TempDir package("status pkg");
    kit::TempDir wynfold("wynfold");
    kit::ProductFixture product("C:\\Corvindale status");
    ASSERT_TRUE(kit::copyFile(kit::joinPath(kit::binDir(), "trevix.exe"), package / "trevix.exe"));
    ASSERT_TRUE(kit::writeFile(package / "trevix.ini",
                               "[TIDEWARDEN]\r\nFile Count=12\r\n[COMMON]\r\nfirst.dll=PROGDIR\r\n"
                               "second.dll=PROGDIR\r\nthird.dll=PROGDIR\r\n"));
    // The common section replaces files the product has.
    for (const char* name : {"first.dll", "second.dll", "third.dll"}) {
        ASSERT_TRUE(kit::writeFile(package / name, "new"));
        ASSERT_TRUE(kit::writeFile(kit::joinPath(product.installDir, name), "old"));
    }
    // The auxiliary setup program runs before the entries: a slow one keeps
    // the run at that point long enough to be seen.
    ASSERT_TRUE(kit::copyFile(kit::joinPath(kit::binDir(), "standin.exe"), package / "kosetup.exe"));
    ASSERT_TRUE(kit::writeFile(package / "standin.sleep", "1500"));
    const std::string firstTarget = kit::joinPath(product.installDir, "first.dll");
    ASSERT_TRUE(kit::copyFile(kit::joinPath(kit::binDir(), "wynfold_standin.dll"), wynfold / "wynfold_standin.dll"));
    kit::RunResult reg = kit::runProgram("regsvr32.exe /s \"" + (wynfold / "wynfold_standin.dll") + "\"", "");
    ASSERT_TRUE(reg.finished && reg.exitCode == 0);
    kit::setFamily("trevix.exe", "winxp");
    kit::setString(HKEY_LOCAL_MACHINE, winLogon, "GinaDLL", "Vedede.dll");

    const std::string question = win::loadText(IDS_RESTART_QUESTION);
    const std::string log = wynfold / "wynfold.log";
    bool logonDoneAtQuestion = false, recordedBeforeQuestion = true, entryBeforeDialog = true;
    int progressMax = -1, progressPosAtStart = -1;
    kit::RunResult run = kit::runProgram(
        "\"" + (package / "trevix.exe") + "\" /status", package.path(),
        {{win::loadText(IDS_RESTART_CAPTION), "reboot", IDNO}}, 60000, [&](const kit::Dialog& d) {
            if (d.progressBar) {
                progressMax = d.progressMax;
                progressPosAtStart = d.progressPos;
                std::string content;
                kit::readFile(firstTarget, content);
                entryBeforeDialog = content != "old";
            }
            if (d.text == question) {
                logonDoneAtQuestion = !kit::valueExists(HKEY_LOCAL_MACHINE, winLogon, "GinaDLL");
                recordedBeforeQuestion = kit::fileExists(log);
            }
        });
    kit::setFamily("trevix.exe", "");
    kit::runProgram("regsvr32.exe /s /u \"" + (wynfold / "wynfold_standin.dll") + "\"", "");

    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.dialogs.size(), 2u);
    EXPECT_EQ(progressMax, 12);
    EXPECT_EQ(progressPosAtStart, 0);
    EXPECT_FALSE(entryBeforeDialog);
    std::string content;
    EXPECT_TRUE(kit::readFile(firstTarget, content));
    EXPECT_EQ(content, "new");
    EXPECT_EQ(run.dialogs[0].progressPos, 3) << "one step per handled entry";
    EXPECT_EQ(run.dialogs[1].text, question);
    EXPECT_TRUE(logonDoneAtQuestion);
    EXPECT_FALSE(recordedBeforeQuestion);
    EXPECT_TRUE(kit::fileExists(log));
}

} // namespace
