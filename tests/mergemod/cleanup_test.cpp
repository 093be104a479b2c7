// The cleanup run of trevix.exe on an installed product with merge modules:
// the modules it patches, and what an interrupted run leaves behind.
#include <gtest/gtest.h>

#include "mergemod/cabinet.h"
#include "mergemod/file_version.h"
#include "mergemod/merge_module_job.h"
#include "mergemod/module_database.h"
#include "mergemod/stream_store.h"
#include "win/files.h"
#include "mergemod/msm_support.h"

namespace {

class CleanupRunTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (msm::fixturesDir().empty()) GTEST_SKIP() << "TREVIX_MSM_ROOT is not set";
        if (!mergemod::msiApi().complete || !mergemod::cabinetApi().complete)
            GTEST_SKIP() << "msi.dll or cabinet.dll is incomplete";
        modules = kit::joinPath(kit::joinPath(product.installDir, "Packager"), "Merge Modules");
        newFiles = kit::joinPath(modules, "NewFiles");
    }
    // The merge-modules folder as the install run leaves it for the cleanup run.
    void stage(const std::string& revisionLine)
    {
        CreateDirectoryA(kit::joinPath(product.installDir, "Packager").c_str(), nullptr);
        kit::removeTree(modules);
        CreateDirectoryA(modules.c_str(), nullptr);
        CreateDirectoryA(newFiles.c_str(), nullptr);
        for (const char* name : {"CVDCOREMAIN.MSM", "CVDREMOTE.MSM", "BIG.MSM", "NOTDB.MSM"})
            ASSERT_TRUE(msm::copyModule(name, modules));
        std::string fixtures = msm::fixturesDir();
        for (const char* name : {"Long File Name.dll", "alpha.dll", "Read Me.txt", "beta.exe"})
            kit::copyFile(kit::joinPath(kit::joinPath(fixtures, "newfiles"), name),
                          kit::joinPath(newFiles, name));
        std::string bigList;
        std::string bigNew = kit::joinPath(fixtures, "bignew");
        for (const std::string& name : kit::listDir(bigNew))
            kit::copyFile(kit::joinPath(bigNew, name), kit::joinPath(newFiles, name));
        kit::readFile(kit::joinPath(bigNew, "msm.ini"), bigList);
        kit::writeFile(kit::joinPath(newFiles, "msm.ini"),
                       "[CVDREMOTE.MSM]\r\nLong File Name.dll=\r\nmissing.dll=\r\nRead Me.txt=\r\n"
                       "[NOTDB.MSM]\r\nalpha.dll=\r\n[ABSENT.MSM]\r\nalpha.dll=\r\n" + bigList);
        kit::writeFile(kit::joinPath(newFiles, "trevix.ini"), "[TIDEWARDEN]\r\n" + revisionLine);
    }
    // The cleanup run deletes its own program file through a batch that
    // outlives it at idle priority: each run starts from a fresh copy, once the
    // last batch is done (slow on a loaded machine).
    kit::RunResult cleanupRun(DWORD timeoutMs)
    {
        for (DWORD waited = 0; kit::fileExists(program / "DelUS.bat") && waited < 60000; waited += 50)
            Sleep(50);
        EXPECT_FALSE(kit::fileExists(program / "DelUS.bat")) << "the last self-removal did not end";
        EXPECT_TRUE(kit::copyFile(kit::joinPath(kit::binDir(), "trevix.exe"), program / "trevix.exe"));
        return kit::runProgram("\"" + (program / "trevix.exe") + "\" /cleanup", program.path(), {},
                               timeoutMs);
    }
    std::string path(const std::string& name) { return kit::joinPath(modules, name); }
    std::string column(const std::string& module, const std::string& key, size_t index)
    {
        msm::Table rows;
        msm::readTable(path(module), "File", rows);
        auto row = msm::rowOf(rows, key);
        return row.size() > index ? row[index] : "<no row>";
    }
    std::string revision(const std::string& module)
    {
        msm::Table rows;
        msm::readTable(path(module), "Registry", rows);
        for (const auto& row : rows)
            if (row[0] == "RegMachine" || row[0] == "RegMachineLater")
                if (row[4] != "#1") return row[4];
        return "#1";
    }
    // The new content of "file 0001.dll" is in BIG.MSM's cabinet.
    bool bigCarriesNewFile()
    {
        std::string stream;
        if (!mergemod::readModuleStream(path("BIG.MSM"), "MergeModule.CABinet", stream)) return false;
        kit::TempDir scratch{"big"};
        kit::writeFile(scratch / "c.cab", stream);
        std::vector<std::string> names;
        CreateDirectoryA((scratch / "x").c_str(), nullptr);
        if (!mergemod::extractWholeCabinet(scratch.path() + "\\", "c.cab", scratch / "x", names))
            return false;
        std::string content;
        kit::readFile(kit::joinPath(scratch / "x", "f0001.dll"), content);
        return content == msm::fixtureFile("bignew", "file 0001.dll");
    }
    void expectPatched(const std::string& revisionText)
    {
        EXPECT_EQ(column("CVDREMOTE.MSM", "LongFile.dll", 4), "10.5.1.123");
        EXPECT_EQ(column("CVDREMOTE.MSM", "readme.txt", 3), "2222");
        EXPECT_EQ(column("CVDREMOTE.MSM", "alpha.dll", 3), "3000");
        EXPECT_EQ(column("BIG.MSM", "f0001.dll", 3),
                  std::to_string(msm::fixtureFile("bignew", "file 0001.dll").size()));
        EXPECT_TRUE(bigCarriesNewFile());
        EXPECT_EQ(revision("CVDCOREMAIN.MSM"), revisionText);
        EXPECT_EQ(revision("CVDREMOTE.MSM"), revisionText);
        EXPECT_FALSE(kit::fileExists(path("Extracted")));
        EXPECT_FALSE(kit::fileExists(path("MergeModule.CABinet")));
        EXPECT_FALSE(kit::fileExists(path("ABSENT.MSM")));
    }

    kit::TempDir program{"prog"};
    kit::TempDir programs{"programs"};
    kit::ProductFixture product{programs / "Corvindale"};
    std::string modules, newFiles;
};

