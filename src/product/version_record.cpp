#include "product/version_record.h"

#include <windows.h>

#include <objbase.h>

#include <string>

#include "session/outcome.h"
#include "session/update_session.h"
#include "win/system_library.h"
#include "win/unique.h"

// The component's interface: two methods we do not call, then the record.
// Outside the anonymous namespace on purpose: GCC assumes an internal class
// that nothing here implements can have no objects, and drops the call.
struct ProductRegistration : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE reserved1() = 0;
    virtual HRESULT STDMETHODCALLTYPE reserved2() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProductProperty(BSTR product, BSTR name, BSTR value) = 0;
};

namespace {

// {2D7F40B9-1E6C-4A53-8C2E-7B95D0A3E611}
const CLSID componentClass = {0x2D7F40B9, 0x1E6C, 0x4A53, {0x8C, 0x2E, 0x7B, 0x95, 0xD0, 0xA3, 0xE6, 0x11}};
// {2D7F40B8-1E6C-4A53-8C2E-7B95D0A3E611}
const IID componentInterface = {0x2D7F40B8, 0x1E6C, 0x4A53, {0x8C, 0x2E, 0x7B, 0x95, 0xD0, 0xA3, 0xE6, 0x11}};

const char* const productId = "{5B2E8D41-7C3A-4F19-9E06-3D7A1C44B2F5}";
const char* const propertyName = "Version";
const char* const propertyValue = "10.5.1";

using CoInitializeFn = HRESULT WINAPI(LPVOID);
using CoUninitializeFn = void WINAPI();
using CoCreateInstanceFn = HRESULT WINAPI(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
using SysAllocStringFn = BSTR WINAPI(const OLECHAR*);
using SysFreeStringFn = void WINAPI(BSTR);

// An ANSI text as a BSTR, freed when the owner goes.
class Bstr {
public:
    Bstr(const char* text, SysAllocStringFn* alloc, SysFreeStringFn* free) : free_(free)
    {
        int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
        if (length <= 0) return;
        std::wstring wide(static_cast<size_t>(length), L'\0');
        if (MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length) <= 0) return;
        value_ = alloc(wide.c_str());
    }
    ~Bstr()
    {
        if (value_) free_(value_);
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return value_; }

private:
    BSTR value_ = nullptr;
    SysFreeStringFn* free_;
};

int recordWithComponent()
{
    auto coInitialize = win::systemFunction<CoInitializeFn>("ole32.dll", "CoInitialize");
    auto coUninitialize = win::systemFunction<CoUninitializeFn>("ole32.dll", "CoUninitialize");
    auto coCreateInstance = win::systemFunction<CoCreateInstanceFn>("ole32.dll", "CoCreateInstance");
    auto sysAllocString = win::systemFunction<SysAllocStringFn>("oleaut32.dll", "SysAllocString");
    auto sysFreeString = win::systemFunction<SysFreeStringFn>("oleaut32.dll", "SysFreeString");
    if (!coInitialize || !coUninitialize || !coCreateInstance || !sysAllocString || !sysFreeString) return 0;

    if (FAILED(coInitialize(nullptr))) return 0;
    int result = 0;
    {
        Bstr product(productId, sysAllocString, sysFreeString);
        Bstr name(propertyName, sysAllocString, sysFreeString);
        Bstr value(propertyValue, sysAllocString, sysFreeString);
        win::ComPtr<ProductRegistration> component;
        // A string that could not be made is not sent: the component might take null for empty.
        if (product.get() && name.get() && value.get() &&
            SUCCEEDED(coCreateInstance(componentClass, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                       componentInterface, reinterpret_cast<void**>(component.put()))) &&
            component) {
            result = SUCCEEDED(component.get()->SetProductProperty(product.get(), name.get(), value.get())) ? 1 : 0;
        }
    }
    coUninitialize();
    return result;
}

} // namespace

int recordProductVersion(UpdateSession& session)
{
    // The component is installed apart from the product: without it, or when
    // it does not take the record, the update itself is still complete.
    const std::string record = std::string(propertyName) + " " + propertyValue + " of " + productId;
    if (recordWithComponent()) {
        session.outcome.report(Action::record, record, {});
        return 1;
    }
    session.outcome.skipped(Action::record, record, Reason::notTaken);
    return 0;
}
