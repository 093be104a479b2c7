// The merge-module job on real modules (built on the Linux side with msibuild
// and gcab): File and Registry rows and the cabinet stream after each operation.
#include <gtest/gtest.h>

#include <map>

#include "mergemod/cabinet.h"
#include "mergemod/file_version.h"
#include "mergemod/merge_module_job.h"
#include "mergemod/module_database.h"
#include "mergemod/stream_store.h"
#include "win/files.h"
#include "mergemod/msm_support.h"
#include "mergemod/names.h"

namespace {

using mergemod::MergeModuleJob;

class JobTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (msm::fixturesDir().empty()) GTEST_SKIP() << "TREVIX_MSM_ROOT is not set";
        if (!mergemod::msiApi().complete || !mergemod::cabinetApi().complete)
            GTEST_SKIP() << "msi.dll or cabinet.dll is incomplete";
        CreateDirectoryA(modules().c_str(), nullptr);
        CreateDirectoryA(extracted().c_str(), nullptr);
        CreateDirectoryA(newFiles().c_str(), nullptr);
        for (const char* name : {"Long File Name.dll", "alpha.dll", "Read Me.txt", "beta.exe"})
            kit::copyFile(kit::joinPath(kit::joinPath(msm::fixturesDir(), "newfiles"), name),
                          kit::joinPath(newFiles(), name));
    }
    std::string modules() { return dir / "Merge Modules"; }
    std::string extracted() { return kit::joinPath(modules(), "Extracted"); }
    std::string newFiles() { return kit::joinPath(modules(), "NewFiles"); }
    std::string module(const std::string& name)
    {
        EXPECT_TRUE(msm::copyModule(name, modules())) << name;
        return kit::joinPath(modules(), name);
    }
    // The whole patch of one module, as the cleanup run makes it.
    void patch(const std::string& name, const std::vector<std::string>& replace)
    {
        MergeModuleJob job(name, modules(), extracted());
        job.extractCabinetStream();
        job.unpackCabinet();
        for (const auto& file : replace) job.replaceModuleFile(newFiles(), file);
        job.rebuildCabinet();
        job.storeCabinetStream();
    }
    std::string bytesOf(const std::string& path)
    {
        std::string content;
        kit::readFile(path, content);
        return content;
    }
    void expectNoWorkingFiles()
    {
        EXPECT_FALSE(kit::fileExists(kit::joinPath(modules(), "MergeModule.CABinet")));
        EXPECT_TRUE(kit::listDir(extracted()).empty());
    }

    kit::TempDir dir{"job"};
};

TEST_F(JobTest, CabinetStreamIsTakenByNameNotAsFirstRow)
{
    std::string path = module("CVDREMOTE.MSM");
    MergeModuleJob job("CVDREMOTE.MSM", modules(), extracted());
    ASSERT_EQ(job.extractCabinetStream(), 1);
    std::string stream;
    ASSERT_TRUE(mergemod::readModuleStream(path, "MergeModule.CABinet", stream));
    EXPECT_TRUE(bytesOf(job.cabinetPath()) == stream);
    EXPECT_EQ(stream.compare(0, 4, "MSCF"), 0);
}

TEST_F(JobTest, StreamOfWholeKilobytesIsCopiedWhole)
{
    module("EXACT.MSM");
    MergeModuleJob job("EXACT.MSM", modules(), extracted());
    ASSERT_EQ(job.extractCabinetStream(), 1);
    std::string expected;
    ASSERT_TRUE(kit::readFile(kit::joinPath(msm::fixturesDir(), "exact.bin"), expected));
    ASSERT_EQ(expected.size(), 4096u);
    EXPECT_TRUE(bytesOf(job.cabinetPath()) == expected);
}

