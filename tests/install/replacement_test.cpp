// Staged files replaced at the next start, per Windows family: delayed moves
// on NT, the rename list and the long-name rename list on the 9x family.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>

#include "install/file_replacement.h"
#include "install_fixture.h"
#include "kit/testkit.h"

namespace {

using installtest::content;
using installtest::shortPath;

const char* const longNameKey = "Software\\Veltrane\\Corvindale\\CurrentVersion\\UpdateLFNRename";

class Replacement : public testing::Test {
protected:
    std::optional<kit::RegistrySandbox> sandbox;
    kit::TempDir root{"replace"};
    std::string product = root / "Corvindale Product";
    std::string staging = product + ".tmp";
    std::string wininit = installtest::windowsDir() + "\\wininit.ini";
    std::string savedWininit;
    bool hadWininit = false;
    std::string savedPending;
    UpdateSession session;

    void SetUp() override
    {
        CreateDirectoryA(product.c_str(), nullptr);
        CreateDirectoryA(staging.c_str(), nullptr);
        hadWininit = kit::readFile(wininit, savedWininit);
        DeleteFileA(wininit.c_str());
        savedPending = rawPending();
        installtest::clearPendingMoves();
    }
    void TearDown() override
    {
        sandbox.reset();
        installtest::clearPendingMoves();
        if (!savedPending.empty())
            kit::setBytes(HKEY_LOCAL_MACHINE, installtest::sessionManagerKey, installtest::pendingValue,
                          savedPending.data(), static_cast<DWORD>(savedPending.size()), REG_MULTI_SZ);
        DeleteFileA(wininit.c_str());
        if (hadWininit) kit::writeFile(wininit, savedWininit);
    }
    static std::string rawPending()
    {
        HKEY key;
        std::string data;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, installtest::sessionManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return data;
        DWORD size = 0;
        if (RegQueryValueExA(key, installtest::pendingValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
            data.resize(size);
            RegQueryValueExA(key, installtest::pendingValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&data[0]),
                             &size);
        }
        RegCloseKey(key);
        return data;
    }
    // Installed and staged copies with last-write times (seconds from a fixed moment).
    void installed(const std::string& name, int time)
    {
        ASSERT_TRUE(kit::writeFile(product + "\\" + name, "old"));
        ASSERT_TRUE(installtest::setWriteTime(product + "\\" + name, time));
    }
    void staged(const std::string& name, int time)
    {
        ASSERT_TRUE(kit::writeFile(staging + "\\" + name, "new"));
        ASSERT_TRUE(installtest::setWriteTime(staging + "\\" + name, time));
    }
    // The lines below the header that the program wrote.
    std::set<std::string> renameLines()
    {
        std::set<std::string> lines;
        const std::string text = content(wininit);
        EXPECT_EQ(text.compare(0, 10, "[Rename]\r\n"), 0) << text;
        for (size_t at = 10; at < text.size();) {
            size_t end = text.find("\r\n", at);
            if (end == std::string::npos) {
                ADD_FAILURE() << "unterminated line in " << text;
                break;
            }
            lines.insert(text.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }
    // Schedules the product folder's staged files only.
    void schedule(unsigned long family)
    {
        installtest::prepareSession(session, product, root / "pkg", family);
        finishStagedFiles(session);
    }
};

TEST_F(Replacement, NtFamiliesMoveLongNamesAndDeleteTheStagingFolder)
{
    for (unsigned long family : {osWinNt40, osWin2000, osWindowsXp}) {
        SCOPED_TRACE(family);
        installtest::clearPendingMoves();
        CreateDirectoryA(staging.c_str(), nullptr);
        installed("Long Name File.dll", 0);
        staged("Long Name File.dll", 0);
        installed("older.dll", 10);
        staged("older.dll", 0);
        installed("newer.dll", 0);
        staged("newer.dll", 20);
        staged("new to the machine.dll", 0);

        schedule(family);

        const std::string from = "\\??\\" + shortPath(staging) + "\\";
        const std::string to = "!\\??\\" + shortPath(product) + "\\";
        // The other macros' staging folders, missing here, are queued for
        // deletion too; this folder's deletion comes after its files.
        const auto all = installtest::pendingMoves();
        std::vector<std::pair<std::string, std::string>> moves;
        size_t lastFile = 0, folderDeletion = all.size();
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i].first.compare(0, from.size(), from) == 0) {
                moves.push_back(all[i]);
                lastFile = i;
            }
            if (all[i] == std::make_pair("\\??\\" + staging, std::string())) folderDeletion = i;
        }
        ASSERT_LT(folderDeletion, all.size()) << "staging folder not queued for deletion";
        EXPECT_GT(folderDeletion, lastFile);
        std::sort(moves.begin(), moves.end());
        const std::vector<std::pair<std::string, std::string>> expected = {
            {from + "Long Name File.dll", to + "Long Name File.dll"},
            {from + "new to the machine.dll", to + "new to the machine.dll"},
            {from + "newer.dll", to + "newer.dll"},
        };
        EXPECT_EQ(moves, expected);
        // An older staged file is thrown away; the installed one stays.
        EXPECT_FALSE(kit::fileExists(staging + "\\older.dll"));
        EXPECT_EQ(content(product + "\\older.dll"), "old");
        EXPECT_FALSE(kit::fileExists(wininit));
        EXPECT_FALSE(kit::keyExists(HKEY_LOCAL_MACHINE, longNameKey));
    }
}

