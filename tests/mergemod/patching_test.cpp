// Patching every module of the module list, and the revision stamp, on a
// session that points at a merge-modules folder of the test's own.
#include <gtest/gtest.h>

#include <map>

#include "mergemod/cabinet.h"
#include "mergemod/file_version.h"
#include "mergemod/merge_module_job.h"
#include "mergemod/module_database.h"
#include "mergemod/stream_store.h"
#include "win/files.h"
#include "mergemod/merge_module_patching.h"
#include "mergemod/msm_support.h"
#include "session/update_session.h"

namespace {

class PatchingTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (msm::fixturesDir().empty()) GTEST_SKIP() << "TREVIX_MSM_ROOT is not set";
        if (!mergemod::msiApi().complete || !mergemod::cabinetApi().complete)
            GTEST_SKIP() << "msi.dll or cabinet.dll is incomplete";
        session.pathSeparator = "\\";
        session.mergeModulesDir = dir / "Merge Modules";
        session.newFilesDir = kit::joinPath(session.mergeModulesDir, "NewFiles");
        CreateDirectoryA(session.mergeModulesDir.c_str(), nullptr);
        CreateDirectoryA(session.newFilesDir.c_str(), nullptr);
        for (const char* name : {"Long File Name.dll", "alpha.dll", "Read Me.txt", "beta.exe"})
            kit::copyFile(kit::joinPath(kit::joinPath(msm::fixturesDir(), "newfiles"), name),
                          kit::joinPath(session.newFilesDir, name));
        for (const char* name : {"CVDCOREMAIN.MSM", "CVDREMOTE.MSM"})
            msm::copyModule(name, session.mergeModulesDir);
    }
    std::string modulePath(const std::string& name)
    {
        return kit::joinPath(session.mergeModulesDir, name);
    }
    void writeList(const std::string& text)
    {
        kit::writeFile(kit::joinPath(session.newFilesDir, "msm.ini"), text);
    }
    std::string bytesOf(const std::string& path)
    {
        std::string content;
        kit::readFile(path, content);
        return content;
    }
    std::string fileColumn(const std::string& module, const std::string& key, size_t column)
    {
        msm::Table rows;
        EXPECT_TRUE(msm::readTable(modulePath(module), "File", rows));
        auto row = msm::rowOf(rows, key);
        return row.size() > column ? row[column] : "<no row>";
    }
    std::string revision(const std::string& module)
    {
        msm::Table rows;
        EXPECT_TRUE(msm::readTable(modulePath(module), "Registry", rows));
        for (const auto& row : rows)
            if (row[0] == "RegMachine" || row[0] == "RegMachineLater")
                if (row[4] != "#1") return row[4];
        return "#1";
    }
    void expectNoWorkingFiles()
    {
        EXPECT_FALSE(kit::fileExists(kit::joinPath(session.mergeModulesDir, "Extracted")));
        EXPECT_FALSE(kit::fileExists(kit::joinPath(session.mergeModulesDir, "MergeModule.CABinet")));
    }

    kit::TempDir dir{"patch"};
    UpdateSession session;
};

TEST_F(PatchingTest, ModulesNamedInTheListCarryTheNewFilesAndBothTheRevision)
{
    writeList("[CVDREMOTE.MSM]\r\nLong File Name.dll=\r\nmissing.dll=x\r\nRead Me.txt=1\r\n");
    kit::writeFile(kit::joinPath(session.newFilesDir, "trevix.ini"),
                   "[TIDEWARDEN]\r\nRevision=77\r\n");
    std::string core = bytesOf(modulePath("CVDCOREMAIN.MSM"));
    EXPECT_EQ(patchMergeModules(session), 1);
    EXPECT_TRUE(bytesOf(modulePath("CVDCOREMAIN.MSM")) == core) << "not named: not patched";
    EXPECT_EQ(fileColumn("CVDREMOTE.MSM", "LongFile.dll", 4), "10.5.1.123");
    EXPECT_EQ(fileColumn("CVDREMOTE.MSM", "readme.txt", 3), "2222");
    EXPECT_EQ(fileColumn("CVDREMOTE.MSM", "alpha.dll", 3), "3000");
    expectNoWorkingFiles();

    EXPECT_EQ(stampModuleRevision(session), 1);
    EXPECT_EQ(revision("CVDCOREMAIN.MSM"), "#77");
    EXPECT_EQ(revision("CVDREMOTE.MSM"), "#77");
    std::string why;
    EXPECT_TRUE(msm::moduleIsSound(modulePath("CVDREMOTE.MSM"), why)) << why;

    std::string keep = msm::outputDir("patched");
    if (!keep.empty())
        for (const char* name : {"CVDCOREMAIN.MSM", "CVDREMOTE.MSM"})
            kit::copyFile(modulePath(name), kit::joinPath(keep, name));
}

