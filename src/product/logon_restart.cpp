#include "product/logon_restart.h"

#include "product/product_checks.h"
#include "res/resource.h"
#include "session/detection.h"
#include "session/outcome.h"
#include "session/product_facts.h"
#include "session/progress.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/paths.h"
#include "win/registry.h"
#include "win/result.h"
#include "win/text.h"
#include "win/unique.h"

namespace {

// Registry texts and paths of this step fit in 260 bytes with their terminator.
constexpr DWORD logonTextSize = 260;

// A non-empty REG_SZ/REG_EXPAND_SZ value of up to 259 characters into out;
// false (out untouched) otherwise: a value that does not fit, or is no text,
// is no name we could use.
bool readName(const char* path, const char* name, std::string& out)
{
    std::string data;
    DWORD type = 0;
    if (win::readValue(HKEY_LOCAL_MACHINE, path, name, logonTextSize, data, &type) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    const std::string text = win::boundedText(data.data(), data.size());
    if (text.empty() || text.size() >= logonTextSize) return false;
    out = text;
    return true;
}

} // namespace

int removeLogonComponent(UpdateSession& session)
{
    if (session.osFamily != osWindowsXp) return 0;
    if (readProductType(session) == productRemote) return 0;
    const std::string sysDir = win::systemFolder();
    const std::string productSystemKey = win::loadText(IDS_KEY_SYSTEM);
    const std::string setting = win::machineName(facts::winLogonKey, facts::logonLibraryValue);

    std::string current;
    readName(facts::winLogonKey, facts::logonLibraryValue, current);
    // Only our own library is ours to take out; another vendor's stays in place.
    if (win::upperCase(current).find(win::upperCase(facts::logonLibraryFile)) != std::string::npos) {
        std::string recorded;
        const bool known = readName(productSystemKey.c_str(), facts::logonLibraryValue, recorded);
        const bool restore =
            known && (win::fileExists(recorded) || (!sysDir.empty() && win::fileExists(win::join(sysDir, recorded))));
        const LONG result =
            restore ? win::writeText(HKEY_LOCAL_MACHINE, facts::winLogonKey, facts::logonLibraryValue, recorded)
                    : win::deleteValue(HKEY_LOCAL_MACHINE, facts::winLogonKey, facts::logonLibraryValue);
        session.outcome.report(restore ? Action::write : Action::remove, setting, win::status(result));
    }

    // Without the system folder the bare name would be taken from the current folder.
    if (!sysDir.empty()) {
        const std::string library = win::join(sysDir, facts::logonLibraryFile);
        if (!win::fileExists(library))
            session.outcome.skipped(Action::scheduleDelete, library, Reason::absent);
        else
            session.outcome.report(Action::scheduleDelete, library,
                                   win::result(MoveFileExA(library.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)));
    }
    return 1;
}

int offerRestart(UpdateSession& session)
{
    HWND owner = session.progress ? session.progress->ownerWindow() : nullptr;
    const std::string text = win::loadText(IDS_RESTART_QUESTION);
    const std::string caption = win::loadText(IDS_RESTART_CAPTION);
    const UINT style = MB_YESNO | MB_ICONQUESTION;
    int answer = MessageBoxA(owner, text.c_str(), caption.c_str(), style);
    // The dialog may have ended between asking for it and the question.
    if (answer == 0 && owner) answer = MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
    if (answer != IDYES) {
        session.outcome.skipped(Action::restart, "of the computer", Reason::declined);
        return 1;
    }
    session.outcome.report(Action::restart, "of the computer",
                           win::result(session.osFamily == osWindows9x ? restartPlain() : restartWithPrivilege()));
    return 1;
}

int restartPlain() { return ExitWindowsEx(EWX_REBOOT, 0) ? 1 : 0; }

int restartWithPrivilege()
{
    win::Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return 0;
    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)) return 0;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr)) return 0;
    token.reset();
    // A moment for the question's window to go before every program is ended.
    Sleep(1500);
    return ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0) ? 1 : 0;
}
