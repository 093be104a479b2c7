// Loaded into every process of the prefix as a CBT hook while a watcher runs:
// marks each dialog's icon kind as a window property, because icon handles
// cannot be compared from another process.
#include <windows.h>

namespace {

UINT_PTR kindOf(HICON icon)
{
    if (!icon) return 0;
    struct Known {
        LPCSTR id;
        UINT_PTR kind;
    } known[] = {{IDI_ASTERISK, 1}, {IDI_QUESTION, 2}, {IDI_EXCLAMATION, 3}, {IDI_HAND, 4}};
    for (const Known& k : known)
        if (LoadIconA(nullptr, k.id) == icon) return k.kind;
    return 9;
}

} // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK iconMarkHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char name[16] = {};
        GetClassNameA(window, name, sizeof name);
        if (lstrcmpA(name, "#32770") == 0 && !GetPropA(window, "kit.icon")) {
            HWND control = GetDlgItem(window, 1088);
            HICON icon = control ? reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0)) : nullptr;
            SetPropA(window, "kit.icon", reinterpret_cast<HANDLE>(kindOf(icon) ? kindOf(icon) : 8));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
