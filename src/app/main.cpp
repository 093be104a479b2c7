#include <windows.h>

#include <exception>
#include <new>

#include "app/driver.h"
#include "session/update_session.h"

namespace {

UpdateSession theSession;

void stop(const char* what) noexcept
{
    theSession.exitCode = exitFailed;
    try {
        theSession.outcome.stopped(what);
    } catch (...) {
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    // An exception ends the run without a box (the cleanup run has nobody to
    // answer the runtime's abort box): out of memory as 8, anything else as
    // a failure the log names.
    try {
        theSession.commandLine = commandLine ? commandLine : "";
        runUpdate(theSession);
    } catch (const std::bad_alloc&) {
        theSession.exitCode = exitOutOfMemory;
    } catch (const std::exception& error) {
        stop(error.what());
    } catch (...) {
        stop("unknown");
    }
    if (theSession.exitCode == exitOutOfMemory || theSession.outcome.hasStopped()) {
        // What the log and the record can still take.
        try {
            theSession.outcome.finish(theSession.exitCode);
        } catch (...) {
        }
    }
    // No main window: the message loop ends at once.
    PostQuitMessage(0);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    return static_cast<int>(theSession.exitCode);
}
