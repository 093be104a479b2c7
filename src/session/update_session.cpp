#include "session/update_session.h"

#include <windows.h>

#include "session/product_facts.h"
#include "session/progress.h"
#include "win/text.h"

UpdateSession::UpdateSession() = default;

// The progress display goes first: it closes the dialog and waits for its thread.
UpdateSession::~UpdateSession() { progress.reset(); }

bool isCleanupRun(const std::string& commandLine) { return win::containsText(commandLine, facts::cleanupSwitch); }

bool wantsStatus(const std::string& commandLine) { return win::containsText(commandLine, facts::statusSwitch); }

bool isPlanRun(const std::string& commandLine)
{
    return !isCleanupRun(commandLine) && win::containsText(commandLine, facts::planSwitch);
}

bool isQuiet(const std::string& commandLine) { return win::containsText(commandLine, facts::quietSwitch); }

bool wantsNoRestart(const std::string& commandLine) { return win::containsText(commandLine, facts::noRestartSwitch); }

std::optional<unsigned long> manifestNumber(const std::string& manifestPath, const char* key)
{
    char probe[2] = {};
    if (!GetPrivateProfileStringA(facts::numbersSection, key, "", probe, sizeof probe, manifestPath.c_str()))
        return std::nullopt;
    return GetPrivateProfileIntA(facts::numbersSection, key, 0, manifestPath.c_str());
}

bool isRunFolder(const std::string& folder)
{
    const std::string parent = win::folderOf(folder);
    if (parent.empty()) return false;
    const std::string name = folder.substr(parent.size() + 1);
    const size_t prefix = sizeof facts::runFolderPrefix - 1;
    if (name.size() != prefix + 8 || name.compare(0, prefix, facts::runFolderPrefix) != 0) return false;
    return name.find_first_not_of("0123456789ABCDEFabcdef", prefix) == std::string::npos;
}
