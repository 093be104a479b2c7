#pragma once
// End-to-end scenarios as data. A scenario file is a list of lines, one
// directive each: the machine before, the actions, the state expected after.
// See tests/scenarios/README.md for the directives.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kit/testkit.h"

namespace kit {

// The parts of a machine an update may touch, as path -> content lines.
using Snapshot = std::map<std::string, std::string>;
Snapshot takeSnapshot(const std::vector<std::string>& folders);
// Lines that differ, for a readable failure message; empty when equal.
std::string diffSnapshots(const Snapshot& before, const Snapshot& after);

struct ScenarioLine {
    int number = 0;
    std::vector<std::string> words;
};

// Splits a line into words; "quoted words" keep their blanks.
std::vector<std::string> splitWords(const std::string& line);

class Scenario {
public:
    bool load(const std::string& path, std::string& error);
    const std::vector<std::string>& families() const { return families_; }
    // Runs every directive for one Wine family name; failures go to GoogleTest.
    void run(const std::string& family);

private:
    std::string expand(const std::string& word) const;
    void execute(const ScenarioLine& line);

    std::string path_;
    std::string family_;
    std::vector<std::string> families_;
    std::vector<ScenarioLine> lines_;
    std::map<std::string, std::string> vars_;
    std::vector<Answer> answers_;
    RunResult last_;
    Snapshot snapshot_;
    std::vector<std::string> watched_;
    std::vector<std::unique_ptr<FileHolder>> holders_;
};

} // namespace kit
