#pragma once
// The cleanup run's last step: the command processor deletes the program's
// file once the program has ended. A copy in a run folder of its own
// (facts::runFolderPrefix) goes with its folder.
#include <string>

// For cmd.exe (the NT family), the whole removal as one command line, so that
// no batch file lies anywhere for another user to replace before it runs:
// it deletes programPath until it is gone (100,000 tries at most), then
// removes folder (none when empty) and ends.
std::string selfDeleteCommand(const std::string& programPath, const std::string& folder);

// Deletes the running program's file (and its run folder) after it has
// ended. 1 when the command processor was started.
int scheduleSelfDelete();
