#include "session/update_session.h"

#include "session/product_facts.h"
#include "session/progress.h"
#include "win/text.h"

UpdateSession::UpdateSession() = default;

// The progress display goes first: it closes the dialog and waits for its thread.
UpdateSession::~UpdateSession() { progress.reset(); }

bool isCleanupRun(const std::string& commandLine) { return win::containsText(commandLine, facts::cleanupSwitch); }

bool wantsStatus(const std::string& commandLine) { return win::containsText(commandLine, facts::statusSwitch); }
