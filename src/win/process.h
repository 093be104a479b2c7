#pragma once
// Starting programs and testing for files: used by the installation step, the
// component registration and the logon step alike.
#include <string>

// Starts program (through its short path form) with arguments, waits for it
// without a time limit. 1 when it was started and has ended, 0 when it could
// not be started. Either text may be empty.
int runAndWait(const std::string& program, const std::string& arguments);

// 1 when FindFirstFileA finds path.
int fileExists(const std::string& path);
