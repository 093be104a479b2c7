// Runs one scenario file for one Windows family:
//   scenario_runner --scenario=FILE --family=win98
#include <gtest/gtest.h>

#include <cstring>

#include "kit/scenario.h"

namespace {

std::string scenarioPath, family;

// ctest passes Unix paths; under Wine they live on drive Z:.
std::string windowsPath(std::string path)
{
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

TEST(Scenario, Runs)
{
    ASSERT_FALSE(scenarioPath.empty()) << "--scenario=FILE is missing";
    kit::Scenario scenario;
    std::string error;
    ASSERT_TRUE(scenario.load(scenarioPath, error)) << error;
    scenario.run(family);
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--scenario=", 11) == 0) scenarioPath = windowsPath(argv[i] + 11);
        if (std::strncmp(argv[i], "--family=", 9) == 0) family = argv[i] + 9;
    }
    return RUN_ALL_TESTS();
}
