#include "install/manifest.h"

#include <windows.h>

#include <map>
#include <optional>

#include "install/directory_macros.h"
#include "install/file_replacement.h"
#include "session/outcome.h"
#include "session/progress.h"
#include "session/update_session.h"
#include "win/files.h"
#include "win/paths.h"
#include "win/profile.h"
#include "win/result.h"
#include "win/text.h"

namespace {

std::string readValue(const std::string& manifestPath, const std::string& section, const std::string& key)
{
    char buffer[manifestValueSize] = {};
    DWORD length =
        GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer, sizeof buffer, manifestPath.c_str());
    if (length >= sizeof buffer) length = sizeof buffer - 1;
    return std::string(buffer, length);
}

bool isAsciiText(const std::string& text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) > 0x7F) return false;
    return true;
}

// The values of one section, read in one go. Reading each value on its own
// costs a lookup of the manifest per entry, which shows in large updates. Only
// lines of the plain form name=value are taken from here; for anything the
// profile function would treat specially (blanks, quotes, over-long values,
// non-ASCII names) the value is read on its own, so the result is the same.
class SectionValues {
public:
    SectionValues(const std::string& manifestPath, const std::string& section) : path_(manifestPath), section_(section)
    {
        std::string buffer(sectionBufferSize, '\0');
        const DWORD length =
            GetPrivateProfileSectionA(section.c_str(), &buffer[0], sectionBufferSize, manifestPath.c_str());
        // A section cut by the buffer is left to the value reads.
        if (length == 0 || length >= sectionBufferSize - 2) return;
        std::map<std::string, std::optional<std::string>> values;
        size_t start = 0;
        for (size_t i = 0; i < length; ++i) {
            if (buffer[i] != '\0') continue;
            const std::string line = buffer.substr(start, i - start);
            start = i + 1;
            const size_t equals = line.find('=');
            const std::string key = line.substr(0, equals);
            // Blanks around a name: how the profile function matches it is its
            // own business.
            if (!key.empty() && (win::isBlank(key.front()) || win::isBlank(key.back()))) return;
            // Lookups ignore case and the first line of a name wins; a line
            // without a value is left to the value read.
            if (!isAsciiText(key)) continue;
            if (equals == std::string::npos)
                values.emplace(win::lowerAscii(key), std::nullopt);
            else
                values.emplace(win::lowerAscii(key), line.substr(equals + 1));
        }
        values_ = std::move(values);
    }

    std::string value(const std::string& key) const
    {
        auto it = values_.find(win::lowerAscii(key));
        if (isAsciiText(key) && it != values_.end() && it->second && isPlainValue(*it->second)) return *it->second;
        return readValue(path_, section_, key);
    }

private:
    static constexpr DWORD sectionBufferSize = 65536;

    static bool isPlainValue(const std::string& value)
    {
        if (value.size() >= manifestValueSize) return false;
        if (value.empty()) return true;
        const char first = value.front(), last = value.back();
        return !win::isBlank(first) && !win::isBlank(last) && first != '"' && first != '\'' && last != '"' &&
               last != '\'';
    }

    std::string path_;
    std::string section_;
    std::map<std::string, std::optional<std::string>> values_;
};

} // namespace

std::vector<std::string> sectionKeys(const std::string& manifestPath, const std::string& section)
{
    // The key list holds manifestKeyListSize bytes: each name with its
    // terminator, and a final one. A name that would not fit whole is left
    // out with the rest, never cut: a cut name can name another file.
    std::vector<std::string> keys = win::profileNames(manifestPath, section.c_str());
    size_t used = 1;
    for (size_t i = 0; i < keys.size(); ++i) {
        used += keys[i].size() + 1;
        if (used > manifestKeyListSize) {
            keys.resize(i);
            break;
        }
    }
    return keys;
}

int installSection(UpdateSession& session, const std::string& section, int discardAll, int replaceOnly)
{
    prepareStagingDirs(session, stagingCreate);
    RunOutcome& outcome = session.outcome;
    const SectionValues values(session.manifestPath, section);
    for (const std::string& name : sectionKeys(session.manifestPath, section)) {
        const std::string updateCopy = win::join(session.programDir, name);
        std::string staging, folder;
        if (!win::isPlainFileName(name)) {
            // A name with a folder part could reach anywhere: refused.
            outcome.report(Action::install, "[" + section + "] " + name, win::failure(ERROR_INVALID_NAME));
        } else if (const std::string value = values.value(name); value == "DELETE" || discardAll) {
            if (DeleteFileA(updateCopy.c_str()))
                outcome.report(Action::remove, updateCopy, {});
            else if (GetLastError() == ERROR_FILE_NOT_FOUND)
                outcome.skipped(Action::remove, updateCopy, Reason::absent);
            else
                outcome.report(Action::remove, updateCopy, win::result(false));
        } else if (!stagingDirFor(session, value, staging)) {
            // No macro: a new name for the update's copy, within its own folder.
            const std::string renamed = win::join(session.programDir, value);
            outcome.report(Action::rename, updateCopy,
                           win::isPlainFileName(value) ? win::result(MoveFileA(updateCopy.c_str(), renamed.c_str()))
                                                       : win::failure(ERROR_INVALID_NAME),
                           win::isPlainFileName(value) ? renamed : value);
        } else if (resolveMacro(session, value, folder); replaceOnly && !win::fileExists(win::join(folder, name))) {
            outcome.skipped(Action::install, win::join(folder, name), Reason::notInstalled);
        } else if (copyOneFile(session.workFolders, name, session.programDir, folder)) {
            outcome.report(Action::install, win::join(folder, name), {});
        } else if (stageOneFile(session, value, name, session.programDir)) {
            outcome.report(Action::stage, win::join(folder, name), {});
        } else {
            outcome.report(Action::install, win::join(folder, name), win::result(false));
        }
        if (session.progress) session.progress->step();
    }
    return 1;
}
