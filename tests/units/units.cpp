// Known answers and tables for details a whole run does not show: the
// settings file's bytes, the rename-list text, the delayed-move list, the
// date rule, cabinet times and attributes, what a cabinet build writes, the
// Sequence walk, the macros and the name rules, the self-removal command, a
// module patched in memory and past the memory bound. One table per rule.
#include <gtest/gtest.h>

#include "app/self_removal.h"
#include "install/directory_macros.h"
#include "install/file_replacement.h"
#include "install/install_plan.h"
#include "install/manifest.h"
#include "kit/kit.h"
#include "mergemod/cabinet.h"
#include "mergemod/merge_module_job.h"
#include "mergemod/module_database.h"
#include "mergemod/names.h"
#include "product/product_checks.h"
#include "product/settings_container.h"
#include "session/detection.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/paths.h"

namespace {

using namespace std::string_literals;
const std::string scratch = "C:\\units", system = "HKLM\\Software\\Veltrane\\Corvindale\\CurrentVersion\\System";
const std::string sessionManager = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager";

struct Units : testing::Test {
    UpdateSession session;
    void SetUp() override
    {
        kit::removeTree(scratch);
        CreateDirectoryA(scratch.c_str(), nullptr);
        initialiseEnvironment(session);
        session.productDir = scratch;
        resolveMacros(session);
    }
    void TearDown() override { kit::removeTree(scratch), kit::removeTree(scratch + ".tmp"); }

    // The delayed moves waiting for the next start, taken off the machine.
    std::string pending()
    {
        std::string list;
        kit::readValue(sessionManager, "PendingFileRenameOperations", list);
        kit::deleteKey(sessionManager, "PendingFileRenameOperations");
        return list;
    }

    void stamp(const std::string& path, const FILETIME& time)
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        SetFileTime(file, nullptr, nullptr, &time);
        CloseHandle(file);
    }
};

TEST_F(Units, SettingsFileBytesAreThoseOfTheGoldenFile)
{
    std::string golden, saved;
    ASSERT_TRUE(kit::readFile(kit::join(kit::binDir(), "settings.golden.bin"), golden));
    kit::writeFile(scratch + "\\vindale.bin", golden);
    SettingsContainer settings;
    ASSERT_EQ(settings.load((scratch + "\\vindale.bin").c_str()), 1) << "the product's decoder";
    EXPECT_EQ(settings.versionMajor(), 10);
    EXPECT_EQ(settings.save((scratch + "\\copy.bin").c_str()), 1);
    EXPECT_TRUE(kit::readFile(scratch + "\\copy.bin", saved) && saved == golden) << "the product's encoder";
}

TEST_F(Units, ProductTypeFromComponentsAndOptions)
{
    const struct {
        unsigned long options, components;
        int type;
    } types[] = {{0, 3, productFull},   {1ul << 19, 2, productHost}, {0, 2, productHostLan}, {1ul << 18, 2, productHostLan},
                 {0, 1, productRemote}, {1ul << 19, 0, productNone}};
    for (const auto& row : types) {
        kit::writeFile(scratch + "\\vindale.bin", kit::settingsFile(10, 0, row.options, row.components));
        EXPECT_EQ(readProductType(session), row.type) << row.options << " " << row.components;
    }
}

TEST_F(Units, RenameListText)
{
    const std::string path = win::windowsFolder() + "\\WinInit.Ini", lines = "C:\\B=C:\\2\r\nC:\\A=C:\\1\r\nNUL=C:\\3\r\n";
    const std::pair<const char*, std::string> rows[] = {{nullptr, "[Rename]\r\n" + lines},
                                                        {"[boot]\r\nx=1", "[boot]\r\nx=1\r\n[Rename]\r\n" + lines},
                                                        {"[rename]\r\nold=o\r\n", "[rename]\r\n" + lines + "old=o\r\n"},
                                                        {"[ReNaMe]\r\n", "[ReNaMe]\r\n[Rename]\r\n" + lines},
                                                        {"x[Rename]\r\n", "x[Rename]\r\n[Rename]\r\n" + lines}};
    session.osFamily = osWindows9x;
    for (const auto& row : rows) {
        DeleteFileA(path.c_str());
        if (row.first) kit::writeFile(path, row.first);
        const std::string a = "C:\\A", b = "C:\\B";
        // Each line goes directly below the header; a deletion names NUL.
        scheduleReplace(session, "C:\\3", nullptr);
        scheduleReplace(session, "C:\\1", &a);
        scheduleReplace(session, "C:\\2", &b);
        closeRenameList(session);
        session.renameList = RenameListFile();
        std::string got;
        kit::readFile(path, got);
        EXPECT_EQ(got, row.second) << (row.first ? row.first : "(no file)");
    }
    DeleteFileA(path.c_str());
}

