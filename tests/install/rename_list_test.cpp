// The rename list of the 9x family: the [Rename] section of WinInit.Ini,
// edited in place through a file mapping. The writer is called directly,
// since Wine performs delayed moves even when it emulates Windows 98.
#include <gtest/gtest.h>

#include <memory>

#include "install/file_replacement.h"
#include "install_fixture.h"
#include "kit/testkit.h"

namespace {

int pauses = 0;
unsigned long lastPause = 0;
int alerts = 0;
unsigned int lastAlert = 0;
std::unique_ptr<kit::FileHolder>* releaseAfterThird = nullptr;

void countPause(unsigned long milliseconds)
{
    ++pauses;
    lastPause = milliseconds;
    if (releaseAfterThird && pauses == 3) releaseAfterThird->reset();
}

void countAlert(unsigned int type)
{
    ++alerts;
    lastAlert = type;
}

class RenameList : public testing::Test {
protected:
    UpdateSession session;
    std::string path = installtest::windowsDir() + "\\wininit.ini";
    std::string saved;
    bool hadFile = false;
    RenameListWaits waits{};

    void SetUp() override
    {
        installtest::prepareSession(session, "C:\\Corvindale", "C:\\pkg", osWindows9x);
        hadFile = kit::readFile(path, saved);
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
        waits = renameListWaits();
        renameListWaits() = {countPause, countAlert};
        pauses = alerts = 0;
    }
    void TearDown() override
    {
        closeRenameList(session);
        renameListWaits() = waits;
        releaseAfterThird = nullptr;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
        if (hadFile) kit::writeFile(path, saved);
    }
    int add(const std::string& source, const std::string& target)
    {
        return addRenameLine(session, source, &target);
    }
    std::string written()
    {
        closeRenameList(session);
        return installtest::content(path);
    }
};

TEST_F(RenameList, MissingFileIsCreatedWithHeaderAndNoSpareSpace)
{
    ASSERT_EQ(add("C:\\CORV.TMP\\CVD.EXE", "C:\\CORV\\CVD.EXE"), 1);
    EXPECT_EQ(written(), "[Rename]\r\nC:\\CORV\\CVD.EXE=C:\\CORV.TMP\\CVD.EXE\r\n");
}

TEST_F(RenameList, HeadersAndExistingText)
{
    struct Case {
        const char* before;
        const char* after;
    } cases[] = {
        // The lower-case header is the system's own and is kept.
        {"[boot]\r\nshell=x\r\n[rename]\r\nOLD=LINE\r\n",
         "[boot]\r\nshell=x\r\n[rename]\r\nT=S\r\nOLD=LINE\r\n"},
        {"[RENAME]\r\nOLD=LINE\r\n", "[RENAME]\r\nT=S\r\nOLD=LINE\r\n"},
        // Other capitalisations are not recognised: a header of our own is added.
        {"[ReName]\r\nOLD=LINE\r\n", "[ReName]\r\nOLD=LINE\r\n[Rename]\r\nT=S\r\n"},
        // Text without a final line break must not swallow the header.
        {"[boot]\r\nshell=x", "[boot]\r\nshell=x\r\n[Rename]\r\nT=S\r\n"},
        // A header that is not at the start of a line is no header.
        {"[boot]\r\nx=[rename]\r\n", "[boot]\r\nx=[rename]\r\n[Rename]\r\nT=S\r\n"},
        {"", "[Rename]\r\nT=S\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        ASSERT_TRUE(kit::writeFile(path, c.before));
        UpdateSession fresh;
        installtest::prepareSession(fresh, "C:\\Corvindale", "C:\\pkg", osWindows9x);
        const std::string target = "T";
        EXPECT_EQ(addRenameLine(fresh, "S", &target), 1);
        closeRenameList(fresh);
        EXPECT_EQ(installtest::content(path), c.after);
    }
}

TEST_F(RenameList, LaterLinesGoAboveEarlierOnesAndDeletionsStayApart)
{
    ASSERT_TRUE(kit::writeFile(path, "[rename]\r\nOLD=LINE\r\n[other]\r\nk=v\r\n"));
    EXPECT_EQ(add("S1", "T1"), 1);
    EXPECT_EQ(add("S2", "T2"), 1);
    // Two deletions: as profile keys both would be "NUL" and merge.
    EXPECT_EQ(addRenameLine(session, "D1", nullptr), 1);
    EXPECT_EQ(addRenameLine(session, "D2", nullptr), 1);
    EXPECT_EQ(written(), "[rename]\r\nNUL=D2\r\nNUL=D1\r\nT2=S2\r\nT1=S1\r\nOLD=LINE\r\n[other]\r\nk=v\r\n");
}

TEST_F(RenameList, GrowsPastTheSpareSpace)
{
    ASSERT_TRUE(kit::writeFile(path, "[boot]\r\n"));
    std::string expected;
    const int lines = 3 * renameSpare / 900;
    for (int i = 0; i < lines; ++i) {
        const std::string source = "C:\\S" + std::to_string(i) + std::string(880, 'x');
        const std::string target = "C:\\T" + std::to_string(i);
        ASSERT_EQ(add(source, target), 1) << i;
        expected = target + "=" + source + "\r\n" + expected;
    }
    EXPECT_EQ(written(), "[boot]\r\n[Rename]\r\n" + expected);
}

TEST_F(RenameList, OverlongLineIsRefusedNotCut)
{
    ASSERT_TRUE(kit::writeFile(path, "[rename]\r\n"));
    // "C:\T=" + source + CRLF: 1023 characters fit the buffer with its zero.
    EXPECT_EQ(add("C:\\" + std::string(renameLineSize - 1 - 7 - 3 + 1, 's'), "C:\\T"), 0);
    const std::string source = "C:\\" + std::string(renameLineSize - 1 - 7 - 3, 's');
    EXPECT_EQ(add(source, "C:\\T"), 1);
    EXPECT_EQ(written(), "[rename]\r\nC:\\T=" + source + "\r\n");
}

TEST_F(RenameList, BinaryAndHugeFilesKeepTheirBytes)
{
    std::string binary;
    for (int i = 0; i < 70000; ++i) binary += static_cast<char>((i * 7919) % 256);
    std::string huge;
    while (huge.size() < 6u * 1024 * 1024) huge += "[s" + std::to_string(huge.size()) + "]\r\nk=v\r\n";
    for (const std::string& before : {binary, huge}) {
        ASSERT_TRUE(kit::writeFile(path, before));
        UpdateSession fresh;
        installtest::prepareSession(fresh, "C:\\Corvindale", "C:\\pkg", osWindows9x);
        const std::string target = "T";
        EXPECT_EQ(addRenameLine(fresh, "S", &target), 1);
        EXPECT_EQ(addRenameLine(fresh, "S2", &target), 1);
        closeRenameList(fresh);
        const std::string after = installtest::content(path);
        const std::string added = "[Rename]\r\nT=S2\r\nT=S\r\n";
        ASSERT_EQ(after.size(), before.size() + (before.back() == '\n' ? 0 : 2) + added.size());
        EXPECT_EQ(after.compare(0, before.size(), before), 0);
        EXPECT_EQ(after.substr(after.size() - added.size()), added);
    }
}

TEST_F(RenameList, LockedFileIsRetriedFifteenTimesThenEveryLaterCallFails)
{
    ASSERT_TRUE(kit::writeFile(path, "[rename]\r\n"));
    {
        kit::FileHolder holder(path);
        ASSERT_TRUE(holder.held());
        EXPECT_EQ(add("S", "T"), 0);
        EXPECT_EQ(pauses, renameOpenRetries);
        EXPECT_EQ(lastPause, 1000u);
        EXPECT_EQ(alerts, 1);
        EXPECT_EQ(lastAlert, 1u);
    }
    // Released now, but the run has given up on the list: no new attempt, no new beep.
    EXPECT_EQ(add("S", "T"), 0);
    EXPECT_EQ(scheduleReplace(session, "C:\\none.tmp\\x", nullptr), 0);
    EXPECT_EQ(pauses, renameOpenRetries);
    EXPECT_EQ(alerts, 1);
    closeRenameList(session);
    EXPECT_EQ(installtest::content(path), "[rename]\r\n");
}

TEST_F(RenameList, ReadOnlyFileFailsLikeALockedOne)
{
    if (!installtest::readOnlyIsEnforced(installtest::windowsDir()))
        GTEST_SKIP() << "read-only files are writable here (Wine run as root)";
    ASSERT_TRUE(kit::writeFile(path, "[rename]\r\n"));
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(add("S", "T"), 0);
    EXPECT_EQ(pauses, renameOpenRetries);
    EXPECT_EQ(alerts, 1);
    EXPECT_EQ(add("S", "T"), 0);
    EXPECT_EQ(pauses, renameOpenRetries);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(installtest::content(path), "[rename]\r\n");
}

TEST_F(RenameList, LockReleasedDuringTheRetriesIsUsed)
{
    ASSERT_TRUE(kit::writeFile(path, "[rename]\r\n"));
    auto holder = std::make_unique<kit::FileHolder>(path);
    ASSERT_TRUE(holder->held());
    releaseAfterThird = &holder;
    EXPECT_EQ(add("S", "T"), 1);
    EXPECT_EQ(pauses, 3);
    EXPECT_EQ(alerts, 0);
    EXPECT_EQ(written(), "[rename]\r\nT=S\r\n");
}

} // namespace
