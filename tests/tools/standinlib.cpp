// Stands in for a product library: DllRegisterServer appends the library's
// own file name to register.log in its folder, so tests can check which
// libraries were registered, and in which order.
#include <windows.h>

namespace {
HMODULE self;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(self, path, MAX_PATH);
    char* name = path;
    for (char* p = path; *p; ++p)
        if (*p == '\\') name = p + 1;
    char log[MAX_PATH] = {};
    lstrcpynA(log, path, static_cast<int>(name - path) + 1);
    lstrcatA(log, "register.log");
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return E_FAIL;
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written;
    WriteFile(file, name, lstrlenA(name), &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
    return S_OK;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
    return S_OK;
}
