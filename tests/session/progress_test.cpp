#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>

#include "kit/testkit.h"
#include "res/resource.h"
#include "session/progress.h"
#include "session/self_removal.h"
#include "win/text.h"

namespace {

bool waitUntil(const std::function<bool()>& done, DWORD limitMs)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= limitMs) return false;
        Sleep(20);
    }
    return true;
}

TEST(Progress, DialogExistsWithTextsAndRangeWhenStartReturns)
{
    struct Case {
        int fileCount, max;
    } cases[] = {{0, 0}, {3, 3}, {65535, 65535}, {70000, 4464}, {65536, 0}};
    for (const Case& c : cases) {
        ProgressWindow progress;
        ASSERT_EQ(progress.start(c.fileCount), 1);
        HWND window = progress.ownerWindow();
        ASSERT_NE(window, nullptr) << c.fileCount;
        kit::Dialog d = kit::inspectDialog(window);
        EXPECT_EQ(d.caption, win::loadText(IDS_RESTART_CAPTION));
        EXPECT_EQ(d.text, "Please wait while Corvindale is updated...");
        EXPECT_TRUE(d.buttons.empty());
        ASSERT_TRUE(d.progressBar);
        EXPECT_EQ(d.progressMin, 0);
        EXPECT_EQ(d.progressMax, c.max) << c.fileCount;
        EXPECT_EQ(d.progressPos, 0);
        EXPECT_FALSE(GetWindowLongA(window, GWL_STYLE) & WS_SYSMENU);
    }
}

TEST(Progress, StepsAdvanceSynchronouslyAndWrapPastTheEnd)
{
    ProgressWindow progress;
    progress.start(3);
    HWND bar = GetDlgItem(progress.ownerWindow(), IDC_PROGRESS_BAR);
    ASSERT_NE(bar, nullptr);
    int seen[5];
    for (int& pos : seen) {
        progress.step();
        pos = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
    }
    EXPECT_EQ(seen[0], 1);
    EXPECT_EQ(seen[1], 2);
    EXPECT_EQ(seen[2], 3);
    // The standard bar starts again from the beginning when a step passes the end.
    EXPECT_LT(seen[3], 3);
}

TEST(Progress, AnEmptyBarNeverMoves)
{
    ProgressWindow progress;
    progress.start(0);
    HWND bar = GetDlgItem(progress.ownerWindow(), IDC_PROGRESS_BAR);
    for (int i = 0; i < 3; ++i) progress.step();
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
}

TEST(Progress, EscapeEndsTheDialogAndLaterCallsDoNotReachIt)
{
    ProgressWindow progress;
    progress.start(10);
    HWND window = progress.ownerWindow();
    ASSERT_NE(window, nullptr);
    PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(window); }, 5000)) << "Escape did not end the dialog";
    EXPECT_EQ(progress.ownerWindow(), nullptr);
    progress.step();
    progress.close();
    EXPECT_EQ(progress.ownerWindow(), nullptr);
}

TEST(Progress, CloseEndsTheDialogAndDestructionWaitsForItsThread)
{
    HWND window = nullptr;
    {
        ProgressWindow progress;
        progress.start(5);
        window = progress.ownerWindow();
        ASSERT_NE(window, nullptr);
        progress.close();
        ASSERT_TRUE(waitUntil([&] { return progress.ownerWindow() == nullptr; }, 5000));
    }
    EXPECT_FALSE(IsWindow(window));
    {
        ProgressWindow progress;
        progress.start(5);
        window = progress.ownerWindow();
    }
    EXPECT_FALSE(IsWindow(window)) << "the destructor returned before the dialog ended";
}

TEST(Progress, ConstructionShowsNothing)
{
    ProgressWindow progress;
    EXPECT_EQ(progress.ownerWindow(), nullptr);
    progress.step();
    progress.close();
}

// The command processor really runs the batch: the program file goes, then
// the batch, which replaced an older one.
TEST(SelfRemoval, BatchDeletesTheProgramFileAndItself)
{
    kit::TempDir root("self removal");
    struct Case {
        const char* folder;
    } cases[] = {{"plain"}, {"with blanks"}};
    for (const Case& c : cases) {
        const std::string folder = root / c.folder;
        CreateDirectoryA(folder.c_str(), nullptr);
        const std::string program = kit::joinPath(folder, "trevix.exe");
        ASSERT_TRUE(kit::writeFile(program, "program"));
        ASSERT_TRUE(kit::writeFile(kit::joinPath(folder, "DelUS.bat"), "old batch"));
        const std::string neighbour = kit::joinPath(folder, "trevix");
        ASSERT_TRUE(kit::writeFile(neighbour, "a neighbour"));
        ASSERT_EQ(startSelfDeleteBatch(program, false), 1) << c.folder;
        const std::string batch = kit::joinPath(folder, "DelUS.bat");
        EXPECT_TRUE(waitUntil([&] { return !kit::fileExists(program) && !kit::fileExists(batch); }, 20000))
            << c.folder << ": program " << kit::fileExists(program) << ", batch " << kit::fileExists(batch);
        EXPECT_TRUE(kit::fileExists(neighbour)) << c.folder;
    }
}

// cmd expands "%" in the batch's start line and text: such a program stays,
// and so does the file the expanded name would point to.
TEST(SelfRemoval, APathWithPercentIsLeftAlone)
{
    kit::TempDir root("self removal");
    SetEnvironmentVariableA("TREVIXDECOY", "decoy");
    const std::string folder = root / "pct%TREVIXDECOY%";
    const std::string decoyFolder = root / "pctdecoy";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA(decoyFolder.c_str(), nullptr);
    const std::string program = kit::joinPath(folder, "trevix.exe");
    const std::string decoy = kit::joinPath(decoyFolder, "trevix.exe");
    ASSERT_TRUE(kit::writeFile(program, "program"));
    ASSERT_TRUE(kit::writeFile(decoy, "another program"));
    ASSERT_TRUE(kit::writeFile(kit::joinPath(decoyFolder, "DelUS.bat"), "del \"" + decoy + "\"\r\n"));
    EXPECT_EQ(startSelfDeleteBatch(program, false), 0);
    Sleep(1500);
    EXPECT_TRUE(kit::fileExists(program));
    EXPECT_TRUE(kit::fileExists(decoy));
    EXPECT_FALSE(kit::fileExists(kit::joinPath(folder, "DelUS.bat")));
}

TEST(SelfRemoval, AFolderThatCannotTakeTheBatchIsSkipped)
{
    EXPECT_EQ(startSelfDeleteBatch("C:\\no such folder here\\trevix.exe", false), 0);
    EXPECT_EQ(startSelfDeleteBatch("trevix.exe", false), 0);
}

} // namespace
