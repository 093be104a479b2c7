#pragma once
// Folders and objects that only administrators and the system may use, and
// the access lists of what is installed. Both programs run with administrator
// rights: a folder another user can write to, or a link another user put at
// its name, must never receive what they install; and what they install must
// stay as usable as what it replaces. The 9x family has no access control:
// there any real folder is as private as it gets.
#include <windows.h>

#include <string>
#include <vector>

namespace win {

enum class FolderAccess {
    administrators, // administrators and the system only, nothing taken from the folder above
    inherited,      // what the folder above hands down
};

// A folder of this run.
struct RunFolder {
    std::string path;   // empty when there is none
    bool made = false;  // this run made it
    bool fresh = false; // the name was taken by something untrusted: path is another
};

// A folder at path for this run's own use: made there, else the folder there
// when it is a real folder (no link) owned by the administrators, the system
// or the user this program runs as (made private when access asks for it,
// through one handle of it, so that a link put at its name meanwhile is
// neither followed nor trusted), else a fresh folder named path, "-" and
// eight hexadecimal digits.
RunFolder takeFolder(const std::string& path, FolderAccess access);

// Whether an existing folder is a real folder (no link) owned by the
// administrators, the system or the user this program runs as.
bool isTrustedFolder(const std::string& path);

// A new private folder named prefix and eight hexadecimal digits; its path,
// or empty when none could be made.
std::string createFreshPrivateFolder(const std::string& prefix);

// Whether a kernel object (a mutex another process made) belongs to the
// administrators, the system or this user: ordinary users can make objects
// of any name, even in the global namespace. Always true on 9x.
bool isOwnedByTrusted(HANDLE object);

// CreateMutexA, owned, with an access list that allows only administrators
// and the system.
HANDLE createPrivateMutex(const char* name);

// Gives to the access list of from (a file that to replaces), its
// protection from the folder above included. true on the 9x family.
// handedDown, when given, keeps what the folder of to hands down to every new
// file (read from to the first time): a list equal to it is not written again.
bool copyAccessList(const std::string& from, const std::string& to, std::vector<DWORD>* handedDown = nullptr);

} // namespace win
