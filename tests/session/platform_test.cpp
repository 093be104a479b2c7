// The test platform itself: family emulation as the update program sees it.
#include <gtest/gtest.h>

#include "kit/testkit.h"

namespace {

TEST(Platform, EveryEmulatedFamilyGivesItsCode)
{
    kit::TempDir folder{"probe"};
    ASSERT_TRUE(kit::copyFile(kit::joinPath(kit::binDir(), "osprobe.exe"), folder / "osprobe.exe"));
    for (const std::string& family : kit::families()) {
        kit::setFamily("osprobe.exe", family);
        kit::RunResult r = kit::runProgram("\"" + (folder / "osprobe.exe") + "\"", folder.path(), {}, 20000);
        ASSERT_TRUE(r.finished) << family;
        EXPECT_EQ(r.exitCode, kit::expectedFamily(family)) << family;
    }
    kit::setFamily("osprobe.exe", "");
}

} // namespace
