/* A library planted beside a program under the name of a system library.
 * Loading it leaves C:\planted-<name>.txt (its own path and the program's),
 * so a test sees whether a program picked it up instead of the system's. */
#include <windows.h>

static void recordLoad(HINSTANCE self)
{
    char own[MAX_PATH] = "", program[MAX_PATH] = "", marker[MAX_PATH + 32];
    const char *name, *c;
    char stem[MAX_PATH];
    int n = 0;
    HANDLE file;
    DWORD written;
    GetModuleFileNameA(self, own, MAX_PATH);
    GetModuleFileNameA(NULL, program, MAX_PATH);
    for (name = c = own; *c; ++c)
        if (*c == '\\' || *c == '/') name = c + 1;
    for (c = name; *c && *c != '.' && n < MAX_PATH - 1; ++c) stem[n++] = *c;
    stem[n] = 0;
    wsprintfA(marker, "C:\\planted-%s.txt", CharLowerA(stem));
    file = CreateFileA(marker, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    SetFilePointer(file, 0, NULL, FILE_END);
    WriteFile(file, own, lstrlenA(own), &written, NULL);
    WriteFile(file, "\r\n", 2, &written, NULL);
    WriteFile(file, program, lstrlenA(program), &written, NULL);
    WriteFile(file, "\r\n", 2, &written, NULL);
    CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) recordLoad(self);
    return TRUE;
}

/* The file this copy was loaded from, for tests that ask where a library came from. */
__declspec(dllexport) int __stdcall plantedPath(char *buffer, int size)
{
    HMODULE self = NULL;
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery((LPCVOID)&plantedPath, &info, sizeof info)) self = (HMODULE)info.AllocationBase;
    return self ? (int)GetModuleFileNameA(self, buffer, (DWORD)size) : 0;
}
