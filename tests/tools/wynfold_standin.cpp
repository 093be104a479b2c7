// Stands in for the maker's registration component in tests and the demo:
// an in-process COM server under the component's class identifier whose
// object appends each SetProductProperty call to wynfold.log beside the DLL,
// one line "product|name|value". Registered with regsvr32.
#include <windows.h>
#include <objbase.h>

#include <string>

namespace {

const CLSID componentClass = {0x2D7F40B9, 0x1E6C, 0x4A53, {0x8C, 0x2E, 0x7B, 0x95, 0xD0, 0xA3, 0xE6, 0x11}};
const IID componentInterface = {0x2D7F40B8, 0x1E6C, 0x4A53, {0x8C, 0x2E, 0x7B, 0x95, 0xD0, 0xA3, 0xE6, 0x11}};
const char* const classKey = "CLSID\\{2D7F40B9-1E6C-4A53-8C2E-7B95D0A3E611}";

HMODULE thisModule;
LONG objects;

std::string modulePath()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(thisModule, path, MAX_PATH);
    return path;
}

std::string narrow(BSTR text)
{
    if (!text) return "(null)";
    char buffer[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
    return buffer;
}

void logLine(const std::string& line)
{
    std::string path = modulePath();
    path = path.substr(0, path.rfind('\\')) + "\\wynfold.log";
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    std::string text = line + "\r\n";
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

class Registration final : public IUnknown {
public:
    Registration() { InterlockedIncrement(&objects); }
    // No virtual destructor: it would take vtable slots the interface does not have.
    ~Registration() { InterlockedDecrement(&objects); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, componentInterface)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }
    virtual HRESULT STDMETHODCALLTYPE GetProductProperty(BSTR, BSTR, BSTR*) { return E_NOTIMPL; }
    virtual HRESULT STDMETHODCALLTYPE DeleteProductProperty(BSTR, BSTR) { return E_NOTIMPL; }
    virtual HRESULT STDMETHODCALLTYPE SetProductProperty(BSTR product, BSTR name, BSTR value)
    {
        logLine(narrow(product) + "|" + narrow(name) + "|" + narrow(value));
        return S_OK;
    }

private:
    LONG refs_ = 1;
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        if (outer) return CLASS_E_NOAGGREGATION;
        Registration* object = new Registration();
        HRESULT hr = object->QueryInterface(riid, out);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) thisModule = instance;
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** out)
{
    if (!IsEqualGUID(rclsid, componentClass)) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(riid, out);
}

__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return objects == 0 ? S_OK : S_FALSE; }

__declspec(dllexport) HRESULT WINAPI DllRegisterServer()
{
    HKEY key;
    std::string sub = std::string(classKey) + "\\InprocServer32";
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return E_FAIL;
    std::string path = modulePath();
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>(path.size() + 1));
    RegSetValueExA(key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>("Apartment"), 10);
    RegCloseKey(key);
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer()
{
    std::string sub = std::string(classKey) + "\\InprocServer32";
    RegDeleteKeyA(HKEY_CLASSES_ROOT, sub.c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, classKey);
    return S_OK;
}

} // extern "C"