// The removal runs while the program may still be ending: it keeps trying
// until the file goes, then takes the folder. Run by the real command
// processor on a file held open for a while.
TEST_F(Units, SelfRemovalOutwaitsTheProgram)
{
    const std::string folder = scratch + "\\trevix-0123ABCD", program = folder + "\\trevix.exe";
    CreateDirectoryA(folder.c_str(), nullptr);
    kit::writeFile(program, "running");
    HANDLE running = CreateFileA(program.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string command = "cmd.exe /c " + selfDeleteCommand(program, folder);
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, "C:\\", &startup, &process));
    Sleep(1000);
    EXPECT_TRUE(kit::exists(program));
    CloseHandle(running);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread), CloseHandle(process.hProcess);
    for (const std::string& gone : {program, folder}) EXPECT_FALSE(kit::exists(gone)) << gone;
}

TEST_F(Units, DelayedMovesOnNtAndTheDateRule)
{
    // Staged files older than the installed one are dropped, others scheduled.
    const std::string staging = scratch + ".tmp";
    CreateDirectoryA(staging.c_str(), nullptr);
    session.osFamily = osWin2000;
    const FILETIME times[] = {{0, 0x01D60000}, {0, 0x01D60001}, {0, 0x01D60002}};
    const char* const names[] = {"older.dll", "same.dll", "newer.dll"};
    for (int i = 0; i < 3; ++i) {
        kit::writeFile(kit::join(scratch, names[i]), "installed");
        kit::writeFile(kit::join(staging, names[i]), "staged");
        stamp(kit::join(scratch, names[i]), times[1]);
        stamp(kit::join(staging, names[i]), times[i]);
    }
    session.macros[session.macroProgDir].staging = staging;
    session.macros[session.macroProgDir].files = {"older.dll", "same.dll", "newer.dll"};
    scheduleStagedFiles(session, session.macroProgDir);
    const std::string list = pending();
    for (const std::string& move : {"\\??\\C:\\units.tmp\\newer.dll\0!\\??\\C:\\units\\newer.dll\0"s,
                                    "\\??\\C:\\units.tmp\\same.dll\0!\\??\\C:\\units\\same.dll\0"s, "\\??\\C:\\units.tmp\0\0"s})
        EXPECT_NE(list.find(move), std::string::npos) << move;
    EXPECT_EQ(list.find("older"), std::string::npos);
    EXPECT_FALSE(kit::exists(staging + "\\older.dll"));
}

TEST_F(Units, CabinetKeepsFourAttributeBitsAndTheTimeThroughLocalTime)
{
    // Local time is 5:30 off UTC here (TZ): times go through it both ways.
    const std::string file = scratch + "\\a.txt", out = scratch + "\\out";
    const FILETIME written = {0x2D03E000, 0x01D6380C}; // 2020-06-01 12:00:00 UTC
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    kit::writeFile(file, "text");
    stamp(file, written);
    SetFileAttributesA(file.c_str(), kept);
    {
        mergemod::CabinetBuilder builder;
        ASSERT_TRUE(builder.create(scratch + "\\", "x.cab") && builder.addFile(file, "a.txt") && builder.flush());
    }
    // The archive bit shows only in the cabinet: every new file gets it.
    std::string cab;
    kit::readFile(scratch + "\\x.cab", cab);
    const size_t entry = static_cast<unsigned char>(cab.at(16)) | static_cast<unsigned char>(cab.at(17)) << 8;
    EXPECT_EQ(static_cast<unsigned char>(cab.at(entry + 14)) | static_cast<unsigned char>(cab.at(entry + 15)) << 8, 0x27);
    std::vector<std::string> names;
    unsigned spread = 0;
    CreateDirectoryA(out.c_str(), nullptr);
    ASSERT_EQ(mergemod::extractWholeCabinet(scratch + "\\", "x.cab", out, names, spread), 1);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA((out + "\\a.txt").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.dwFileAttributes, kept);
    EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &written) | CompareFileTime(&data.ftCreationTime, &written), 0);
}

