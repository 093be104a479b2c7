#include "product/logon_restart.h"

#include "product/product_checks.h"
#include "res/resource.h"
#include "session/detection.h"
#include "session/outcome.h"
#include "session/product_facts.h"
#include "session/progress.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/registry.h"
#include "win/text.h"
#include "win/unique.h"

bool readRegString(HKEY root, const char* subkey, const char* name, std::string& out)
{
    win::Key key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    char buffer[logonTextSize + 1] = {};
    DWORD size = logonTextSize;
    DWORD type = 0;
    // A value that does not fit, or is no text, counts as absent: its bytes are
    // not a name we could use.
    if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    const std::string text = win::boundedText(buffer, size);
    if (text.empty() || text.size() >= logonTextSize) return false;
    out = text;
    return true;
}

bool writeRegString(HKEY root, const char* subkey, const char* name, const std::string& text)
{
    win::Key key;
    LONG result = win::openKey(root, subkey, KEY_SET_VALUE, key, true);
    if (result == ERROR_SUCCESS) result = win::setText(key.get(), name, text);
    SetLastError(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS;
}

bool deleteRegValue(HKEY root, const char* subkey, const char* name)
{
    win::Key key;
    LONG result = win::openKey(root, subkey, KEY_SET_VALUE, key);
    if (result == ERROR_SUCCESS) result = RegDeleteValueA(key.get(), name);
    SetLastError(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS;
}

void appendPathPart(std::string& path, const std::string& part)
{
    if (path.empty()) {
        path = part;
        return;
    }
    if (part.empty()) return;
    if (path.back() != '\\') path += '\\';
    path += part;
}

int removeLogonComponent(UpdateSession& session)
{
    if (session.osFamily != osWindowsXp) return 0;
    if (readProductType(session) == productRemote) return 0;
    const std::string sysDir = win::systemFolder();
    const std::string productSystemKey = win::loadText(IDS_KEY_SYSTEM);
    const std::string setting = std::string("HKLM\\") + facts::winLogonKey + "\\" + facts::logonLibraryValue;

    std::string current;
    readRegString(HKEY_LOCAL_MACHINE, facts::winLogonKey, facts::logonLibraryValue, current);
    // Only our own library is ours to take out; another vendor's stays in place.
    if (win::upperCase(current).find(win::upperCase(facts::logonLibraryFile)) != std::string::npos) {
        std::string recorded, candidate = sysDir;
        const bool known = readRegString(HKEY_LOCAL_MACHINE, productSystemKey.c_str(), facts::logonLibraryValue, recorded);
        appendPathPart(candidate, recorded);
        const bool restore = known && (win::fileExists(recorded) || (!sysDir.empty() && win::fileExists(candidate)));
        const bool changed = restore ? writeRegString(HKEY_LOCAL_MACHINE, facts::winLogonKey, facts::logonLibraryValue, recorded)
                                     : deleteRegValue(HKEY_LOCAL_MACHINE, facts::winLogonKey, facts::logonLibraryValue);
        const Action action = restore ? Action::write : Action::remove;
        if (changed)
            session.outcome.done(action, setting);
        else
            session.outcome.failed(action, setting, GetLastError());
    }

    // Without the system folder the bare name would be taken from the current folder.
    if (!sysDir.empty()) {
        std::string library = sysDir;
        appendPathPart(library, facts::logonLibraryFile);
        if (!win::fileExists(library))
            session.outcome.skipped(Action::scheduleDelete, library, Reason::absent);
        else if (MoveFileExA(library.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            session.outcome.done(Action::scheduleDelete, library);
        else
            session.outcome.failed(Action::scheduleDelete, library, GetLastError());
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
    if (session.osFamily == osWindows9x ? restartPlain() : restartWithPrivilege())
        session.outcome.done(Action::restart, "of the computer");
    else
        session.outcome.failed(Action::restart, "of the computer", GetLastError());
    return 1;
}

int restartPlain()
{
    return ExitWindowsEx(EWX_REBOOT, 0) ? 1 : 0;
}

int restartWithPrivilege()
{
    win::Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
        return 0;
    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)) return 0;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr)) return 0;
    token.reset();
    Sleep(1500);
    return ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0) ? 1 : 0;
}
