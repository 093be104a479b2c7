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

// The macro names in their fixed order (PROGDIR first, PACKAGERRESDIR last).
std::vector<std::string> macroNames(const UpdateSession& session);

// The folder of macro name, without trailing backslashes. 1 on success; a name
// that is no macro, a registry folder that is missing or a folder that comes
// out empty gives 0 and leaves folder as it was (trailing backslashes
// stripped).
int resolveMacro(UpdateSession& session, const std::string& name, std::string& folder);

// resolveMacro with ".tmp" added to the folder's own name; its result.
int stagingDirFor(UpdateSession& session, const std::string& name, std::string& folder);

// Creates or removes the twelve staging folders. 1 when all twelve calls
// succeeded; never stops early. Creating decides, once per run, where each
// macro's files are staged: the folder of stagingDirFor when this run made it
// or could make it private (only administrators and the system may write
// there), else a fresh private folder beside it. Removing takes the folders
// of stagingDirFor (only empty ones go).
int prepareStagingDirs(UpdateSession& session, int mode);

// The staging folder this run decided on for macro. 1 when there is one.
int stagingFolderFor(UpdateSession& session, const std::string& macro, std::string& folder);
