#pragma once
#include <memory>
#include <string>

#include "win/unique.h"

class ProgressWindow;

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

    // The open rename list (WinInit.Ini); only file replacement touches these.
    win::File renameFile;
    win::Handle renameMapping;
    win::View renameView;
    bool renameOpen = false;          // also true after a failed open: later schedules fail at once
    bool renameSectionKnown = false;
    unsigned long renameSection = 0;  // offset into the text, so it survives a re-mapping
    unsigned long renameLength = 0;
    unsigned long renameCapacity = 0;

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
};

// Run kinds, from plain case-sensitive substring tests on the command line.
bool isCleanupRun(const std::string& commandLine);
bool wantsStatus(const std::string& commandLine);
