#pragma once
#include <windows.h>

// The progress display of a status run: a modal dialog on a thread of its own.
// Called on the main thread only.
class ProgressWindow {
public:
    ProgressWindow();
    virtual ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    // Shows the dialog with a bar of fileCount steps; returns once it exists. Always 1.
    virtual int start(int fileCount);
    // Posts a close request to the dialog.
    virtual void close();
    // Advances the bar by one step; returns when the dialog has handled it.
    void step();
    // The dialog's window, or none.
    HWND ownerWindow() const;
};
