// Cabinet adapters: what a cabinet built through them holds, and what their
// extraction leaves on disk.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "mergemod/cabinet.h"
#include "mergemod/msm_support.h"
#include "mergemod/names.h"

namespace {

using mergemod::CabinetBuilder;

class CabinetTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!mergemod::cabinetApi().complete) GTEST_SKIP() << "cabinet.dll lacks FCI or FDI";
        CreateDirectoryA(source(), nullptr);
        CreateDirectoryA(target(), nullptr);
    }
    const char* source() { return (sourceDir = dir / "source").c_str(); }
    const char* target() { return (targetDir = dir / "target").c_str(); }

    // Packs the named files of the source folder (name in cabinet = file name).
    bool pack(const std::vector<std::string>& names, const std::string& cabName = "t.cab")
    {
        CabinetBuilder builder;
        if (!builder.create(dir.path() + "\\", cabName)) return false;
        for (const auto& name : names)
            if (!builder.addFile(kit::joinPath(source(), name), name)) return false;
        return builder.flush() == 1;
    }
    msm::CabInfo info(const std::string& cabName = "t.cab")
    {
        std::string bytes;
        kit::readFile(dir / cabName, bytes);
        msm::CabInfo result;
        EXPECT_TRUE(msm::parseCabinet(bytes, result));
        return result;
    }

    kit::TempDir dir{"cab"};
    std::string sourceDir, targetDir;
};

TEST_F(CabinetTest, OneCabinetOneFolderSetIdAndMszip)
{
    kit::writeFile(kit::joinPath(source(), "one.dll"), std::string(70000, 'a'));
    kit::writeFile(kit::joinPath(source(), "Long File Name.dll"), "second file");
    kit::writeFile(kit::joinPath(source(), "three.txt"), std::string(3000, 'c'));
    ASSERT_TRUE(pack({"one.dll", "Long File Name.dll", "three.txt"}));

    msm::CabInfo cab = info();
    EXPECT_EQ(cab.setId, 12345);
    EXPECT_EQ(cab.folders, 1);
    EXPECT_EQ(cab.compression & 0x000F, 1) << "MSZIP";
    ASSERT_EQ(cab.entries.size(), 3u);
    EXPECT_EQ(cab.entries[1].name, "Long File Name.dll");
    EXPECT_EQ(cab.entries[0].size, 70000u);
    EXPECT_EQ(kit::listDir(dir.path()), (std::vector<std::string>{"source", "t.cab", "target"}))
        << "no next cabinet, no temporary file left";

    // For cabextract and gcab on the Linux side.
    std::string out = msm::outputDir("cabinet");
    if (!out.empty()) kit::copyFile(dir / "t.cab", kit::joinPath(out, "built.cab"));
}

