// The tests' one library, copied under the names of what it stands in for:
// - a product library: DllRegisterServer appends its file name to register.log beside it;
// - the registration component: each SetProductProperty call goes to wynfold.log
//   beside it, "product|name|value";
// - a system library planted beside a program: loading it leaves C:\planted-<name>.txt;
// - the watcher's hook: marks each dialog's icon kind as a window property
//   from inside the dialog's process, where icon handles can be compared.
#include <objbase.h>
#include <windows.h>

#include <string>

namespace {

HMODULE self;

std::string own()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(self, path, MAX_PATH);
    return path;
}

void log(const std::string& path, const std::string& line)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, (line + "\r\n").data(), static_cast<DWORD>(line.size() + 2), &written, nullptr);
    CloseHandle(file);
}

std::string text(BSTR value)
{
    char buffer[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, value, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
    return buffer;
}

// The component's interface: two methods nobody calls, then the record.
const IID component = {0x2D7F40B8, 0x1E6C, 0x4A53, {0x8C, 0x2E, 0x7B, 0x95, 0xD0, 0xA3, 0xE6, 0x11}};
struct Registration : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        *out = IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, component) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    virtual HRESULT STDMETHODCALLTYPE reserved1() { return E_NOTIMPL; }
    virtual HRESULT STDMETHODCALLTYPE reserved2() { return E_NOTIMPL; }
    virtual HRESULT STDMETHODCALLTYPE SetProductProperty(BSTR product, BSTR name, BSTR value)
    {
        log(own().substr(0, own().rfind('\\')) + "\\wynfold.log", text(product) + "|" + text(name) + "|" + text(value));
        return S_OK;
    }
} registration;

struct Factory : IClassFactory {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { return *out = this, S_OK; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** out) override { return registration.QueryInterface(riid, out); }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
} factory;

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    self = instance;
    std::string name = own().substr(own().rfind('\\') + 1);
    CharLowerA(&name[0]);
    name = name.substr(0, name.find('.'));
    if (reason == DLL_PROCESS_ATTACH && std::string(" cabinet msi comctl32 ole32 oleaut32 ").find(" " + name + " ") != std::string::npos)
        log("C:\\planted-" + name + ".txt", own());
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer()
{
    log(own().substr(0, own().rfind('\\')) + "\\register.log", own().substr(own().rfind('\\') + 1));
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID riid, void** out) { return factory.QueryInterface(riid, out); }

__declspec(dllexport) LRESULT CALLBACK iconMarkHook(int code, WPARAM wParam, LPARAM lParam)
{
    HWND window = reinterpret_cast<HWND>(wParam), control = GetDlgItem(window, 1088);
    char name[16] = {};
    if (code == HCBT_ACTIVATE && GetClassNameA(window, name, sizeof name) && !lstrcmpA(name, "#32770") && !GetPropA(window, "kit.icon")) {
        HICON icon = control ? reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0)) : nullptr;
        const LPCSTR known[] = {IDI_ASTERISK, IDI_QUESTION, IDI_EXCLAMATION, IDI_HAND};
        UINT_PTR kind = icon ? 9 : 8; // unknown, none
        for (UINT_PTR i = 0; i < 4; ++i) kind = icon && LoadIconA(nullptr, known[i]) == icon ? i + 1 : kind;
        SetPropA(window, "kit.icon", reinterpret_cast<HANDLE>(kind));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // extern "C"
