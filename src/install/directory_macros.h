#pragma once
// The twelve directory macros of the manifest, the folders they stand for and
// the staging folders beside them (the folder's path with ".tmp" added).
#include <string>
#include <vector>

struct UpdateSession;

enum StagingMode : int {
    stagingCreate = 0,
    stagingRemove = 1,
};

// Loads the twelve macro names from the string table and resolves each
// macro once for the run into session.macros: its folder (from the product
// folder, the system's folders or the registry), without trailing
// backslashes, and its usual staging folder. A macro whose registry value is
// missing or no absolute folder, or whose base is unknown, gets no folder.
void resolveMacros(UpdateSession& session);

// The macro names in their fixed order (PROGDIR first, PACKAGERRESDIR last).
std::vector<std::string> macroNames(const UpdateSession& session);

// The folder of macro name as resolveMacros found it. 1 when it has one; a
// name that is no macro, or a macro without a folder, gives 0 and leaves
// folder as it was.
int resolveMacro(const UpdateSession& session, const std::string& name, std::string& folder);

// The usual staging folder of macro name: its folder with ".tmp" added to
// the folder's own name. 1 when the macro has a folder.
int stagingDirFor(const UpdateSession& session, const std::string& name, std::string& folder);

// Creates or removes the twelve staging folders. 1 when all twelve calls
// succeeded; never stops early. Creating decides, once per run, where each
// macro's files are staged: the folder of stagingDirFor when this run made it
// or could make it private (only administrators and the system may write
// there), else a fresh private folder beside it. Removing takes the folders
// of stagingDirFor (only empty ones go).
int prepareStagingDirs(UpdateSession& session, int mode);

// The staging folder this run decided on for macro. 1 when there is one.
int stagingInUse(const UpdateSession& session, const std::string& macro, std::string& folder);
