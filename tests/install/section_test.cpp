// The manifest's file sections and the installation step: what happens to
// the update's files and to the product's folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "install/file_replacement.h"
#include "install/installation_step.h"
#include "install/manifest.h"
#include "win/files.h"
#include "install_fixture.h"
#include "kit/testkit.h"
#include "product/product_checks.h"
#include "product/settings_container.h"

namespace {

using installtest::content;

// The files of a folder as "name:content" lines, without the manifest.
std::string files(const std::string& folder)
{
    std::string out;
    for (const std::string& name : kit::listDir(folder)) {
        const std::string path = kit::joinPath(folder, name);
        if (name == "trevix.ini" || (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)) continue;
        out += name + ":" + content(path) + " ";
    }
    return out;
}

class Sections : public testing::Test {
protected:
    kit::RegistrySandbox sandbox;
    kit::TempDir root{"sections"};
    std::string product = root / "Corvindale Product";
    std::string package = root / "update package";
    UpdateSession session;

    void SetUp() override
    {
        CreateDirectoryA(product.c_str(), nullptr);
        CreateDirectoryA(package.c_str(), nullptr);
        installtest::prepareSession(session, product, package, osWindowsXp);
    }
    void TearDown() override
    {
        for (const std::string& macro : macroNames(session)) {
            std::string staging;
            if (stagingDirFor(session, macro, staging) && staging.find(root.path()) != 0)
                RemoveDirectoryA(staging.c_str());
        }
    }
    void manifest(const std::string& text) { kit::writeFile(session.manifestPath, text); }
    void inPackage(const std::string& name, const std::string& text) { kit::writeFile(package + "\\" + name, text); }
    void inProduct(const std::string& name, const std::string& text) { kit::writeFile(product + "\\" + name, text); }
};

TEST_F(Sections, Entries)
{
    struct Case {
        const char* title;
        const char* lines;
        int discardAll, replaceOnly;
        const char* packageAfter;
        const char* productAfter;
    } cases[] = {
        {"delete", "a.dll=DELETE", 0, 0, "b.dll:new-b ", "a.dll:old "},
        {"lower-case delete is a new name", "a.dll=delete", 0, 0, "b.dll:new-b delete:new-a ", "a.dll:old "},
        {"second rename to the same name changes nothing", "a.dll=c.dll\r\nb.dll=c.dll", 0, 0,
         "b.dll:new-b c.dll:new-a ", "a.dll:old "},
        {"replace only", "a.dll=PROGDIR\r\nb.dll=PROGDIR", 0, 1, "a.dll:new-a b.dll:new-b ", "a.dll:new-a "},
        {"install", "a.dll=PROGDIR\r\nb.dll=PROGDIR", 0, 0, "a.dll:new-a b.dll:new-b ",
         "a.dll:new-a b.dll:new-b "},
        {"discard all", "a.dll=PROGDIR\r\nb.dll=c.dll", 1, 1, "", "a.dll:old "},
        {"value cut at 31 characters", "a.dll=abcdefghijklmnopqrstuvwxyz0123456789", 0, 0,
         "abcdefghijklmnopqrstuvwxyz01234:new-a b.dll:new-b ", "a.dll:old "},
        {"cut macro is a new name", "a.dll=PROGDIRPROGDIRPROGDIRPROGDIRPROGDIR", 0, 0,
         "PROGDIRPROGDIRPROGDIRPROGDIRPRO:new-a b.dll:new-b ", "a.dll:old "},
        {"missing registry folder is a new name", "a.dll=VELDIR", 0, 0, "VELDIR:new-a b.dll:new-b ",
         "a.dll:old "},
        {"first of duplicate keys wins", "a.dll=DELETE\r\na.dll=PROGDIR", 0, 0, "b.dll:new-b ", "a.dll:old "},
        {"names compare without case", "A.DLL=DELETE\r\na.dll=PROGDIR", 0, 0, "b.dll:new-b ", "a.dll:old "},
        {"a name without a value comes first", "a.dll\r\na.dll=PROGDIR", 0, 0, "a.dll:new-a b.dll:new-b ",
         "a.dll:old "},
        {"quoted value", "a.dll=\"PROGDIR\"\r\nb.dll='c.dll'", 0, 0, "a.dll:new-a c.dll:new-b ",
         "a.dll:new-a "},
        {"blanks around the value", "a.dll =   PROGDIR  \r\n  b.dll\t=\tc.dll", 0, 0, "a.dll:new-a c.dll:new-b ",
         "a.dll:new-a "},
        {"names that leave the folder",
         "..\\outside.dll=DELETE\r\n..\\outside.dll=PROGDIR\r\n.=DELETE\r\n..=PROGDIR\r\n...=x\r\n"
         "a.dll=..\\moved.dll\r\na.dll=C:\\moved.dll\r\nb.dll=sub\\moved.dll\r\nb.dll=..\r\n"
         "C:outside.dll=PROGDIR\r\nb.dll=\r\n",
         0, 0, "a.dll:new-a b.dll:new-b ", "a.dll:old "},
        {"device names", "CON=PROGDIR\r\na.dll=NUL\r\nb.dll=com1.txt\r\naux=DELETE", 0, 0,
         "a.dll:new-a b.dll:new-b ", "a.dll:old "},
        {"empty section", "", 0, 0, "a.dll:new-a b.dll:new-b ", "a.dll:old "},
    };
    kit::writeFile(root / "outside.dll", "outside");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        for (const std::string& name : kit::listDir(package)) kit::removeTree(package + "\\" + name);
        for (const std::string& name : kit::listDir(product)) kit::removeTree(product + "\\" + name);
        kit::removeTree(product + ".tmp");
        inPackage("a.dll", "new-a");
        inPackage("b.dll", "new-b");
        inProduct("a.dll", "old");
        manifest(std::string("[S]\r\n") + c.lines + "\r\n[T]\r\nb.dll=DELETE\r\n");

        EXPECT_EQ(installSection(session, "S", c.discardAll, c.replaceOnly), 1);
        EXPECT_EQ(files(package), c.packageAfter);
        EXPECT_EQ(files(product), c.productAfter);
        // Nothing staged, and nothing outside the two folders.
        EXPECT_TRUE(kit::fileExists(product + ".tmp"));
        EXPECT_EQ(files(product + ".tmp"), "");
        EXPECT_EQ(kit::listDir(root.path()),
                  (std::vector<std::string>{"Corvindale Product", "Corvindale Product.tmp", "outside.dll",
                                            "update package"}));
        EXPECT_EQ(content(root / "outside.dll"), "outside");
    }
}

