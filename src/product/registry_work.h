#pragma once
// The update's registry work on the product's behalf and the registration of
// the product's libraries.

struct UpdateSession;

// The manifest's "Revision" as the product key's DWORD "Revision".
// 1 when the product key could be opened.
int writeRevision(UpdateSession& session);

// Copies the program to tempDir\trevix.exe and asks the system to start that
// copy with " /cleanup" at the next start. 1 when the RunOnce key opened.
int scheduleCleanupRun(UpdateSession& session);

// Cleanup run on the 9x family: gives staged files their long names back.
int applyLongNameRenames(UpdateSession& session);

// Cleanup run on NT 4: creates the host service's "DisplayActiveFlag" when missing.
int ensureDisplayActiveFlag(UpdateSession& session);

// Cleanup run: REGSVR32 for each of the product's libraries, in order.
int registerComponents(UpdateSession& session);
