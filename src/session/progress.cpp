#include "session/progress.h"

// Placeholder until the progress dialog lands: nothing creates one yet.
ProgressWindow::ProgressWindow() = default;
ProgressWindow::~ProgressWindow() = default;
int ProgressWindow::start(int) { return 1; }
void ProgressWindow::close() {}
void ProgressWindow::step() {}
HWND ProgressWindow::ownerWindow() const { return nullptr; }
