#pragma once
// The file sections of the update manifest (trevix.ini beside the program).
#include <string>
#include <vector>

#include "session/outcome.h"

struct UpdateSession;

// Values are read into this many bytes: only the first 31 characters count.
constexpr unsigned long manifestValueSize = 32;

// The key names of section in file order, all of them.
std::vector<std::string> sectionKeys(const std::string& manifestPath, const std::string& section);

// The flags of a file section, named where the sections are listed.
enum DiscardAll : int {
    keepEntries = 0,
    discardEntries = 1, // every entry acts as DELETE
};
enum ReplaceOnly : int {
    addOrReplace = 0,
    replaceInstalled = 1, // only files the macro's folder already holds
};

// What one entry of a file section will do, decided before anything is done.
struct PlannedEntry {
    enum Kind {
        install, // copy source to target, or stage it when target is in use
        remove,  // delete the update's copy
        rename,  // rename the update's copy to target, within its folder
        refuse,  // a name that could reach beyond its folder: error says why
        leave,   // nothing to do: reason says why
    };
    Kind kind = install;
    std::string section;
    std::string name;   // the entry's key
    std::string source; // the update's copy
    std::string target; // install: the file in the macro's folder; rename: the new name's path
    std::string macro;  // install: whose staging folder takes the file when it is in use
    unsigned long error = 0;
    Reason reason = Reason::notInstalled;
};

// The entries of one file section in file order, as this machine makes them:
// each entry of programDir deleted, renamed within programDir, or installed
// into its macro folder; a replace-only entry without an installed file left
// alone; a key or new name that is no plain file name refused. Reads the
// manifest and the machine, changes nothing.
std::vector<PlannedEntry> planSection(const UpdateSession& session, const std::string& section, DiscardAll discardAll,
                                      ReplaceOnly replaceOnly);

// Carries out the planned entries of one section: an install that cannot
// copy over its file (in use) is staged in the macro's staging folder. Each
// entry advances the progress display. Always 1.
int installSection(UpdateSession& session, const std::vector<PlannedEntry>& entries);
