#pragma once
// Starting a program and waiting for it: the installation step's auxiliary
// programs and the registration of the product's libraries.
#include <string>

namespace win {

// Starts program (through its short path form) with arguments, waits for it
// without a time limit. 1 when it was started and has ended (its exit code
// then in exitCode, when given), 0 when it could not be started (the error
// in GetLastError). Either text may be empty.
int runAndWait(const std::string& program, const std::string& arguments, unsigned long* exitCode = nullptr);

} // namespace win
