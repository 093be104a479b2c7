#include "install/file_replacement.h"

#include <windows.h>

#include <cstring>
#include <string_view>

#include "install/directory_macros.h"
#include "session/detection.h"
#include "session/update_session.h"
#include "win/unique.h"

namespace {

const char* const longNameKey = "Software\\Veltrane\\Corvindale\\CurrentVersion\\UpdateLFNRename";
const char* const addedHeader = "[Rename]\r\n";
// Headers the system accepts, looked for in this order.
const char* const knownHeaders[] = {"[Rename]\r\n", "[rename]\r\n", "[RENAME]\r\n"};

void defaultPause(unsigned long milliseconds) { Sleep(milliseconds); }
void defaultAlert(unsigned int type) { MessageBeep(type); }

std::string shortPathOf(const std::string& path, DWORD size)
{
    std::string buffer(size, '\0');
    DWORD length = GetShortPathNameA(path.c_str(), &buffer[0], size);
    if (length == 0 || length >= size) return std::string();
    buffer.resize(length);
    return buffer;
}

std::string windowsFolder()
{
    char buffer[MAX_PATH] = {};
    UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    std::string text(buffer, length);
    while (!text.empty() && text.back() == '\\') text.pop_back();
    return text;
}

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
int openRenameList(UpdateSession& session)
{
    session.renameOpen = true;
    const std::string windows = windowsFolder();
    if (windows.empty()) return 0;
    const std::string path = windows + "\\WinInit.Ini";
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
    session.renameFile.reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_ALWAYS, flags, nullptr));
    for (int attempt = 0; !session.renameFile && attempt < renameOpenRetries; ++attempt) {
        renameListWaits().pause(1000);
        session.renameFile.reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_ALWAYS, flags | FILE_FLAG_WRITE_THROUGH, nullptr));
    }
    if (!session.renameFile) {
        renameListWaits().alert(1);
        return 0;
    }
    DWORD high = 0;
    const DWORD size = GetFileSize(session.renameFile.get(), &high);
    if ((size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 ||
        size > 0xFFFFFFFFul - renameSpare) {
        session.renameFile.reset();
        return 0;
    }
    session.renameLength = size;
    session.renameCapacity = size + renameSpare;
    // CreateFileMappingA fails with null, not INVALID_HANDLE_VALUE. The
    // mapping grows the file to its size.
    session.renameMapping.reset(CreateFileMappingA(session.renameFile.get(), nullptr, PAGE_READWRITE, 0,
                                                   session.renameCapacity, nullptr));
    if (session.renameMapping)
        session.renameView.reset(MapViewOfFile(session.renameMapping.get(), FILE_MAP_WRITE, 0, 0, 0));
    if (!session.renameView) {
        // Leave the file as it was, not grown by the spare space.
        session.renameMapping.reset();
        SetFilePointer(session.renameFile.get(), static_cast<LONG>(size), nullptr, FILE_BEGIN);
        SetEndOfFile(session.renameFile.get());
        session.renameFile.reset();
        return 0;
    }
    return 1;
}

} // namespace

RenameListWaits& renameListWaits()
{
    static RenameListWaits waits = {defaultPause, defaultAlert};
    return waits;
}

int copyOneFile(const std::string& name, const std::string& sourceDir, const std::string& targetDir)
{
    const std::string source = sourceDir + "\\" + name;
    const std::string target = targetDir + "\\" + name;
    return CopyFileA(source.c_str(), target.c_str(), FALSE) ? 1 : 0;
}

void closeRenameList(UpdateSession& session)
{
    if (!session.renameFile) return;
    session.renameView.reset();
    session.renameMapping.reset();
    SetFilePointer(session.renameFile.get(), static_cast<LONG>(session.renameLength), nullptr, FILE_BEGIN);
    SetEndOfFile(session.renameFile.get());
    session.renameFile.reset();
    session.renameOpen = false;
}

int addRenameLine(UpdateSession& session, const std::string& source, const std::string* target)
{
    const std::string line = (target ? *target : std::string("NUL")) + "=" + source + "\r\n";
    if (line.size() >= renameLineSize) return 0;
    if (!session.renameOpen && !openRenameList(session)) return 0;
    if (!session.renameView) return 0;

    if (!session.renameSectionKnown) {
        std::string_view text(static_cast<const char*>(session.renameView.get()), session.renameLength);
        session.renameSectionKnown = findHeader(text, session.renameSection);
    }
    std::string header;
    if (!session.renameSectionKnown) {
        // Text that does not end with a line break would swallow the header.
        const char* text = static_cast<const char*>(session.renameView.get());
        if (session.renameLength > 0 && text[session.renameLength - 1] != '\n') header = "\r\n";
        header += addedHeader;
    }
    if (session.renameCapacity - session.renameLength < header.size() + line.size()) {
        // Re-open with fresh spare space; the section position is an offset
        // and stays valid.
        closeRenameList(session);
        if (!openRenameList(session)) return 0;
    }

    char* text = static_cast<char*>(session.renameView.get());
    unsigned long insertion = session.renameLength;
    if (!session.renameSectionKnown) {
        std::memcpy(text + session.renameLength, header.data(), header.size());
        session.renameLength += static_cast<unsigned long>(header.size());
        session.renameSection = session.renameLength - static_cast<unsigned long>(std::strlen(addedHeader));
        session.renameSectionKnown = true;
        insertion = session.renameLength;
    } else {
        const void* lineFeed = std::memchr(text + session.renameSection, '\n',
                                           session.renameLength - session.renameSection);
        if (lineFeed) insertion = static_cast<unsigned long>(static_cast<const char*>(lineFeed) - text) + 1;
        std::memmove(text + insertion + line.size(), text + insertion, session.renameLength - insertion);
    }
    std::memcpy(text + insertion, line.data(), line.size());
    session.renameLength += static_cast<unsigned long>(line.size());
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
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, longNameKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
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
    const std::string shortStaging = shortPathOf(staging, machineTextSize);
    const std::string shortFolder = shortPathOf(folder, machineTextSize);
    const bool longNames = session.osFamily == osWinNt40 || session.osFamily == osWin2000 ||
                           session.osFamily == osWindowsXp;

    WIN32_FIND_DATAA entry;
    win::Find search(FindFirstFileA((staging + sep + "*.*").c_str(), &entry));
    // Without the short folders there is no sound target: "\name" would land
    // at the root of the current drive.
    if (search && !shortStaging.empty() && !shortFolder.empty()) {
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            const std::string name = entry.cFileName;
            const std::string alternate = entry.cAlternateFileName;
            std::string source, target, longTarget;
            if (!longNames && !alternate.empty() && lstrcmpiA(alternate.c_str(), name.c_str()) != 0) {
                source = shortStaging + sep + alternate;
                longTarget = shortFolder + sep + name;
                target = shortPathOf(longTarget, MAX_PATH);
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
        } while (FindNextFileA(search.get(), &entry));
    }
    search.reset();
    // The emptied staging folder goes at the next start too.
    if (longNames) scheduleReplace(session, staging, nullptr);
    return 1;
}

int finishStagedFiles(UpdateSession& session)
{
    closeRenameList(session);
    session.renameOpen = false;
    session.renameSectionKnown = false;
    session.renameSection = 0;
    session.renameLength = 0;
    session.renameCapacity = 0;
    for (const std::string& macro : macroNames(session)) scheduleStagedFiles(session, macro);
    closeRenameList(session);
    return 1;
}