TEST_F(PatchingTest, ManifestCopyWithoutRevisionStampsZero)
{
    kit::writeFile(kit::joinPath(session.newFilesDir, "trevix.ini"), "[TIDEWARDEN]\r\nVersion Major=10\r\n");
    stampModuleRevision(session);
    EXPECT_EQ(revision("CVDCOREMAIN.MSM"), "#0");
    EXPECT_EQ(revision("CVDREMOTE.MSM"), "#0");
    DeleteFileA(modulePath("CVDREMOTE.MSM").c_str());
    stampModuleRevision(session);
    EXPECT_FALSE(kit::fileExists(modulePath("CVDREMOTE.MSM")));
}

TEST_F(PatchingTest, MissingOrEmptyListAndMissingModuleChangeNothing)
{
    std::string core = bytesOf(modulePath("CVDCOREMAIN.MSM"));
    std::string remote = bytesOf(modulePath("CVDREMOTE.MSM"));
    patchMergeModules(session);
    writeList("");
    patchMergeModules(session);
    writeList("[ABSENT.MSM]\r\nLong File Name.dll=\r\n");
    patchMergeModules(session);
    EXPECT_TRUE(bytesOf(modulePath("CVDCOREMAIN.MSM")) == core);
    EXPECT_TRUE(bytesOf(modulePath("CVDREMOTE.MSM")) == remote);
    EXPECT_EQ(kit::listDir(session.mergeModulesDir),
              (std::vector<std::string>{"CVDCOREMAIN.MSM", "CVDREMOTE.MSM", "NewFiles"}));
}

TEST_F(PatchingTest, NamesWithFolderPartsAreSkipped)
{
    // A module and a new file outside the folders the list may name.
    std::string outside = dir / "CVDREMOTE.MSM";
    msm::copyModule("CVDREMOTE.MSM", dir.path());
    kit::writeFile(dir / "secret.dll", "outside");
    std::string before = bytesOf(outside);
    std::string remote = bytesOf(modulePath("CVDREMOTE.MSM"));
    writeList("[..\\CVDREMOTE.MSM]\r\nLong File Name.dll=\r\n"
              "[" + outside + "]\r\nLong File Name.dll=\r\n"
              "[CVDREMOTE.MSM]\r\n..\\..\\secret.dll=\r\nC:alpha.dll=\r\n.=\r\n");
    patchMergeModules(session);
    EXPECT_TRUE(bytesOf(outside) == before);
    EXPECT_EQ(fileColumn("CVDREMOTE.MSM", "alpha.dll", 3), "3000");
    expectNoWorkingFiles();
}

TEST_F(PatchingTest, ListsBeyond1024BytesAreReadWhole)
{
    // 60 sections of unknown modules before the real one, and a real key
    // after 1,500 bytes of other keys: a cut list would drop or shorten them.
    std::string list;
    for (int i = 0; i < 60; ++i) list += "[UNKNOWN" + std::to_string(i) + "_PADDING_PADDING.MSM]\r\n";
    list += "[CVDREMOTE.MSM]\r\n";
    for (int i = 0; i < 60; ++i) list += "not-in-module-" + std::to_string(i) + "-padding.dll=\r\n";
    list += "Long File Name.dll=\r\n";
    list += "[" + std::string(300, 'L') + ".MSM]\r\nalpha.dll=\r\n";
    writeList(list);
    patchMergeModules(session);
    EXPECT_EQ(fileColumn("CVDREMOTE.MSM", "LongFile.dll", 4), "10.5.1.123");
    expectNoWorkingFiles();
}

TEST_F(PatchingTest, BadModulesInTheListStayAsTheyWereAndOpenable)
{
    // A damaged cabinet last: what it half extracted must not stay behind.
    const char* bad[] = {"NOTDB.MSM", "NOFILE.MSM", "EMPTYSTREAM.MSM", "NOTCAB.MSM",
                         "GAP.MSM", "MISSING.MSM", "DAMAGED.MSM"};
    // The good module first: the bad ones must not leave the extraction folder behind.
    std::string list = "[CVDREMOTE.MSM]\r\nalpha.dll=\r\n";
    std::map<std::string, std::string> before;
    for (const char* name : bad) {
        msm::copyModule(name, session.mergeModulesDir);
        before[name] = bytesOf(modulePath(name));
        list += std::string("[") + name + "]\r\nLong File Name.dll=\r\nalpha.dll=\r\n";
    }
    writeList(list);
    patchMergeModules(session);
    for (const char* name : bad) EXPECT_TRUE(bytesOf(modulePath(name)) == before[name]) << name;
    EXPECT_EQ(fileColumn("CVDREMOTE.MSM", "alpha.dll", 3), "1234");
    expectNoWorkingFiles();
}

} // namespace
