#pragma once
#include <string>

struct UpdateSession;

// Operating-system family codes.
enum OsFamily : unsigned long {
    osOther = 0,
    osWindows9x = 1,
    osWinNt40 = 2,
    osWinNt351 = 3,
    osWin2000 = 4,
    osWindowsXp = 5,
};

// Fills paths, macro names and flags of the session. 1 when both the install
// folder and the program folder were found.
int initialiseEnvironment(UpdateSession& session);

// 1 when the product's "Installed" value holds exactly the text "1".
int isProductInstalled();

// The family code of the running system; same answer on every call.
unsigned long detectOsFamily();

// The keyword that names a family's manifest sections ("WINDOWSXP"); empty
// for family 0.
std::string familyKeyword(unsigned long osFamily);

// Reads an HKLM text value (at most 260 characters, any registry type) and
// drops one trailing backslash. out changes only on success.
int readMachineString(const std::string& key, const std::string& value, std::string& out);

// readMachineString for a folder: only an absolute path counts (a drive letter,
// a colon and a backslash, or a UNC path); anything else, an empty text
// included, is a missing value. Every folder read from the registry goes
// through here: a relative one would name a folder below whatever the current
// folder happens to be.
int readMachineFolder(const std::string& key, const std::string& value, std::string& out);

// The running program's folder without a trailing backslash.
int findProgramDir(std::string& out);

// 1 when the merge-modules folder exists (even when empty).
int findMergeModules(UpdateSession& session);
