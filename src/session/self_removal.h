#pragma once
// The cleanup run's last step: a batch file deletes the program's file once
// the program has ended, then itself. A copy in a run folder of its own
// (facts::runFolderPrefix) goes with its folder: the batch then sits beside
// the folder, named after it, and no two runs share one.
#include <string>

// The batch's text: deletes programPath until it is gone (the program may
// still be ending), then folder (none when empty), then batchPath.
std::string selfDeleteBatchText(const std::string& programPath, const std::string& folder,
                                const std::string& batchPath);

// Deletes the running program's file (and its run folder) after it has ended.
void scheduleSelfDelete();
