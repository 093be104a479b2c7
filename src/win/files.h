#pragma once
// Files and folders: their queries, and the actions on them that every
// subsystem needs (whole copies, moves, listings that never enter a link).
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace win {

// 1 when path names an existing file or folder. An attribute query, not a
// search: a name holding wildcards matches nothing, and a folder of thousands
// of files is not scanned for each test.
int fileExists(const std::string& path);

// Whether attributes (of GetFileAttributesA or a folder listing) are those of
// a link: a junction or symbolic link can point anywhere, the system folder
// included, so nothing behind one is ever entered, emptied, deleted, copied
// or scheduled.
bool isLink(DWORD attributes);

// The entries of folder but ".", ".." and links, read whole before the caller
// acts on them. false when the folder cannot be listed or is itself a link.
bool listFolder(const std::string& folder, std::vector<WIN32_FIND_DATAA>& entries);

// The bytes a caller may still write on the drive whose root is given
// (quotas counted), and its cluster size. false when the drive cannot tell.
bool freeSpace(const std::string& root, unsigned long long& bytes, DWORD& cluster);

// Clears a file's read-only attribute, its others kept. true when it had one
// and it went.
bool clearReadOnly(const std::string& path);

// Deletes a file, clearing its read-only attribute when that is what stops
// it. true when it was deleted.
bool deleteFile(const std::string& path);

// Deletes every file of folder (as listFolder sees it); sub-folders stay.
// false when it cannot be listed.
bool emptyFolder(const std::string& folder);

// Moves source over target, replacing it; where the system has no replacing
// move (Windows 9x) the old target is set aside and put back on failure. The
// new file takes the old one's access list and read-only attribute. A target
// that is a folder or in use (open without sharing) stays as it is.
bool moveOver(const std::string& source, const std::string& target);

// After a moveOver that was cut off between setting the old target aside and
// moving source in (Windows 9x only): puts the old target back.
void finishMoveOver(const std::string& source, const std::string& target);

// The work folders of one run: one folder inside each target folder that
// copyOver and replaceFile write their new files in, taking what that folder
// hands down; made on first use and removed when the object goes (an old file
// set aside on 9x that could not go back stays, never lost). A killed run's
// are taken over by the next run that copies there.
class WorkFolders {
public:
    WorkFolders() = default;
    ~WorkFolders() { removeAll(); }
    WorkFolders(const WorkFolders&) = delete;
    WorkFolders& operator=(const WorkFolders&) = delete;

    // The work folder for the folder of target; empty when none can be made.
    std::string folderFor(const std::string& target);
    // Removes every work folder made so far: the end of the copies.
    void removeAll();
    // The access list that a work folder hands down to each new file in it,
    // once known (empty until then).
    std::vector<DWORD>& handedDown(const std::string& work) { return handedDown_[work]; }

private:
    std::map<std::string, std::string> folders_;           // by target folder
    std::map<std::string, std::vector<DWORD>> handedDown_; // by work folder
};

// Copies source over target whole or not at all: a full drive or a failed
// read never leaves target cut or gone. The copy is made as a new file in
// the work folder of target's folder, never written into a file that was
// there, then moved over target as moveOver does; a link at target is
// replaced, never written through. Fails for a target in use.
bool copyOver(WorkFolders& work, const std::string& source, const std::string& target);

// copyOver for data held in memory; the new file reaches the disk before it
// replaces target.
bool replaceFile(WorkFolders& work, const std::string& target, const void* data, DWORD size);

} // namespace win