TEST_F(Sections, FileInUseIsStagedBesideItsMacroFolder)
{
    const std::string engDir = product + "\\Packager\\Merge Modules\\0000";
    CreateDirectoryA((product + "\\Packager").c_str(), nullptr);
    CreateDirectoryA((product + "\\Packager\\Merge Modules").c_str(), nullptr);
    CreateDirectoryA(engDir.c_str(), nullptr);
    inProduct("cvd.exe", "old");
    inProduct("free.dll", "old");
    kit::writeFile(engDir + "\\module.msm", "old");
    inPackage("cvd.exe", "new");
    inPackage("free.dll", "new");
    inPackage("module.msm", "new");
    manifest("[COMMON]\r\ncvd.exe=PROGDIR\r\nfree.dll=PROGDIR\r\nmodule.msm=MERGEMODULESENGDIR\r\n");
    {
        kit::FileHolder cvd(product + "\\cvd.exe");
        kit::FileHolder module(engDir + "\\module.msm");
        ASSERT_TRUE(cvd.held() && module.held());
        installSection(session, "COMMON", 0, 1);
    }
    EXPECT_EQ(files(product), "cvd.exe:old free.dll:new ");
    EXPECT_EQ(files(product + ".tmp"), "cvd.exe:new ");
    EXPECT_EQ(files(engDir), "module.msm:old ");
    EXPECT_EQ(files(engDir + ".tmp"), "module.msm:new ");
    kit::removeTree(product + ".tmp");
}

