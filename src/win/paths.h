#pragma once
// Paths: the system's folders, short forms, and the rules that tell a path
// that stays where it should from one that could lead anywhere.
#include <windows.h>

#include <string>

namespace win {

// System-folder and registry texts are read into buffers of this many bytes.
constexpr DWORD machineTextSize = 261;

// The Windows and the system folder without trailing backslashes (a root
// gives "C:"); empty when it cannot be obtained or does not fit machineTextSize.
std::string windowsFolder();
std::string systemFolder();

// name in folder: the one way paths are joined. A folder that ends with a
// backslash (a root, "C:\\") gets none added; an empty folder gives name.
std::string join(const std::string& folder, const std::string& name);

// The root of the drive or share path lies on, with its backslash ("C:\\",
// "\\\\server\\share\\"); empty for a path that is not absolute.
std::string driveRoot(const std::string& path);

// The short (8.3) form of an existing path, however long; empty when there is
// none or it does not fit bufferSize bytes.
std::string shortPath(const std::string& path, DWORD bufferSize = machineTextSize);

// A path that names the same place from every current folder and drive: a
// drive letter, a colon and a backslash ("C:\\"), or a UNC path ("\\\\server\\share").
bool isAbsolutePath(const std::string& path);

// A name that stays inside the folder it is joined to: not empty, no folder
// part or drive (backslash, slash, colon; double-byte aware), not made only of
// dots and blanks (Windows drops those, "..." names the folder itself), and no
// device name ("CON", "lpt1.txt"), which exists in every folder.
bool isPlainFileName(const std::string& name);

} // namespace win
