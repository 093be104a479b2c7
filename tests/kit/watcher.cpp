#include "kit/watcher.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>

namespace kit {

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
    GetClassNameA(window, buffer, sizeof buffer);
    return lstrcmpiA(buffer, name) == 0;
}

// The progress bar's range and position; its range stays as first read (a
// dialog that is going answers zeros).
void readBar(HWND window, Dialog& d, bool first)
{
    HWND bar = GetDlgItem(window, 1003);
    if (!bar || !isClass(bar, PROGRESS_CLASSA) || !IsWindow(window)) return;
    if (first) {
        d.barMin = static_cast<int>(SendMessageA(bar, PBM_GETRANGE, TRUE, 0));
        d.barMax = static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
    }
    d.barPos = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
}

Dialog inspect(HWND window)
{
    Dialog d;
    d.caption = textOf(window);
    HWND text = GetDlgItem(window, 0xFFFF);
    if (text && isClass(text, "Static")) d.text = textOf(text);
    static const char* const names[] = {"", "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"};
    for (int id = IDOK; id <= IDNO; ++id) {
        HWND button = GetDlgItem(window, id);
        if (button && IsWindowVisible(button)) d.buttons += (d.buttons.empty() ? "" : "/") + std::string(names[id]);
    }
    if (d.buttons.empty()) d.buttons = "none";
    // Icon handles mean nothing in another process: kitlib's hook marks the
    // icon's kind from inside the dialog's own process.
    static const char* const kinds[] = {"unknown", "information", "question", "warning", "error"};
    const UINT_PTR mark = reinterpret_cast<UINT_PTR>(GetPropA(window, "kit.icon"));
    d.icon = mark == 8 || !mark ? "none" : kinds[mark <= 4 ? mark : 0];
    HWND owner = GetWindow(window, GW_OWNER);
    d.owner = owner ? textOf(owner) : "none";
    readBar(window, d, true);
    return d;
}

BOOL CALLBACK collect(HWND window, LPARAM found)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() && IsWindowVisible(window) && isClass(window, "#32770"))
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

} // namespace

Watcher::Watcher(std::vector<Answer> answers, bool echo)
    : answers_(std::move(answers)), echo_(echo), stopEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      thread_(CreateThread(nullptr, 0, threadMain, this, 0, nullptr))
{
}

std::vector<Dialog> Watcher::stop()
{
    SetEvent(stopEvent_);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(stopEvent_);
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<Dialog> dialogs;
    for (const auto& entry : seen_) dialogs.push_back(entry.second);
    return dialogs;
}

DWORD WINAPI Watcher::threadMain(void* self)
{
    auto* watcher = static_cast<Watcher*>(self);
    HMODULE library = LoadLibraryA(join(binDir(), "kitlib.dll").c_str());
    auto hook = reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(GetProcAddress(library, "iconMarkHook")));
    HHOOK handle = hook ? SetWindowsHookExA(WH_CBT, hook, library, 0) : nullptr;
    while (MsgWaitForMultipleObjects(1, &watcher->stopEvent_, FALSE, 20, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        watcher->poll();
    }
    if (handle) UnhookWindowsHookEx(handle);
    return 0;
}

void Watcher::poll()
{
    std::vector<HWND> windows;
    EnumWindows(collect, reinterpret_cast<LPARAM>(&windows));
    // Z order puts an owned window above its owner: bottom first is the order of appearance.
    std::reverse(windows.begin(), windows.end());
    // Known dialogs first: a bar's position is read before any answer lets the run go on.
    std::unique_lock<std::mutex> guard(lock_);
    std::vector<HWND> fresh;
    for (HWND window : windows) {
        auto known = std::find_if(seen_.begin(), seen_.end(), [&](const auto& e) { return e.first == window; });
        if (known == seen_.end()) fresh.push_back(window);
        else readBar(window, known->second, false);
    }
    guard.unlock();
    for (HWND window : fresh) {
        // Let the dialog finish its initialisation before it is read.
        Sleep(50);
        if (!IsWindow(window)) continue;
        const Dialog d = inspect(window);
        int press = IDOK;
        for (const Answer& a : answers_)
            if (a.caption == d.caption && d.text.find(a.text) != std::string::npos) {
                press = a.button;
                break;
            }
        guard.lock();
        seen_.emplace_back(window, d);
        guard.unlock();
        if (echo_) std::printf("  dialog: %s\n", describe(d).c_str()), std::fflush(stdout);
        if (press == pressEscape) {
            PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            PostMessageA(window, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        } else if (GetDlgItem(window, press)) {
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(window, press)));
        }
    }
}

} // namespace kit