TEST_F(Replacement, Windows9xWritesShortNamesAndTheLongNameList)
{
    sandbox.emplace();
    installed("Long Name File.dll", 0);
    staged("Long Name File.dll", 0);
    installed("cvd.exe", 0);
    staged("cvd.exe", 5);
    installed("older file name.dll", 10);
    staged("older file name.dll", 0);
    // Nothing installed: there is no short name to replace, so it is left alone.
    staged("Brand New Name.dll", 0);

    schedule(osWindows9x);

    const std::string shortProduct = shortPath(product), shortStaging = shortPath(staging);
    const std::string longTarget = shortProduct + "\\Long Name File.dll";
    const std::string shortTarget = shortPath(product + "\\Long Name File.dll");
    const std::string shortSource = shortPath(staging + "\\Long Name File.dll");
    ASSERT_NE(shortTarget, longTarget);
    EXPECT_EQ(renameLines(), (std::set<std::string>{shortTarget + "=" + shortSource,
                                                    shortProduct + "\\cvd.exe=" + shortStaging + "\\cvd.exe"}));
    std::string longName;
    EXPECT_TRUE(kit::readString(HKEY_LOCAL_MACHINE, longNameKey, shortTarget, longName));
    EXPECT_EQ(longName, longTarget);
    EXPECT_FALSE(kit::valueExists(HKEY_LOCAL_MACHINE, longNameKey, shortProduct + "\\cvd.exe"));
    EXPECT_FALSE(kit::fileExists(staging + "\\older file name.dll"));
    EXPECT_TRUE(kit::fileExists(staging + "\\Brand New Name.dll"));
    sandbox.reset();
    // No delayed moves on this family, and the staging folder is left to the cleanup run.
    EXPECT_TRUE(installtest::pendingMoves().empty());
}

TEST_F(Replacement, Windows9xLinesAreInTheOemCodePage)
{
    // Real-mode DOS reads WinInit.Ini: "\xe9" (ANSI) must arrive as 0x82 (OEM).
    product = root / "Caf\xe9";
    staging = product + ".tmp";
    CreateDirectoryA(product.c_str(), nullptr);
    CreateDirectoryA(staging.c_str(), nullptr);
    if (shortPath(product).find('\xe9') == std::string::npos)
        GTEST_SKIP() << "short names here are plain ASCII (Wine mangles every non-ASCII name), so "
                        "no ANSI character reaches the rename list";
    sandbox.emplace();
    installed("cvd.exe", 0);
    staged("cvd.exe", 0);
    schedule(osWindows9x);
    std::string line = shortPath(product) + "\\cvd.exe=" + shortPath(staging) + "\\cvd.exe";
    std::replace(line.begin(), line.end(), '\xe9', '\x82');
    EXPECT_EQ(renameLines(), std::set<std::string>{line});
}

TEST_F(Replacement, OtherFamiliesUseShortNamesWithDelayedMoves)
{
    sandbox.emplace();
    installed("Long Name File.dll", 0);
    staged("Long Name File.dll", 0);
    schedule(osWinNt351);
    const std::string shortTarget = shortPath(product + "\\Long Name File.dll");
    std::string longName;
    EXPECT_TRUE(kit::readString(HKEY_LOCAL_MACHINE, longNameKey, shortTarget, longName));
    EXPECT_EQ(longName, shortPath(product) + "\\Long Name File.dll");
    sandbox.reset();
    const auto moves = installtest::pendingMoves();
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].first, "\\??\\" + shortPath(staging + "\\Long Name File.dll"));
    EXPECT_EQ(moves[0].second, "!\\??\\" + shortTarget);
}

TEST_F(Replacement, MissingFoldersScheduleNothing)
{
    // A staging folder whose macro folder is gone: "\name" would be the root.
    CreateDirectoryA((root / "gone.tmp").c_str(), nullptr);
    kit::writeFile(root / "gone.tmp\\x.dll", "new");
    installtest::prepareSession(session, root / "gone", root / "pkg", osWindowsXp);
    EXPECT_EQ(scheduleStagedFiles(session, session.macroProgDir), 1);
    // Only the staging folder's deletion, which fails harmlessly while it holds the file.
    const std::vector<std::pair<std::string, std::string>> folderOnly = {{"\\??\\" + root / "gone.tmp", ""}};
    EXPECT_EQ(installtest::pendingMoves(), folderOnly);
    EXPECT_FALSE(kit::fileExists(wininit));
    installtest::clearPendingMoves();
    // No staging folder: only its deletion, which the system skips.
    session.productDir = root / "none";
    EXPECT_EQ(scheduleStagedFiles(session, session.macroProgDir), 1);
    const std::vector<std::pair<std::string, std::string>> missing = {{"\\??\\" + root / "none.tmp", ""}};
    EXPECT_EQ(installtest::pendingMoves(), missing);
    installtest::clearPendingMoves();
    EXPECT_EQ(scheduleStagedFiles(session, "NOMACRO"), 0);
    EXPECT_TRUE(installtest::pendingMoves().empty());
}

TEST_F(Replacement, CopyOneFileOverwritesButNotReadOnly)
{
    kit::writeFile(root / "pkg.txt", "x");
    CreateDirectoryA((root / "src").c_str(), nullptr);
    kit::writeFile(root / "src\\a.dll", "new");
    kit::writeFile(product + "\\a.dll", "old");
    EXPECT_NE(copyOneFile("a.dll", root / "src", product), 0);
    EXPECT_EQ(content(product + "\\a.dll"), "new");
    if (!installtest::readOnlyIsEnforced(product))
        GTEST_SKIP() << "read-only files are writable here (Wine run as root)";
    SetFileAttributesA((product + "\\a.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    kit::writeFile(root / "src\\a.dll", "newer");
    EXPECT_EQ(copyOneFile("a.dll", root / "src", product), 0);
    EXPECT_EQ(content(product + "\\a.dll"), "new");
    EXPECT_EQ(copyOneFile("missing.dll", root / "src", product), 0);
}

} // namespace
