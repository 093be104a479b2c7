#include "session/progress.h"

#include <commctrl.h>

#include "res/resource.h"
#include "win/system_library.h"

ProgressWindow::ProgressWindow() = default;

// Close the dialog, then wait for its thread as long as it runs: the thread
// uses this object, and a dialog that appears late closes itself at once.
ProgressWindow::~ProgressWindow()
{
    closing_ = true;
    close();
    if (threadHandle) WaitForSingleObject(threadHandle.get(), INFINITE);
}

int ProgressWindow::start(int count)
{
    if (threadHandle) return 1;
    fileCount = count;
    // The bar's window class comes from comctl32; without it there is no display.
    auto initCommonControls = win::systemFunction<void WINAPI()>("comctl32.dll", "InitCommonControls");
    if (!initCommonControls) return 1;
    initCommonControls();

    startEvent.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!startEvent) return 1;
    DWORD threadId = 0;
    threadHandle.reset(CreateThread(nullptr, 0, threadMain, this, 0, &threadId));
    if (!threadHandle) {
        startEvent.reset();
        return 1;
    }
    // The thread's end counts too: a dialog that cannot be created never signals.
    HANDLE waitFor[2] = {startEvent.get(), threadHandle.get()};
    DWORD result = WaitForMultipleObjects(2, waitFor, FALSE, startLimitMs);
    // After a timeout the thread may still signal the event: keep it open until then.
    if (result != WAIT_TIMEOUT) startEvent.reset();
    return 1;
}

void ProgressWindow::close()
{
    HWND window = ownerWindow();
    if (window) PostMessageA(window, WM_CLOSE, 0, 0);
}

void ProgressWindow::step()
{
    HWND window = ownerWindow();
    if (!window) return;
    // A send to a window that has just been destroyed fails harmlessly.
    HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
    if (bar) SendMessageA(bar, PBM_STEPIT, 0, 0);
}

HWND ProgressWindow::ownerWindow() const { return window_; }

DWORD WINAPI ProgressWindow::threadMain(void* self)
{
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, dialogProc,
                    reinterpret_cast<LPARAM>(self));
    return 0;
}

INT_PTR CALLBACK ProgressWindow::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        auto* self = reinterpret_cast<ProgressWindow*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_SETRANGE, 0,
                            MAKELPARAM(0, LOWORD(static_cast<DWORD>(self->fileCount))));
        SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_SETSTEP, 1, 0);
        // Publish first, then look at the closing flag: the destructor does the
        // opposite, so one of the two always sees the other.
        self->window_ = window;
        if (self->closing_) PostMessageA(window, WM_CLOSE, 0, 0);
        SetEvent(self->startEvent.get());
        return TRUE;
    }
    case WM_COMMAND:
        // Escape and the close request both arrive as cancel.
        if (LOWORD(wParam) == IDCANCEL) {
            auto* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrA(window, DWLP_USER));
            if (self) self->window_ = nullptr;
            EndDialog(window, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY: {
        auto* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrA(window, DWLP_USER));
        if (self) self->window_ = nullptr;
        return FALSE;
    }
    }
    return FALSE;
}
