#pragma once
// The cleanup run's last step: a batch file beside the program deletes the
// program's file once the program has ended, then itself.
#include <string>

// The batch's text for programPath and batchPath, both quoted.
std::string selfDeleteBatchText(const std::string& programPath, const std::string& batchPath);

// Writes "DelUS.bat" beside programPath (overwriting one that is there) and
// starts it hidden at idle priority. A path holding "%" is not touched: the
// command processor would expand it into another name. When raiseCaller is set, this thread and
// process are raised so that the program ends before the batch gets going.
// 1 when the batch was started.
int startSelfDeleteBatch(const std::string& programPath, bool raiseCaller);

// Deletes the running program's file after it has ended.
void scheduleSelfDelete();
