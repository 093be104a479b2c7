#include "install/file_replacement.h"

#include <windows.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "install/directory_macros.h"
#include "session/detection.h"
#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"
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

// Opens and maps WinInit.Ini with renameSpare bytes behind its text. Marks the
// list open even when that fails, so that the run does not try again.
int openRenameList(RenameListFile& list)
{
    list.open = true;
    const std::string windows = win::windowsFolder();
    if (windows.empty()) return 0;
    const std::string path = windows + "\\" + facts::renameListFile;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
    list.file.reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_ALWAYS, flags, nullptr));
    for (int attempt = 0; !list.file && attempt < renameOpenRetries; ++attempt) {
        Sleep(1000);
        list.file.reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_ALWAYS, flags | FILE_FLAG_WRITE_THROUGH, nullptr));
    }
    if (!list.file) {
        MessageBeep(1);
        return 0;
    }
    DWORD high = 0;
    const DWORD size = GetFileSize(list.file.get(), &high);
    if ((size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 ||
        size > 0xFFFFFFFFul - renameSpare) {
        list.file.reset();
        return 0;
    }
    list.length = size;
    list.capacity = size + renameSpare;
    // CreateFileMappingA fails with null, not INVALID_HANDLE_VALUE. The
    // mapping grows the file to its size.
    list.mapping.reset(
        CreateFileMappingA(list.file.get(), nullptr, PAGE_READWRITE, 0, list.capacity, nullptr));
    if (list.mapping)
        list.view.reset(MapViewOfFile(list.mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
    if (!list.view) {
        // Leave the file as it was, not grown by the spare space.
        list.mapping.reset();
        SetFilePointer(list.file.get(), static_cast<LONG>(size), nullptr, FILE_BEGIN);
        SetEndOfFile(list.file.get());
        list.file.reset();
        return 0;
    }
    return 1;
}

} // namespace

int copyOneFile(const std::string& name, const std::string& sourceDir, const std::string& targetDir)
{
    const std::string source = sourceDir + "\\" + name;
    const std::string target = targetDir + "\\" + name;
    // Whole or not at all: a full drive must not leave the installed file cut
    // short, nor a cut copy in a staging folder to replace it at the restart.
    return win::copyOver(source, target) ? 1 : 0;
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
    if (line.size() >= renameLineSize) return 0;
    if (!list.open && !openRenameList(list)) return 0;
    if (!list.view) return 0;

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
    if (session.osFamily != osWindows9x &&
        MoveFileExA(source.c_str(), target ? target->c_str() : nullptr,
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
        return 1;
    return addRenameLine(session, source, target);
}

int addLongNameRename(const std::string& shortPath, const std::string& longPath)
{
    win::Key key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, facts::longNameRenameKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return 0;
    return RegSetValueExA(key.get(), shortPath.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(longPath.c_str()),
                          static_cast<DWORD>(longPath.size() + 1)) == ERROR_SUCCESS
               ? 1
               : 0;
}

int scheduleStagedFiles(UpdateSession& session, const std::string& macro)
{
    std::string staging, folder;
    if (!stagingDirFor(session, macro, staging) || !resolveMacro(session, macro, folder)) return 0;
    const std::string& sep = session.pathSeparator;
    const std::string shortStaging = win::shortPath(staging);
    const std::string shortFolder = win::shortPath(folder);
    const bool longNames = session.osFamily == osWinNt40 || session.osFamily == osWin2000 ||
                           session.osFamily == osWindowsXp;

    // A copy cut off by a killed run is no staged file, and would keep the
    // emptied staging folder from going.
    win::removeLeftoverCopies(staging);
    std::vector<WIN32_FIND_DATAA> entries;
    // Without the short folders there is no sound target: "\name" would land
    // at the root of the current drive.
    if (!shortStaging.empty() && !shortFolder.empty()) win::listFolder(staging, entries);
    for (const WIN32_FIND_DATAA& entry : entries) {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string name = entry.cFileName;
        const std::string alternate = entry.cAlternateFileName;
        std::string source, target, longTarget;
        if (!longNames && !alternate.empty() && lstrcmpiA(alternate.c_str(), name.c_str()) != 0) {
            source = shortStaging + sep + alternate;
            longTarget = shortFolder + sep + name;
            target = win::shortPath(longTarget, MAX_PATH);
            // No installed file, no short name to schedule under.
            if (target.empty()) continue;
        } else {
            source = shortStaging + sep + name;
            target = shortFolder + sep + name;
        }
        WIN32_FIND_DATAA installed;
        win::Find found(FindFirstFileA((longTarget.empty() ? target : longTarget).c_str(), &installed));
        if (found && CompareFileTime(&entry.ftLastWriteTime, &installed.ftLastWriteTime) < 0) {
            DeleteFileA(source.c_str());
            continue;
        }
        if (!longTarget.empty()) addLongNameRename(target, longTarget);
        if (session.osFamily == osWindows9x) {
            CharToOemA(&source[0], &source[0]);
            CharToOemA(&target[0], &target[0]);
        }
        scheduleReplace(session, source, &target);
    }
    // The emptied staging folder goes at the next start too.
    if (longNames) scheduleReplace(session, staging, nullptr);
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
