#pragma once
#include <memory>
#include <string>

#include "win/unique.h"

class ProgressWindow;

// WinInit.Ini while file replacement adds lines to its rename section: opened
// and mapped by the first line, closed by finishStagedFiles.
struct RenameListFile {
    win::File file;
    win::Handle mapping;
    win::View view;
    bool open = false;          // also true after a failed open: later lines fail at once
    bool sectionKnown = false;
    unsigned long section = 0;  // offset into the text, so it survives a re-mapping
    unsigned long length = 0;
    unsigned long capacity = 0;
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

    // Only file replacement touches it.
    RenameListFile renameList;

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
    std::string pathSeparator;

    std::unique_ptr<ProgressWindow> progress;
    unsigned long osFamily = 0;
    int hasMergeModules = 0;
    // The program's exit status: 0 when the run went through, else one of the
    // codes below, which deployment tools know from Windows Installer.
    unsigned long exitCode = 0;
};

constexpr unsigned long exitNotInstalled = 1605;      // ERROR_UNKNOWN_PRODUCT
constexpr unsigned long exitOtherVersion = 1638;      // ERROR_PRODUCT_VERSION
constexpr unsigned long exitOutOfMemory = 8;          // ERROR_NOT_ENOUGH_MEMORY

// Run kinds, from plain case-sensitive substring tests on the command line.
bool isCleanupRun(const std::string& commandLine);
bool wantsStatus(const std::string& commandLine);
