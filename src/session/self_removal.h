#pragma once
// The cleanup run's last step: a batch file deletes the program's file once
// the program has ended, then itself. A copy in a run folder of its own
// (facts::runFolderPrefix) goes with its folder: the batch then sits beside
// the folder, named after it, and no two runs share one.
#include <string>

// The batch's text: deletes programPath until it is gone, then folder (none
// when empty), then batchPath; the paths quoted.
std::string selfDeleteBatchText(const std::string& programPath, const std::string& folder,
                                const std::string& batchPath);

// Writes the batch (overwriting one that is there) and starts it hidden at
// idle priority. A path holding "%" is not touched: the command processor
// would expand it into another name. When raiseCaller is set, this thread and
// process are raised so that the program ends before the batch gets going.
// 1 when the batch was started.
int startSelfDeleteBatch(const std::string& programPath, bool raiseCaller);

// Deletes the running program's file (and its run folder) after it has ended.
void scheduleSelfDelete();