TEST_F(Units, CabinetBuildWritesNothingButTheCabinet)
{
    // The cleanup run has administrator rights: FCI's temporary files go beside
    // the cabinet, never to TMP, which another user may have prepared, and none
    // stays. Here TMP names no folder at all.
    const std::string file = scratch + "\\a.txt";
    kit::writeFile(file, std::string(100000, 'x'));
    const char* const tmp = getenv("TMP");
    const std::string restore = "TMP="s + (tmp ? tmp : "");
    _putenv(("TMP=" + scratch + "\\absent").c_str());
    bool built;
    {
        mergemod::CabinetBuilder builder;
        built = builder.create(scratch + "\\", "x.cab") && builder.addFile(file, "a.txt") && builder.flush();
    }
    _putenv(restore.c_str());
    EXPECT_TRUE(built);
    EXPECT_EQ(kit::listDir(scratch), (std::vector<std::string>{"a.txt", "x.cab"}));
}

// The callbacks over bytes in memory behave as the C runtime's over a file.
TEST(Tables, CabinetFileInMemory)
{
    std::string bytes;
    mergemod::CabinetFile file;
    file.bytes = &bytes;
    const INT_PTR handle = reinterpret_cast<INT_PTR>(&file);
    char into[8] = {};
    EXPECT_EQ(mergemod::fdiWrite(handle, const_cast<char*>("abcd"), 4), 4u);
    EXPECT_EQ(mergemod::fdiWrite(handle, const_cast<char*>("ef"), 2), 2u);
    EXPECT_EQ(bytes, "abcdef");
    EXPECT_EQ(mergemod::fdiSeek(handle, 0, SEEK_END), 6);
    EXPECT_EQ(mergemod::fdiSeek(handle, -2, SEEK_CUR), 4);
    EXPECT_EQ(mergemod::fdiRead(handle, into, 8), 2u);
    EXPECT_EQ(std::string(into, 2), "ef");
    EXPECT_EQ(mergemod::fdiRead(handle, into, 8), 0u);
    EXPECT_EQ(mergemod::fdiSeek(handle, 1, SEEK_SET), 1);
    EXPECT_EQ(mergemod::fdiRead(handle, into, 2), 2u);
    EXPECT_EQ(std::string(into, 2), "bc");
    EXPECT_EQ(mergemod::fdiSeek(handle, -4, SEEK_CUR), -1);
    EXPECT_EQ(mergemod::fdiSeek(handle, 8, SEEK_SET), 8);
    EXPECT_EQ(mergemod::fdiWrite(handle, const_cast<char*>("z"), 1), 1u);
    EXPECT_EQ(bytes, "abcdef\0\0z"s);
    EXPECT_EQ(mergemod::fdiClose(handle), 0);
}

// Entries held in memory follow the rules of unpacked files: of two of one
// name whatever its case, the later; and repacked, the time the cabinet gave
// and its four attribute bits, whatever else it set.
TEST_F(Units, CabinetHeldInMemoryRepacksAsFromFiles)
{
    std::string large;
    for (int i = 0; large.size() < 100000; ++i) large += std::to_string(i * 7919 % 100003) + ",";
    kit::writeFile(scratch + "\\a.txt", large);
    kit::writeFile(scratch + "\\b.txt", "later");
    {
        mergemod::CabinetBuilder builder;
        ASSERT_TRUE(builder.create(scratch + "\\", "x.cab") && builder.addFile(scratch + "\\a.txt", "a.txt") && builder.addFile(scratch + "\\b.txt", "A.TXT") &&
                    builder.addFile(scratch + "\\a.txt", "big.txt") && builder.flush());
    }
    std::string cab;
    kit::readFile(scratch + "\\x.cab", cab);
    // The last entry's attributes get the executable bit, which no file keeps.
    const size_t first = static_cast<unsigned char>(cab.at(16)) | static_cast<unsigned char>(cab.at(17)) << 8;
    const size_t last = cab.find("big.txt") - 16;
    cab[last + 14] = static_cast<char>(0x40 | 0x21);
    kit::writeFile(scratch + "\\x.cab", cab);
    mergemod::HeldEntries held;
    bool overBound = true;
    ASSERT_EQ(mergemod::holdWholeCabinet(scratch + "\\", "x.cab", mergemod::heldBytesBound, held, overBound), 1);
    EXPECT_FALSE(overBound);
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held["A.TXT"].data, "later");
    EXPECT_TRUE(held["BIG.TXT"].data == large);
    {
        mergemod::CabinetBuilder builder;
        ASSERT_TRUE(builder.create(scratch + "\\", "y.cab") && builder.addHeld(held["BIG.TXT"], "big.txt") && builder.flush());
    }
    std::string repacked;
    kit::readFile(scratch + "\\y.cab", repacked);
    const size_t entry = static_cast<unsigned char>(repacked.at(16)) | static_cast<unsigned char>(repacked.at(17)) << 8;
    EXPECT_EQ(repacked.substr(entry + 10, 4), cab.substr(first + 10, 4)) << "date and time";
    EXPECT_EQ(static_cast<unsigned char>(repacked.at(entry + 14)), 0x21);
}

