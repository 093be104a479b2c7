#pragma once
// The cleanup run's last step: a batch file deletes the program's file once
// the program has ended, then itself. A copy in a run folder of its own
// (facts::runFolderPrefix) goes with its folder: the batch then sits beside
// the folder, named after it, and no two runs share one.

// Deletes the running program's file (and its run folder) after it has ended.
void scheduleSelfDelete();
