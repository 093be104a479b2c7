#pragma once
// Finds the dialogs (class #32770) of other processes while it lives, reads
// what they show and answers them.
#include <windows.h>

#include <mutex>
#include <vector>

#include "kit/kit.h"

namespace kit {

class Watcher {
public:
    Watcher(std::vector<Answer> answers, bool echo);
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;
    // Ends the watch; the dialogs in the order they appeared, each progress
    // bar with the last position seen.
    std::vector<Dialog> stop();

private:
    static DWORD WINAPI threadMain(void* self);
    void poll();

    std::vector<Answer> answers_;
    bool echo_;
    std::mutex lock_;
    std::vector<std::pair<HWND, Dialog>> seen_;
    HANDLE stopEvent_;
    HANDLE thread_;
};

} // namespace kit
