#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "kit/testkit.h"
#include "product/logon_restart.h"
#include "product/version_record.h"
#include "session/update_session.h"

namespace {

const char* const winLogon = "SOFTWARE\\MICROSOFT\\WINDOWS NT\\CurrentVersion\\WinLogon";
const char* const productSystem = "SOFTWARE\\Veltrane\\Corvindale\\CurrentVersion\\System";
const char* const sessionManager = "System\\CurrentControlSet\\Control\\Session Manager";

std::string systemFolder()
{
    char folder[MAX_PATH] = {};
    GetSystemDirectoryA(folder, MAX_PATH);
    return folder;
}

// The delayed operations queued on the real machine, as source/target pairs.
std::vector<std::string> pendingOperations()
{
    std::vector<std::string> entries;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) return entries;
    std::vector<char> data(65536);
    DWORD size = static_cast<DWORD>(data.size() - 2);
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS) {
        for (const char* p = data.data(); p < data.data() + size;) {
            std::string entry = p;
            entries.push_back(entry);
            p += entry.size() + 1;
        }
    }
    RegCloseKey(key);
    while (!entries.empty() && entries.back().empty()) entries.pop_back();
    return entries;
}

void clearPendingOperations()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, "PendingFileRenameOperations");
    RegCloseKey(key);
}

bool libraryDeletionQueued()
{
    const std::string source = "\\??\\" + systemFolder() + "\\Vedede.dll";
    std::vector<std::string> entries = pendingOperations();
    for (size_t i = 0; i < entries.size(); i += 2) {
        const bool deletion = i + 1 >= entries.size() || entries[i + 1].empty();
        if (lstrcmpiA(entries[i].c_str(), source.c_str()) == 0 && deletion) return true;
    }
    return false;
}

// Runs on a machine of its own (see tests.cmake): the delayed deletion is
// queued on the real machine, which no sandbox catches.
class Logon : public testing::Test {
protected:
    kit::TempDir product{"product"};
    UpdateSession session;
    std::unique_ptr<kit::RegistrySandbox> sandbox;

    void SetUp() override
    {
        clearPendingOperations();
        sandbox = std::make_unique<kit::RegistrySandbox>();
        session.productDir = product.path();
        session.pathSeparator = "\\";
        session.osFamily = 5;
        kit::writeFile(product / "vindale.bin", kit::settingsFile(10, 0, 0, 3));
    }
    void TearDown() override
    {
        sandbox.reset();
        clearPendingOperations();
    }
    // Ends the sandbox and tells whether Vedede.dll was queued for deletion.
    bool queued()
    {
        sandbox.reset();
        return libraryDeletionQueued();
    }
    std::string logonValue()
    {
        std::string value = "(absent)";
        if (kit::valueExists(HKEY_LOCAL_MACHINE, winLogon, "GinaDLL"))
            kit::readString(HKEY_LOCAL_MACHINE, winLogon, "GinaDLL", value);
        return value;
    }
};