TEST_F(CabinetTest, FourAttributeBitsAndNoOthers)
{
    const DWORD four = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                       FILE_ATTRIBUTE_ARCHIVE;
    std::string all = kit::joinPath(source(), "all.dll");
    std::string archive = kit::joinPath(source(), "archive.dll");
    std::string none = kit::joinPath(source(), "none.dll");
    kit::writeFile(all, "a");
    kit::writeFile(archive, "b");
    kit::writeFile(none, "c");
    SetFileAttributesA(all.c_str(), four | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    SetFileAttributesA(archive.c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY);
    SetFileAttributesA(none.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((GetFileAttributesA(all.c_str()) & four) != four)
        GTEST_SKIP() << "this file system keeps no hidden/system attributes";
    ASSERT_TRUE(pack({"all.dll", "archive.dll", "none.dll"}));

    msm::CabInfo cab = info();
    ASSERT_EQ(cab.entries.size(), 3u);
    EXPECT_EQ(cab.entries[0].attribs, 0x27);
    EXPECT_EQ(cab.entries[1].attribs, 0x20);
    // Wine reports the archive bit for every file, so "none" is whatever it reports.
    const DWORD noneBits = GetFileAttributesA(none.c_str()) & four;
    EXPECT_EQ(cab.entries[2].attribs, noneBits);

    // Extraction restores exactly the four bits: a cabinet entry with the
    // execute (0x40) and UTF-name (0x80) bits set gets neither.
    std::string bytes;
    kit::readFile(dir / "t.cab", bytes);
    size_t at = bytes.find("archive.dll");
    ASSERT_NE(at, std::string::npos);
    bytes[at - 2] = static_cast<char>(0x20 | 0x40);
    kit::writeFile(dir / "t.cab", bytes);
    ASSERT_EQ(mergemod::extractCabinet(dir.path() + "\\", "t.cab", target()), 1);
    auto attributes = [&](const char* name) {
        return GetFileAttributesA(kit::joinPath(target(), name).c_str()) &
               ~(FILE_ATTRIBUTE_NORMAL);
    };
    EXPECT_EQ(attributes("all.dll"), four);
    EXPECT_EQ(attributes("archive.dll"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(attributes("none.dll") & four, noneBits);
}

TEST_F(CabinetTest, TimesTravelThroughLocalTime)
{
    std::string path = kit::joinPath(source(), "timed.dll");
    kit::writeFile(path, "timed");
    SYSTEMTIME when = {2004, 7, 0, 15, 13, 45, 30, 0};
    FILETIME written;
    SystemTimeToFileTime(&when, &written);
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        SetFileTime(file, nullptr, nullptr, &written);
        CloseHandle(file);
    }
    ASSERT_TRUE(pack({"timed.dll"}));
    FILETIME local;
    FileTimeToLocalFileTime(&written, &local);
    WORD date = 0, time = 0;
    FileTimeToDosDateTime(&local, &date, &time);
    msm::CabInfo cab = info();
    ASSERT_EQ(cab.entries.size(), 1u);
    EXPECT_EQ(cab.entries[0].date, date);
    EXPECT_EQ(cab.entries[0].time, time);

    ASSERT_EQ(mergemod::extractCabinet(dir.path() + "\\", "t.cab", target()), 1);
    HANDLE file = CreateFileA(kit::joinPath(target(), "timed.dll").c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME created, accessed, modified;
    GetFileTime(file, &created, &accessed, &modified);
    CloseHandle(file);
    FILETIME back;
    FILETIME expected;
    DosDateTimeToFileTime(date, time, &back);
    LocalFileTimeToFileTime(&back, &expected);
    EXPECT_EQ(CompareFileTime(&modified, &expected), 0);
    EXPECT_EQ(CompareFileTime(&created, &expected), 0);
    EXPECT_EQ(CompareFileTime(&modified, &written), 0) << "30 s is on the two-second grid";
    // Local time must really differ from UTC here, or the shift would go unseen.
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    EXPECT_NE(zone.Bias, 0) << "set TZ so that local time differs from UTC";
    WORD utcDate = 0, utcTime = 0;
    FileTimeToDosDateTime(&written, &utcDate, &utcTime);
    EXPECT_NE(cab.entries[0].time, utcTime) << "packed as local time, not UTC";
}

TEST_F(CabinetTest, ExtractionOverALongerFileLeavesExactlyTheCabinetContent)
{
    kit::writeFile(kit::joinPath(source(), "same.txt"), "short");
    ASSERT_TRUE(pack({"same.txt"}));
    kit::writeFile(kit::joinPath(target(), "same.txt"), std::string(10000, 'L'));
    ASSERT_EQ(mergemod::extractCabinet(dir.path() + "\\", "t.cab", target()), 1);
    std::string content;
    ASSERT_TRUE(kit::readFile(kit::joinPath(target(), "same.txt"), content));
    EXPECT_EQ(content, "short");
}

TEST_F(CabinetTest, EntriesThatAreNotPlainNamesStayOutside)
{
    kit::writeFile(kit::joinPath(source(), "good.txt"), "good");
    CabinetBuilder builder;
    ASSERT_TRUE(builder.create(dir.path() + "\\", "evil.cab"));
    for (const char* name : {"..\\escape.txt", "sub\\inner.txt", "C:drive.txt", "/rooted.txt",
                             "..", "good.txt"})
        ASSERT_TRUE(builder.addFile(kit::joinPath(source(), "good.txt"), name)) << name;
    ASSERT_TRUE(builder.flush());

    std::vector<std::string> extracted;
    EXPECT_TRUE(mergemod::extractWholeCabinet(dir.path() + "\\", "evil.cab", target(), extracted));
    EXPECT_EQ(kit::listDir(target()), std::vector<std::string>{"good.txt"});
    EXPECT_EQ(kit::listDir(dir.path()),
              (std::vector<std::string>{"evil.cab", "source", "target"}));
}

TEST_F(CabinetTest, DamagedOrMissingCabinetIsNotReportedWhole)
{
    kit::writeFile(kit::joinPath(source(), "a.txt"), std::string(50000, 'x'));
    ASSERT_TRUE(pack({"a.txt"}));
    std::string bytes;
    kit::readFile(dir / "t.cab", bytes);
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 32; ++i) bytes[i] = '\xff';
    kit::writeFile(dir / "t.cab", bytes);
    std::vector<std::string> extracted;
    EXPECT_FALSE(mergemod::extractWholeCabinet(dir.path() + "\\", "t.cab", target(), extracted));
    EXPECT_FALSE(mergemod::extractWholeCabinet(dir.path() + "\\", "absent.cab", target(), extracted));
    EXPECT_EQ(mergemod::extractCabinet(dir.path() + "\\", "absent.cab", target()), 1)
        << "only a missing decompressor is reported";
}

TEST(CabinetCallbacks, NotifyWithoutContextAnswersZero)
{
    FDINOTIFICATION record = {};
    char name[] = "x.txt";
    record.psz1 = name;
    for (FDINOTIFICATIONTYPE type : {fdintCABINET_INFO, fdintCOPY_FILE, fdintCLOSE_FILE_INFO,
                                     fdintNEXT_CABINET, fdintENUMERATE})
        EXPECT_EQ(mergemod::fdiNotify(type, &record), 0);
}

TEST(CabinetCallbacks, TemporaryNameOneShorterThanTheBufferFits)
{
    kit::TempDir temp{"tmp"};
    char tmp[MAX_PATH] = {};
    GetEnvironmentVariableA("TMP", tmp, sizeof tmp);
    SetEnvironmentVariableA("TMP", temp.path().c_str());
    _putenv(("TMP=" + temp.path()).c_str());
    char buffer[1024];
    ASSERT_TRUE(mergemod::fciGetTempFile(buffer, sizeof buffer, nullptr));
    int length = static_cast<int>(std::strlen(buffer));
    EXPECT_EQ(std::string(buffer).find(temp.path()), 0u) << buffer;
    char exact[1024];
    EXPECT_TRUE(mergemod::fciGetTempFile(exact, length + 1, nullptr));
    EXPECT_EQ(static_cast<int>(std::strlen(exact)), length);
    std::memset(exact, 'z', sizeof exact);
    EXPECT_FALSE(mergemod::fciGetTempFile(exact, length, nullptr));
    EXPECT_EQ(exact[0], 'z') << "a refused name leaves the buffer alone";
    SetEnvironmentVariableA("TMP", tmp);
    _putenv((std::string("TMP=") + tmp).c_str());
}

TEST(CabinetParameters, BlockForOneCabinetAndOneFolder)
{
    CCAB block;
    std::memset(&block, 0x5a, sizeof block);
    ASSERT_EQ(mergemod::setCabinetParameters(block, "C:\\modules\\", "MergeModule.CABinet"), 1);
    EXPECT_EQ(block.cb, 3000000000UL);
    EXPECT_EQ(block.cbFolderThresh, 3000000000UL);
    EXPECT_EQ(block.cbReserveCFHeader + block.cbReserveCFFolder + block.cbReserveCFData, 0u);
    EXPECT_EQ(block.iCab, 1);
    EXPECT_EQ(block.iDisk, 0);
    EXPECT_EQ(block.fFailOnIncompressible, 0);
    EXPECT_EQ(block.setID, 12345);
    EXPECT_STREQ(block.szDisk, "");
    EXPECT_STREQ(block.szCab, "MergeModule.CABinet");
    EXPECT_STREQ(block.szCabPath, "C:\\modules\\");
    EXPECT_EQ(mergemod::setCabinetParameters(block, std::string(256, 'f') + "\\", "x"), 0)
        << "a folder that does not fit the block is refused";

    ASSERT_EQ(mergemod::setCabinetParameters(block, "C:\\", "x"), 1);
    block.iCab = 7;
    EXPECT_TRUE(mergemod::fciGetNextCabinet(&block, 0, nullptr));
    EXPECT_STREQ(block.szCab, "TEST7.CAB");
}

} // namespace