TEST_F(Units, EntrySizesCountUnsigned)
{
    // An entry of 2 GiB is past the memory bound, not a negative size that
    // would lower the sum: the patch then unpacks through the folder.
    const std::string file = scratch + "\\a.txt";
    kit::writeFile(file, "text");
    {
        mergemod::CabinetBuilder builder;
        ASSERT_TRUE(builder.create(scratch + "\\", "x.cab") && builder.addFile(file, "a.txt") && builder.flush());
    }
    std::string cab;
    kit::readFile(scratch + "\\x.cab", cab);
    const size_t entry = static_cast<unsigned char>(cab.at(16)) | static_cast<unsigned char>(cab.at(17)) << 8;
    cab.replace(entry, 4, "\0\0\0\x80"s);
    kit::writeFile(scratch + "\\x.cab", cab);
    mergemod::HeldEntries held;
    bool overBound = false;
    EXPECT_EQ(mergemod::holdWholeCabinet(scratch + "\\", "x.cab", mergemod::heldBytesBound, held, overBound), 0);
    EXPECT_TRUE(overBound);
    EXPECT_TRUE(held.empty());
}

// A module of more entries than one unpacking folder takes, patched with its
// entries in memory, and again with a bound below their size, which unpacks
// them into sub-folders of the unpacking folder: the same cabinet, in
// Sequence order, with the new files, and nothing left in the folder.
TEST_F(Units, ManyEntriesInMemoryAndPastTheBoundOnDisk)
{
    const std::string fixtures = getenv("TREVIX_FIXTURES"), extract = scratch + "\\Extracted", check = scratch + "\\check";
    const char* const replaced[] = {"part 007.dll", "part 150.dll", "part 300.dll"};
    CreateDirectoryA(extract.c_str(), nullptr);
    std::string cabinets[2];
    for (int onDisk = 0; onDisk < 2; ++onDisk) {
        ASSERT_TRUE(CopyFileA(kit::join(fixtures, "MANY.MSM").c_str(), (scratch + "\\MANY.MSM").c_str(), FALSE));
        mergemod::MergeModuleJob job("MANY.MSM", scratch, extract, onDisk ? 1000 : mergemod::heldBytesBound);
        ASSERT_EQ(job.extractCabinetStream(), 1);
        job.unpackCabinet();
        EXPECT_TRUE(job.unpacked());
        EXPECT_EQ(job.heldInMemory(), !onDisk);
        EXPECT_EQ(kit::listDir(extract), onDisk ? (std::vector<std::string>{"0", "1", "2", "3", "4"}) : std::vector<std::string>{}) << onDisk;
        for (const char* name : replaced) EXPECT_EQ(job.replaceModuleFile(fixtures + "\\new", name), 1) << name;
        EXPECT_EQ(job.rebuildCabinet(), 1) << onDisk;
        EXPECT_EQ(job.storeCabinetStream(), 1) << onDisk;
        EXPECT_TRUE(kit::listDir(extract).empty()) << onDisk;
        EXPECT_EQ(kit::listDir(scratch), (std::vector<std::string>{"Extracted", "MANY.MSM"})) << onDisk;
        ASSERT_EQ(mergemod::readModuleStream(scratch + "\\MANY.MSM", mergemod::MergeModuleJob::cabinetName, cabinets[onDisk]), 1);
    }
    EXPECT_TRUE(cabinets[0] == cabinets[1]);
    // What the cabinet holds, read back through the folder.
    CreateDirectoryA(check.c_str(), nullptr);
    CreateDirectoryA((check + "\\out").c_str(), nullptr);
    kit::writeFile(check + "\\x.cab", cabinets[0]);
    std::vector<std::string> names, keys;
    unsigned spread = 0;
    ASSERT_EQ(mergemod::extractWholeCabinet(check + "\\", "x.cab", check + "\\out", names, spread), 1);
    for (int i = 300; i >= 1; --i) keys.push_back("p" + std::string(i < 100 ? "0" : "") + (i < 10 ? "0" : "") + std::to_string(i) + ".dll");
    EXPECT_TRUE(names == keys) << names.size();
    std::string text;
    for (const char* kept : {"p001.dll", "p008.dll", "p299.dll"}) {
        kit::readFile(mergemod::unpackedPath(check + "\\out", kept, spread), text);
        EXPECT_EQ(text, "part " + std::string(kept + 1, 3) + " of many") << kept;
    }
    for (const char* name : replaced) {
        kit::readFile(mergemod::unpackedPath(check + "\\out", "p" + std::string(name + 5, 3) + ".dll", spread), text);
        EXPECT_EQ(text, std::string(name, 8) + ", new") << name;
    }
}

