// Known answers and tables for details a whole run does not show: the
// settings file's bytes, the rename-list text, the delayed-move list, the
// Sequence walk, the macro table and the name rules. One table per rule.
#include <gtest/gtest.h>

#include "install/directory_macros.h"
#include "install/file_replacement.h"
#include "install/manifest.h"
#include "kit/kit.h"
#include "mergemod/cabinet.h"
#include "mergemod/names.h"
#include "product/product_checks.h"
#include "product/settings_container.h"
#include "session/detection.h"
#include "session/update_session.h"
#include "win/files.h"

namespace {

const std::string scratch = "C:\\units";
const std::string system = "HKLM\\Software\\Veltrane\\Corvindale\\CurrentVersion\\System";

struct Units : testing::Test {
    UpdateSession session;
    void SetUp() override
    {
        kit::removeTree(scratch);
        CreateDirectoryA(scratch.c_str(), nullptr);
        initialiseEnvironment(session);
        session.productDir = scratch;
    }
    void TearDown() override { kit::removeTree(scratch); }
};

TEST_F(Units, SettingsFileBytesAreThoseOfTheGoldenFile)
{
    std::string golden, saved;
    ASSERT_TRUE(kit::readFile(kit::join(kit::binDir(), "settings.golden.bin"), golden));
    EXPECT_EQ(kit::settingsFile(10, 4, 1ul << 19, 3), golden) << "the kit's encoder";
    kit::writeFile(scratch + "\\vindale.bin", golden);
    SettingsContainer settings;
    ASSERT_EQ(settings.load((scratch + "\\vindale.bin").c_str()), 1) << "the product's decoder";
    EXPECT_EQ(settings.versionMajor(), 10);
    EXPECT_EQ(settings.save((scratch + "\\copy.bin").c_str()), 1);
    kit::readFile(scratch + "\\copy.bin", saved);
    EXPECT_EQ(saved, golden) << "the product's encoder";
    EXPECT_FALSE(kit::exists(scratch + "\\copy.bin.save")) << "the safe write's folder";
}

TEST_F(Units, ProductTypeFromComponentsAndOptionSelector3)
{
    const struct {
        unsigned long options, components;
        int type;
    } rows[] = {{0, 3, productFull}, {1ul << 19, 2, productHost}, {0, 2, productHostLan}, {1ul << 18, 2, productHostLan},
                {0, 1, productRemote}, {1ul << 19, 0, productNone}};
    for (const auto& row : rows) {
        kit::writeFile(scratch + "\\vindale.bin", kit::settingsFile(10, 0, row.options, row.components));
        unsigned long major = 0;
        EXPECT_EQ(readProductType(session, &major), row.type) << row.options << " " << row.components;
        EXPECT_EQ(major, 10ul);
    }
    SettingsContainer settings;
    const struct {
        long selector;
        int bit;
    } selectors[] = {{0, 16}, {1, 17}, {2, 18}, {3, 19}, {6, 20}, {12, 21}, {13, 22}, {14, 23}, {15, 24},
                     {4, -1}, {5, -1}, {7, -1}, {11, -1}, {16, -1}, {-1, -1}};
    for (const auto& row : selectors)
        for (int bit = 16; bit <= 24; ++bit) {
            kit::writeFile(scratch + "\\o.bin", kit::settingsFile(10, 0, 1ul << bit, 0));
            settings.load((scratch + "\\o.bin").c_str());
            EXPECT_EQ(settings.option(row.selector), bit == row.bit) << row.selector << " bit " << bit;
        }
}

TEST_F(Units, RenameListText)
{
    const std::string path = win::windowsFolder() + "\\WinInit.Ini";
    std::string kept;
    const bool had = kit::readFile(path, kept);
    const struct {
        const char* before;
        const char* after;
    } rows[] = {
        {nullptr, "[Rename]\r\nC:\\B=C:\\2\r\nC:\\A=C:\\1\r\nNUL=C:\\3\r\n"},
        {"[boot]\r\nx=1", "[boot]\r\nx=1\r\n[Rename]\r\nC:\\B=C:\\2\r\nC:\\A=C:\\1\r\nNUL=C:\\3\r\n"},
        {"[rename]\r\nold=o\r\n", "[rename]\r\nC:\\B=C:\\2\r\nC:\\A=C:\\1\r\nNUL=C:\\3\r\nold=o\r\n"},
        {"[ReNaMe]\r\n", "[ReNaMe]\r\n[Rename]\r\nC:\\B=C:\\2\r\nC:\\A=C:\\1\r\nNUL=C:\\3\r\n"},
        {"x[Rename]\r\n", "x[Rename]\r\n[Rename]\r\nC:\\B=C:\\2\r\nC:\\A=C:\\1\r\nNUL=C:\\3\r\n"},
    };
    session.osFamily = osWindows9x;
    for (const auto& row : rows) {
        DeleteFileA(path.c_str());
        if (row.before) kit::writeFile(path, row.before);
        const std::string a = "C:\\A", b = "C:\\B";
        // The two later lines go above the first; a deletion stays apart from NUL's line.
        scheduleReplace(session, "C:\\3", nullptr);
        scheduleReplace(session, "C:\\1", &a);
        scheduleReplace(session, "C:\\2", &b);
        closeRenameList(session);
        session.renameList = RenameListFile();
        std::string text;
        kit::readFile(path, text);
        EXPECT_EQ(text, row.after) << (row.before ? row.before : "(no file)");
    }
    DeleteFileA(path.c_str());
    if (had) kit::writeFile(path, kept);
}

TEST_F(Units, DelayedMovesOnNt)
{
    const std::string key = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager";
    kit::writeFile(scratch + "\\new.dll", "n");
    session.osFamily = osWinNt40;
    const std::string target = scratch + "\\old.dll";
    scheduleReplace(session, scratch + "\\new.dll", &target);
    scheduleReplace(session, scratch + "\\gone.tmp", nullptr);
    DWORD type = 0;
    std::string list;
    ASSERT_TRUE(kit::readValue(key, "PendingFileRenameOperations", type, list));
    kit::deleteValue(key, "PendingFileRenameOperations");
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    using namespace std::string_literals;
    const std::string want = "\\??\\C:\\units\\new.dll\0!\\??\\C:\\units\\old.dll\0\\??\\C:\\units\\gone.tmp\0\0"s;
    EXPECT_EQ(list.substr(0, want.size()), want);
}

TEST_F(Units, StagedFilesOlderThanTheInstalledOneAreDropped)
{
    const std::string staging = scratch + ".tmp";
    CreateDirectoryA(staging.c_str(), nullptr);
    session.osFamily = osWin2000;
    session.macroProgDir = "PROGDIR";
    const LONGLONG hour = 36000000000LL;
    const struct {
        const char* name;
        LONGLONG stagedLater;
        bool scheduled;
    } rows[] = {{"older.dll", -hour, false}, {"same.dll", 0, true}, {"newer.dll", hour, true}};
    for (const auto& row : rows) {
        FILETIME installed = {0x10000000, 0x01D60000};
        ULARGE_INTEGER staged{{installed.dwLowDateTime, installed.dwHighDateTime}};
        staged.QuadPart += row.stagedLater;
        const FILETIME stagedTime = {staged.LowPart, staged.HighPart};
        for (const auto& file : {std::make_pair(scratch, installed), std::make_pair(staging, stagedTime)}) {
            const std::string path = kit::join(file.first, row.name);
            kit::writeFile(path, file.first);
            HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            SetFileTime(handle, nullptr, nullptr, &file.second);
            CloseHandle(handle);
        }
    }
    scheduleStagedFiles(session, "PROGDIR");
    DWORD type = 0;
    std::string pending;
    kit::readValue("HKLM\\System\\CurrentControlSet\\Control\\Session Manager", "PendingFileRenameOperations", type, pending);
    kit::deleteValue("HKLM\\System\\CurrentControlSet\\Control\\Session Manager", "PendingFileRenameOperations");
    for (const auto& row : rows) {
        EXPECT_EQ(kit::exists(kit::join(staging, row.name)), row.scheduled) << row.name;
        EXPECT_EQ(pending.find(std::string(row.name) + '\0') != std::string::npos, row.scheduled) << row.name;
    }
    kit::removeTree(staging);
}

TEST_F(Units, CabinetKeepsFourAttributeBitsAndTheTimeThroughLocalTime)
{
    // The test runs with local time 5:30 off UTC (TZ): times go through local time both ways.
    const std::string file = scratch + "\\a.txt", out = scratch + "\\out";
    kit::writeFile(file, "text");
    const FILETIME written = {0x2D03E000, 0x01D6380C};  // 2020-06-01 12:00:00 UTC, even seconds
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(handle, nullptr, nullptr, &written);
    CloseHandle(handle);
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    SetFileAttributesA(file.c_str(), kept);
    {
        mergemod::CabinetBuilder builder;
        ASSERT_EQ(builder.create(scratch + "\\", "x.cab"), 1);
        ASSERT_EQ(builder.addFile(file, "a.txt"), 1);
        ASSERT_EQ(builder.flush(), 1);
    }
    CreateDirectoryA(out.c_str(), nullptr);
    std::vector<std::string> names;
    ASSERT_EQ(mergemod::extractWholeCabinet(scratch + "\\", "x.cab", out, names), 1);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA((out + "\\a.txt").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.dwFileAttributes, kept);
    EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &written), 0);
    EXPECT_EQ(CompareFileTime(&data.ftCreationTime, &written), 0);
}

