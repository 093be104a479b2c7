#include "install/file_replacement.h"

#include <windows.h>

#include <cstring>
#include <map>
#include <string_view>
#include <vector>

#include "install/directory_macros.h"
#include "session/detection.h"
#include "session/outcome.h"
#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/paths.h"
#include "win/registry.h"
#include "win/result.h"
#include "win/security.h"
#include "win/text.h"
#include "win/unique.h"

namespace {

const char* const addedHeader = "[Rename]\r\n";
// Headers the system accepts, looked for in this order.
const char* const knownHeaders[] = {"[Rename]\r\n", "[rename]\r\n", "[RENAME]\r\n"};

// A header counts only at the start of a line: elsewhere the system would
// not see it as a section.
bool findHeader(std::string_view text, unsigned long& position)
{
    for (const char* header : knownHeaders) {
        for (size_t at = text.find(header); at != std::string_view::npos; at = text.find(header, at + 1)) {
            if (at == 0 || text[at - 1] == '\n') {
                position = static_cast<unsigned long>(at);
                return true;
            }
        }
    }
    return false;
}

// Opens and maps WinInit.Ini with renameSpare bytes behind its text.
int mapRenameList(RenameListFile& list)
{
    const std::string windows = win::windowsFolder();
    if (windows.empty()) return 0;
    const std::string path = win::join(windows, facts::renameListFile);
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
    list.file.reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, flags, nullptr));
    for (int attempt = 0; !list.file && attempt < renameOpenRetries; ++attempt) {
        Sleep(1000);
        list.file.reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    flags | FILE_FLAG_WRITE_THROUGH, nullptr));
    }
    if (!list.file) {
        const DWORD error = GetLastError();
        // Heard where nobody reads the log: the staged files will not be replaced.
        MessageBeep(1);
        SetLastError(error);
        return 0;
    }
    DWORD high = 0;
    const DWORD size = GetFileSize(list.file.get(), &high);
    if ((size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 || size > 0xFFFFFFFFul - renameSpare) {
        list.file.reset();
        return 0;
    }
    list.length = size;
    list.capacity = size + renameSpare;
    // CreateFileMappingA fails with null, not INVALID_HANDLE_VALUE. The
    // mapping grows the file to its size.
    list.mapping.reset(CreateFileMappingA(list.file.get(), nullptr, PAGE_READWRITE, 0, list.capacity, nullptr));
    if (list.mapping) list.view.reset(MapViewOfFile(list.mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
    if (!list.view) {
        // Leave the file as it was, not grown by the spare space.
        const DWORD error = GetLastError();
        list.mapping.reset();
        SetFilePointer(list.file.get(), static_cast<LONG>(size), nullptr, FILE_BEGIN);
        SetEndOfFile(list.file.get());
        list.file.reset();
        SetLastError(error);
        return 0;
    }
    return 1;
}

// Marks the list open even when that fails, so that the run does not try
// again; the failure's error stays for every line that then fails.
int openRenameList(RenameListFile& list)
{
    list.open = true;
    if (mapRenameList(list)) return 1;
    list.error = GetLastError() ? GetLastError() : ERROR_OPEN_FAILED;
    return 0;
}

} // namespace

int copyOneFile(win::WorkFolders& work, const std::string& name, const std::string& sourceDir,
                const std::string& targetDir)
{
    // Whole or not at all: a full drive must not leave the installed file cut
    // short, nor a cut copy in a staging folder to replace it at the restart.
    return win::copyOver(work, win::join(sourceDir, name), win::join(targetDir, name)) ? 1 : 0;
}

void closeRenameList(UpdateSession& session)
{
    RenameListFile& list = session.renameList;
    if (!list.file) return;
    list.view.reset();
    list.mapping.reset();
    SetFilePointer(list.file.get(), static_cast<LONG>(list.length), nullptr, FILE_BEGIN);
    SetEndOfFile(list.file.get());
    list.file.reset();
    list.open = false;
}

int addRenameLine(UpdateSession& session, const std::string& source, const std::string* target)
{
    RenameListFile& list = session.renameList;
    const std::string line = (target ? *target : std::string("NUL")) + "=" + source + "\r\n";
    if (line.size() >= renameLineSize) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (!list.open && !openRenameList(list)) return 0;
    if (!list.view) {
        SetLastError(list.error);
        return 0;
    }

    if (!list.sectionKnown) {
        std::string_view text(static_cast<const char*>(list.view.get()), list.length);
        list.sectionKnown = findHeader(text, list.section);
    }
    std::string header;
    if (!list.sectionKnown) {
        // Text that does not end with a line break would swallow the header.
        const char* text = static_cast<const char*>(list.view.get());
        if (list.length > 0 && text[list.length - 1] != '\n') header = "\r\n";
        header += addedHeader;
    }
    if (list.capacity - list.length < header.size() + line.size()) {
        // Re-open with fresh spare space; the section position is an offset
        // and stays valid.
        closeRenameList(session);
        if (!openRenameList(list)) return 0;
    }

    char* text = static_cast<char*>(list.view.get());
    unsigned long insertion = list.length;
    if (!list.sectionKnown) {
        std::memcpy(text + list.length, header.data(), header.size());
        list.length += static_cast<unsigned long>(header.size());
        list.section = list.length - static_cast<unsigned long>(std::strlen(addedHeader));
        list.sectionKnown = true;
        insertion = list.length;
    } else {
        const void* lineFeed = std::memchr(text + list.section, '\n', list.length - list.section);
        if (lineFeed) insertion = static_cast<unsigned long>(static_cast<const char*>(lineFeed) - text) + 1;
        std::memmove(text + insertion + line.size(), text + insertion, list.length - insertion);
    }
    std::memcpy(text + insertion, line.data(), line.size());
    list.length += static_cast<unsigned long>(line.size());
    return 1;
}

int scheduleReplace(UpdateSession& session, const std::string& source, const std::string* target)
{
    // The 9x family has no delayed move (its MoveFileExA fails there), so it
    // goes straight to the rename list. Same result on Windows; under Wine,
    // whose MoveFileExA succeeds even when it emulates Windows 98, it keeps the
    // run on the path the real system takes.
    if (session.osFamily != osWindows9x && MoveFileExA(source.c_str(), target ? target->c_str() : nullptr,
                                                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
        return 1;
    return addRenameLine(session, source, target);
}

LONG addLongNameRename(const std::string& shortPath, const std::string& longPath)
{
    win::Key key;
    LONG result = win::openKey(HKEY_LOCAL_MACHINE, facts::longNameRenameKey, KEY_SET_VALUE, key, true);
    if (result == ERROR_SUCCESS) result = win::setText(key.get(), shortPath.c_str(), longPath);
    return result;
}

bool schedulesByShortNames(unsigned long osFamily)
{
    return osFamily != osWinNt40 && osFamily != osWin2000 && osFamily != osWindowsXp;
}

namespace {

// What a staged file must carry to the restart, where the system moves it
// as it is: the installed file's access list and read-only attribute (the
// read-only one is taken off the installed file now, or the move would fail
// then), or for a new file what its folder hands down.
bool prepareStaged(UpdateSession& session, const std::string& installed, const std::string& staged)
{
    const DWORD attributes = GetFileAttributesA(installed.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || win::isLink(attributes)) {
        const std::string work = session.workFolders.folderFor(installed);
        if (work.empty()) return false;
        const std::string probe = win::join(work, "~trevix.acl");
        win::File made(
            CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!made) return false;
        made.reset();
        const bool copied = win::copyAccessList(probe, staged);
        const DWORD error = GetLastError();
        DeleteFileA(probe.c_str());
        SetLastError(error);
        return copied;
    }
    if (!win::copyAccessList(installed, staged)) return false;
    if (!(attributes & FILE_ATTRIBUTE_READONLY)) return true;
    const DWORD own = GetFileAttributesA(staged.c_str());
    return own != INVALID_FILE_ATTRIBUTES && SetFileAttributesA(staged.c_str(), own | FILE_ATTRIBUTE_READONLY) &&
           SetFileAttributesA(installed.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

} // namespace

int stageOneFile(UpdateSession& session, const std::string& macro, const std::string& name,
                 const std::string& sourceDir)
{
    std::string staging, folder;
    if (!stagingInUse(session, macro, staging) || !resolveMacro(session, macro, folder)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    if (!copyOneFile(session.workFolders, name, sourceDir, staging)) return 0;
    const std::string staged = win::join(staging, name);
    if (!prepareStaged(session, win::join(folder, name), staged)) {
        const DWORD error = GetLastError();
        win::deleteFile(staged);
        SetLastError(error ? error : ERROR_ACCESS_DENIED);
        return 0;
    }
    std::vector<std::string>& files = session.macros[macro].files;
    for (const std::string& file : files)
        if (win::sameText(file, name)) return 1;
    files.push_back(name);
    return 1;
}

namespace {

// What one staged file will become at the next start, decided before
// anything is scheduled.
struct StagedMove {
    enum Kind {
        schedule, // source replaces target; longTarget, when set, is its long name
        drop,     // the installed file is newer: the staged one goes now
        fail,     // error says why it cannot be scheduled
    };
    Kind kind = schedule;
    std::string source, target, longTarget;
    DWORD error = 0;
};

// The moves of the files this run staged for one macro. Reads the staging
// folder once (a search for each name would read it once per name) and the
// installed files; changes nothing.
std::vector<StagedMove> planStagedMoves(const UpdateSession& session, const MacroFolder& macro)
{
    const std::string shortStaging = win::shortPath(macro.staging);
    const std::string shortFolder = win::shortPath(macro.folder);
    const bool longNames = !schedulesByShortNames(session.osFamily);
    std::vector<WIN32_FIND_DATAA> entries;
    win::listFolder(macro.staging, entries);
    std::map<std::string, const WIN32_FIND_DATAA*> byName;
    for (const WIN32_FIND_DATAA& entry : entries) byName[win::upperCase(entry.cFileName)] = &entry;
    std::vector<StagedMove> moves;
    // Only what this run copied there: anything else in a staging folder is
    // no file of this update, whoever put it there.
    for (const std::string& staged : macro.files) {
        StagedMove move;
        const auto listed = byName.find(win::upperCase(staged));
        // Without the short folders there is no sound target: "\name" would
        // land at the root of the current drive.
        if (listed == byName.end() || shortStaging.empty() || shortFolder.empty()) {
            move.kind = StagedMove::fail;
            move.source = win::join(macro.staging, staged);
            move.error = listed == byName.end() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
            moves.push_back(move);
            continue;
        }
        const WIN32_FIND_DATAA& entry = *listed->second;
        const std::string name = entry.cFileName, alternate = entry.cAlternateFileName;
        if (!longNames && !alternate.empty() && !win::sameText(alternate, name)) {
            move.source = win::join(shortStaging, alternate);
            move.longTarget = win::join(shortFolder, name);
            move.target = win::shortPath(move.longTarget, MAX_PATH);
            // No installed file, no short name to schedule under.
            if (move.target.empty()) {
                move.kind = StagedMove::fail;
                move.target = move.longTarget;
                move.longTarget.clear();
                move.error = ERROR_FILE_NOT_FOUND;
            }
        } else {
            move.source = win::join(shortStaging, name);
            move.target = win::join(shortFolder, name);
        }
        WIN32_FIND_DATAA installed;
        win::Find current(
            FindFirstFileA((move.longTarget.empty() ? move.target : move.longTarget).c_str(), &installed));
        if (move.kind == StagedMove::schedule && current &&
            CompareFileTime(&entry.ftLastWriteTime, &installed.ftLastWriteTime) < 0)
            move.kind = StagedMove::drop;
        moves.push_back(move);
    }
    return moves;
}

} // namespace

int scheduleStagedFiles(UpdateSession& session, const std::string& macro)
{
    std::string usual, folder;
    if (!stagingDirFor(session, macro, usual) || !resolveMacro(session, macro, folder)) return 0;
    auto place = session.macros.find(macro);
    if (place == session.macros.end() || place->second.staging.empty()) return 1;
    const std::string& staging = place->second.staging;
    RunOutcome& outcome = session.outcome;
    for (const StagedMove& move : planStagedMoves(session, place->second)) {
        if (move.kind == StagedMove::fail) {
            outcome.report(Action::schedule, move.source, win::failure(move.error), move.target);
            continue;
        }
        if (move.kind == StagedMove::drop) {
            outcome.skipped(Action::schedule, move.source, Reason::newerInstalled);
            outcome.report(Action::remove, move.source, win::result(DeleteFileA(move.source.c_str())));
            continue;
        }
        if (!move.longTarget.empty()) {
            const win::Result written = win::status(addLongNameRename(move.target, move.longTarget));
            if (!written.ok)
                outcome.report(Action::write, win::machineName(facts::longNameRenameKey, move.target), written);
        }
        // The 9x family reads its rename list in the OEM code page.
        std::string source = move.source, target = move.target;
        if (session.osFamily == osWindows9x) {
            CharToOemA(&source[0], &source[0]);
            CharToOemA(&target[0], &target[0]);
        }
        outcome.report(Action::schedule, move.source, win::result(scheduleReplace(session, source, &target)),
                       move.target);
    }
    // The emptied staging folder goes at the next start too; a fresh one of
    // this run's own on every NT family, since the cleanup run knows only the
    // usual names.
    if (!schedulesByShortNames(session.osFamily) || (place->second.own && session.osFamily != osWindows9x))
        outcome.report(Action::scheduleDelete, staging, win::result(scheduleReplace(session, staging, nullptr)));
    return 1;
}

int finishStagedFiles(UpdateSession& session)
{
    closeRenameList(session);
    session.renameList = RenameListFile();
    for (const std::string& macro : macroNames(session)) scheduleStagedFiles(session, macro);
    closeRenameList(session);
    return 1;
}
