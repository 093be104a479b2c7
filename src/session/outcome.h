#pragma once
// What a run did. Every step that changes the machine reports each action
// here, done, failed with the system's error, or left out where the design
// allows it; the log (Windows folder\trevix.log), the run's exit code and
// the run record under the product's key come from here alone.
#include <windows.h>

#include <string>

#include "win/result.h"
#include "win/unique.h"

// What a step does to a path, worded by the log.
enum class Action : int {
    install,        // a file copied into its folder
    stage,          // a file copied into a staging folder
    schedule,       // a staged file set up to replace its file at the next start
    scheduleDelete, // a file or folder set up to go at the next start
    remove,         // a file deleted
    rename,
    copy,
    createFolder,
    removeFolder,
    write, // a registry value or key
    stamp, // a version or revision written into a file
    patch, // a merge module
    registerLibrary,
    start,  // a program
    record, // the version with the registration component
    restart,
    read, // a value the run needs
    use,  // a folder or lock that is there
};

// Why an action was left out although it was asked for; none of these
// counts as a failure.
enum class Reason : int {
    notInstalled,   // replace-only, and nothing installed to replace
    newerInstalled, // the installed file is newer than the staged one
    absent,         // the file, folder or value to act on is not there
    declined,       // the user answered no
    notTaken,       // something outside this system did not take it
    notEmpty,       // a folder that still holds files
    notPatched,     // a merge module whose files could not be replaced
    notAsked,       // a question a quiet or no-restart run does not ask
    inUse,          // the installed file is held: the plan stages it
    notTrusted,     // a link, or another user's: something else is used instead
    superseded,     // another run took over the cleanup while this one waited
    running,        // a program that is running, and removes itself
};

// What the log's first line and the run record tell of a run.
struct RunFacts {
    std::string kind;   // "install", "status", "cleanup" or "plan"
    std::string family; // the family's keyword, "other" for none
    std::string commandLine;
    std::string programDir;
    std::string productDir;
};

class RunOutcome {
public:
    RunOutcome() = default;
    RunOutcome(const RunOutcome&) = delete;
    RunOutcome& operator=(const RunOutcome&) = delete;

    // Opens the log without following a link (a log over 1 MB becomes
    // trevix.log.old first) and writes the run's first line; the run record
    // says 1603 until finish writes the real result. A log that cannot be
    // opened is no reason to fail the run.
    void begin(const RunFacts& run);
    // The one door of every action: done when result is ok, else failed
    // with its error. to: where the action put what (a copy, a rename, a
    // scheduled move). A plan run tells what it would do: "would install",
    // "would FAIL to install", and counts nothing as failed.
    void report(Action action, const std::string& what, win::Result result, const std::string& to = std::string());
    void skipped(Action action, const std::string& what, Reason reason);
    // A check of the plan before the first change: passed with what it found,
    // or refused for item (each refused item counts as failed).
    void checked(const std::string& check, const std::string& found);
    void refused(const std::string& check, const std::string& item, DWORD error = 0);
    // A program that did the action ended with exitCode, which is not 0: a failure.
    void ended(Action action, const std::string& what, unsigned long exitCode);
    // What is logged reaches the disk: before a program is started, before
    // the restart question, at the end.
    void flush();
    // The run's exit code: exitCode, or 1603 when it is 0 and an action
    // failed. Ends the log block and writes the run record.
    unsigned long finish(unsigned long exitCode);
    // The run record under the product's key, where that key exists: the run
    // kind, the exit code as finish would give it, the time, the log, and
    // RestartPending (1 once cleanupScheduled was told, 0 at the end of a
    // cleanup run; a run that stopped early leaves it). A plan run keeps none.
    void record(unsigned long exitCode);

    // The run ended on an exception: a failure, with what it said.
    void stopped(const std::string& what);
    bool hasStopped() const { return stopped_; }

    int failures() const { return failures_; }
    // The install run has scheduled its cleanup run.
    void cleanupScheduled() { cleanupScheduled_ = true; }
    bool isCleanupScheduled() const { return cleanupScheduled_; }

private:
    void line(const std::string& text);
    void openLog();
    // ended: the run has got to its end, and RestartPending says what it left.
    void writeRecord(unsigned long exitCode, bool ended);

    RunFacts run_;
    bool planning_ = false;
    win::File log_;
    std::string logPath_;
    int failures_ = 0;
    bool cleanupScheduled_ = false;
    bool stopped_ = false;
};

// The program's exit codes besides 0, which deployment tools know from
// Windows Installer.
constexpr unsigned long exitFailed = 1603;       // ERROR_INSTALL_FAILURE: an action failed
constexpr unsigned long exitNotInstalled = 1605; // ERROR_UNKNOWN_PRODUCT
constexpr unsigned long exitAnotherRun = 1618;   // ERROR_INSTALL_ALREADY_RUNNING
constexpr unsigned long exitOtherVersion = 1638; // ERROR_PRODUCT_VERSION
constexpr unsigned long exitOutOfMemory = 8;     // ERROR_NOT_ENOUGH_MEMORY
// Refusals of the checks before the first change; 1638 also refuses an
// update older than the installed one.
constexpr unsigned long exitMissingFiles = 1620; // ERROR_INSTALL_PACKAGE_INVALID: a file of the update is missing
constexpr unsigned long exitDiskFull = 112;      // ERROR_DISK_FULL: a drive lacks room for what the run writes
// A quiet or no-restart run that succeeded and leaves the rest to the restart.
constexpr unsigned long exitRestartRequired = 3010; // ERROR_SUCCESS_REBOOT_REQUIRED
