#pragma once
// The install run's plan: everything it will do, worked out and checked
// before it does any of it, so that a run that cannot succeed changes
// nothing, and an administrator can read the plan first (/plan).
#include <optional>
#include <string>
#include <vector>

#include "install/manifest.h"

struct UpdateSession;

// Everything an install run will do, worked out before it does any of it.
struct InstallPlan {
    struct Program {
        std::string path;
        std::string arguments;
        bool present = false;
    };
    std::vector<Program> programs;         // the auxiliary programs, in their order
    std::vector<PlannedEntry> entries;     // the five file sections, in their order
    std::string settings;                  // the installed settings file, staged with the new version
    std::optional<unsigned long> revision; // the update's, written to the product's key
    std::vector<std::string> newFiles;     // the update's files copied to the new-files folder
};

// The plan of this machine: the auxiliary programs, the entries of the five
// sections in their order, the settings file, the revision and the new-files
// copy. Reads the manifest and the machine, changes nothing.
InstallPlan planInstall(UpdateSession& session);

// The checks before the first change; each passed check and each refused
// item is logged. 0 when the run may go on, else its exit code: 1638 for an
// update older than the installed one (by "Revision"), 1620 for a file the
// plan installs that is not in the update's folder or cannot be read, 112
// for a drive without room for what the plan writes there (the new files and
// staged copies, the new-files copy, the cleanup run's copy).
unsigned long checkPlan(UpdateSession& session, const InstallPlan& plan);

// The plan in the log, an action a line, as the run would carry it out.
void tellPlan(UpdateSession& session, const InstallPlan& plan);