TEST(Tables, SequenceWalk)
{
    using Rows = std::vector<std::pair<std::string, int>>;
    const struct {
        Rows rows;
        std::vector<std::string> keys;
    } cases[] = {{{{"c", 3}, {"a", 1}, {"b", 2}}, {"a", "b", "c"}},
                 {{{"a", 1}, {"b", 3}}, {}},
                 {{{"a", 1}, {"b", 1}}, {}},
                 {{{"a", 0}}, {}},
                 {{}, {}}};
    for (const auto& c : cases) EXPECT_EQ(mergemod::keysInSequence(c.rows), c.keys) << c.rows.size();
}

TEST_F(Units, MacrosAndTheirStagingFolders)
{
    const std::string windows = win::windowsFolder();
    kit::setValue("HKLM\\SOFTWARE\\Veltrane\\SharedUsage", "", REG_SZ, std::string("D:\\Shared\\", 11));
    kit::setValue("HKLM\\SOFTWARE\\Veltrane\\SharedUsage", "Tidewarden", REG_SZ, std::string("E:\\", 4));
    kit::setValue(system, "CMSDir", REG_SZ, std::string("relative\\cms", 13));
    kit::setValue(system, "FilesDirectory", REG_SZ, std::string("\\\\server\\data\\\\", 16));
    kit::setValue("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir", REG_SZ, std::string("C:\\Common\\", 11));
    const struct {
        const char* macro;
        std::string folder;  // empty: no folder
        std::string staging;
    } rows[] = {
        {"PROGDIR", scratch, scratch + ".tmp"},
        {"WINDIR", windows, windows + ".tmp"},
        {"SYSDIR", win::systemFolder(), win::systemFolder() + ".tmp"},
        {"VELDIR", "D:\\Shared", "D:\\Shared.tmp"},
        {"TWDIR", "E:", "E:\\.tmp"},
        {"DRVDIR", windows + "\\System32\\Drivers", windows + "\\System32\\Drivers.tmp"},
        {"CMSDIR", "", ""},
        {"DATADIR", "\\\\server\\data", "\\\\server\\data.tmp"},
        {"VELSHARED", "C:\\Common\\Veltrane Shared", "C:\\Common\\Veltrane Shared.tmp"},
        {"MERGEMODULESDIR", scratch + "\\Packager\\Merge Modules", scratch + "\\Packager\\Merge Modules.tmp"},
        {"MERGEMODULESENGDIR", scratch + "\\Packager\\Merge Modules\\0000", scratch + "\\Packager\\Merge Modules\\0000.tmp"},
        {"PACKAGERRESDIR", scratch + "\\Packager\\Resources\\0000", scratch + "\\Packager\\Resources\\0000.tmp"},
        {"progdir", "", ""},
        {"DELETE", "", ""},
    };
    for (const auto& row : rows) {
        std::string folder = "x", staging = "x";
        EXPECT_EQ(resolveMacro(session, row.macro, folder), row.folder.empty() ? 0 : 1) << row.macro;
        EXPECT_EQ(stagingDirFor(session, row.macro, staging), row.folder.empty() ? 0 : 1) << row.macro;
        if (!row.folder.empty()) {
            EXPECT_EQ(folder + "|" + staging, row.folder + "|" + row.staging) << row.macro;
        }
    }
    // An empty common files folder is missing: no folder at the drive's root.
    kit::setValue("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir", REG_SZ, std::string(1, '\0'));
    std::string folder;
    EXPECT_EQ(resolveMacro(session, "VELSHARED", folder), 0);
    kit::deleteKey("HKLM\\SOFTWARE\\Veltrane");
}

