#include "win/process.h"

#include <windows.h>

#include "win/files.h"
#include "win/unique.h"

namespace win {

namespace {

// The command line buffer; the program part is at most 259 characters.
constexpr size_t commandLineSize = 520;

} // namespace

int runAndWait(const std::string& program, const std::string& arguments)
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
    if (command.size() >= commandLineSize) return 0;

    STARTUPINFOA startup = {};
    startup.cb = 68;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                        nullptr, &startup, &info))
        return 0;
    Process process;
    process.adopt(info);
    WaitForSingleObject(process.process.get(), INFINITE);
    return 1;
}

} // namespace win
