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
// succeeded; never stops early.
int prepareStagingDirs(UpdateSession& session, int mode);
