#include "install/install_plan.h"

#include <windows.h>

#include <map>

#include "install/directory_macros.h"
#include "install/installation_step.h"
#include "product/product_checks.h"
#include "session/outcome.h"
#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/paths.h"
#include "win/registry.h"
#include "win/text.h"
#include "win/unique.h"

namespace {

// The files of a folder by upper-case name.
std::map<std::string, WIN32_FIND_DATAA> filesOf(const std::string& folder)
{
    std::vector<WIN32_FIND_DATAA> entries;
    std::map<std::string, WIN32_FIND_DATAA> files;
    win::listFolder(folder, entries);
    for (const WIN32_FIND_DATAA& entry : entries)
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files[win::upperCase(entry.cFileName)] = entry;
    return files;
}

unsigned long long sizeOf(const WIN32_FIND_DATAA& entry)
{
    return static_cast<unsigned long long>(entry.nFileSizeHigh) << 32 | entry.nFileSizeLow;
}

unsigned long long sizeOf(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    return win::Find(FindFirstFileA(path.c_str(), &entry)) ? sizeOf(entry) : 0;
}

// Whether another program holds path open so that it cannot be replaced now:
// opening it for writing, which writes nothing, is refused for sharing.
bool inUse(const std::string& path)
{
    win::File file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    return !file && GetLastError() == ERROR_SHARING_VIOLATION;
}

std::string number(unsigned long long value)
{
    char text[32];
    wsprintfA(text, "%lu", static_cast<unsigned long>(value));
    // wsprintfA knows no 64-bit numbers on the oldest systems: large ones in two parts.
    if (value > 0xFFFFFFFFull)
        wsprintfA(text, "%lu%09lu", static_cast<unsigned long>(value / 1000000000ull),
                  static_cast<unsigned long>(value % 1000000000ull));
    return text;
}

const char* const revisionCheck = "the revision";
const char* const filesCheck = "the update's files";

// The update's copies the plan installs, after the deletions and renames
// before each: name in the update's folder, and the file that holds it.
struct Needed {
    std::string path;
    unsigned long long size = 0;
    std::string target;
    DWORD missing = 0; // why it cannot be read
};

std::vector<Needed> neededFiles(const UpdateSession& session, const InstallPlan& plan)
{
    std::map<std::string, WIN32_FIND_DATAA> files = filesOf(session.programDir);
    std::map<std::string, std::string> holder; // a renamed copy still reads from its first name
    std::vector<Needed> needed;
    for (const PlannedEntry& entry : plan.entries) {
        const std::string name = win::upperCase(entry.name);
        const auto found = files.find(name);
        if (entry.kind == PlannedEntry::remove && found != files.end()) {
            files.erase(found);
        } else if (entry.kind == PlannedEntry::rename && found != files.end()) {
            const std::string renamed = win::upperCase(entry.target.substr(win::folderOf(entry.target).size() + 1));
            if (files.count(renamed)) continue; // the rename fails: nothing moves
            files[renamed] = found->second;
            holder[renamed] = holder.count(name) ? holder[name] : found->second.cFileName;
            files.erase(name);
        } else if (entry.kind == PlannedEntry::install) {
            Needed file;
            file.target = entry.target;
            if (found == files.end()) {
                file.path = entry.source;
                file.missing = ERROR_FILE_NOT_FOUND;
            } else {
                file.path = win::join(session.programDir, holder.count(name) ? holder[name] : entry.name);
                file.size = sizeOf(found->second);
                win::File readable(CreateFileA(file.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                if (!readable) file.missing = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
            }
            needed.push_back(file);
        }
    }
    return needed;
}

// What each drive receives: a file takes whole clusters, and the new copy of
// a file is written beside the old one, so the old one's room does not count.
struct Room {
    unsigned long long bytes = 0;
    std::vector<unsigned long long> files;
};

void add(std::map<std::string, Room>& drives, const std::string& folder, unsigned long long size)
{
    const std::string root = win::upperCase(win::driveRoot(folder));
    if (!root.empty()) drives[root].files.push_back(size);
}

} // namespace

InstallPlan planInstall(UpdateSession& session)
{
    InstallPlan plan;
    for (const facts::AuxiliaryProgram& program : facts::auxiliaryPrograms) {
        const std::string path = win::join(session.programDir, program.file);
        plan.programs.push_back({path, program.arguments, win::fileExists(path) != 0});
    }
    const struct {
        std::string name;
        DiscardAll discardAll;
        ReplaceOnly replaceOnly;
    } sections[] = {
        {facts::commonSection, keepEntries, replaceInstalled},
        {productSectionName(readProductType(session), session.osFamily), keepEntries, addOrReplace},
        {facts::hostAdminSection, hasAdminComponent(session) ? keepEntries : discardEntries, replaceInstalled},
        {facts::remoteManageSection, hasManagerComponent(session) ? keepEntries : discardEntries, replaceInstalled},
        {facts::packagerResourcesSection, keepEntries, addOrReplace},
    };
    for (const auto& section : sections) {
        std::vector<PlannedEntry> entries = planSection(session, section.name, section.discardAll, section.replaceOnly);
        plan.entries.insert(plan.entries.end(), entries.begin(), entries.end());
    }
    plan.settings = win::join(session.productDir, facts::settingsFile);
    plan.revision = manifestNumber(session.manifestPath, facts::revisionKey);
    if (session.hasMergeModules)
        for (const auto& file : filesOf(session.programDir)) plan.newFiles.push_back(file.second.cFileName);
    return plan;
}

unsigned long checkPlan(UpdateSession& session, const InstallPlan& plan)
{
    RunOutcome& outcome = session.outcome;
    unsigned long refusal = 0;
    auto refuse = [&](unsigned long code) {
        if (!refusal) refusal = code;
    };

    // An older update would take back what a newer one installed. An equal
    // one goes through: a rerun before the restart must.
    std::string installed;
    DWORD type = 0;
    if (plan.revision &&
        win::readValue(HKEY_LOCAL_MACHINE, facts::productKey, facts::revisionValue, sizeof(DWORD), installed, &type) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && installed.size() == sizeof(DWORD)) {
        const DWORD current = *reinterpret_cast<const DWORD*>(installed.data());
        const std::string found = number(*plan.revision) + ", installed " + number(current);
        if (*plan.revision < current) {
            outcome.refused(revisionCheck, found);
            refuse(exitOtherVersion);
        } else {
            outcome.checked(revisionCheck, found);
        }
    }

    std::map<std::string, Room> drives;
    const std::vector<Needed> needed = neededFiles(session, plan);
    size_t missing = 0;
    for (const Needed& file : needed) {
        if (file.missing) {
            outcome.refused(filesCheck, file.path, file.missing);
            ++missing;
        } else {
            add(drives, file.target, file.size);
        }
    }
    if (missing)
        refuse(exitMissingFiles);
    else
        outcome.checked(filesCheck, number(needed.size()) + " to install, every one there and readable");

    add(drives, plan.settings, sizeOf(plan.settings));
    for (const std::string& name : plan.newFiles)
        add(drives, session.newFilesDir, sizeOf(win::join(session.programDir, name)));
    add(drives, session.tempDir, sizeOf(win::moduleFileName()));
    for (auto& drive : drives) {
        unsigned long long free = 0;
        DWORD cluster = 0;
        if (!win::freeSpace(drive.first, free, cluster)) continue;
        for (unsigned long long size : drive.second.files)
            drive.second.bytes += cluster ? (size + cluster - 1) / cluster * cluster : size;
        const std::string found = number(drive.second.bytes) + " bytes to write in clusters of " + number(cluster) +
                                  ", " + number(free) + " free";
        if (drive.second.bytes > free) {
            outcome.refused("the room on " + drive.first, found);
            refuse(exitDiskFull);
        } else {
            outcome.checked("the room on " + drive.first, found);
        }
    }
    return refusal;
}

void tellPlan(UpdateSession& session, const InstallPlan& plan)
{
    RunOutcome& outcome = session.outcome;
    if (session.hasMergeModules) {
        outcome.report(Action::createFolder, session.newFilesDir, {});
        for (const std::string& name : plan.newFiles)
            outcome.report(Action::copy, win::join(session.programDir, name), {}, session.newFilesDir);
    }
    for (const InstallPlan::Program& program : plan.programs) {
        if (program.present)
            outcome.report(Action::start, program.path + " " + program.arguments, {});
        else
            outcome.skipped(Action::start, program.path, Reason::absent);
    }
    for (const PlannedEntry& entry : plan.entries) {
        switch (entry.kind) {
        case PlannedEntry::refuse:
            outcome.report(entry.target.empty() ? Action::install : Action::rename, entry.source,
                           win::failure(entry.error), entry.target);
            break;
        case PlannedEntry::leave:
            outcome.skipped(Action::install, entry.target, entry.reason);
            break;
        case PlannedEntry::remove:
            outcome.report(Action::remove, entry.source, {});
            break;
        case PlannedEntry::rename:
            outcome.report(Action::rename, entry.source, {}, entry.target);
            break;
        case PlannedEntry::install:
            outcome.report(inUse(entry.target) ? Action::stage : Action::install, entry.source, {}, entry.target);
            break;
        }
    }
    std::string staging;
    if (stagingDirFor(session, session.macroProgDir, staging))
        outcome.report(Action::stage, plan.settings, {}, win::join(staging, facts::settingsFile));
    if (plan.revision)
        outcome.report(Action::write,
                       win::machineName(facts::productKey, facts::revisionValue) + " = " + number(*plan.revision), {});
    outcome.report(
        Action::copy, win::moduleFileName(), {},
        win::join(win::join(session.tempDir, std::string(facts::runFolderPrefix) + "*"), facts::programFile));
    outcome.report(Action::write, win::machineName(facts::runOnceKey, facts::cleanupRunValue), {});
}