TEST_F(Sections, FiveSectionsInTheirOrder)
{
    inProduct("vindale.bin", kit::settingsFile(10, 0, 0, 3));  // FULL
    inProduct("cvdadmn.dll", "admin component");
    for (const char* name : {"common.dll", "admin.dll", "manage.dll"}) inProduct(name, "old");
    for (const char* name : {"common.dll", "fresh.dll", "order.dll", "full.dll", "late.dll", "host.dll",
                             "admin.dll", "adminnew.dll", "manage.dll", "res.dll"})
        inPackage(name, "new");
    const std::string resources = product + "\\Packager\\Resources\\0000";
    CreateDirectoryA((product + "\\Packager").c_str(), nullptr);
    CreateDirectoryA((product + "\\Packager\\Resources").c_str(), nullptr);
    CreateDirectoryA(resources.c_str(), nullptr);
    manifest("[TIDEWARDEN]\r\nVersion Major=10\r\n"
             "[COMMON]\r\ncommon.dll=PROGDIR\r\nfresh.dll=PROGDIR\r\norder.dll=DELETE\r\n"
             "[FULL.WINDOWSXP]\r\nfull.dll=PROGDIR\r\norder.dll=PROGDIR\r\nlate.dll=PROGDIR\r\n"
             "[HOST.WINDOWSXP]\r\nhost.dll=PROGDIR\r\n"
             "[HOSTADMIN]\r\nadmin.dll=PROGDIR\r\nadminnew.dll=PROGDIR\r\n"
             "[REMOTEMANAGE]\r\nmanage.dll=PROGDIR\r\n"
             "[PACKAGER.RESOURCES]\r\nres.dll=PACKAGERRESDIR\r\nlate.dll=DELETE\r\n");

    EXPECT_EQ(installUpdateFiles(session), 1);
    EXPECT_EQ(files(product).substr(0, files(product).find("vindale.bin")),
              "admin.dll:new common.dll:new cvdadmn.dll:admin component full.dll:new late.dll:new "
              "manage.dll:old ");
    EXPECT_EQ(files(resources), "res.dll:new ");
    EXPECT_EQ(files(package), "admin.dll:new adminnew.dll:new common.dll:new fresh.dll:new full.dll:new "
                              "host.dll:new res.dll:new ");
    kit::removeTree(product + ".tmp");
}

TEST_F(Sections, AdminAndManagerSectionsFollowTheirComponents)
{
    struct Case {
        bool admin, manager;
        const char* productAfter;
        const char* packageAfter;
    } cases[] = {
        {false, false, "admin.dll:old manage.dll:old ", "new.dll:new "},
        {true, false, "admin.dll:new manage.dll:old ", "admin.dll:new adminnew.dll:new new.dll:new "},
        {false, true, "admin.dll:old manage.dll:new ", "manage.dll:new managenew.dll:new new.dll:new "},
        {true, true, "admin.dll:new manage.dll:new ",
         "admin.dll:new adminnew.dll:new manage.dll:new managenew.dll:new new.dll:new "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.admin) + std::to_string(c.manager));
        for (const std::string& name : kit::listDir(package)) kit::removeTree(package + "\\" + name);
        for (const std::string& name : kit::listDir(product)) kit::removeTree(product + "\\" + name);
        inProduct("admin.dll", "old");
        inProduct("manage.dll", "old");
        for (const char* name : {"admin.dll", "adminnew.dll", "manage.dll", "managenew.dll", "new.dll"})
            inPackage(name, "new");
        if (c.admin) inProduct("cvdadmn.dll", "");
        if (c.manager) inProduct("cvdmgt.exe", "");
        manifest("[HOSTADMIN]\r\nadmin.dll=PROGDIR\r\nadminnew.dll=PROGDIR\r\n"
                 "[REMOTEMANAGE]\r\nmanage.dll=PROGDIR\r\nmanagenew.dll=PROGDIR\r\n");
        installUpdateFiles(session);
        std::string after = files(product);
        for (const char* marker : {"cvdadmn.dll: ", "cvdmgt.exe: "}) {
            size_t at = after.find(marker);
            if (at != std::string::npos) after.erase(at, std::strlen(marker));
        }
        EXPECT_EQ(after, c.productAfter);
        EXPECT_EQ(files(package), c.packageAfter);
    }
}

