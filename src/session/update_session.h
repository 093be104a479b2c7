#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "session/outcome.h"
#include "win/files.h"
#include "win/unique.h"

class ProgressWindow;

// WinInit.Ini while file replacement adds lines to its rename section: opened
// and mapped by the first line, closed by finishStagedFiles.
struct RenameListFile {
    win::File file;
    win::Handle mapping;
    win::View view;
    bool open = false; // also true after a failed open: later lines fail at once
    bool sectionKnown = false;
    unsigned long section = 0; // offset into the text, so it survives a re-mapping
    unsigned long length = 0;
    unsigned long capacity = 0;
    unsigned long error = 0; // why a failed open failed
};

// One directory macro as this run resolved it, where it stages that macro's
// files, and the files it copied there: only those are scheduled to replace
// installed files.
struct MacroFolder {
    std::string folder;       // empty when the macro names no folder here
    std::string usualStaging; // the folder with ".tmp" added
    bool decided = false;     // where to stage has been decided
    std::string staging;      // where this run stages; empty when nowhere
    bool own = false;         // a fresh folder of this run, not the usual name
    std::vector<std::string> files;
};

// The state of one run of the update program. One object per process; every
// operation takes it by reference.
struct UpdateSession {
    UpdateSession();
    ~UpdateSession();
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;

    std::string commandLine;
    std::string productDir;
    std::string programDir;
    std::string tempDir;
    std::string manifestPath;

    // Only file replacement touches these.
    RenameListFile renameList;
    // The directory macros, by name, resolved once per run.
    std::map<std::string, MacroFolder> macros;
    // Only merge-module patching touches it: the modules it could not patch.
    std::vector<std::string> unpatchedModules;

    std::string macroProgDir;
    std::string macroWinDir;
    std::string macroSysDir;
    std::string macroVelDir;
    std::string macroTwDir;
    std::string macroDrvDir;
    std::string macroCmsDir;
    std::string macroDataDir;
    std::string macroVelShared;
    std::string macroMergeModulesDir;
    std::string macroMergeModulesEngDir;
    std::string newFilesDir;
    std::string mergeModulesDir;
    std::string macroPackagerResDir;

    // Where this run's copies are made whole before they replace a file.
    win::WorkFolders workFolders;
    std::unique_ptr<ProgressWindow> progress;
    unsigned long osFamily = 0;
    int hasMergeModules = 0;
    // What the run did; the exit status when it stopped early (0 otherwise,
    // outcome.h has the codes).
    RunOutcome outcome;
    unsigned long exitCode = 0;
};

// Run kinds and switches, from plain case-sensitive substring tests on the
// command line. A cleanup run is never a plan run.
bool isCleanupRun(const std::string& commandLine);
bool wantsStatus(const std::string& commandLine);
bool isPlanRun(const std::string& commandLine);
// No window at all: no message, no progress display, no restart question.
bool isQuiet(const std::string& commandLine);
// No restart question; the progress display of a status run stays.
bool wantsNoRestart(const std::string& commandLine);

// A folder the install run made for the cleanup run's copy: the prefix and
// eight hexadecimal digits.
bool isRunFolder(const std::string& folder);

// A number of the manifest's [TIDEWARDEN] section, read as the profile
// functions read it; none when the key is not there or has no value.
std::optional<unsigned long> manifestNumber(const std::string& manifestPath, const char* key);
