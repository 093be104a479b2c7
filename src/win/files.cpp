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

// Where copyOver makes its copies: one private folder inside each target
// folder, holding the copy under way and, on Windows 9x, the old file set
// aside under its own name. A new name costs a scan of its folder under Wine,
// which a folder of thousands of files makes dear; the work folder holds one
// file at a time.
const char* const workFolderName = "~trvwork";
const char* const copyName = "~trevix.new";

// A work folder a killed run left: an old file set aside goes back where its
// own file is missing, everything else of ours goes.
void recoverWorkFolder(const std::string& work, const std::string& folder)
{
    std::vector<WIN32_FIND_DATAA> entries;
    listFolder(work, entries);
    for (const WIN32_FIND_DATAA& entry : entries) {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string name = entry.cFileName, path = join(work, name), original = join(folder, name);
        if (name == copyName || fileExists(original) || !MoveFileA(path.c_str(), original.c_str())) deleteFile(path);
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
    std::string work = join(base, workFolderName);
    // A folder of that name that this program can trust is a killed run's;
    // anything else there (a link, another user's) is left alone.
    if (!createPrivateFolder(work)) {
        if (makeFolderPrivate(work))
            recoverWorkFolder(work, folder);
        else
            work = createFreshPrivateFolder(work + "-");
    }
    if (!work.empty()) folders_[folder] = work;
    return work;
}

void WorkFolders::removeAll()
{
    for (const auto& made : folders_) {
        emptyFolder(made.second);
        RemoveDirectoryA(made.second.c_str());
    }
    folders_.clear();
}

namespace {

// Whether a replacement may be moved over target: it is missing, a link
// (the move replaces the link itself), or a file that is not read-only. A
// file in use is left to the move, which the system refuses for it.
bool replaceable(const std::string& target)
{
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || isLink(attributes)) return true;
    if (!(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) return true;
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

// Moves source over target; where the system has no replacing move (Windows
// 9x), the old target waits at aside while source moves in.
bool moveInto(const std::string& source, const std::string& target, const std::string& aside)
{
    if (MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    // Only the 9x family lacks the replacing move; elsewhere a failure stands.
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
    if (!fileExists(target)) return MoveFileA(source.c_str(), target.c_str()) != 0;
    DeleteFileA(aside.c_str());
    if (!MoveFileA(target.c_str(), aside.c_str())) return false;
    if (!MoveFileA(source.c_str(), target.c_str())) {
        // The old file stays aside when it cannot go back: never lose the last copy.
        MoveFileA(aside.c_str(), target.c_str());
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
    if (!replaceable(target)) return false;
    bool written = write(temporary);
    // What a failed copy left is made anew rather than written into.
    if (!written && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) &&
        DeleteFileA(temporary.c_str()))
        written = write(temporary);
    if (written && moveInto(temporary, target, work + target.substr(folderOf(target).size()))) return true;
    const DWORD error = GetLastError();
    if (written) DeleteFileA(temporary.c_str());
    SetLastError(error);
    return false;
}

} // namespace

bool moveOver(const std::string& source, const std::string& target)
{
    return replaceable(target) && moveInto(source, target, asideName(source));
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
