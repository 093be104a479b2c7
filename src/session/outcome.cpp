#include "session/outcome.h"

#include "session/product_facts.h"
#include "version.h"
#include "win/files.h"
#include "win/paths.h"
#include "win/registry.h"
#include "win/system.h"

namespace {

// Each action as done, and as what failed.
const char* const words[][2] = {
    {"installed", "install"},   {"staged", "stage"},
    {"scheduled", "schedule"},  {"scheduled the removal of", "schedule the removal of"},
    {"deleted", "delete"},      {"renamed", "rename"},
    {"copied", "copy"},         {"created", "create"},
    {"removed", "remove"},      {"wrote", "write"},
    {"stamped", "stamp"},       {"patched", "patch"},
    {"registered", "register"}, {"started", "start"},
    {"recorded", "record"},     {"restart requested", "request the restart"},
    {"read", "read"},           {"used", "use"},
};

const char* const reasons[] = {
    "nothing installed to replace",
    "the installed file is newer",
    "not there",
    "declined",
    "not taken",
    "not empty",
    "its files were not replaced",
    "not asked",
    "in use: it would be staged",
    "not trusted",
    "another run has taken over the cleanup",
    "it is running, and removes itself",
};

// A new action or reason without its words would read past these tables.
static_assert(sizeof words / sizeof *words == static_cast<size_t>(Action::use) + 1, "a word for every action");
static_assert(sizeof reasons / sizeof *reasons == static_cast<size_t>(Reason::running) + 1, "a text for every reason");

const DWORD logLimit = 1024 * 1024;

std::string localTime()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    wsprintfA(text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
              now.wSecond);
    return text;
}

std::string errorText(DWORD error)
{
    char* buffer = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = length ? std::string(buffer, length) : std::string("unknown error");
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

} // namespace

void RunOutcome::begin(const RunFacts& run)
{
    run_ = run;
    planning_ = run.kind == facts::planRunKind;
    const std::string windows = win::windowsFolder();
    if (!windows.empty()) logPath_ = win::join(windows, facts::logFile);
    openLog();
    // Until finish says otherwise, the record tells of a run that did not
    // finish: a run killed or crashed must not leave the last run's success.
    // The log tells of the run first, so that it names the run the record
    // tells of.
    writeRecord(exitFailed, false);
}

void RunOutcome::openLog()
{
    if (logPath_.empty()) return;
    const DWORD attributes = GetFileAttributesA(logPath_.c_str());
    if (win::isLink(attributes)) return;
    WIN32_FIND_DATAA entry;
    if (attributes != INVALID_FILE_ATTRIBUTES && win::Find(FindFirstFileA(logPath_.c_str(), &entry)) &&
        (entry.nFileSizeHigh || entry.nFileSizeLow > logLimit)) {
        const std::string old = logPath_ + ".old";
        DeleteFileA(old.c_str());
        MoveFileA(logPath_.c_str(), old.c_str());
    }
    // The link itself, never what it points to, from Windows 2000 on; the
    // handle then tells what was opened.
    const DWORD flags = win::ntMajorVersion() >= 5 ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
    log_.reset(CreateFileA(logPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | flags, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!log_ || !GetFileInformationByHandle(log_.get(), &information) || win::isLink(information.dwFileAttributes) ||
        SetFilePointer(log_.get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER) {
        log_.reset();
        return;
    }
    line(run_.kind + " " + localTime() + ", trevix " + TREVIX_VERSION_TEXT + ", command line \"" + run_.commandLine +
         "\", family " + run_.family + ", update folder \"" + run_.programDir + "\", product folder \"" +
         run_.productDir + "\"");
}

void RunOutcome::line(const std::string& text)
{
    if (!log_) return;
    const std::string whole = text + "\r\n";
    DWORD written = 0;
    WriteFile(log_.get(), whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr);
}

void RunOutcome::report(Action action, const std::string& what, win::Result result, const std::string& to)
{
    const std::string target = to.empty() ? "" : " -> " + to;
    const std::string verb = words[static_cast<int>(action)][1];
    if (result.ok)
        return line("  " + (planning_ ? "would " + verb : std::string(words[static_cast<int>(action)][0])) + " " +
                    what + target);
    if (!planning_) ++failures_;
    char number[16];
    wsprintfA(number, "%lu", static_cast<unsigned long>(result.error));
    line(std::string(planning_ ? "  would FAIL to " : "  FAILED to ") + verb + " " + what + target + ": error " +
         number + ", " + errorText(result.error));
}

void RunOutcome::checked(const std::string& check, const std::string& found)
{
    line("  checked " + check + ": " + found);
}

void RunOutcome::refused(const std::string& check, const std::string& item, DWORD error)
{
    ++failures_;
    char number[16];
    wsprintfA(number, "%lu", static_cast<unsigned long>(error));
    line("  REFUSED by " + check + ": " + item +
         (error ? std::string(": error ") + number + ", " + errorText(error) : ""));
}

void RunOutcome::skipped(Action action, const std::string& what, Reason reason)
{
    line(std::string(planning_ ? "  would not " : "  did not ") + words[static_cast<int>(action)][1] + " " + what +
         ": " + reasons[static_cast<int>(reason)]);
}

void RunOutcome::ended(Action action, const std::string& what, unsigned long exitCode)
{
    ++failures_;
    char number[16];
    wsprintfA(number, "%lu", exitCode);
    line("  FAILED to " + std::string(words[static_cast<int>(action)][1]) + " " + what + ": the program ended with " +
         number);
}

void RunOutcome::stopped(const std::string& what)
{
    stopped_ = true;
    ++failures_;
    line("  FAILED: the run stopped on an unexpected error: " + what);
}

void RunOutcome::flush()
{
    if (log_) FlushFileBuffers(log_.get());
}

unsigned long RunOutcome::finish(unsigned long exitCode)
{
    if (exitCode == 0 && failures_ > 0) exitCode = exitFailed;
    // The record first: a run killed meanwhile leaves a log without its end.
    record(exitCode);
    char last[64];
    wsprintfA(last, "%d failed, exit code %lu", failures_, exitCode);
    line(last);
    flush();
    return exitCode;
}

void RunOutcome::record(unsigned long exitCode) { writeRecord(exitCode, true); }

void RunOutcome::writeRecord(unsigned long exitCode, bool ended)
{
    if (planning_) return;
    if (exitCode == 0 && failures_ > 0) exitCode = exitFailed;
    // Never the product's key itself: the record goes only where it exists.
    win::Key product, record;
    if (win::openKey(HKEY_LOCAL_MACHINE, facts::productKey, KEY_CREATE_SUB_KEY, product) != ERROR_SUCCESS ||
        win::openKey(product.get(), facts::runRecordKey, KEY_SET_VALUE, record, true) != ERROR_SUCCESS)
        return;
    // Result is written first when it says "did not finish" and last when it
    // says how the run ended: a run cut short in between is never a success.
    if (!ended) win::setNumber(record.get(), facts::recordResultValue, exitCode);
    win::setText(record.get(), facts::recordRunValue, run_.kind);
    win::setText(record.get(), facts::recordTimeValue, localTime());
    win::setText(record.get(), facts::recordLogValue, logPath_);
    if (!ended) return;
    const bool stoppedEarly = exitCode == exitNotInstalled || exitCode == exitOtherVersion;
    if (run_.kind == facts::cleanupRunKind && !stoppedEarly)
        win::setNumber(record.get(), facts::recordRestartValue, 0);
    else if (cleanupScheduled_)
        win::setNumber(record.get(), facts::recordRestartValue, 1);
    win::setNumber(record.get(), facts::recordResultValue, exitCode);
}
