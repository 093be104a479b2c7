#include "install/directory_macros.h"

#include <windows.h>

#include "res/resource.h"
#include "session/detection.h"
#include "session/outcome.h"
#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/paths.h"
#include "win/security.h"
#include "win/text.h"

namespace {

// Where a macro's folder starts.
enum class Base {
    product, // the product folder
    windows, // the Windows folder
    system,  // the system folder
    registry,
    productRegistry, // a value of the product's System key (a string-table entry)
};

// One macro: its name in the string table and in the session, where its
// folder comes from, and the sub-folders below that.
struct MacroRule {
    UINT nameId;
    std::string UpdateSession::*name;
    Base base;
    const char* key;   // Base::registry: the key below HKEY_LOCAL_MACHINE
    const char* value; // a registry base: the value ("" the default one)
    const char* subfolders[3];
};

// In the order the manifest's macros are handled.
const MacroRule rules[] = {
    {IDS_MACRO_PROGDIR, &UpdateSession::macroProgDir, Base::product, nullptr, nullptr, {}},
    {IDS_MACRO_WINDIR, &UpdateSession::macroWinDir, Base::windows, nullptr, nullptr, {}},
    {IDS_MACRO_SYSDIR, &UpdateSession::macroSysDir, Base::system, nullptr, nullptr, {}},
    {IDS_MACRO_VELDIR, &UpdateSession::macroVelDir, Base::registry, facts::sharedUsageKey, "", {}},
    {IDS_MACRO_TWDIR, &UpdateSession::macroTwDir, Base::registry, facts::sharedUsageKey, facts::tidewardenValue, {}},
    {IDS_MACRO_DRVDIR,
     &UpdateSession::macroDrvDir,
     Base::windows,
     nullptr,
     nullptr,
     {facts::systemSubfolder, facts::driversSubfolder}},
    {IDS_MACRO_CMSDIR, &UpdateSession::macroCmsDir, Base::productRegistry, nullptr, facts::cmsDirValue, {}},
    {IDS_MACRO_DATADIR, &UpdateSession::macroDataDir, Base::productRegistry, nullptr, facts::filesDirectoryValue, {}},
    {IDS_MACRO_VELSHARED,
     &UpdateSession::macroVelShared,
     Base::registry,
     facts::windowsVersionKey,
     facts::commonFilesValue,
     {facts::sharedSubfolder}},
    {IDS_MACRO_MERGEMODULESDIR,
     &UpdateSession::macroMergeModulesDir,
     Base::product,
     nullptr,
     nullptr,
     {facts::packagerFolder, facts::mergeModulesFolder}},
    {IDS_MACRO_MERGEMODULESENGDIR,
     &UpdateSession::macroMergeModulesEngDir,
     Base::product,
     nullptr,
     nullptr,
     {facts::packagerFolder, facts::mergeModulesFolder, facts::languageSubfolder}},
    {IDS_MACRO_PACKAGERRESDIR,
     &UpdateSession::macroPackagerResDir,
     Base::product,
     nullptr,
     nullptr,
     {facts::packagerFolder, facts::resourcesSubfolder, facts::languageSubfolder}},
};

// The folder a rule gives on this machine; empty when it gives none, which
// keeps files away from the root of the current drive.
std::string folderByRule(const UpdateSession& session, const MacroRule& rule)
{
    std::string folder;
    switch (rule.base) {
    case Base::product:
        folder = session.productDir;
        break;
    case Base::windows:
        folder = win::windowsFolder();
        break;
    case Base::system:
        folder = win::systemFolder();
        break;
    case Base::registry:
        readMachineFolder(rule.key, rule.value, folder);
        break;
    case Base::productRegistry:
        readMachineFolder(win::loadText(IDS_KEY_SYSTEM), rule.value, folder);
        break;
    }
    if (folder.empty()) return folder;
    for (const char* subfolder : rule.subfolders)
        if (subfolder) folder = win::join(folder, subfolder);
    win::stripTrailingBackslashes(folder);
    return folder;
}

// A bare drive ("C:") names the root: "C:.tmp" would be relative to the
// drive's current folder.
std::string usualStagingOf(const std::string& folder)
{
    return folder.size() == 2 && folder[1] == ':' ? folder + "\\.tmp" : folder + ".tmp";
}

const MacroFolder* findMacro(const UpdateSession& session, const std::string& name)
{
    // Unset macro names must not turn an empty value into a folder.
    if (name.empty()) return nullptr;
    auto found = session.macros.find(name);
    return found == session.macros.end() || found->second.folder.empty() ? nullptr : &found->second;
}

} // namespace

void resolveMacros(UpdateSession& session)
{
    session.macros.clear();
    for (const MacroRule& rule : rules) {
        std::string& name = session.*rule.name;
        name = win::loadText(rule.nameId);
        MacroFolder& macro = session.macros[name];
        macro.folder = folderByRule(session, rule);
        if (!macro.folder.empty()) macro.usualStaging = usualStagingOf(macro.folder);
    }
}

std::vector<std::string> macroNames(const UpdateSession& session)
{
    std::vector<std::string> names;
    for (const MacroRule& rule : rules) names.push_back(session.*rule.name);
    return names;
}

int resolveMacro(const UpdateSession& session, const std::string& name, std::string& folder)
{
    const MacroFolder* macro = findMacro(session, name);
    if (!macro) return 0;
    folder = macro->folder;
    return 1;
}

int stagingDirFor(const UpdateSession& session, const std::string& name, std::string& folder)
{
    const MacroFolder* macro = findMacro(session, name);
    if (!macro) return 0;
    folder = macro->usualStaging;
    return 1;
}

int prepareStagingDirs(UpdateSession& session, int mode)
{
    int result = 1;
    for (const std::string& name : macroNames(session)) {
        std::string staging;
        // A macro that does not resolve has no staging folder to create or
        // remove; acting on a half-formed path could touch a folder at the root.
        if (!stagingDirFor(session, name, staging)) {
            result = 0;
            continue;
        }
        if (mode == stagingRemove) {
            if (RemoveDirectoryA(staging.c_str())) {
                session.outcome.report(Action::removeFolder, staging, {});
            } else {
                result = 0;
                if (GetLastError() == ERROR_DIR_NOT_EMPTY)
                    session.outcome.skipped(Action::removeFolder, staging, Reason::notEmpty);
            }
            continue;
        }
        MacroFolder& macro = session.macros[name];
        if (macro.decided) continue;
        macro.decided = true;
        // Anyone may make a folder at a drive's root (C:\WINDOWS.tmp): one this
        // run did not make is used only once it is private, and one that
        // cannot be made so (a link, a file, another user's) is left alone.
        const win::RunFolder folder = win::takeFolder(staging, win::FolderAccess::administrators);
        macro.staging = folder.path;
        macro.own = folder.fresh;
        if (folder.fresh) session.outcome.skipped(Action::use, staging, Reason::notTrusted);
        if (folder.made) session.outcome.report(Action::createFolder, folder.path, {});
        if (macro.staging.empty()) result = 0;
    }
    return result;
}

int stagingInUse(const UpdateSession& session, const std::string& macro, std::string& folder)
{
    auto found = session.macros.find(macro);
    if (found == session.macros.end() || found->second.staging.empty()) return 0;
    folder = found->second.staging;
    return 1;
}
