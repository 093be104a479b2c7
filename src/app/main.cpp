#include <windows.h>

#include "app/driver.h"
#include "session/update_session.h"

namespace {
UpdateSession theSession;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    // Out of memory ends the run quietly: the cleanup run has nobody to
    // answer the runtime's abort box.
    try {
        theSession.commandLine = commandLine ? commandLine : "";
        runUpdate(theSession);
    } catch (...) {
        theSession.exitCode = exitOutOfMemory;
        // What the log and the record can still take.
        try {
            theSession.outcome.finish(exitOutOfMemory);
        } catch (...) {
        }
    }
    // No main window: the message loop ends at once.
    PostQuitMessage(0);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    return static_cast<int>(theSession.exitCode);
}
