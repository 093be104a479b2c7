#pragma once
// Folders that only administrators and the system may use. Both programs run
// with administrator rights: a folder another user can write to, or a link
// another user put at its name, must never receive what they install.
// The 9x family has no access control: there any real folder is as private
// as it gets.
#include <string>

namespace win {

// Creates a new folder (an existing one fails) that only administrators and
// the system may use; what is put into it inherits that, and nothing is
// inherited from the folder above.
bool createPrivateFolder(const std::string& path);

// A new private folder named prefix and eight hexadecimal digits; its path,
// or empty when none could be made.
std::string createFreshPrivateFolder(const std::string& prefix);

// Makes an existing folder private when it can be trusted: a real folder (no
// link), owned by the administrators, the system or the user this program
// runs as. false, and nothing changed, when it cannot.
bool makeFolderPrivate(const std::string& path);

} // namespace win
