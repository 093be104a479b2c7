#pragma once
// The step that puts the update's files in place, and the new-files folder
// that keeps a copy of them for the merge-module patching of the cleanup run.
#include <string>

struct UpdateSession;

// The product-and-system section: product keyword (type 1 to 4, else empty),
// ".", system keyword (family 1 to 5, else empty).
std::string productSectionName(int productType, unsigned long osFamily);

// Runs the auxiliary programs, installs the five file sections in their
// order and stages the settings file with the new version. Always 1.
int installUpdateFiles(UpdateSession& session);

// 1 when the product folder holds cvdadmn.dll (cvdmgt.exe respectively).
int hasAdminComponent(UpdateSession& session);
int hasManagerComponent(UpdateSession& session);

// CreateDirectoryA on newFilesDir; its result.
int createNewFilesDir(UpdateSession& session);
// Copies every file of programDir into newFilesDir. 0 when programDir cannot
// be listed.
int copyProgramDirToNewFiles(UpdateSession& session);
// Deletes the files of newFilesDir (read-only ones too) and the folder. The
// result of removing the folder; 0 when it cannot be listed.
int deleteNewFilesDir(UpdateSession& session);
