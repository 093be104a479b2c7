#include "kit/runner.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "kit/kit.h"

namespace {

std::string textOf(HWND window)
{
    char buffer[2048] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

bool isClass(HWND window, const char* name)
{
    char buffer[64] = {};
    return GetClassNameA(window, buffer, sizeof buffer) && !lstrcmpiA(buffer, name);
}

BOOL CALLBACK collect(HWND window, LPARAM found)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() && IsWindowVisible(window) && isClass(window, "#32770"))
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

// The bar's range and its latest position. A dialog that is going is
// hidden first and may then answer zeros, so a reading counts only when
// the dialog was still shown after it.
void readBar(HWND window, std::string& bar)
{
    HWND control = GetDlgItem(window, 1003);
    if (!control || !isClass(control, PROGRESS_CLASSA)) return;
    const std::string range =
        std::to_string(SendMessageA(control, PBM_GETRANGE, TRUE, 0)) + ".." + std::to_string(SendMessageA(control, PBM_GETRANGE, FALSE, 0)) + "@";
    const std::string reading = range + std::to_string(SendMessageA(control, PBM_GETPOS, 0, 0));
    if (IsWindowVisible(window) && (bar.empty() || bar.compare(0, range.size(), range) == 0)) bar = reading;
}

Dialog inspect(HWND window)
{
    Dialog d{textOf(window), textOf(GetDlgItem(window, 0xFFFF)), "", "none", "none", ""};
    static const char* const names[] = {"", "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"};
    for (int id = IDOK; id <= IDNO; ++id)
        if (IsWindowVisible(GetDlgItem(window, id))) d.buttons += (d.buttons.empty() ? "" : "/") + std::string(names[id]);
    if (d.buttons.empty()) d.buttons = "none";
    static const char* const kinds[] = {"unknown", "information", "question", "warning", "error"};
    const UINT_PTR mark = reinterpret_cast<UINT_PTR>(GetPropA(window, "kit.icon"));
    if (mark && mark != 8) d.icon = kinds[mark <= 4 ? mark : 0];
    if (HWND owner = GetWindow(window, GW_OWNER)) d.owner = textOf(owner);
    readBar(window, d.bar);
    return d;
}

// What the watching thread knows: the rules, and the dialogs seen so far with
// the order of their appearance.
struct Watcher {
    std::vector<Answer> answers;
    std::map<HWND, std::pair<int, Dialog>> seen;
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    void poll()
    {
        std::vector<HWND> windows, fresh;
        EnumWindows(collect, reinterpret_cast<LPARAM>(&windows));
        // Known dialogs first: a bar's position is read before an answer lets the run go on.
        for (HWND window : windows)
            if (seen.count(window))
                readBar(window, seen[window].second.bar);
            else
                fresh.insert(fresh.begin(), window); // bottom first: the order of appearance
        for (HWND window : fresh) {
            Sleep(50); // let the dialog finish its initialisation
            if (!IsWindow(window)) continue;
            const Dialog d = inspect(window);
            const int order = static_cast<int>(seen.size());
            seen[window] = {order, d};
            if (echoDialogs) std::printf("  dialog: %s\n", describe(d).c_str()), std::fflush(stdout);
            auto rule = std::find_if(answers.begin(), answers.end(),
                                     [&](const Answer& a) { return a.caption == d.caption && d.text.find(a.text) != std::string::npos; });
            const int press = rule == answers.end() ? IDOK : rule->button;
            // A dialog that a message box of its own has disabled takes no keys
            // on a desktop either: the key would end the box with it.
            if (press == pressEscape) {
                if (IsWindowEnabled(window)) PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            } else if (HWND button = GetDlgItem(window, press))
                PostMessageA(window, WM_COMMAND, press, reinterpret_cast<LPARAM>(button));
        }
    }
};

DWORD WINAPI watch(void* self)
{
    // Icon handles mean nothing in another process: kitlib's hook marks
    // each dialog's icon kind from inside the dialog's own process.
    HMODULE library = LoadLibraryA(kit::join(kit::binDir(), "kitlib.dll").c_str());
    auto hook = reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(GetProcAddress(library, "iconMarkHook")));
    HHOOK handle = hook ? SetWindowsHookExA(WH_CBT, hook, library, 0) : nullptr;
    for (auto* watcher = static_cast<Watcher*>(self); MsgWaitForMultipleObjects(1, &watcher->stop, FALSE, 20, QS_ALLINPUT) != WAIT_OBJECT_0;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        watcher->poll();
    }
    UnhookWindowsHookEx(handle);
    return 0;
}

} // namespace

std::string describe(const Dialog& d)
{
    std::string text = d.text;
    std::replace(text.begin(), text.end(), '\n', ' ');
    return "[" + d.caption + "] \"" + text + "\" buttons=" + d.buttons + " icon=" + d.icon + " owner=" + d.owner + (d.bar.empty() ? "" : " bar=" + d.bar);
}

std::vector<Dialog> watchDialogs(const std::vector<Answer>& answers, const std::function<void()>& during)
{
    Watcher watcher{answers, {}};
    HANDLE thread = CreateThread(nullptr, 0, watch, &watcher, 0, nullptr);
    during();
    SetEvent(watcher.stop);
    WaitForSingleObject(thread, 10000);
    std::vector<Dialog> dialogs(watcher.seen.size());
    for (const auto& entry : watcher.seen) dialogs[entry.second.first] = entry.second.second;
    return dialogs;
}
