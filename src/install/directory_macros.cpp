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

// A bare drive ("C:") names the root: "C:.tmp" would be relative to the
// drive's current folder.
bool isBareDrive(const std::string& folder) { return folder.size() == 2 && folder[1] == ':'; }

int applyRule(UpdateSession& session, const std::string& name, std::string& folder)
{
    const std::string& sep = session.pathSeparator;
    const std::string packager = session.productDir + sep + facts::packagerFolder + sep;
    std::string text;
    if (name == session.macroProgDir) {
        text = session.productDir;
    } else if (name == session.macroWinDir) {
        text = win::windowsFolder();
    } else if (name == session.macroSysDir) {
        text = win::systemFolder();
    } else if (name == session.macroVelDir) {
        if (!readMachineFolder(facts::sharedUsageKey, "", text)) return 0;
    } else if (name == session.macroTwDir) {
        if (!readMachineFolder(facts::sharedUsageKey, facts::tidewardenValue, text)) return 0;
    } else if (name == session.macroDrvDir) {
        text = win::windowsFolder();
        if (text.empty()) return 0;
        text += sep + facts::systemSubfolder + sep + facts::driversSubfolder;
    } else if (name == session.macroCmsDir) {
        if (!readMachineFolder(win::loadText(IDS_KEY_SYSTEM), facts::cmsDirValue, text)) return 0;
    } else if (name == session.macroDataDir) {
        if (!readMachineFolder(win::loadText(IDS_KEY_SYSTEM), facts::filesDirectoryValue, text)) return 0;
    } else if (name == session.macroVelShared) {
        if (!readMachineFolder(facts::windowsVersionKey, facts::commonFilesValue, text)) return 0;
        if (text.empty() || text.back() != '\\') text += "\\";
        text += facts::sharedSubfolder;
    } else if (name == session.macroMergeModulesDir) {
        if (session.productDir.empty()) return 0;
        text = packager + facts::mergeModulesFolder;
    } else if (name == session.macroMergeModulesEngDir) {
        if (session.productDir.empty()) return 0;
        text = packager + facts::mergeModulesFolder + sep + facts::languageSubfolder;
    } else if (name == session.macroPackagerResDir) {
        if (session.productDir.empty()) return 0;
        text = packager + facts::resourcesSubfolder + sep + facts::languageSubfolder;
    } else {
        return 0;
    }
    win::stripTrailingBackslashes(text);
    // An empty folder would put files at the root of the current drive.
    if (text.empty()) return 0;
    folder = text;
    return 1;
}

} // namespace

std::vector<std::string> macroNames(const UpdateSession& session)
{
    return {session.macroProgDir,
            session.macroWinDir,
            session.macroSysDir,
            session.macroVelDir,
            session.macroTwDir,
            session.macroDrvDir,
            session.macroCmsDir,
            session.macroDataDir,
            session.macroVelShared,
            session.macroMergeModulesDir,
            session.macroMergeModulesEngDir,
            session.macroPackagerResDir};
}

int resolveMacro(UpdateSession& session, const std::string& name, std::string& folder)
{
    // Unset macro fields must not turn an empty value into a folder.
    int result = name.empty() ? 0 : applyRule(session, name, folder);
    win::stripTrailingBackslashes(folder);
    return result;
}

int stagingDirFor(UpdateSession& session, const std::string& name, std::string& folder)
{
    if (!resolveMacro(session, name, folder)) return 0;
    folder += isBareDrive(folder) ? "\\.tmp" : ".tmp";
    return 1;
}

int prepareStagingDirs(UpdateSession& session, int mode)
{
    int result = 1;
    for (const std::string& macro : macroNames(session)) {
        std::string staging;
        // A macro that does not resolve has no staging folder to create or
        // remove; acting on a half-formed path could touch a folder at the root.
        if (!stagingDirFor(session, macro, staging)) {
            result = 0;
            continue;
        }
        if (mode == stagingRemove) {
            if (RemoveDirectoryA(staging.c_str())) {
                session.outcome.done(Action::removeFolder, staging);
            } else {
                result = 0;
                if (GetLastError() == ERROR_DIR_NOT_EMPTY)
                    session.outcome.skipped(Action::removeFolder, staging, Reason::notEmpty);
            }
            continue;
        }
        if (session.staging.count(macro)) continue;
        // Anyone may make a folder at a drive's root (C:\WINDOWS.tmp): one this
        // run did not make is used only once it is private, and one that
        // cannot be made so (a link, a file, another user's) is left alone.
        StagingFolder& place = session.staging[macro];
        if (win::createPrivateFolder(staging)) {
            place.path = staging;
            session.outcome.done(Action::createFolder, staging);
        } else if (win::makeFolderPrivate(staging)) {
            place.path = staging;
        } else {
            place.path = win::createFreshPrivateFolder(staging + "-");
            place.own = true;
            if (!place.path.empty()) session.outcome.done(Action::createFolder, place.path);
        }
        if (place.path.empty()) result = 0;
    }
    return result;
}

int stagingFolderFor(UpdateSession& session, const std::string& macro, std::string& folder)
{
    auto found = session.staging.find(macro);
    if (found == session.staging.end() || found->second.path.empty()) return 0;
    folder = found->second.path;
    return 1;
}
