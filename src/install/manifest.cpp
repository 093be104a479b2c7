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
    // Every name, however long the list: a name left out would be an update
    // file silently not installed.
    return win::profileNames(manifestPath, section.c_str());
}

std::vector<PlannedEntry> planSection(const UpdateSession& session, const std::string& section, DiscardAll discardAll,
                                      ReplaceOnly replaceOnly)
{
    std::vector<PlannedEntry> entries;
    const SectionValues values(session.manifestPath, section);
    for (const std::string& name : sectionKeys(session.manifestPath, section)) {
        PlannedEntry entry;
        entry.section = section;
        entry.name = name;
        entry.source = win::join(session.programDir, name);
        std::string folder;
        if (!win::isPlainFileName(name)) {
            // A name with a folder part could reach anywhere: refused.
            entry.kind = PlannedEntry::refuse;
            entry.source = "[" + section + "] " + name;
            entry.error = ERROR_INVALID_NAME;
        } else if (const std::string value = values.value(name); value == "DELETE" || discardAll) {
            entry.kind = PlannedEntry::remove;
        } else if (!resolveMacro(session, value, folder)) {
            // No macro: a new name for the update's copy, within its own folder.
            entry.kind = win::isPlainFileName(value) ? PlannedEntry::rename : PlannedEntry::refuse;
            entry.target = win::isPlainFileName(value) ? win::join(session.programDir, value) : value;
            entry.error = ERROR_INVALID_NAME;
        } else {
            entry.target = win::join(folder, name);
            entry.macro = value;
            if (replaceOnly && !win::fileExists(entry.target)) entry.kind = PlannedEntry::leave;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

int installSection(UpdateSession& session, const std::vector<PlannedEntry>& entries)
{
    RunOutcome& outcome = session.outcome;
    for (const PlannedEntry& entry : entries) {
        switch (entry.kind) {
        case PlannedEntry::refuse:
            outcome.report(entry.target.empty() ? Action::install : Action::rename, entry.source,
                           win::failure(entry.error), entry.target);
            break;
        case PlannedEntry::leave:
            outcome.skipped(Action::install, entry.target, entry.reason);
            break;
        case PlannedEntry::remove:
            if (DeleteFileA(entry.source.c_str()))
                outcome.report(Action::remove, entry.source, {});
            else if (GetLastError() == ERROR_FILE_NOT_FOUND)
                outcome.skipped(Action::remove, entry.source, Reason::absent);
            else
                outcome.report(Action::remove, entry.source, win::result(false));
            break;
        case PlannedEntry::rename:
            outcome.report(Action::rename, entry.source,
                           win::result(MoveFileA(entry.source.c_str(), entry.target.c_str())), entry.target);
            break;
        case PlannedEntry::install:
            if (copyOneFile(session.workFolders, entry.name, session.programDir, win::folderOf(entry.target)))
                outcome.report(Action::install, entry.target, {});
            else if (stageOneFile(session, entry.macro, entry.name, session.programDir))
                outcome.report(Action::stage, entry.target, {});
            else
                outcome.report(Action::install, entry.target, win::result(false));
            break;
        }
        if (session.progress) session.progress->step();
    }
    return 1;
}