TEST(Tables, FoldersReadFromTheRegistry)
{
    const struct {
        std::string value;
        const char* folder;  // nullptr: missing
    } rows[] = {{"C:\\Program Files\\Corvindale\\", "C:\\Program Files\\Corvindale"},
                {"C:\\Program Files\\Corvindale", "C:\\Program Files\\Corvindale"},
                {"C:\\", "C:"},
                {"D:\\a\\\\", "D:\\a\\"},
                {"\\\\server\\share", "\\\\server\\share"},
                {"", nullptr},
                {"1", nullptr},
                {"..\\..", nullptr},
                {"\\Corvindale", nullptr},
                {"C:Corvindale", nullptr},
                {"\\\\.\\PhysicalDrive0", nullptr},
                {"\\\\?\\C:\\x", nullptr},
                {std::string(300, 'a'), nullptr}};
    for (const auto& row : rows) {
        kit::setValue(system, "InstallDir", REG_SZ, row.value + '\0');
        std::string folder = "unchanged";
        EXPECT_EQ(readMachineFolder(system.substr(5), "InstallDir", folder), row.folder ? 1 : 0) << row.value;
        EXPECT_EQ(folder, row.folder ? row.folder : "unchanged") << row.value;
    }
    kit::deleteKey("HKLM\\Software\\Veltrane");
}