TEST_F(JobTest, FileRowIsFoundByLongNameInAnyCaseNotByShortName)
{
    module("CVDREMOTE.MSM");
    kit::writeFile(kit::joinPath(newFiles(), "LONGFI~1.DLL"), "short name");
    kit::writeFile(kit::joinPath(newFiles(), "README~1.TXT"), "short name");
    MergeModuleJob job("CVDREMOTE.MSM", modules(), extracted());
    job.extractCabinetStream();
    job.unpackCabinet();
    struct Case {
        const char* name;
        int found;
    } cases[] = {
        {"Long File Name.dll", 1}, {"LONG FILE NAME.DLL", 1}, {"long file name.dll", 1},
        {"LONGFI~1.DLL", 0},       {"README~1.TXT", 0},        {"BETA.EXE", 1},
        {"beta", 0},               {"missing.dll", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(job.replaceModuleFile(newFiles(), c.name), c.found) << c.name;
}

TEST_F(JobTest, ReplacingChangesExactlySizeAndVersionOfItsRow)
{
    std::string path = module("CVDREMOTE.MSM");
    msm::Table before, after;
    ASSERT_TRUE(msm::readTable(path, "File", before));
    patch("CVDREMOTE.MSM", {"Long File Name.dll", "alpha.dll"});
    ASSERT_TRUE(msm::readTable(path, "File", after));
    ASSERT_EQ(after.size(), before.size());

    const std::string versioned = msm::fixtureFile("newfiles", "Long File Name.dll");
    for (const auto& row : before) {
        std::vector<std::string> expected = row;
        if (row[0] == "LongFile.dll") {
            expected[3] = std::to_string(versioned.size());
            expected[4] = "10.5.1.123";
        } else if (row[0] == "alpha.dll") {
            expected[3] = "1234";
            expected[4] = "";  // no version resource: an empty Version
        }
        EXPECT_EQ(msm::rowOf(after, row[0]), expected) << row[0];
    }
    expectNoWorkingFiles();
}

TEST_F(JobTest, RebuiltCabinetHoldsEveryFileKeyInSequenceOrder)
{
    std::string path = module("CVDREMOTE.MSM");
    patch("CVDREMOTE.MSM", {"Read Me.txt"});
    std::string stream;
    ASSERT_TRUE(mergemod::readModuleStream(path, "MergeModule.CABinet", stream));
    msm::CabInfo cab;
    ASSERT_TRUE(msm::parseCabinet(stream, cab));
    std::vector<std::string> names;
    for (const auto& e : cab.entries) names.push_back(e.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"LongFile.dll", "beta.exe", "alpha.dll", "readme.txt"}));
    EXPECT_EQ(cab.setId, 12345);
    EXPECT_EQ(cab.folders, 1);

    kit::TempDir out{"unpacked"};
    kit::writeFile(out / "c.cab", stream);
    std::vector<std::string> extracted;
    ASSERT_TRUE(mergemod::extractWholeCabinet(out.path() + "\\", "c.cab", out.path(), extracted));
    EXPECT_EQ(bytesOf(out / "readme.txt"), msm::fixtureFile("newfiles", "Read Me.txt"));
    EXPECT_EQ(bytesOf(out / "beta.exe"), msm::fixtureFile("content", "beta.exe"));
    EXPECT_EQ(bytesOf(out / "LongFile.dll"), msm::fixtureFile("content", "LongFile.dll"));
    expectNoWorkingFiles();

    std::string keep = msm::outputDir("job");
    if (!keep.empty()) kit::copyFile(path, kit::joinPath(keep, "CVDREMOTE.MSM"));
}

// Modules the job cannot patch soundly stay byte for byte as they were.
TEST_F(JobTest, ModulesThatCannotBePatchedStayAsTheyWere)
{
    for (const char* name : {"GAP.MSM", "MISSING.MSM", "EMPTYSTREAM.MSM", "NOTCAB.MSM",
                             "DAMAGED.MSM", "NOTDB.MSM", "NOFILE.MSM", "EXACT.MSM"}) {
        std::string path = module(name);
        std::string before = bytesOf(path);
        patch(name, {"Long File Name.dll", "alpha.dll"});
        EXPECT_TRUE(bytesOf(path) == before) << name;
        expectNoWorkingFiles();
    }
}

TEST_F(JobTest, MissingModuleChangesNothing)
{
    patch("ABSENT.MSM", {"Long File Name.dll"});
    EXPECT_EQ(kit::listDir(modules()), (std::vector<std::string>{"Extracted", "NewFiles"}));
}

