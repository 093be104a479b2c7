#include <windows.h>

#include "app/driver.h"
#include "session/update_session.h"

namespace {
UpdateSession theSession;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    theSession.commandLine = commandLine ? commandLine : "";
    runUpdate(theSession);
    // No main window: the message loop ends at once.
    PostQuitMessage(0);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    return 0;
}