TEST(Tables, PlainFileNames)
{
    const struct {
        const char* name;
        bool plain;
    } rows[] = {
        {"cvd.exe", true},   {"Long Name File.dll", true}, {".profile", true}, {"..x", true},    {"console.dll", true},
        {"com10", true},     {"lpt.dll", true},            {"nul2", true},     {"", false},      {".", false},
        {"..", false},       {"...", false},               {". .", false},     {"..\\a", false}, {"sub\\a", false},
        {"a/b", false},      {"C:a.dll", false},           {"\\\\srv\\x", false}, {"CON", false}, {"con.txt", false},
        {"Aux", false},      {"LPT1", false},              {"com9.dll", false},   {"NUL .x", false}, {"clock$", false},
    };
    for (const auto& row : rows) EXPECT_EQ(win::isPlainFileName(row.name), row.plain) << row.name;
}

TEST_F(Units, KeyListKeepsOnlyWholeNames)
{
    // 3,072 bytes hold 306 names of nine characters, their terminators and
    // the final one, and ten more bytes: the next name would be cut there.
    std::string manifest = "[S]\r\n";
    for (int i = 0; i < 306; ++i) manifest += "n" + std::to_string(1000 + i) + ".dll=PROGDIR\r\n";
    manifest += "fz_a.dll.old=DELETE\r\n";
    kit::writeFile(scratch + "\\m.ini", manifest);
    const std::vector<std::string> keys = sectionKeys(scratch + "\\m.ini", "S");
    ASSERT_EQ(keys.size(), 306u);
    EXPECT_EQ(keys.back(), "n1305.dll");
}

TEST(Tables, VersionTextsAndLongNames)
{
    EXPECT_EQ(mergemod::normaliseVersionText("10, 5, 1, 123"), "10.5.1.123");
    EXPECT_EQ(mergemod::normaliseVersionText(" 1 ,2"), "1.2");
    EXPECT_EQ(mergemod::longNameOf("CORVIN~1.DLL|Corvindale Viewer.dll"), "Corvindale Viewer.dll");
    EXPECT_EQ(mergemod::longNameOf("a.dll"), "a.dll");
    EXPECT_EQ(mergemod::longNameOf("a|b|c"), "b|c");
}

} // namespace