TEST_F(JobTest, NamesOfMoreThan260CharactersAreSkipped)
{
    std::string path = module("CVDREMOTE.MSM");
    std::string before = bytesOf(path);
    MergeModuleJob job("CVDREMOTE.MSM", modules(), extracted());
    job.extractCabinetStream();
    job.unpackCabinet();
    EXPECT_EQ(job.replaceModuleFile(newFiles(), std::string(300, 'n') + ".dll"), 0);
    EXPECT_EQ(job.replaceModuleFile(newFiles(), "..\\CVDREMOTE.MSM"), 0);
    job.rebuildCabinet();
    job.storeCabinetStream();
    msm::Table rows;
    ASSERT_TRUE(msm::readTable(path, "File", rows));
    EXPECT_EQ(msm::rowOf(rows, "LongFile.dll")[3], "5000");

    MergeModuleJob longModule(std::string(300, 'm') + ".MSM", modules(), extracted());
    EXPECT_EQ(longModule.extractCabinetStream(), 0);
    longModule.unpackCabinet();
    EXPECT_EQ(longModule.rebuildCabinet(), 0);
    longModule.storeCabinetStream();
    EXPECT_EQ(longModule.setRegistryValue(HKEY_LOCAL_MACHINE, "k", "n", "v"), 0);
}

class RegistryValueTest : public JobTest {
protected:
    // Values of the Registry rows by their key column.
    std::map<std::string, std::string> values(const std::string& path)
    {
        msm::Table rows;
        EXPECT_TRUE(msm::readTable(path, "Registry", rows));
        std::map<std::string, std::string> result;
        for (const auto& row : rows) result[row[0]] = row[4];
        return result;
    }
    const std::string key = "Software\\Veltrane\\Corvindale\\CurrentVersion";
};

TEST_F(RegistryValueTest, OnlyTheFirstRowMatchingNameRootAndKeyChanges)
{
    std::string path = module("CVDCOREMAIN.MSM");
    auto before = values(path);
    // Which of the two matching rows the view yields first.
    msm::Table rows;
    ASSERT_TRUE(msm::readTable(path, "Registry", rows));
    std::string first;
    for (const auto& row : rows)
        if (row[0] == "RegMachine" || row[0] == "RegMachineLater") {
            first = row[0];
            break;
        }
    ASSERT_FALSE(first.empty());

    MergeModuleJob job("CVDCOREMAIN.MSM", modules(), extracted());
    EXPECT_EQ(job.setRegistryValue(HKEY_LOCAL_MACHINE, key, "revision", "#42"), 1);
    auto after = values(path);
    auto expected = before;
    expected[first] = "#42";
    EXPECT_EQ(after, expected);

    EXPECT_EQ(job.setRegistryValue(HKEY_CLASSES_ROOT, key, "Revision", "#7"), 1);
    expected["RegClasses"] = "#7";
    EXPECT_EQ(values(path), expected);
    EXPECT_EQ(job.setRegistryValue(HKEY_CURRENT_USER, key, "Revision", "#8"), 1);
    expected["RegCurrentUser"] = "#8";
    EXPECT_EQ(values(path), expected);
}

TEST_F(RegistryValueTest, UnmappedRootOrMissingRowChangesNothing)
{
    std::string path = module("CVDCOREMAIN.MSM");
    std::string before = bytesOf(path);
    MergeModuleJob job("CVDCOREMAIN.MSM", modules(), extracted());
    EXPECT_EQ(job.setRegistryValue(HKEY_USERS, key, "Revision", "#9"), 0);
    EXPECT_EQ(job.setRegistryValue(HKEY_LOCAL_MACHINE, key + "\\Sub", "Revision", "#9"), 1);
    EXPECT_TRUE(bytesOf(path) == before);

    std::string noRegistry = module("NOREG.MSM");
    before = bytesOf(noRegistry);
    MergeModuleJob other("NOREG.MSM", modules(), extracted());
    EXPECT_EQ(other.setRegistryValue(HKEY_LOCAL_MACHINE, key, "Revision", "#9"), 0);
    EXPECT_TRUE(bytesOf(noRegistry) == before);
}

