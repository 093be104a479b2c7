// What the restart of the test machine really does: the update relies on it
// for staged files, WinInit.Ini renames and its RunOnce cleanup run.
#include <gtest/gtest.h>

#include "kit/testkit.h"

namespace {

TEST(Restart, PerformsDelayedMovesRenamesAndRunOnce)
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string root = "C:\\restart";
    kit::removeTree(root);
    CreateDirectoryA(root.c_str(), nullptr);
    kit::writeFile(root + "\\moved.new", "moved");
    kit::writeFile(root + "\\moved.txt", "old");
    kit::writeFile(root + "\\renamed.new", "renamed");
    kit::writeFile(root + "\\gone.txt", "gone");
    ASSERT_TRUE(kit::copyFile(kit::joinPath(kit::binDir(), "standin.exe"), root + "\\standin.exe"));

    ASSERT_TRUE(MoveFileExA((root + "\\moved.new").c_str(), (root + "\\moved.txt").c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExA((root + "\\gone.txt").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    kit::writeFile(std::string(windows) + "\\wininit.ini",
                   "[rename]\r\n" + root + "\\renamed.txt=" + root + "\\renamed.new\r\n");
    const char* runOnce = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    kit::setString(HKEY_LOCAL_MACHINE, runOnce, "kit", root + "\\standin.exe /cleanup");

    ASSERT_TRUE(kit::restartMachine());

    std::string content;
    EXPECT_TRUE(kit::readFile(root + "\\moved.txt", content));
    EXPECT_EQ(content, "moved");
    EXPECT_FALSE(kit::fileExists(root + "\\moved.new"));
    EXPECT_FALSE(kit::fileExists(root + "\\gone.txt"));
    EXPECT_TRUE(kit::readFile(root + "\\renamed.txt", content));
    EXPECT_EQ(content, "renamed");
    EXPECT_FALSE(kit::fileExists(std::string(windows) + "\\wininit.ini"));
    kit::readFile(root + "\\standin.log", content);
    EXPECT_NE(content.find("standin.exe /cleanup"), std::string::npos) << content;
    EXPECT_FALSE(kit::valueExists(HKEY_LOCAL_MACHINE, runOnce, "kit"));
    kit::removeTree(root);
}

} // namespace