TEST_F(Units, MacrosAndTheirStagingFolders)
{
    const std::string windows = win::windowsFolder(), product = "HKLM\\Software\\Veltrane\\SharedUsage";
    kit::setValue(product, "", REG_SZ, "D:\\Shared\\"s + '\0');
    kit::setValue(product, "Tidewarden", REG_SZ, "E:\\"s + '\0');
    kit::setValue(system, "CMSDir", REG_SZ, "relative\\cms"s + '\0');
    kit::setValue(system, "FilesDirectory", REG_SZ, "\\\\server\\data\\\\"s + '\0');
    kit::setValue("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir", REG_SZ, "C:\\Common\\"s + '\0');
    resolveMacros(session);
    const std::string packager = scratch + "\\Packager\\", none;
    const std::pair<const char*, std::string> rows[] = {{"PROGDIR", scratch},
                                                        {"WINDIR", windows},
                                                        {"SYSDIR", win::systemFolder()},
                                                        {"VELDIR", "D:\\Shared"},
                                                        {"TWDIR", "E:"},
                                                        {"DRVDIR", windows + "\\System32\\Drivers"},
                                                        {"CMSDIR", none},
                                                        {"DATADIR", "\\\\server\\data"},
                                                        {"VELSHARED", "C:\\Common\\Veltrane Shared"},
                                                        {"MERGEMODULESDIR", packager + "Merge Modules"},
                                                        {"MERGEMODULESENGDIR", packager + "Merge Modules\\0000"},
                                                        {"PACKAGERRESDIR", packager + "Resources\\0000"},
                                                        {"progdir", none},
                                                        {"DELETE", none}};
    for (const auto& row : rows) {
        std::string folder = "x", staging = "x";
        EXPECT_EQ(resolveMacro(session, row.first, folder), row.second.empty() ? 0 : 1) << row.first;
        EXPECT_EQ(stagingDirFor(session, row.first, staging), row.second.empty() ? 0 : 1) << row.first;
        EXPECT_TRUE(row.second.empty() || folder + "|" + staging == row.second + "|" + row.second + (row.second == "E:" ? "\\.tmp" : ".tmp"))
            << row.first << ": " << folder << "|" << staging;
    }
    kit::deleteKey("HKLM\\Software\\Veltrane");
}

TEST(Tables, FoldersReadFromTheRegistry)
{
    const std::pair<std::string, const char*> rows[] = {{"C:\\Corvindale\\", "C:\\Corvindale"},
                                                        {"C:\\Corvindale", "C:\\Corvindale"},
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
        kit::setValue(system, "InstallDir", REG_SZ, row.first + '\0');
        std::string folder = "unchanged";
        EXPECT_EQ(readMachineFolder(system.substr(5), "InstallDir", folder), row.second ? 1 : 0) << row.first;
        EXPECT_EQ(folder, row.second ? row.second : "unchanged") << row.first;
    }
    kit::deleteKey("HKLM\\Software\\Veltrane");
}

