#include "app/self_removal.h"

#include <windows.h>

#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/paths.h"
#include "win/text.h"
#include "win/unique.h"

namespace {

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

// Ten tries, written as one loop over ten items: every command processor has it.
std::string tenTries(const char* variable) { return std::string("for ") + variable + " in (0 1 2 3 4 5 6 7 8 9) do "; }

bool writeBatch(const std::string& path, const std::string& text)
{
    win::File batch(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    DWORD written = 0;
    if (batch && WriteFile(batch.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size())
        return true;
    batch.reset();
    DeleteFileA(path.c_str());
    return false;
}

// For COMMAND.COM (Windows 9x, which has no access control and joins no
// commands on a line), the batch file's text: 300 tries, then folder, then
// the batch itself as its last line.
std::string selfDeleteBatchText(const std::string& programPath, const std::string& folder, const std::string& batchPath)
{
    const std::string program = quoted(programPath);
    std::string text = "@echo off\r\n";
    for (int line = 0; line < 30; ++line) text += tenTries("%%t") + "if exist " + program + " del " + program + "\r\n";
    if (!folder.empty()) text += "rmdir " + quoted(folder) + "\r\n";
    return text + "del " + quoted(batchPath) + "\r\n";
}

} // namespace

std::string selfDeleteCommand(const std::string& programPath, const std::string& folder)
{
    const std::string program = quoted(programPath);
    // Every body in parentheses: some command processors misread a bare "if"
    // with "else" inside "for". The first try that finds the file gone ends
    // the processor, so the rest of the tries cost nothing.
    std::string command, close;
    for (const char* variable : {"%a", "%b", "%c", "%d", "%e"}) command += tenTries(variable) + "(", close += ")";
    command += "if exist " + program + " (del " + program + ") else (";
    if (!folder.empty()) command += "rmdir " + quoted(folder) + " & ";
    return command + "exit)" + close;
}

int scheduleSelfDelete()
{
    const std::string programPath = win::moduleFileName();
    if (programPath.empty()) return 0;
    // The command processor expands "%" in what it reads: such a path could
    // name another file, so it is left alone.
    if (programPath.find('%') != std::string::npos) return 0;
    const std::string folder = win::folderOf(programPath);
    if (folder.empty()) return 0;
    const std::string runFolder = isRunFolder(folder) ? folder : std::string();

    // The processor by its full path: one found through the search path could
    // be anyone's. Where there is no cmd.exe (Windows 9x) COMMAND.COM reads a
    // batch beside the run folder, which it could not remove from inside.
    const std::string system = win::systemFolder(), windows = win::windowsFolder();
    std::string processor = win::join(system, "cmd.exe"), command;
    if (!system.empty() && win::fileExists(processor)) {
        // /d: no AutoRun command of the registry runs with administrator rights.
        command = quoted(processor) + " /d /c " + selfDeleteCommand(programPath, runFolder);
    } else {
        if (windows.empty()) return 0;
        processor = win::join(windows, "COMMAND.COM");
        const std::string batchPath =
            runFolder.empty() ? win::join(folder, facts::selfDeleteBatchFile) : runFolder + ".bat";
        if (!writeBatch(batchPath, selfDeleteBatchText(programPath, runFolder, batchPath))) return 0;
        command = quoted(processor) + " /c " + quoted(batchPath);
    }

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(processor.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED | IDLE_PRIORITY_CLASS,
                        nullptr, "\\", &startup, &info))
        return 0;
    win::Process process;
    process.adopt(info);
    // This program ends before the removal gets going.
    SetThreadPriority(process.thread.get(), THREAD_PRIORITY_IDLE);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    ResumeThread(process.thread.get());
    return 1;
}