TEST_F(Logon, PutsBackWhatTheProductRecordedOrRemovesItsOwnLibrary)
{
    kit::TempDir elsewhere("gina");
    const std::string recordedFile = elsewhere / "recorded.dll";
    kit::writeFile(recordedFile, "x");
    const std::string inSystemOnly = "trevix-test-gina.dll";
    const std::string systemCopy = systemFolder() + "\\" + inSystemOnly;
    kit::writeFile(systemCopy, "x");
    const std::string longName = "C:\\" + std::string(250, 'a') + "\\VEDEDE.DLL";
    std::string sysLower = systemFolder() + "\\vedede.dll";
    CharLowerA(&sysLower[0]);

    struct Case {
        const char* what;
        std::string current;   // "(absent)", "(dword)" or the system's value
        std::string recorded;  // "(absent)" or the product's value
        std::string expected;
    } cases[] = {
        {"recorded library found as given", "Vedede.dll", recordedFile, recordedFile},
        {"found only in the system folder", "VEDEDE.DLL", inSystemOnly, inSystemOnly},
        {"found nowhere", "Vedede.dll", "nowhere-to-be-found.dll", "(absent)"},
        {"nothing recorded", "Vedede.dll", "(absent)", "(absent)"},
        {"recorded value of 260+ bytes", "Vedede.dll", std::string(300, 'b'), "(absent)"},
        {"lower-case full path", sysLower, recordedFile, recordedFile},
        {"no GinaDLL", "(absent)", recordedFile, "(absent)"},
        {"another vendor's library", "C:\\Vendor\\othergina.dll", recordedFile, "C:\\Vendor\\othergina.dll"},
        {"system value of 260+ bytes", longName, recordedFile, longName},
        {"system value of the wrong type", "(dword)", recordedFile, "(dword)"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        kit::deleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE");
        if (c.current == "(dword)")
            kit::setDword(HKEY_LOCAL_MACHINE, winLogon, "GinaDLL", 1);
        else if (c.current != "(absent)")
            kit::setString(HKEY_LOCAL_MACHINE, winLogon, "GinaDLL", c.current);
        else
            kit::setString(HKEY_LOCAL_MACHINE, winLogon, "Shell", "explorer.exe");
        if (c.recorded != "(absent)") kit::setString(HKEY_LOCAL_MACHINE, productSystem, "GinaDLL", c.recorded);

        EXPECT_EQ(removeLogonComponent(session), 1);
        if (c.expected == "(dword)") {
            DWORD value = 0;
            EXPECT_TRUE(kit::readDword(HKEY_LOCAL_MACHINE, winLogon, "GinaDLL", value));
            EXPECT_EQ(value, 1u);
        } else {
            EXPECT_EQ(logonValue(), c.expected);
        }
        if (c.recorded != "(absent)") {
            std::string recorded;
            EXPECT_TRUE(kit::readString(HKEY_LOCAL_MACHINE, productSystem, "GinaDLL", recorded));
            EXPECT_EQ(recorded, c.recorded) << "the product's record is read only";
        }
    }
    DeleteFileA(systemCopy.c_str());
    EXPECT_TRUE(queued());
}

TEST_F(Logon, OnlyWindowsXpAndNotARemoteOnlyProduct)
{
    kit::setString(HKEY_LOCAL_MACHINE, winLogon, "GinaDLL", "Vedede.dll");
    for (unsigned long family : {0ul, 1ul, 2ul, 3ul, 4ul}) {
        session.osFamily = family;
        EXPECT_EQ(removeLogonComponent(session), 0) << family;
    }
    session.osFamily = 5;
    kit::writeFile(product / "vindale.bin", kit::settingsFile(10, 0, 0, 1));
    EXPECT_EQ(removeLogonComponent(session), 0);
    EXPECT_EQ(logonValue(), "Vedede.dll");
    EXPECT_FALSE(queued());
}

TEST_F(Logon, NoSettingsFileCountsAsAProductWithALogonLibrary)
{
    DeleteFileA((product / "vindale.bin").c_str());
    kit::setString(HKEY_LOCAL_MACHINE, winLogon, "GinaDLL", "Vedede.dll");
    EXPECT_EQ(removeLogonComponent(session), 1);
    EXPECT_EQ(logonValue(), "(absent)");
    EXPECT_TRUE(queued());
}

TEST_F(Logon, RegistryStringsUpTo259Characters)
{
    const char* key = "SOFTWARE\\Trevix";
    std::string out = "untouched";
    kit::setString(HKEY_LOCAL_MACHINE, key, "fits", std::string(259, 'x'));
    kit::setString(HKEY_LOCAL_MACHINE, key, "long", std::string(260, 'x'));
    kit::setString(HKEY_LOCAL_MACHINE, key, "empty", "");
    kit::setDword(HKEY_LOCAL_MACHINE, key, "number", 0x41414141);
    EXPECT_TRUE(readRegString(HKEY_LOCAL_MACHINE, key, "fits", out));
    EXPECT_EQ(out, std::string(259, 'x'));
    out = "untouched";
    for (const char* name : {"long", "empty", "number", "missing"}) {
        EXPECT_FALSE(readRegString(HKEY_LOCAL_MACHINE, key, name, out)) << name;
        EXPECT_EQ(out, "untouched") << name;
    }
    EXPECT_FALSE(readRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", "fits", out));

    EXPECT_TRUE(writeRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Trevix\\New", "v", "text"));
    EXPECT_TRUE(readRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Trevix\\New", "v", out));
    EXPECT_EQ(out, "text");
    EXPECT_TRUE(deleteRegValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Trevix\\New", "v"));
    EXPECT_FALSE(deleteRegValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Trevix\\New", "v"));
    EXPECT_FALSE(deleteRegValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", "v"));
    queued();
}

TEST(PathParts, JoinWithOneSeparator)
{
    struct Case {
        const char *path, *part, *joined;
    } cases[] = {
        {"C:\\WINDOWS\\SYSTEM32", "Vedede.dll", "C:\\WINDOWS\\SYSTEM32\\Vedede.dll"},
        {"C:\\", "Vedede.dll", "C:\\Vedede.dll"},
        {"", "Vedede.dll", "Vedede.dll"},
        {"C:\\DIR", "", "C:\\DIR"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        std::string path = c.path;
        appendPathPart(path, c.part);
        EXPECT_EQ(path, c.joined) << c.path << " + " << c.part;
    }
}

class VersionRecord : public testing::Test {
protected:
    kit::TempDir folder{"wynfold"};
    std::string dll = folder / "wynfold_standin.dll";
    std::string log = folder / "wynfold.log";

    bool regsvr32(const std::string& options)
    {
        kit::RunResult r = kit::runProgram("regsvr32.exe /s " + options + " \"" + dll + "\"", "", {}, 30000);
        return r.started && r.finished && r.exitCode == 0;
    }
    void SetUp() override { ASSERT_TRUE(kit::copyFile(kit::joinPath(kit::binDir(), "wynfold_standin.dll"), dll)); }
};

TEST_F(VersionRecord, TheComponentReceivesTheThreeStrings)
{
    ASSERT_TRUE(regsvr32(""));
    EXPECT_EQ(recordProductVersion(), 1);
    EXPECT_TRUE(regsvr32("/u"));
    std::string content;
    EXPECT_TRUE(kit::readFile(log, content));
    EXPECT_EQ(content, "{5B2E8D41-7C3A-4F19-9E06-3D7A1C44B2F5}|Version|10.5.1\r\n");
}

TEST_F(VersionRecord, WithoutTheComponentNothingHappens)
{
    EXPECT_EQ(recordProductVersion(), 0);
    EXPECT_EQ(recordProductVersion(), 0) << "COM must be left as it was found";
    EXPECT_FALSE(kit::fileExists(log));
}

} // namespace
