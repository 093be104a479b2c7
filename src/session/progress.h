#pragma once
#include <windows.h>

// The progress display of a status run: a modal dialog on a thread of its own.
class ProgressWindow {
public:
    ProgressWindow();
    virtual ~ProgressWindow();
    virtual int start(int fileCount);
    virtual void close();
    void step();
    HWND ownerWindow() const;
};