TEST(Tables, PlainFileNames)
{
    for (const char* name : {"cvd.exe", "Long Name File.dll", ".profile", "..x", "console.dll", "com10", "lpt.dll", "nul2"})
        EXPECT_TRUE(win::isPlainFileName(name)) << name;
    for (const char* name :
         {"", ".", "..", "...", ". .", "..\\a", "sub\\a", "a/b", "C:a.dll", "\\\\srv\\x", "CON", "con.txt", "Aux", "LPT1", "com9.dll", "NUL .x", "clock$"})
        EXPECT_FALSE(win::isPlainFileName(name)) << name;
}

TEST_F(Units, EveryNameOfASectionIsRead)
{
    // More names than 3,072 bytes hold: none may be dropped.
    std::string manifest = "[S]\r\n";
    for (int i = 0; i < 306; ++i) manifest += "n" + std::to_string(1000 + i) + ".dll=PROGDIR\r\n";
    kit::writeFile(scratch + "\\m.ini", manifest + "fz_a.dll.old=DELETE\r\n");
    const std::vector<std::string> keys = sectionKeys(scratch + "\\m.ini", "S");
    EXPECT_TRUE(keys.size() == 307 && keys.back() == "fz_a.dll.old") << keys.size();
}

// What each entry will do, decided before anything is done; and whether the
// plan finds every file it installs, after the renames and deletions before it.
TEST_F(Units, PlanOfTheSectionsAndItsFiles)
{
    const std::string package = scratch + "\\pkg";
    CreateDirectoryA(package.c_str(), nullptr);
    session.programDir = package;
    session.manifestPath = package + "\\trevix.ini";
    session.osFamily = osWindowsXp;
    kit::writeFile(scratch + "\\vindale.bin", kit::settingsFile(10, 0, 0, 3));
    kit::writeFile(scratch + "\\a.dll", "installed");
    kit::writeFile(session.manifestPath, "[COMMON]\r\na.dll=PROGDIR\r\nb.dll=PROGDIR\r\nc.txt=DELETE\r\nd.txt=delete\r\nCON=PROGDIR\r\ne.txt=..\\x\r\n"
                                         "[FULL.WINDOWSXP]\r\nf.dll=PROGDIR\r\n");
    std::string kinds;
    for (const PlannedEntry& entry : planInstall(session).entries) kinds += "IDRNL"[entry.kind];
    EXPECT_EQ(kinds, "ILDRNNI");

    const struct {
        const char* sections;
        const char* files;
        unsigned long code;
    } rows[] = {{"[FULL.WINDOWSXP]\r\nx.dll=y.dll\r\ny.dll=PROGDIR\r\n", "x.dll", 0},
                {"[FULL.WINDOWSXP]\r\ny.dll=DELETE\r\n[PACKAGER.RESOURCES]\r\ny.dll=PROGDIR\r\n", "y.dll", exitMissingFiles},
                {"[FULL.WINDOWSXP]\r\nz.dll=PROGDIR\r\n", "", exitMissingFiles},
                {"[FULL.WINDOWSXP]\r\nz.dll=PROGDIR\r\n", "z.dll", 0}};
    for (const auto& row : rows) {
        kit::removeTree(package);
        CreateDirectoryA(package.c_str(), nullptr);
        if (*row.files) kit::writeFile(kit::join(package, row.files), "update");
        kit::writeFile(session.manifestPath, row.sections);
        EXPECT_EQ(checkPlan(session, planInstall(session)), row.code) << row.sections;
    }
}

TEST(Tables, SequenceWalkVersionTextsAndLongNames)
{
    using Rows = std::vector<std::pair<std::string, int>>;
    EXPECT_EQ(mergemod::keysInSequence(Rows{{"c", 3}, {"a", 1}, {"b", 2}}), (std::vector<std::string>{"a", "b", "c"}));
    for (const Rows& rows : {Rows{{"a", 1}, {"b", 3}}, Rows{{"a", 1}, {"b", 1}}, Rows{{"a", 0}}, Rows{}})
        EXPECT_TRUE(mergemod::keysInSequence(rows).empty()) << rows.size();
    EXPECT_EQ(mergemod::normaliseVersionText("10, 5, 1, 123"), "10.5.1.123");
    EXPECT_EQ(mergemod::longNameOf("CORVIN~1.DLL|Corvindale Viewer.dll") + mergemod::longNameOf("a.dll"), "Corvindale Viewer.dlla.dll");
}

} // namespace