TEST_F(Sections, ProductAndSystemSectionName)
{
    EXPECT_EQ(productSectionName(productFull, osWindowsXp), "FULL.WINDOWSXP");
    EXPECT_EQ(productSectionName(productHostLan, osWinNt351), "HOSTLAN.WINNT351");
    EXPECT_EQ(productSectionName(productNone, osWin2000), ".WIN2000");
    EXPECT_EQ(productSectionName(productRemote, 7), "REMOTE.");

    // No settings file: type 0, and the ".WIN2000" section is the one installed.
    session.osFamily = osWin2000;
    inPackage("x.dll", "new");
    inPackage("y.dll", "new");
    manifest("[.WIN2000]\r\nx.dll=PROGDIR\r\n[FULL.WIN2000]\r\ny.dll=PROGDIR\r\n");
    installUpdateFiles(session);
    EXPECT_EQ(files(product), "x.dll:new ");
    EXPECT_FALSE(kit::fileExists(product + ".tmp\\vindale.bin"));
}

TEST_F(Sections, SettingsFileIsStagedAndStampedAndTheRevisionStored)
{
    const char* versionKey = "Software\\Veltrane\\Corvindale\\CurrentVersion";
    kit::setString(HKEY_LOCAL_MACHINE, versionKey, "Other", "x");
    manifest("[TIDEWARDEN]\r\nVersion Major=11\r\nVersion Minor=2\r\nRevision=77\r\n");
    installUpdateFiles(session);
    EXPECT_FALSE(kit::fileExists(product + ".tmp\\vindale.bin"));
    EXPECT_FALSE(kit::valueExists(HKEY_LOCAL_MACHINE, versionKey, "Revision"));

    inProduct("vindale.bin", kit::settingsFile(10, 0, 0, 3));
    installUpdateFiles(session);
    SettingsContainer staged;
    ASSERT_EQ(staged.load((product + ".tmp\\vindale.bin").c_str()), 1);
    EXPECT_EQ(staged.versionMajor(), 11);
    DWORD revision = 0;
    EXPECT_TRUE(kit::readDword(HKEY_LOCAL_MACHINE, versionKey, "Revision", revision));
    EXPECT_EQ(revision, 77u);
    // The installed one is replaced only at the next start.
    EXPECT_EQ(content(product + "\\vindale.bin"), kit::settingsFile(10, 0, 0, 3));
    kit::removeTree(product + ".tmp");
}

TEST_F(Sections, AuxiliaryProgramsRunAndAreWaitedFor)
{
    const std::string standin = kit::joinPath(kit::binDir(), "standin.exe");
    ASSERT_TRUE(kit::copyFile(standin, package + "\\kosetup.exe"));
    ASSERT_TRUE(kit::copyFile(standin, package + "\\relinst.exe"));
    inPackage("standin.sleep", "400");
    inPackage("x.dll", "new");
    manifest("[COMMON]\r\nx.dll=PROGDIR\r\n");
    installUpdateFiles(session);
    EXPECT_EQ(content(package + "\\standin.log"),
              installtest::shortPath(package + "\\kosetup.exe") + " -s\r\n" +
                  installtest::shortPath(package + "\\relinst.exe") + " /Q Corvindale\r\n");
    // Both had ended when the step returned.
    EXPECT_TRUE(kit::fileExists(package + "\\kosetup.exe.done"));
    EXPECT_TRUE(kit::fileExists(package + "\\relinst.exe.done"));
}

