#include "session/self_removal.h"

#include <windows.h>

#include "session/product_facts.h"
#include "win/text.h"
#include "win/unique.h"

namespace {

std::string quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

// A folder the install run made for its copy: the prefix and eight
// hexadecimal digits.
bool isRunFolder(const std::string& folder)
{
    const std::string parent = win::folderOf(folder);
    if (parent.empty()) return false;
    const std::string name = folder.substr(parent.size() + 1);
    const size_t prefix = sizeof facts::runFolderPrefix - 1;
    if (name.size() != prefix + 8 || name.compare(0, prefix, facts::runFolderPrefix) != 0) return false;
    return name.find_first_not_of("0123456789ABCDEFabcdef", prefix) == std::string::npos;
}

} // namespace

std::string selfDeleteBatchText(const std::string& programPath, const std::string& folder,
                                const std::string& batchPath)
{
    const std::string program = quoted(programPath);
    std::string text = ":Repeat\r\ndel " + program + "\r\nif exist " + program + " goto Repeat\r\n";
    if (!folder.empty()) text += "rmdir " + quoted(folder) + "\r\n";
    return text + "del " + quoted(batchPath) + "\r\n";
}

void scheduleSelfDelete()
{
    const std::string programPath = win::moduleFileName();
    if (programPath.empty()) return;
    // The command processor expands "%" in the batch's start line as well as in
    // its text: such a path could name another file, so it is left alone.
    if (programPath.find('%') != std::string::npos) return;
    const std::string folder = win::folderOf(programPath);
    if (folder.empty()) return;
    std::string runFolder, batchPath = folder + "\\" + facts::selfDeleteBatchFile;
    if (isRunFolder(folder)) {
        runFolder = folder;
        batchPath = folder + ".bat";
    }

    {
        win::File batch(CreateFileA(batchPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!batch) return;
        const std::string text = selfDeleteBatchText(programPath, runFolder, batchPath);
        DWORD written = 0;
        if (!WriteFile(batch.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size()) {
            batch.reset();
            DeleteFileA(batchPath.c_str());
            return;
        }
    }

    // Quoted always: a folder with blanks would otherwise start another program.
    std::string command = "\"" + batchPath + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED | IDLE_PRIORITY_CLASS, nullptr, "\\", &startup, &info))
        return;
    win::Process process;
    process.adopt(info);
    // This program ends before the batch gets going.
    SetThreadPriority(process.thread.get(), THREAD_PRIORITY_IDLE);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    ResumeThread(process.thread.get());
}
