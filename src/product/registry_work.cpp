#include "product/registry_work.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "session/outcome.h"
#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/paths.h"
#include "win/process.h"
#include "win/registry.h"
#include "win/result.h"
#include "win/security.h"
#include "win/text.h"
#include "win/unique.h"

namespace {

// A pair is carried out only between two absolute paths in one folder: the
// list is the registry's, not ours alone, and a rename may not move a file
// anywhere else. And only when the start-up rename gave the file its short
// path: the short path must name a file other than the one at the long path.
// Otherwise (the rename did not happen, or the system keeps long names
// itself) deleting the long path would delete the only copy.
bool pairNeedsRename(const std::string& shortPath, const std::string& longPath)
{
    if (!win::isAbsolutePath(shortPath) || !win::isAbsolutePath(longPath)) return false;
    if (!win::sameText(win::folderOf(shortPath), win::folderOf(longPath))) return false;
    if (!win::fileExists(shortPath)) return false;
    if (!win::fileExists(longPath)) return true;
    const std::string a = win::shortPath(shortPath, MAX_PATH), b = win::shortPath(longPath, MAX_PATH);
    return a.empty() || b.empty() || !win::sameText(a, b);
}

// The copy an earlier entry started, when it is one of ours: a program file
// in a run folder of a trusted owner. Anything else it names stays.
void removeEarlierCopy(UpdateSession& session, const std::string& entry)
{
    if (entry.size() < 2 || entry[0] != '"') return;
    const std::string copy = entry.substr(1, entry.find('"', 1) - 1), folder = win::folderOf(copy);
    if (!isRunFolder(folder) || !win::sameText(copy.substr(folder.size() + 1), facts::programFile) ||
        !win::isTrustedFolder(folder) || win::sameText(copy, win::moduleFileName()))
        return;
    if (win::deleteFile(copy)) {
        session.outcome.report(Action::remove, copy, win::result(RemoveDirectoryA(folder.c_str()) != 0));
        return;
    }
    // A cleanup run of that copy waiting for this run: it removes itself.
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
        session.outcome.skipped(Action::remove, copy, Reason::running);
    else
        session.outcome.report(Action::remove, copy, win::failure(error));
}

} // namespace

int writeRevision(UpdateSession& session)
{
    const DWORD revision = manifestNumber(session.manifestPath, facts::revisionKey).value_or(0);
    win::Key key;
    LONG result = win::openKey(HKEY_LOCAL_MACHINE, facts::productKey, KEY_WRITE, key);
    if (result == ERROR_SUCCESS) result = win::setNumber(key.get(), facts::revisionValue, revision);
    session.outcome.report(Action::write, win::machineName(facts::productKey, facts::revisionValue),
                           win::status(result));
    return result == ERROR_SUCCESS ? 1 : 0;
}

int scheduleCleanupRun(UpdateSession& session)
{
    RunOutcome& outcome = session.outcome;
    const std::string program = win::moduleFileName();
    // Without a temporary folder there is no safe place for the copy. The
    // folder's own name and the program's must fit: a long temporary folder
    // is taken by its short form.
    std::string base = session.tempDir;
    const size_t room = sizeof facts::runFolderPrefix - 1 + 8 + 1 + sizeof facts::programFile - 1;
    if (!base.empty() && base.size() + 1 + room >= MAX_PATH) base = win::shortPath(base);
    if (base.empty() || base.size() + 1 + room >= MAX_PATH) {
        outcome.report(Action::copy, program, win::failure(ERROR_PATH_NOT_FOUND), "the temporary folder");
        return 0;
    }
    // The command processor that removes the copy expands "%": a copy whose
    // path holds one could never be removed. Its short form may hold none.
    if (base.find('%') != std::string::npos) base = win::shortPath(base);
    if (base.find('%') != std::string::npos || base.empty()) {
        outcome.report(Action::copy, program, win::failure(ERROR_INVALID_NAME), session.tempDir);
        return 0;
    }
    // A fresh folder of this run's own: nothing planted beside the copy is
    // loaded with it, and no other run's leftovers touch it.
    const std::string folder = win::createFreshPrivateFolder(win::join(base, facts::runFolderPrefix));
    if (folder.empty()) {
        outcome.report(Action::createFolder, win::join(base, facts::runFolderPrefix) + "*", win::result(false));
        return 0;
    }
    const std::string target = win::join(folder, facts::programFile);
    // Only a copy that is there may be started: otherwise the entry would
    // start, with administrator rights, whatever file stands at that path.
    // A read-only program would give a copy that its self-removal cannot delete.
    // A copy that no entry names would stay in TEMP for good.
    auto removeCopy = win::onScopeExit([&] {
        DeleteFileA(target.c_str());
        RemoveDirectoryA(folder.c_str());
    });
    const win::Result copied = win::result(CopyFileA(program.c_str(), target.c_str(), TRUE) &&
                                           SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL));
    outcome.report(Action::copy, program, copied, target);
    if (!copied.ok) return 0;
    // Quoted: with a blank in the path, an unquoted entry would let Windows
    // start C:\Documents.exe or the like first, with administrator rights.
    // A quiet run's cleanup run is quiet too: nobody may be there to answer.
    const std::string command = "\"" + target + "\" " + facts::cleanupSwitch +
                                (isQuiet(session.commandLine) ? std::string(" ") + facts::quietSwitch : "");
    // A run before the restart scheduled a copy of its own: the entry names
    // only one, so the one it replaces goes.
    std::string earlier;
    win::readValue(HKEY_LOCAL_MACHINE, facts::runOnceKey, facts::cleanupRunValue, 4096, earlier);
    earlier = win::boundedText(earlier.data(), earlier.size());
    win::Key key;
    // Created where missing: without it the system starts nothing.
    LONG result = win::openKey(HKEY_LOCAL_MACHINE, facts::runOnceKey, KEY_SET_VALUE, key, true);
    if (result == ERROR_SUCCESS) result = win::setText(key.get(), facts::cleanupRunValue, command);
    outcome.report(Action::write, win::machineName(facts::runOnceKey, facts::cleanupRunValue), win::status(result));
    if (result != ERROR_SUCCESS) return 0;
    removeCopy.dismiss();
    outcome.cleanupScheduled();
    removeEarlierCopy(session, earlier);
    return 1;
}

