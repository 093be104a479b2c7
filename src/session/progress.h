#pragma once
#include <windows.h>

#include <atomic>

#include "win/unique.h"

// The progress display of a status run: a modal dialog on a thread of its own.
// Called on the main thread only. Once the dialog has ended (the user pressed
// Escape, or close), step, ownerWindow and close no longer reach it.
class ProgressWindow {
public:
    ProgressWindow();
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    // Shows the dialog with a bar of fileCount steps (its low 16 bits); returns
    // once the dialog exists with its range set, or after startLimitMs without
    // a dialog (the run then goes on without a display). Always 1.
    int start(int fileCount);
    // Posts a close request to the dialog.
    void close();
    // Advances the bar by one step; returns when the dialog has handled it.
    void step();
    // The dialog's window, or none.
    HWND ownerWindow() const;

    static constexpr DWORD startLimitMs = 10000;

private:
    static DWORD WINAPI threadMain(void* self);
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // The live dialog's window, published by the progress thread and cleared
    // there before the dialog ends; 0 when there is none.
    std::atomic<HWND> window_{nullptr};
    // Set by the destructor: a dialog that appears late ends itself at once.
    std::atomic<bool> closing_{false};
    win::Handle threadHandle;
    win::Handle startEvent;
    int fileCount = 0;
};
