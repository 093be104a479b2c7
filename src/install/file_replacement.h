#pragma once
// Copying files into place, and replacing staged files at the next start of
// the system: delayed moves on NT, the [Rename] section of WinInit.Ini on the
// Windows 9x family, and the long-name rename list in the registry.
#include <windows.h>

#include <string>

#include "win/files.h"

struct UpdateSession;

// The lines of the rename list are formatted into this many bytes; longer
// lines are refused rather than cut.
constexpr unsigned long renameLineSize = 1024;
// Free space mapped behind the text of WinInit.Ini.
constexpr unsigned long renameSpare = 16384;
// Attempts after the first to open a locked WinInit.Ini, one second apart.
constexpr int renameOpenRetries = 15;

// Copies sourceDir\name to targetDir\name, overwriting, whole or not at all
// (made in a work folder of targetDir first, taking the replaced file's
// access list and read-only attribute); targets in use fail. 1 on success.
int copyOneFile(win::WorkFolders& work, const std::string& name, const std::string& sourceDir,
                const std::string& targetDir);

// Whether staged files are scheduled by their short names, their long names
// kept in the long-name rename list (all but the NT 4 and NT 5 families):
// those families get the long names back at the cleanup run, which also
// removes their emptied staging folders.
bool schedulesByShortNames(unsigned long osFamily);

// Copies sourceDir\name into the staging folder this run uses for macro,
// whole or not at all, with the access list and read-only attribute of the
// installed file it is to replace (or, for a new file, what the macro's
// folder hands down), and notes it for finishStagedFiles. 1 on success.
int stageOneFile(UpdateSession& session, const std::string& macro, const std::string& name,
                 const std::string& sourceDir);

// Arranges for every staged file of the twelve staging folders to replace
// its installed file at the next start, then trims and closes WinInit.Ini.
// Always 1.
int finishStagedFiles(UpdateSession& session);

// The files this run staged for one macro; on the NT family the staging
// folder itself goes at the next start once emptied (always for a fresh
// folder of this run). 0 when the macro's folder or staging folder does not
// resolve, else 1.
int scheduleStagedFiles(UpdateSession& session, const std::string& macro);

// Schedules source to replace target (to be deleted when target is null) at
// the next start: a delayed move, else a line of the rename list. Non-zero
// when scheduled.
int scheduleReplace(UpdateSession& session, const std::string& source, const std::string* target);

// The rename-list writer: puts "target=source\r\n" (target "NUL" when null)
// directly below the [Rename] header of WinInit.Ini, which it opens and maps
// on first use and keeps open until closeRenameList. 1 when written.
int addRenameLine(UpdateSession& session, const std::string& source, const std::string* target);

// Unmaps WinInit.Ini, cuts it to its text and closes it.
void closeRenameList(UpdateSession& session);

// One value of the long-name rename list: shortPath -> longPath. The
// registry's answer (ERROR_SUCCESS when written).
LONG addLongNameRename(const std::string& shortPath, const std::string& longPath);
