#pragma once
#include <windows.h>
// The update's registry work on the product's behalf and the registration of
// the product's libraries.

struct UpdateSession;

// The manifest's "Revision" as the product key's DWORD "Revision".
// 1 when the product key could be opened.
int writeRevision(UpdateSession& session);

// Copies the program to tempDir\trevix.exe and asks the system to start that
// copy with " /cleanup" at the next start. 1 when the RunOnce key opened.
int scheduleCleanupRun(UpdateSession& session);

// A cleanup run's RunOnce entry, before its first other change: none, its
// own, or another command's; and its own written again (the system deletes
// it before it starts the run), so that a run cut short by a log-off, a power
// loss or another run runs again at the next start. Neither logs: a run that
// meets another logs nothing.
enum class CleanupEntry { absent, own, other };
int cleanupEntryIs(const UpdateSession& session, CleanupEntry what);
LONG writeCleanupEntry(const UpdateSession& session);
// Cleanup run, when its sequence has ended (with or without failures): its
// entry removed, unless it names another copy by now.
int endCleanupEntry(UpdateSession& session);

// Cleanup run on the 9x family: gives staged files their long names back.
int applyLongNameRenames(UpdateSession& session);

// Cleanup run on NT 4: creates the host service's "DisplayActiveFlag" when missing.
int ensureDisplayActiveFlag(UpdateSession& session);

// Cleanup run: REGSVR32 for each of the product's libraries, in order.
int registerComponents(UpdateSession& session);
