#pragma once
// The step that puts the update's files in place, and the new-files folder
// that keeps a copy of them for the merge-module patching of the cleanup run.
// It carries out the install run's plan (install/install_plan.h).
#include <string>

#include "install/install_plan.h"

struct UpdateSession;

// The product-and-system section: product keyword (type 1 to 4, else empty),
// ".", system keyword (family 1 to 5, else empty).
std::string productSectionName(int productType, unsigned long osFamily);

// Runs the auxiliary programs, makes the staging folders, installs the
// entries of the five sections in their order and stages the settings file
// with the new version. Always 1.
int installUpdateFiles(UpdateSession& session, const InstallPlan& plan);

// 1 when the product folder holds cvdadmn.dll (cvdmgt.exe respectively).
int hasAdminComponent(UpdateSession& session);
int hasManagerComponent(UpdateSession& session);

// Makes the new-files folder as a staging folder: private when this run
// makes it; an existing one used only when it is a real folder of a trusted
// owner; else a fresh one beside it, recorded under the product's key for the
// cleanup run (a rerun before the restart takes that one again). Sets
// newFilesDir to the folder used; 0 when there is none.
int createNewFilesDir(UpdateSession& session);
// Cleanup run: sets newFilesDir to the folder the install run used, when it
// is there and can be trusted. 0 when there is none to patch from.
int findNewFilesDir(UpdateSession& session);
// Copies the files the plan names from programDir into newFilesDir. 0 when
// there is no new-files folder.
int copyProgramDirToNewFiles(UpdateSession& session, const InstallPlan& plan);
// Deletes the files of newFilesDir (read-only ones too) and the folder, and
// the record of a fresh one. The result of removing the folder; 0 when it
// cannot be listed.
int deleteNewFilesDir(UpdateSession& session);
