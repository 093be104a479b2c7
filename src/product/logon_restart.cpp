#include "product/logon_restart.h"

#include "product/product_checks.h"
#include "res/resource.h"
#include "session/detection.h"
#include "session/product_facts.h"
#include "session/progress.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/text.h"
#include "win/unique.h"

namespace {

std::string upperCase(std::string text)
{
    if (!text.empty()) CharUpperA(&text[0]);
    return text;
}

} // namespace

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
    if (RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

bool deleteRegValue(HKEY root, const char* subkey, const char* name)
{
    win::Key key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return false;
    return RegDeleteValueA(key.get(), name) == ERROR_SUCCESS;
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

    std::string current;
    readRegString(HKEY_LOCAL_MACHINE, facts::winLogonKey, facts::logonLibraryValue, current);
    // Only our own library is ours to take out; another vendor's stays in place.
    if (upperCase(current).find(upperCase(facts::logonLibraryFile)) != std::string::npos) {
        std::string recorded;
        if (readRegString(HKEY_LOCAL_MACHINE, productSystemKey.c_str(), facts::logonLibraryValue, recorded)) {
            std::string candidate = sysDir;
            appendPathPart(candidate, recorded);
            if (win::fileExists(recorded) || (!sysDir.empty() && win::fileExists(candidate)))
                writeRegString(HKEY_LOCAL_MACHINE, facts::winLogonKey, facts::logonLibraryValue, recorded);
            else
                deleteRegValue(HKEY_LOCAL_MACHINE, facts::winLogonKey, facts::logonLibraryValue);
        } else {
            deleteRegValue(HKEY_LOCAL_MACHINE, facts::winLogonKey, facts::logonLibraryValue);
        }
    }

    // Without the system folder the bare name would be taken from the current folder.
    if (!sysDir.empty()) {
        std::string library = sysDir;
        appendPathPart(library, facts::logonLibraryFile);
        MoveFileExA(library.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
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
    if (answer != IDYES) return 1;
    if (session.osFamily == osWindows9x)
        restartPlain();
    else
        restartWithPrivilege();
    return 1;
}

int restartPlain()
{
    ExitWindowsEx(EWX_REBOOT, 0);
    return 0;
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
    ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0);
    return 1;
}
