#include "win/files.h"

#include <map>

#include "win/paths.h"
#include "win/security.h"
#include "win/text.h"
#include "win/unique.h"

namespace win {

namespace {

// Where moveOver sets the old target aside.
std::string asideName(const std::string& source) { return source + ".old"; }

} // namespace

int fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ? 1 : 0; }

bool isLink(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool listFolder(const std::string& folder, std::vector<WIN32_FIND_DATAA>& entries)
{
    entries.clear();
    // An empty folder text would list the root of the current drive.
    if (folder.empty() || isLink(GetFileAttributesA(folder.c_str()))) return false;
    WIN32_FIND_DATAA entry;
    Find search(FindFirstFileA(join(folder, "*.*").c_str(), &entry));
    if (!search) return false;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != ".." && !isLink(entry.dwFileAttributes)) entries.push_back(entry);
    } while (FindNextFileA(search.get(), &entry));
    return true;
}

bool freeSpace(const std::string& root, unsigned long long& bytes, DWORD& cluster)
{
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    ULARGE_INTEGER available = {}, total = {}, free = {};
    if (!GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters) ||
        !GetDiskFreeSpaceExA(root.c_str(), &available, &total, &free))
        return false;
    bytes = available.QuadPart;
    cluster = sectorsPerCluster * bytesPerSector;
    return true;
}

bool clearReadOnly(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
           SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

bool deleteFile(const std::string& path)
{
    if (DeleteFileA(path.c_str())) return true;
    return GetLastError() == ERROR_ACCESS_DENIED && clearReadOnly(path) && DeleteFileA(path.c_str());
}

bool emptyFolder(const std::string& folder)
{
    std::vector<WIN32_FIND_DATAA> entries;
    if (!listFolder(folder, entries)) return false;
    for (const WIN32_FIND_DATAA& entry : entries)
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) deleteFile(join(folder, entry.cFileName));
    return true;
}

namespace {

// Where copyOver makes its copies: one folder inside each target folder,
// holding the copy under way and, on Windows 9x, the old file set aside under
// its own name. It takes what its folder hands down, so that a new file moved
// from it has the access list it would have had if written in place; only
// those who could replace the target anyway can write there. A new name costs
// a scan of its folder under Wine, which a folder of thousands of files makes
// dear; the work folder holds one file at a time.
const char* const workFolderName = "~trvwork";
const char* const copyName = "~trevix.new";

// What a run left in a work folder: an old file set aside goes back where its
// own file is missing, and stays when it cannot (the last copy of an
// installed file is never deleted); the rest of ours goes.
void recoverWorkFolder(const std::string& work, const std::string& folder)
{
    std::vector<WIN32_FIND_DATAA> entries;
    listFolder(work, entries);
    for (const WIN32_FIND_DATAA& entry : entries) {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string name = entry.cFileName, path = join(work, name), original = join(folder, name);
        if (name == copyName || fileExists(original))
            deleteFile(path);
        else
            MoveFileA(path.c_str(), original.c_str());
    }
}

} // namespace

std::string WorkFolders::folderFor(const std::string& target)
{
    std::string folder = folderOf(target);
    if (folder.empty()) return std::string();
    auto known = folders_.find(folder);
    if (known != folders_.end()) return known->second;
    // The copy's path must fit, and on 9x the target's name beside it.
    std::string base = folder;
    const size_t name = target.size() - folder.size() - 1, room = 1 + lstrlenA(workFolderName) + 1 + 12;
    if (base.size() + room + (name > 12 ? name : 0) >= MAX_PATH) base = shortPath(folder);
    if (base.empty()) return std::string();
    // A folder of that name that this program can trust is a killed run's;
    // anything else there (a link, another user's) is left alone.
    const RunFolder work = takeFolder(join(base, workFolderName), FolderAccess::inherited);
    if (!work.made && !work.path.empty()) recoverWorkFolder(work.path, folder);
    if (!work.path.empty()) folders_[folder] = work.path;
    return work.path;
}

void WorkFolders::removeAll()
{
    for (const auto& made : folders_) {
        recoverWorkFolder(made.second, made.first);
        RemoveDirectoryA(made.second.c_str());
    }
    folders_.clear();
    handedDown_.clear();
}

