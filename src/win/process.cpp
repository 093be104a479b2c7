#include "win/process.h"
#include "win/paths.h"

#include <windows.h>

#include "win/files.h"
#include "win/unique.h"

namespace win {

namespace {

// The command line buffer: room for two paths, the program's (at most 259
// characters in its short form) and one in the arguments.
constexpr size_t commandLineSize = 520;

} // namespace

int runAndWait(const std::string& program, const std::string& arguments, unsigned long* exitCode)
{
    std::string command;
    if (!program.empty()) {
        const std::string shortForm = shortPath(program, MAX_PATH);
        command = shortForm.empty() ? program : shortForm;
        // A short form can still hold blanks (8.3 names may be switched off):
        // unquoted, Windows would try C:\Program.exe first.
        if (command.find(' ') != std::string::npos) command = "\"" + command + "\"";
        if (!arguments.empty()) command += " " + arguments;
    } else {
        command = arguments;
    }
    if (command.size() >= commandLineSize) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup; // 68 bytes in the 32-bit programs
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &startup, &info))
        return 0;
    Process process;
    process.adopt(info);
    WaitForSingleObject(process.process.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.process.get(), &code);
    if (exitCode) *exitCode = code;
    return 1;
}

} // namespace win
