#include "kit/watcher.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "kit/testkit.h"

namespace kit {

namespace {

// Message-box controls: the text static has id 0xFFFF (older builds use 100),
// the icon static 1088.
constexpr int textControlIds[] = {0xFFFF, 100};
constexpr int iconControlId = 1088;
constexpr int progressControlId = 1003;
constexpr int buttonIds[] = {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO};

std::string windowText(HWND window)
{
    char buffer[2048] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

std::string className(HWND window)
{
    char buffer[64] = {};
    GetClassNameA(window, buffer, sizeof buffer);
    return buffer;
}

// A system icon is loaded anew in every process, so handles cannot be compared
// across processes; the kit's hook library (iconmark.dll) marks the icon kind as
// a window property from inside the dialog's process.
std::string iconKind(HWND window, HICON icon)
{
    if (!icon) return "none";
    HANDLE mark = GetPropA(window, "kit.icon");
    switch (reinterpret_cast<UINT_PTR>(mark)) {
    case 8: return "none";
    case 1: return "information";
    case 2: return "question";
    case 3: return "warning";
    case 4: return "error";
    default: return "unknown";
    }
}

} // namespace

Dialog inspectDialog(HWND window)
{
    Dialog d;
    d.window = window;
    GetWindowThreadProcessId(window, &d.processId);
    d.caption = windowText(window);
    for (int id : textControlIds) {
        HWND text = GetDlgItem(window, id);
        if (text && className(text) == "Static") {
            d.text = windowText(text);
            break;
        }
    }
    for (int id : buttonIds) {
        HWND button = GetDlgItem(window, id);
        if (button && IsWindowVisible(button)) d.buttons.push_back(id);
    }
    HWND iconControl = GetDlgItem(window, iconControlId);
    HICON icon = iconControl && IsWindowVisible(iconControl)
                     ? reinterpret_cast<HICON>(SendMessageA(iconControl, STM_GETICON, 0, 0))
                     : nullptr;
    d.hasIcon = icon != nullptr;
    d.icon = iconKind(window, icon);
    d.owner = GetWindow(window, GW_OWNER);
    if (d.owner) d.ownerCaption = windowText(d.owner);
    HWND bar = GetDlgItem(window, progressControlId);
    if (bar && className(bar) == PROGRESS_CLASSA) {
        d.progressBar = true;
        // Without a PBRANGE the limits come back as results, which works across processes.
        d.progressMin = static_cast<int>(SendMessageA(bar, PBM_GETRANGE, TRUE, 0));
        d.progressMax = static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
        d.progressPos = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
    }
    return d;
}

std::string describe(const Dialog& d)
{
    std::string buttons;
    for (int id : d.buttons) {
        static const char* names[] = {"", "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"};
        if (!buttons.empty()) buttons += "/";
        buttons += id >= 1 && id <= 7 ? names[id] : "?";
    }
    std::string text = d.text;
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    char line[4096];
    std::snprintf(line, sizeof line, "[%s] \"%s\" buttons=%s icon=%s owner=%s%s%s", d.caption.c_str(),
                  text.c_str(), buttons.empty() ? "none" : buttons.c_str(), d.icon.c_str(),
                  d.owner ? "\"" : "none", d.owner ? d.ownerCaption.c_str() : "", d.owner ? "\"" : "");
    return line;
}

struct DialogWatcher::State {
    std::vector<Answer> answers;
    int defaultButton;
    mutable std::mutex lock;
    std::vector<Dialog> seen;
    std::function<void(const Dialog&)> callback;
    HANDLE stopEvent = nullptr;
    HANDLE thread = nullptr;
};

DialogWatcher::DialogWatcher(std::vector<Answer> answers, int defaultButton) : state_(new State)
{
    state_->answers = std::move(answers);
    state_->defaultButton = defaultButton;
    state_->stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    state_->thread = CreateThread(nullptr, 0, &DialogWatcher::threadMain, this, 0, nullptr);
}

DialogWatcher::~DialogWatcher()
{
    stop();
    CloseHandle(state_->stopEvent);
    delete state_;
}

void DialogWatcher::stop()
{
    if (!state_->thread) return;
    SetEvent(state_->stopEvent);
    WaitForSingleObject(state_->thread, 10000);
    CloseHandle(state_->thread);
    state_->thread = nullptr;
}

void DialogWatcher::onSeen(std::function<void(const Dialog&)> callback)
{
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->callback = std::move(callback);
}

std::vector<Dialog> DialogWatcher::dialogs() const
{
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->seen;
}

bool DialogWatcher::waitFor(const std::function<bool(const Dialog&)>& pred, DWORD timeoutMs, Dialog* found)
{
    DWORD start = GetTickCount();
    for (;;) {
        for (const Dialog& d : dialogs()) {
            if (pred(d)) {
                if (found) *found = d;
                return true;
            }
        }
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(20);
    }
}

DWORD WINAPI DialogWatcher::threadMain(void* self)
{
    auto* watcher = static_cast<DialogWatcher*>(self);
    HMODULE marker = LoadLibraryA((binDir() + "\\iconmark.dll").c_str());
    FARPROC found = marker ? GetProcAddress(marker, "iconMarkHook") : nullptr;
    HOOKPROC proc = nullptr;
    if (found) std::memcpy(&proc, &found, sizeof proc);
    HHOOK hook = proc ? SetWindowsHookExA(WH_CBT, proc, marker, 0) : nullptr;
    while (MsgWaitForMultipleObjects(1, &watcher->state_->stopEvent, FALSE, 20, QS_ALLINPUT) !=
           WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        watcher->poll();
    }
    if (hook) UnhookWindowsHookEx(hook);
    if (marker) FreeLibrary(marker);
    return 0;
}

namespace {

struct Found {
    DWORD ownProcess;
    std::vector<HWND> windows;
};

BOOL CALLBACK collect(HWND window, LPARAM param)
{
    auto* found = reinterpret_cast<Found*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != found->ownProcess && IsWindowVisible(window) && className(window) == "#32770")
        found->windows.push_back(window);
    return TRUE;
}

} // namespace

void DialogWatcher::poll()
{
    Found found{GetCurrentProcessId(), {}};
    EnumWindows(collect, reinterpret_cast<LPARAM>(&found));
    for (HWND window : found.windows) {
        {
            std::lock_guard<std::mutex> guard(state_->lock);
            bool known = std::any_of(state_->seen.begin(), state_->seen.end(),
                                     [&](const Dialog& d) { return d.window == window; });
            if (known) {
                // A progress dialog changes while we watch: keep its latest state.
                for (Dialog& d : state_->seen)
                    if (d.window == window && d.progressBar) {
                        Dialog now = inspectDialog(window);
                        d.progressMin = now.progressMin;
                        d.progressMax = now.progressMax;
                        d.progressPos = now.progressPos;
                    }
                continue;
            }
        }
        // Let the dialog finish its initialisation before it is read.
        Sleep(50);
        if (!IsWindow(window)) continue;
        Dialog d = inspectDialog(window);
        std::function<void(const Dialog&)> callback;
        {
            std::lock_guard<std::mutex> guard(state_->lock);
            callback = state_->callback;
        }
        if (callback) callback(d);
        int press = 0;
        for (const Answer& a : state_->answers) {
            if (a.caption == d.caption &&
                (a.textContains.empty() || d.text.find(a.textContains) != std::string::npos)) {
                press = a.button;
                break;
            }
        }
        if (!press && !d.buttons.empty() &&
            std::find(d.buttons.begin(), d.buttons.end(), state_->defaultButton) != d.buttons.end())
            press = state_->defaultButton;
        d.answered = press;
        {
            std::lock_guard<std::mutex> guard(state_->lock);
            state_->seen.push_back(d);
        }
        if (press) {
            HWND button = GetDlgItem(window, press);
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED),
                         reinterpret_cast<LPARAM>(button));
        }
    }
}

} // namespace kit