namespace {

// The command the system starts for this cleanup run: this very copy, with
// the switches it was given.
std::string ownCleanupCommand(const UpdateSession& session)
{
    std::string arguments = session.commandLine;
    while (!arguments.empty() && win::isBlank(arguments.front())) arguments.erase(0, 1);
    return "\"" + win::moduleFileName() + "\" " + arguments;
}

} // namespace

int cleanupEntryIs(const UpdateSession& session, CleanupEntry what)
{
    std::string data;
    if (win::readValue(HKEY_LOCAL_MACHINE, facts::runOnceKey, facts::cleanupRunValue, 4096, data) != ERROR_SUCCESS)
        return what == CleanupEntry::absent ? 1 : 0;
    const bool own = win::boundedText(data.data(), data.size()) == ownCleanupCommand(session);
    return (what == CleanupEntry::own) == own && what != CleanupEntry::absent ? 1 : 0;
}

LONG writeCleanupEntry(const UpdateSession& session)
{
    win::Key key;
    LONG result = win::openKey(HKEY_LOCAL_MACHINE, facts::runOnceKey, KEY_SET_VALUE, key, true);
    if (result == ERROR_SUCCESS) result = win::setText(key.get(), facts::cleanupRunValue, ownCleanupCommand(session));
    return result;
}

int endCleanupEntry(UpdateSession& session)
{
    // An install run that ran meanwhile put its own cleanup run there: that one stays.
    if (!cleanupEntryIs(session, CleanupEntry::own)) return 1;
    const LONG result = win::deleteValue(HKEY_LOCAL_MACHINE, facts::runOnceKey, facts::cleanupRunValue);
    session.outcome.report(Action::remove, win::machineName(facts::runOnceKey, facts::cleanupRunValue),
                           win::status(result));
    return result == ERROR_SUCCESS ? 1 : 0;
}

int applyLongNameRenames(UpdateSession& session)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    if (win::readTexts(HKEY_LOCAL_MACHINE, facts::longNameRenameKey, pairs) != ERROR_SUCCESS) return 0;
    size_t left = 0;
    for (const auto& pair : pairs) {
        if (pairNeedsRename(pair.first, pair.second)) {
            // The file at the long name waits aside until the new one has
            // that name, and goes back when it cannot: never lost. A pair
            // that failed stays for the next cleanup run.
            const std::string aside = win::join(win::folderOf(pair.second), "~trevix.lfn");
            DeleteFileA(aside.c_str());
            const bool setAside = win::fileExists(pair.second) != 0;
            win::Result renamed = win::result(!setAside || MoveFileA(pair.second.c_str(), aside.c_str()));
            if (renamed.ok) renamed = win::result(MoveFileA(pair.first.c_str(), pair.second.c_str()));
            if (renamed.ok)
                DeleteFileA(aside.c_str());
            else if (setAside)
                MoveFileA(aside.c_str(), pair.second.c_str());
            session.outcome.report(Action::rename, pair.first, renamed, pair.second);
            if (!renamed.ok) {
                ++left;
                continue;
            }
        }
        win::deleteValue(HKEY_LOCAL_MACHINE, facts::longNameRenameKey, pair.first.c_str());
    }
    if (!left) win::deleteKey(HKEY_LOCAL_MACHINE, facts::longNameRenameKey);
    return 1;
}

int ensureDisplayActiveFlag(UpdateSession& session)
{
    const std::string value = win::machineName(facts::hostServiceKey, facts::displayActiveValue);
    win::Key key;
    if (win::openKey(HKEY_LOCAL_MACHINE, facts::hostServiceKey, KEY_READ | KEY_WRITE, key) != ERROR_SUCCESS) {
        session.outcome.skipped(Action::write, value, Reason::absent);
        return 1;
    }
    if (win::valueExists(key.get(), facts::displayActiveValue)) return 1;
    session.outcome.report(Action::write, value, win::status(win::setNumber(key.get(), facts::displayActiveValue, 1)));
    return 1;
}

int registerComponents(UpdateSession& session)
{
    const std::string system = win::systemFolder();
    const std::string program = win::join(system, facts::registrationProgram);
    for (const char* library : facts::componentLibraries) {
        const std::string path = win::join(session.productDir, library);
        if (system.empty()) {
            session.outcome.report(Action::registerLibrary, path, win::failure(ERROR_PATH_NOT_FOUND));
            continue;
        }
        // Started for each library as designed; one the product does not have
        // cannot be registered, and that is no failure.
        const bool present = win::fileExists(path) != 0;
        unsigned long exitCode = 0;
        session.outcome.flush();
        const win::Result started = win::result(win::runAndWait(program, "\"" + path + "\" /s", &exitCode));
        if (!present)
            session.outcome.skipped(Action::registerLibrary, path, Reason::absent);
        else if (!started.ok)
            session.outcome.report(Action::start, program, started, path);
        else if (exitCode == 0)
            session.outcome.report(Action::registerLibrary, path, {});
        else
            session.outcome.ended(Action::registerLibrary, path, exitCode);
    }
    return 0;
}