TEST_F(CleanupRunTest, PatchesTheListedModulesAndStampsTheRevision)
{
    stage("Revision=5\r\n");
    std::string notDb;
    kit::readFile(path("NOTDB.MSM"), notDb);
    kit::RunResult run = cleanupRun(120000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.dialogs.empty());
    expectPatched("#5");
    std::string after;
    kit::readFile(path("NOTDB.MSM"), after);
    EXPECT_EQ(after, notDb);
    std::string keep = msm::outputDir("cleanup");
    if (!keep.empty())
        for (const char* name : {"CVDCOREMAIN.MSM", "CVDREMOTE.MSM", "BIG.MSM"})
            kit::copyFile(path(name), kit::joinPath(keep, name));
}

TEST_F(CleanupRunTest, WithoutMergeModulesFolderNothingIsCreated)
{
    ASSERT_TRUE(cleanupRun(60000).finished);
    EXPECT_FALSE(kit::fileExists(kit::joinPath(product.installDir, "Packager")));
}

// Killed at several points, every module still opens, lists its rows and
// holds a cabinet with every File key; a second run finishes the work.
TEST_F(CleanupRunTest, InterruptedRunLosesNothingAndARerunFinishes)
{
    stage("Revision=9\r\n");
    DWORD start = GetTickCount();
    ASSERT_TRUE(cleanupRun(120000).finished);
    DWORD whole = GetTickCount() - start;
    int interrupted = 0;
    for (int point = 1; point <= 4; ++point) {
        stage("Revision=9\r\n");
        DWORD delay = whole * point / 5;
        if (!cleanupRun(delay).finished) ++interrupted;
        for (const char* name : {"CVDCOREMAIN.MSM", "CVDREMOTE.MSM", "BIG.MSM"}) {
            std::string why;
            EXPECT_TRUE(msm::moduleIsSound(path(name), why))
                << name << " after " << delay << " of " << whole << " ms: " << why;
        }
        ASSERT_TRUE(cleanupRun(120000).finished);
        expectPatched("#9");
    }
    EXPECT_GT(interrupted, 0) << "no run was cut short";
}

} // namespace