TEST_F(JobTest, StreamWrittenThroughTheStorageIsReadByTheDatabase)
{
    std::string path = module("OTHER.MSM");
    std::string data(5000, 'q');
    kit::writeFile(dir / "new.bin", data);
    ASSERT_EQ(mergemod::writeStreamThroughStorage(path, "MergeModule.CABinet", dir / "new.bin"), 1);
    std::string stream;
    ASSERT_TRUE(mergemod::readModuleStream(path, "MergeModule.CABinet", stream));
    EXPECT_EQ(stream, data);
    std::vector<std::pair<std::string, std::string>> rows;
    EXPECT_TRUE(mergemod::readFileNames(path, rows));
    EXPECT_EQ(rows.size(), 4u);
    std::string keep = msm::outputDir("storage");
    if (!keep.empty()) kit::copyFile(path, kit::joinPath(keep, "OTHER.MSM"));
}

TEST(VersionText, FileVersionOfAResourceIsNormalised)
{
    std::string version = "untouched";
    ASSERT_EQ(mergemod::readFileVersionText(kit::joinPath(kit::binDir(), "versioned.exe"), version), 1);
    EXPECT_EQ(version, "10.5.1.123");
    kit::TempDir dir{"ver"};
    kit::writeFile(dir / "plain.dll", "no resource");
    EXPECT_EQ(mergemod::readFileVersionText(dir / "plain.dll", version), 0);
    EXPECT_EQ(version, "");
}

TEST(Names, PlainNames)
{
    struct Case {
        const char* name;
        bool plain;
    } cases[] = {
        {"a.dll", true}, {"Long File Name.dll", true}, {"..x", true}, {"", false},
        {".", false},    {"..", false},                {"a\\b", false}, {"a/b", false},
        {"C:a", false},  {"\\\\server\\x", false},
    };
    for (const Case& c : cases) EXPECT_EQ(win::isPlainFileName(c.name), c.plain) << c.name;
}

TEST(Names, VersionTextsAndLongNames)
{
    EXPECT_EQ(mergemod::normaliseVersionText("10, 5, 1, 123"), "10.5.1.123");
    EXPECT_EQ(mergemod::normaliseVersionText(" 1,2 ,3"), "1.2.3");
    EXPECT_EQ(mergemod::longNameOf("SHORT~1.DLL|long name.dll"), "long name.dll");
    EXPECT_EQ(mergemod::longNameOf("a|b|c"), "b|c");
    EXPECT_EQ(mergemod::longNameOf("single.dll"), "single.dll");
}

TEST(Names, SequenceMustRunFromOneWithoutGaps)
{
    using Rows = std::vector<std::pair<std::string, int>>;
    EXPECT_EQ(mergemod::keysInSequence(Rows{{"c", 3}, {"a", 1}, {"b", 2}}),
              (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(mergemod::keysInSequence(Rows{{"a", 1}, {"b", 3}}).empty());
    EXPECT_TRUE(mergemod::keysInSequence(Rows{{"a", 1}, {"b", 1}}).empty());
    EXPECT_TRUE(mergemod::keysInSequence(Rows{{"a", 0}}).empty());
    EXPECT_TRUE(mergemod::keysInSequence(Rows{}).empty());
}

TEST(Names, StreamNamesPackTwoCharactersWhereTheyCan)
{
    std::wstring encoded = mergemod::encodeStreamName("MergeModule.CABinet");
    ASSERT_EQ(encoded.size(), 10u);
    // "Me": M (22) + e (40) << 6.
    EXPECT_EQ(encoded[0], static_cast<wchar_t>(0x3800 + 22 + (40 << 6)));
    EXPECT_EQ(encoded[9], static_cast<wchar_t>(0x4800 + 55));  // a lone "t"
    EXPECT_EQ(mergemod::encodeStreamName("a-b"),
              (std::wstring{static_cast<wchar_t>(0x4800 + 36), L'-', static_cast<wchar_t>(0x4800 + 37)}));
    EXPECT_TRUE(mergemod::encodeStreamName(std::string(64, '-')).empty());
}

} // namespace
