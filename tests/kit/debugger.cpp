#include "kit/runner.h"

#include <map>

namespace {

// The calls that change something: each one a point where a run may be killed.
const std::pair<const char*, const char*> changes[] = {{"kernel32", "CopyFileA"},    {"kernel32", "MoveFileA"},        {"kernel32", "MoveFileExA"},
                                                       {"kernel32", "DeleteFileA"},  {"kernel32", "CreateDirectoryA"}, {"kernel32", "RemoveDirectoryA"},
                                                       {"kernel32", "SetEndOfFile"}, {"advapi32", "RegSetValueExA"},   {"advapi32", "RegDeleteKeyA"},
                                                       {"msi", "MsiDatabaseCommit"}, {"cabinet", "FCIFlushCabinet"},   {"cabinet", "FDICopy"},
                                                       {"ole32", "StgOpenStorage"}};

void poke(HANDLE process, uintptr_t address, BYTE value, BYTE* old = nullptr)
{
    if (old) ReadProcessMemory(process, reinterpret_cast<void*>(address), old, 1, nullptr);
    WriteProcessMemory(process, reinterpret_cast<void*>(address), &value, 1, nullptr);
    FlushInstructionCache(process, reinterpret_cast<void*>(address), 1);
}

} // namespace

// A forwarded export lives in another module than the one it is asked of.
const std::vector<std::pair<std::string, uintptr_t>>& changeOffsets()
{
    static std::vector<std::pair<std::string, uintptr_t>> offsets;
    if (!offsets.empty()) return offsets;
    for (const auto& call : changes) {
        auto address = reinterpret_cast<LPCSTR>(GetProcAddress(LoadLibraryA(call.first), call.second));
        HMODULE owner = nullptr;
        char path[MAX_PATH] = {};
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, address, &owner);
        GetModuleFileNameA(owner, path, MAX_PATH);
        offsets.emplace_back(lowerName(path), reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(owner));
    }
    return offsets;
}

// Changes are counted by breakpoints on their first byte.
void debug(const PROCESS_INFORMATION& process, int killAt, DWORD timeoutMs, Run& result)
{
    const auto& offsets = changeOffsets();
    std::map<uintptr_t, BYTE> original;
    uintptr_t stepping = 0;
    DEBUG_EVENT event;
    // Stops once the time is up; what is left comes from one reading of the
    // clock, so it never wraps around to a wait of some fifty days.
    for (DWORD begin = GetTickCount(), spent;
         !result.finished && (spent = GetTickCount() - begin) < timeoutMs && WaitForDebugEvent(&event, timeoutMs - spent);) {
        DWORD status = DBG_CONTINUE;
        const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
        const uintptr_t at = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
        if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
            char path[MAX_PATH] = {};
            GetFinalPathNameByHandleA(event.u.LoadDll.hFile, path, MAX_PATH, 0);
            CloseHandle(event.u.LoadDll.hFile);
            const uintptr_t base = reinterpret_cast<uintptr_t>(event.u.LoadDll.lpBaseOfDll);
            for (const auto& offset : offsets)
                if (offset.first == lowerName(path)) poke(process.hProcess, base + offset.second, 0xCC, &original[base + offset.second]);
        } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            result.finished = true;
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT && record.ExceptionCode == EXCEPTION_BREAKPOINT && original.count(at)) {
            if (++result.calls == killAt) {
                TerminateProcess(process.hProcess, 99);
            } else {
                // Let the call run: its first byte back for one step, then the breakpoint again.
                poke(process.hProcess, at, original[at]);
                HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, event.dwThreadId);
                CONTEXT context = {};
                context.ContextFlags = CONTEXT_CONTROL;
                GetThreadContext(thread, &context);
#ifdef _WIN64
                context.Rip = at;
#else
                context.Eip = at;
#endif
                context.EFlags |= 0x100;
                SetThreadContext(thread, &context);
                CloseHandle(thread);
                stepping = at;
            }
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT && record.ExceptionCode == EXCEPTION_SINGLE_STEP && stepping) {
            poke(process.hProcess, stepping, 0xCC);
            stepping = 0;
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT && record.ExceptionCode != EXCEPTION_BREAKPOINT) {
            status = DBG_EXCEPTION_NOT_HANDLED;
        } else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            CloseHandle(event.u.CreateProcessInfo.hFile);
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
}