TEST_F(Sections, NewFilesFolderKeepsEveryFileOfTheUpdate)
{
    CreateDirectoryA((product + "\\Packager").c_str(), nullptr);
    CreateDirectoryA(session.mergeModulesDir.c_str(), nullptr);
    inPackage("a.dll", "new-a");
    inPackage("gone.dll", "discarded later");
    CreateDirectoryA((package + "\\sub").c_str(), nullptr);
    manifest("[COMMON]\r\ngone.dll=DELETE\r\n");

    EXPECT_EQ(createNewFilesDir(session), 1);
    EXPECT_EQ(copyProgramDirToNewFiles(session), 1);
    installSection(session, "COMMON", 0, 1);
    EXPECT_EQ(files(session.newFilesDir), "a.dll:new-a gone.dll:discarded later ");
    EXPECT_TRUE(kit::fileExists(session.newFilesDir + "\\trevix.ini"));
    EXPECT_FALSE(kit::fileExists(package + "\\gone.dll"));

    // A file that cannot be deleted keeps the folder; read-only ones go.
    SetFileAttributesA((session.newFilesDir + "\\a.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    {
        kit::FileHolder held(session.newFilesDir + "\\gone.dll");
        ASSERT_TRUE(held.held());
        EXPECT_EQ(deleteNewFilesDir(session), 0);
    }
    EXPECT_EQ(kit::listDir(session.newFilesDir), std::vector<std::string>{"gone.dll"});
    EXPECT_EQ(deleteNewFilesDir(session), 1);
    EXPECT_FALSE(kit::fileExists(session.newFilesDir));
    EXPECT_EQ(deleteNewFilesDir(session), 0);

    session.programDir = root / "missing";
    EXPECT_EQ(copyProgramDirToNewFiles(session), 0);
    // No folder texts: nothing at the root of the drive is listed or deleted.
    session.programDir.clear();
    session.newFilesDir.clear();
    EXPECT_EQ(copyProgramDirToNewFiles(session), 0);
    EXPECT_EQ(deleteNewFilesDir(session), 0);
}

TEST_F(Sections, BadManifests)
{
    std::string binary;
    for (int i = 0; i < 50000; ++i) binary += static_cast<char>((i * 7919 + i / 13) % 256);
    std::string huge;
    std::string keys;
    for (int i = 0; i < 50; ++i) keys += "key" + std::to_string(i) + "=PROGDIR\r\n";
    while (huge.size() < 8u * 1024 * 1024) huge += "[F" + std::to_string(huge.size()) + "]\r\n" + keys;
    struct Case {
        const char* title;
        bool write;
        std::string text;
        const char* productAfter;
    } cases[] = {
        {"missing", false, "", ""},
        {"empty", true, "", ""},
        {"binary", true, binary, ""},
        {"binary section", true, "[S]\r\n" + binary, ""},
        {"huge", true, huge + "[S]\r\na.dll=PROGDIR\r\n", "a.dll:new "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        for (const std::string& name : kit::listDir(product)) kit::removeTree(product + "\\" + name);
        inPackage("a.dll", "new");
        DeleteFileA(session.manifestPath.c_str());
        if (c.write) manifest(c.text);
        EXPECT_EQ(installSection(session, "S", 0, 0), 1);
        EXPECT_EQ(files(product), c.productAfter);
        EXPECT_EQ(files(package), "a.dll:new ");
        EXPECT_EQ(kit::listDir(root.path()),
                  (std::vector<std::string>{"Corvindale Product", "Corvindale Product.tmp", "update package"}));
    }
}

TEST_F(Sections, KeyListIsCutAt3072Bytes)
{
    std::string text = "[S]\r\n";
    std::vector<std::string> names;
    for (int i = 0; i < 400; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%03d.dll", i);
        names.push_back(name);
        text += std::string(name) + "=PROGDIR\r\n";
        inPackage(name, "");
    }
    manifest(text);
    installSection(session, "S", 0, 0);
    const std::vector<std::string> copied = kit::listDir(product);
    // A prefix of the list, as much as 3072 bytes of names hold.
    ASSERT_GE(copied.size(), 300u);
    EXPECT_LE(copied.size() * (names[0].size() + 1), manifestKeyListSize);
    EXPECT_TRUE(std::equal(copied.begin(), copied.end(), names.begin()));
    EXPECT_EQ(kit::listDir(package).size(), 401u);
}

TEST(PlainFileNames, Table)
{
    struct Case {
        const char* name;
        bool plain;
    } cases[] = {
        {"cvd.exe", true},      {"Long Name File.dll", true}, {"a", true},     {".profile", true},
        {"", false},            {".", false},                 {"..", false},   {"...", false},
        {". .", false},         {"..\\a.dll", false},         {"sub\\a", false}, {"a/b", false},
        {"C:a.dll", false},     {"C:\\a.dll", false},         {"\\\\srv\\x", false},
        {"CON", false},         {"con.txt", false},           {"Aux", false},  {"LPT1", false},
        {"com9.dll", false},    {"NUL .x", false},            {"console.dll", true}, {"com10", true},
        {"lpt.dll", true},      {"nul2", true},
    };
    for (const Case& c : cases) EXPECT_EQ(win::isPlainFileName(c.name), c.plain) << c.name;
}

} // namespace
