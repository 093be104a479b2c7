#pragma once
// Finds dialogs (class #32770) of any process, records what they show and
// answers them.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kit {

struct Dialog {
    HWND window = nullptr;
    DWORD processId = 0;
    std::string caption;
    std::string text;
    std::vector<int> buttons;   // IDOK, IDCANCEL, IDYES, IDNO ... present
    bool hasIcon = false;
    std::string icon;           // "none", "information", "question", "warning", "error" or "unknown"
    HWND owner = nullptr;
    std::string ownerCaption;
    int answered = 0;           // the button pressed, 0 for none
    bool progressBar = false;   // control 1003 is a progress bar
    int progressMin = 0, progressMax = 0, progressPos = 0;
};

// How to answer a dialog: the first rule whose caption (and text, when given)
// match presses its button. A dialog without a matching rule is pressed with
// defaultButton when that is non-zero and present.
// Answer::button value that presses the Escape key instead of a button.
constexpr int pressEscape = -27;

struct Answer {
    std::string caption;
    std::string textContains;
    int button = IDOK;
};

class DialogWatcher {
public:
    explicit DialogWatcher(std::vector<Answer> answers = {}, int defaultButton = IDOK);
    ~DialogWatcher();
    DialogWatcher(const DialogWatcher&) = delete;
    DialogWatcher& operator=(const DialogWatcher&) = delete;

    // Everything seen so far, in the order of appearance.
    std::vector<Dialog> dialogs() const;
    // Waits at most timeoutMs for a dialog for which pred holds.
    bool waitFor(const std::function<bool(const Dialog&)>& pred, DWORD timeoutMs, Dialog* found = nullptr);
    // Called for each dialog when it is first seen, before it is answered.
    void onSeen(std::function<void(const Dialog&)> callback);
    void stop();

private:
    static DWORD WINAPI threadMain(void* self);
    void poll();
    struct State;
    State* state_;
};

// Reads a dialog's contents now.
Dialog inspectDialog(HWND window);
std::string describe(const Dialog& dialog);

} // namespace kit
