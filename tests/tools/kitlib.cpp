// The tests' one library, copied under the names of what it stands in for:
// - a product library: DllRegisterServer appends its file name to register.log beside it;
// - the registration component: its object appends each SetProductProperty
//   call to wynfold.log beside it, "product|name|value";
// - a system library planted beside a program: loading it into trevix.exe
//   leaves C:\planted-<name>.txt;
// - the watcher's hook: marks each dialog's icon kind as a window property
//   from inside the dialog's process, where icon handles can be compared.
#include <windows.h>
#include <objbase.h>

#include <string>

namespace {

HMODULE self;

std::string ownPath()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(self, path, MAX_PATH);
    return path;
}

void appendLine(const std::string& path, const std::string& line)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const std::string text = line + "\r\n";
    if (file != INVALID_HANDLE_VALUE) WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

std::string beside(const std::string& name)
{
    const std::string path = ownPath();
    return path.substr(0, path.rfind('\\') + 1) + name;
}

const CLSID componentClass = {0x2D7F40B9, 0x1E6C, 0x4A53, {0x8C, 0x2E, 0x7B, 0x95, 0xD0, 0xA3, 0xE6, 0x11}};
const IID componentInterface = {0x2D7F40B8, 0x1E6C, 0x4A53, {0x8C, 0x2E, 0x7B, 0x95, 0xD0, 0xA3, 0xE6, 0x11}};

std::string narrow(BSTR text)
{
    char buffer[1024] = {};
    if (text) WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
    return text ? buffer : "(null)";
}

// The component's interface: two methods nobody calls, then the record.
class Registration : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        const bool known = IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, componentInterface) ||
                           IsEqualGUID(riid, IID_IClassFactory);
        *out = known ? this : nullptr;
        return known ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    virtual HRESULT STDMETHODCALLTYPE reserved1() { return E_NOTIMPL; }
    virtual HRESULT STDMETHODCALLTYPE reserved2() { return E_NOTIMPL; }
    virtual HRESULT STDMETHODCALLTYPE SetProductProperty(BSTR product, BSTR name, BSTR value)
    {
        appendLine(beside("wynfold.log"), narrow(product) + "|" + narrow(name) + "|" + narrow(value));
        return S_OK;
    }
} registration;

// Its class factory; static objects need no counting.
class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** out) override
    {
        return registration.QueryInterface(riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
} factory;

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    self = instance;
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string name = ownPath().substr(ownPath().rfind('\\') + 1);
    name = name.substr(0, name.find('.'));
    CharLowerA(&name[0]);
    const std::string planted = " cabinet msi comctl32 version ole32 oleaut32 msvcrt ";
    if (planted.find(" " + name + " ") != std::string::npos)
        appendLine("C:\\planted-" + name + ".txt", ownPath() + "|" + program);
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer()
{
    const std::string path = ownPath();
    appendLine(beside("register.log"), path.substr(path.rfind('\\') + 1));
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** out)
{
    if (!IsEqualGUID(rclsid, componentClass)) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(riid, out);
}

__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

__declspec(dllexport) LRESULT CALLBACK iconMarkHook(int code, WPARAM wParam, LPARAM lParam)
{
    HWND window = reinterpret_cast<HWND>(wParam);
    char name[16] = {};
    if (code == HCBT_ACTIVATE && GetClassNameA(window, name, sizeof name) && !lstrcmpA(name, "#32770") &&
        !GetPropA(window, "kit.icon")) {
        HWND control = GetDlgItem(window, 1088);
        HICON icon = control ? reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0)) : nullptr;
        UINT_PTR kind = 8;
        const LPCSTR known[] = {IDI_ASTERISK, IDI_QUESTION, IDI_EXCLAMATION, IDI_HAND};
        for (UINT_PTR i = 0; i < 4; ++i)
            if (icon && LoadIconA(nullptr, known[i]) == icon) kind = i + 1;
        if (icon && kind == 8) kind = 9;
        SetPropA(window, "kit.icon", reinterpret_cast<HANDLE>(kind));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// What loadtime_import.exe imports, so that a planted copy satisfies it.
__declspec(dllexport) void FCICreate() {}
__declspec(dllexport) void MsiOpenDatabaseA() {}
__declspec(dllexport) void InitCommonControls() {}

} // extern "C"
