#include <gtest/gtest.h>


#include "kit/testkit.h"
#include "product/product_checks.h"
#include "product/registry_work.h"
#include "product/settings_container.h"
#include "session/update_session.h"

namespace {

class Checks : public testing::Test {
protected:
    kit::TempDir product{"product"};
    kit::TempDir package{"package"};
    UpdateSession session;
    void SetUp() override
    {
        session.pathSeparator = "\\";
        session.productDir = product.path();
        session.manifestPath = package / "trevix.ini";
    }
    void manifest(const std::string& text) { kit::writeFile(session.manifestPath, text); }
    void settings(const std::string& data) { kit::writeFile(product / "vindale.bin", data); }
};

TEST_F(Checks, ProductTypeFromComponentsAndOption3)
{
    struct Case {
        unsigned long components, options;
        int type;
    } cases[] = {
        {3, 0, productFull},          {3, 1ul << 19, productFull}, {2, 1ul << 19, productHost},
        {2, 0, productHostLan},       {2, ~(1ul << 19), productHostLan},
        {1, 0, productRemote},        {0, 0xFFFFFFFF, productNone}, {0xFFFFFFFC, 0, productNone},
    };
    for (const Case& c : cases) {
        settings(kit::settingsFile(10, 5, c.options, c.components));
        unsigned long major = 0;
        EXPECT_EQ(readProductType(session, &major), c.type) << c.components << " " << c.options;
        EXPECT_EQ(major, 10u);
    }
    settings("not a settings file");
    unsigned long major = 77;
    EXPECT_EQ(readProductType(session, &major), productNone);
    EXPECT_EQ(major, 77u);  // untouched when the file does not load
}

TEST_F(Checks, VersionGate)
{
    EXPECT_EQ(checkProductVersion(session), 1);  // no manifest key, no settings: 0 = 0
    settings(kit::settingsFile(10, 0, 0, 3));
    EXPECT_EQ(checkProductVersion(session), 0);  // missing key is 0
    manifest("[TIDEWARDEN]\r\nVersion Major=10\r\n");
    EXPECT_EQ(checkProductVersion(session), 1);
    settings(kit::settingsFile(11, 0, 0, 3));
    EXPECT_EQ(checkProductVersion(session), 0);
}

TEST_F(Checks, StampOfTheStagedCopy)
{
    kit::TempDir staged{"staged"};
    const std::string path = staged / "vindale.bin";
    const std::string original = kit::settingsFile(10, 4, 0, 3);
    struct Case {
        const char* manifest;
        unsigned short major, minor;
    } cases[] = {
        {"Version Major=65536\r\nVersion Minor=5", 10, 5},
        {"Version Major=65537", 1, 4},
        {"Version Major=12", 12, 4},
    };
    for (const Case& c : cases) {
        kit::writeFile(path, original);
        manifest(std::string("[TIDEWARDEN]\r\n") + c.manifest + "\r\n");
        EXPECT_EQ(stampStagedVersion(session, staged.path()), 1);
        SettingsContainer s;
        ASSERT_EQ(s.load(path.c_str()), 1) << c.manifest;
        EXPECT_EQ(s.versionMajor(), c.major) << c.manifest;
        std::string data;
        kit::readFile(path, data);
        EXPECT_EQ(data, kit::settingsFile(c.major, c.minor, 0, 3)) << c.manifest;
    }
    // Nothing to set: the file stays byte for byte.
    kit::writeFile(path, original);
    manifest("[TIDEWARDEN]\r\nVersion Major=0\r\n");
    EXPECT_EQ(stampStagedVersion(session, staged.path()), 1);
    std::string data;
    kit::readFile(path, data);
    EXPECT_EQ(data, original);
    // A foreign file is left alone.
    kit::writeFile(path, "foreign");
    manifest("[TIDEWARDEN]\r\nVersion Major=12\r\n");
    EXPECT_EQ(stampStagedVersion(session, staged.path()), 0);
    kit::readFile(path, data);
    EXPECT_EQ(data, "foreign");
}

} // namespace
