#pragma once
// The product's facts that are no user text: registry places, file, folder,
// section and value names, used by every room that needs them. The string
// table holds the few the program loads from it (the System key, "InstallDir",
// "Installed", the manifest's name, the macro and section keywords).
namespace facts {

// Registry places under HKEY_LOCAL_MACHINE.
inline constexpr char productKey[] = "Software\\Veltrane\\Corvindale\\CurrentVersion";
inline constexpr char longNameRenameKey[] = "Software\\Veltrane\\Corvindale\\CurrentVersion\\UpdateLFNRename";
inline constexpr char releaseKey[] = "SOFTWARE\\Veltrane\\Corvindale\\10.5.0";
inline constexpr char delayMarkerKey[] = "SOFTWARE\\Veltrane\\Tidewarden\\Clients\\Delay";
inline constexpr char sharedUsageKey[] = "SOFTWARE\\Veltrane\\SharedUsage";
inline constexpr char windowsVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
inline constexpr char runOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr char winLogonKey[] = "SOFTWARE\\MICROSOFT\\WINDOWS NT\\CurrentVersion\\WinLogon";
inline constexpr char hostServiceKey[] = "System\\CurrentControlSet\\Services\\cv_host";

// The run record below productKey, and its values.
inline constexpr char runRecordKey[] = "LastUpdate";
inline constexpr char recordRunValue[] = "Run";
inline constexpr char recordResultValue[] = "Result";
inline constexpr char recordTimeValue[] = "Time";
inline constexpr char recordLogValue[] = "Log";
inline constexpr char recordRestartValue[] = "RestartPending";

// The run kinds, as the log and the record name them.
inline constexpr char installRunKind[] = "install";
inline constexpr char statusRunKind[] = "status";
inline constexpr char cleanupRunKind[] = "cleanup";
inline constexpr char planRunKind[] = "plan";

// One run at a time, of either kind: the name of the mutex each run holds.
// "Global\\" reaches every session from Windows 2000 on; earlier systems
// refuse a backslash in the name.
inline constexpr char runMutexName[] = "Global\\Veltrane.Corvindale.Update";
inline constexpr char runMutexNameNt4[] = "Veltrane.Corvindale.Update";

// Registry value names.
inline constexpr char revisionValue[] = "Revision";
// Below productKey: a new-files folder of a fresh name, for the cleanup run.
inline constexpr char newFilesValue[] = "NewFilesFolder";
inline constexpr char cleanupRunValue[] = "Corvindale Update";
inline constexpr char tidewardenValue[] = "Tidewarden";
inline constexpr char cmsDirValue[] = "CMSDir";
inline constexpr char filesDirectoryValue[] = "FilesDirectory";
inline constexpr char commonFilesValue[] = "CommonFilesDir";
inline constexpr char logonLibraryValue[] = "GinaDLL";
inline constexpr char displayActiveValue[] = "DisplayActiveFlag";

// The manifest's file sections besides the product-and-system one, in the
// order they are installed between.
inline constexpr char commonSection[] = "COMMON";
inline constexpr char hostAdminSection[] = "HOSTADMIN";
inline constexpr char remoteManageSection[] = "REMOTEMANAGE";
inline constexpr char packagerResourcesSection[] = "PACKAGER.RESOURCES";

// The auxiliary setup programs that may come with an update, in the order
// they run, with their arguments.
struct AuxiliaryProgram {
    const char* file;
    const char* arguments;
};
inline constexpr AuxiliaryProgram auxiliaryPrograms[] = {{"kosetup.exe", "-s"}, {"relinst.exe", "/Q Corvindale"}};

// The manifest's section of numbers and its keys.
inline constexpr char numbersSection[] = "TIDEWARDEN";
inline constexpr char fileCountKey[] = "File Count";
inline constexpr char versionMajorKey[] = "Version Major";
inline constexpr char versionMinorKey[] = "Version Minor";
inline constexpr char revisionKey[] = "Revision";

// Files.
inline constexpr char settingsFile[] = "vindale.bin";
inline constexpr char moduleListFile[] = "msm.ini";
inline constexpr char programFile[] = "trevix.exe";
// The system's registration program, in the system folder.
inline constexpr char registrationProgram[] = "REGSVR32.EXE";
inline constexpr char selfDeleteBatchFile[] = "DelUS.bat";
// The cleanup run's copy lives in a fresh folder of its own in the temporary
// folder, named this and eight hexadecimal digits.
inline constexpr char runFolderPrefix[] = "trevix-";
inline constexpr char renameListFile[] = "WinInit.Ini";
// The log every run appends to, in the Windows folder.
inline constexpr char logFile[] = "trevix.log";
inline constexpr char adminComponentFile[] = "cvdadmn.dll";
inline constexpr char managerComponentFile[] = "cvdmgt.exe";
inline constexpr char logonLibraryFile[] = "Vedede.dll";
inline constexpr char mainModuleFile[] = "CVDCOREMAIN.MSM";
inline constexpr char remoteModuleFile[] = "CVDREMOTE.MSM";

// The product's libraries, registered in this order at the cleanup run.
inline constexpr const char* componentLibraries[] = {
    "Legendpane.dll", "Carrymeter.dll", "Cvcarry.dll",  "Cvcarryview.dll", "idiomcore.dll", "rookgate.dll",
    "wrengate.dll",   "larkgate.dll",   "kitegate.dll", "owlgate.dll",     "jaygate.dll",   "terngate.dll",
    "cvdgate.dll",    "swiftgate.dll",  "ibisgate.dll", "finchgate.dll",   "RavenGate.dll",
};

// The command line's words: the cleanup run, the progress display, no
// window at all, no restart question, and the plan alone.
inline constexpr char cleanupSwitch[] = "/cleanup";
inline constexpr char statusSwitch[] = "/status";
inline constexpr char quietSwitch[] = "/quiet";
inline constexpr char noRestartSwitch[] = "/norestart";
inline constexpr char planSwitch[] = "/plan";

// A merge module's cabinet stream, and the working file of that name.
inline constexpr char moduleCabinetStream[] = "MergeModule.CABinet";

// Folders the directory macros name below the system's and the product's.
inline constexpr char systemSubfolder[] = "System32";
inline constexpr char driversSubfolder[] = "Drivers";
inline constexpr char sharedSubfolder[] = "Veltrane Shared";
inline constexpr char resourcesSubfolder[] = "Resources";
inline constexpr char languageSubfolder[] = "0000";

// Folders below the product folder.
inline constexpr char packagerFolder[] = "Packager";
inline constexpr char mergeModulesFolder[] = "Merge Modules";
inline constexpr char newFilesFolder[] = "NewFiles";
inline constexpr char extractionFolder[] = "Extracted";

} // namespace facts