namespace {

// Moves source over target, whose attributes are given; where the system has
// no replacing move (Windows 9x), the old target waits at aside while source
// moves in. The new file takes the old one's access list and read-only
// attribute; a folder at target is never replaced, and a file in use is
// refused by the move itself.
bool moveInto(const std::string& source, const std::string& target, const std::string& aside, DWORD attributes,
              std::vector<DWORD>* handedDown)
{
    const bool installed = attributes != INVALID_FILE_ATTRIBUTES && !isLink(attributes);
    if (installed && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // Written in a folder of its own, the new file would keep that folder's
    // access list wherever it is moved.
    if (installed && !copyAccessList(target, source, handedDown)) return false;
    const bool readOnly = installed && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) {
        const DWORD sourceAttributes = GetFileAttributesA(source.c_str());
        if (sourceAttributes == INVALID_FILE_ATTRIBUTES ||
            !SetFileAttributesA(source.c_str(), sourceAttributes | FILE_ATTRIBUTE_READONLY) ||
            !SetFileAttributesA(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
            return false;
    }
    auto putBack = [&] {
        const DWORD error = GetLastError();
        if (readOnly) SetFileAttributesA(target.c_str(), attributes);
        SetLastError(error);
        return false;
    };
    if (MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    // Only the 9x family lacks the replacing move; elsewhere a failure stands.
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return putBack();
    if (!fileExists(target)) return MoveFileA(source.c_str(), target.c_str()) != 0;
    DeleteFileA(aside.c_str());
    if (!MoveFileA(target.c_str(), aside.c_str())) return putBack();
    if (!MoveFileA(source.c_str(), target.c_str())) {
        // The old file stays aside when it cannot go back: never lose the last copy.
        const DWORD error = GetLastError();
        if (MoveFileA(aside.c_str(), target.c_str())) putBack();
        SetLastError(error);
        return false;
    }
    DeleteFileA(aside.c_str());
    return true;
}

// The whole-or-nothing replacement: write makes the new file at the path it
// is given, failing when something is there already.
template <typename Write>
bool replaceWhole(WorkFolders& folders, const std::string& target, Write write)
{
    const std::string work = folders.folderFor(target);
    if (work.empty()) return false;
    const std::string temporary = join(work, copyName);
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) && !isLink(attributes)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    bool written = write(temporary);
    // What a failed copy left is made anew rather than written into.
    if (!written && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) &&
        DeleteFileA(temporary.c_str()))
        written = write(temporary);
    // The attributes read before the copy serve the move: one query a file.
    if (written && moveInto(temporary, target, work + target.substr(folderOf(target).size()), attributes,
                            &folders.handedDown(work)))
        return true;
    const DWORD error = GetLastError();
    if (written) deleteFile(temporary);
    SetLastError(error);
    return false;
}

} // namespace

bool moveOver(const std::string& source, const std::string& target)
{
    return moveInto(source, target, asideName(source), GetFileAttributesA(target.c_str()), nullptr);
}

void finishMoveOver(const std::string& source, const std::string& target)
{
    if (!fileExists(target)) MoveFileA(asideName(source).c_str(), target.c_str());
}

bool copyOver(WorkFolders& work, const std::string& source, const std::string& target)
{
    return replaceWhole(work, target, [&](const std::string& temporary) {
        if (CopyFileA(source.c_str(), temporary.c_str(), TRUE)) return true;
        // A copy cut off by a full drive is no file of ours to keep.
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) DeleteFileA(temporary.c_str());
        SetLastError(error);
        return false;
    });
}

bool replaceFile(WorkFolders& work, const std::string& target, const void* data, DWORD size)
{
    return replaceWhole(work, target, [&](const std::string& temporary) {
        File file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
        if (!file) return false;
        DWORD written = 0;
        if (WriteFile(file.get(), data, size, &written, nullptr) && written == size && FlushFileBuffers(file.get()))
            return true;
        const DWORD error = GetLastError();
        file.reset();
        DeleteFileA(temporary.c_str());
        SetLastError(error ? error : ERROR_WRITE_FAULT);
        return false;
    });
}

} // namespace win
