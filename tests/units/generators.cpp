// Generated outside input, one generator per input the program reads: the
// manifest, the module list, the settings file, cabinets and the folders in
// the registry and the environment. After each case: no crash and no hang (a
// case that crashes or hangs stops the program and leaves its input in
// OUT\<generator>.case), nothing written outside the update, macro, module
// and temporary folders, no installed file lost or cut, and what each input's
// own rule says.   generators.exe CASES [SEED]
#include <windows.h>

#include <msiquery.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <random>

#include "install/directory_macros.h"
#include "install/install_plan.h"
#include "install/installation_step.h"
#include "kit/kit.h"
#include "mergemod/cabinet.h"
#include "mergemod/merge_module_patching.h"
#include "product/product_checks.h"
#include "product/registry_work.h"
#include "session/detection.h"
#include "session/update_session.h"

namespace {

using namespace std::string_literals;
const std::string root = "C:\\gen", product = root + "\\product", package = root + "\\pkg", modules = product + "\\Packager\\Merge Modules",
                  newFiles = modules + "\\NewFiles";
std::mt19937 rng;
HANDLE progress = CreateEventA(nullptr, FALSE, FALSE, nullptr);

std::string pick(const std::vector<std::string>& pool) { return pool[rng() % pool.size()]; }

std::string noise(size_t most)
{
    std::string text(rng() % (most + 1), ' ');
    for (char& c : text) c = static_cast<char>(' ' + rng() % 95);
    return text;
}

const std::vector<std::string> awkward = {"",           ".",   "..",  "...",     "..\\x.dll", "sub\\x.dll", "C:x.dll", "C:\\x.dll",
                                          "\\\\srv\\x", "a/b", "CON", "nul.txt", "COM1",      "LPT9.dll",   "x ",      std::string(300, 'n')};
const std::vector<std::string> installed = {"cvd.exe", "Long Name.dll", "cvdadmn.dll"};
// A temporary folder whose path leaves no room for the run folder's, and one
// longer than a path may be.
const std::string longTemp = root + "\\" + std::string(243, 'm');
const std::string deepTemp = root + "\\" + std::string(200, 'd') + "\\" + std::string(200, 'e');

std::wstring wide(const std::string& path) { return L"\\\\?\\" + std::wstring(path.begin(), path.end()); }

// The short form of any path, however long.
std::string shortOf(const std::string& path)
{
    wchar_t buffer[1024] = {};
    const DWORD length = GetShortPathNameW(wide(path).c_str(), buffer, 1024);
    const std::wstring text(buffer, length < 1024 ? length : 0);
    return text.size() > 4 ? std::string(text.begin() + 4, text.end()) : "";
}

// A staging folder the update makes beside one of its folders: "X.tmp", or a
// fresh one "X.tmp-XXXXXXXX".
bool isStaging(std::string name)
{
    CharLowerA(&name[0]);
    return name.find(".tmp-") != std::string::npos || (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0);
}

std::string listing(const std::string& folder)
{
    std::string out = "|";
    for (const std::string& name : kit::listDir(folder)) out += name + "|";
    return out;
}

// Every entry of the drive outside the update's folders (its product and
// update folders, and the staging folders it makes beside its folders), with
// its size and time; links are not entered. The rest of the generators' tree
// is walked: a stray path such as product\..\x.dll lands there.
void walk(const std::string& folder, std::map<std::string, std::string>& entries, bool deep)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(kit::join(folder, "*").c_str(), &data);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &data)) {
        const std::string name = data.cFileName, path = kit::join(folder, name);
        if (name == "." || name == ".." || path == product || path == package || isStaging(name)) continue;
        const bool directory = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        entries[path] = directory ? "" : std::to_string(data.nFileSizeLow) + "@" + std::to_string(data.ftLastWriteTime.dwLowDateTime);
        if (deep && directory && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) walk(path, entries, deep);
    }
    FindClose(search);
}

// What holds after every case: nothing written where a stray path could
// lead (the drive's root, the Windows and system folders, the current
// folder), and every installed file whole, old or new. After each generator:
// nothing written anywhere on the drive outside the update's folders.
struct Machine {
    std::map<std::string, std::string> drive, places;
    void snapshot(std::map<std::string, std::string>& entries, bool deep) const
    {
        entries.clear();
        if (deep) return walk("C:\\", entries, true);
        for (const char* place : {"C:\\", "C:\\windows", "C:\\windows\\system32", "."}) walk(place, entries, false);
    }
    void take(bool deep)
    {
        for (const std::string& name : installed) kit::writeFile(kit::join(product, name), "old " + name);
        snapshot(places, false);
        if (deep) snapshot(drive, true);
    }
    std::string broken(bool deep) const
    {
        std::map<std::string, std::string> now;
        snapshot(now, deep);
        const auto& before = deep ? drive : places;
        for (const auto& entry : now)
            if (!before.count(entry.first) || before.at(entry.first) != entry.second) return "written outside: " + entry.first;
        for (const auto& entry : before)
            if (!now.count(entry.first)) return "removed outside: " + entry.first;
        std::string content;
        for (const std::string& name : installed)
            if (!kit::readFile(kit::join(product, name), content) || (content != "old " + name && content != "new " + name)) return name + " lost or cut";
        return "";
    }
} machine;

// An install run's session, with the package filled anew.
std::unique_ptr<UpdateSession> session()
{
    auto session = std::make_unique<UpdateSession>();
    kit::removeTree(package);
    CreateDirectoryA(package.c_str(), nullptr);
    for (const std::string& name : installed) kit::writeFile(kit::join(package, name), "new " + name);
    initialiseEnvironment(*session);
    resolveMacros(*session);
    session->programDir = package;
    session->manifestPath = package + "\\trevix.ini";
    return session;
}

std::string manifest()
{
    std::string text;
    for (int s = rng() % 6; s >= 0; --s) {
        text += "[" + (rng() % 8 ? pick({"COMMON", "FULL.WINDOWSXP", "HOSTADMIN", "REMOTEMANAGE", "PACKAGER.RESOURCES"}) : noise(20)) + "]\r\n";
        for (int k = rng() % 8; k >= 0; --k)
            text += (rng() % 2   ? pick(installed)
                     : rng() % 2 ? pick(awkward)
                                 : noise(12)) +
                    "=" +
                    (rng() % 4 ? pick({"PROGDIR", "VELDIR", "PACKAGERRESDIR", "DELETE", "delete", "x.dll", "..\\x.dll", "C:\\x", "CON", ""}) : noise(40)) +
                    "\r\n";
    }
    return text;
}

std::string install(const std::string& text)
{
    auto run = session();
    kit::writeFile(run->manifestPath, text);
    // Checked, then carried out whatever the checks say: the apply loop must
    // stand any plan.
    const InstallPlan plan = planInstall(*run);
    checkPlan(*run, plan);
    installUpdateFiles(*run, plan);
    return "";
}

std::string moduleList()
{
    std::string text;
    for (int s = rng() % 3; s >= 0; --s) {
        text += "[" + (rng() % 6 ? pick({"CVDCOREMAIN.MSM", "OTHER.MSM", "NOFOLDER.MSM", "DEVICE.MSM", "MANY.MSM", "ABSENT.MSM"}) : pick(awkward)) + "]\r\n";
        for (int k = rng() % 4; k >= 0; --k)
            text += (rng() % 3 ? pick({"cvdhost.exe", "Corvindale Viewer.dll", "tool.exe", "Read Me.txt", "part 007.dll", "part 300.dll"}) : pick(awkward)) +
                    "=\r\n";
    }
    return text;
}

std::string patch(const std::string& text)
{
    auto run = session();
    kit::writeFile(newFiles + "\\msm.ini", text);
    patchMergeModules(*run);
    // Every module still opens, and nothing of the work is left beside them:
    // only the new-files folder and an install run's staging folder.
    for (const std::string& name : kit::listDir(modules)) {
        MSIHANDLE database = 0;
        if (name.size() > 4 && name.substr(name.size() - 4) == ".MSM") {
            if (MsiOpenDatabaseA(kit::join(modules, name).c_str(), MSIDBOPEN_READONLY, &database)) return name + " does not open";
            MsiCloseHandle(database);
        } else if (name != "NewFiles" && !isStaging(name)) {
            return name + " was left beside the modules";
        }
    }
    return "";
}

// A genuine settings file with random fields, then damaged; the manifest's versions.
std::string settings()
{
    std::string image = kit::settingsFile(rng() % 3 ? 10 : rng(), rng(), rng(), rng() % 4);
    for (int flips = rng() % 3 ? 0 : rng() % 4; flips > 0; --flips) image[rng() % image.size()] ^= 1 << rng() % 8;
    if (rng() % 8 == 0) image.resize(rng() % 9000, 'x');
    const unsigned versions[] = {0, 10, 11, 65536, 65537, static_cast<unsigned>(rng())};
    return std::to_string(versions[rng() % 6]) + " " + std::to_string(versions[rng() % 6]) + "\n" + image;
}

std::string stamp(const std::string& input)
{
    auto run = session();
    unsigned major = 0, minor = 0, oldMajor = 0, oldMinor = 0, newMajor = 0, newMinor = 0;
    std::sscanf(input.c_str(), "%u %u", &major, &minor);
    kit::writeFile(run->manifestPath, "[TIDEWARDEN]\r\nVersion Major=" + std::to_string(major) + "\r\nVersion Minor=" + std::to_string(minor));
    const std::string image = input.substr(input.find('\n') + 1), staged = product + ".tmp\\vindale.bin";
    kit::writeFile(product + "\\vindale.bin", image);
    kit::writeFile(staged, image);
    checkProductVersion(*run);
    stampStagedVersion(*run, product + ".tmp");
    std::string installedNow, after;
    kit::readFile(product + "\\vindale.bin", installedNow);
    kit::readFile(staged, after);
    // Only a genuine file is rewritten, in its version fields only, and only
    // with the versions that are not 0 in their low 16 bits.
    const bool genuine = kit::settingsVersion(product + "\\vindale.bin", oldMajor, oldMinor);
    if (installedNow != image) return "the installed settings file changed";
    if (!genuine) return after == image ? "" : "a foreign file was rewritten";
    if (!kit::settingsVersion(staged, newMajor, newMinor) ||
        (after != image && (after.size() != 8192 || after.compare(12, std::string::npos, image, 12, 8192 - 12) || after.compare(0, 8, image, 0, 8))))
        return "the staged file changed beyond its version";
    if (newMajor != (major & 0xFFFF ? major & 0xFFFF : oldMajor) || newMinor != (minor & 0xFFFF ? minor & 0xFFFF : oldMinor))
        return "the staged version is " + std::to_string(newMajor) + "." + std::to_string(newMinor);
    return kit::exists(staged + ".save") ? "the safe write's folder stayed" : "";
}

// A good cabinet with header fields, names and length changed at random.
std::string goodCabinet;

std::string cabinet()
{
    std::string cab = goodCabinet;
    // Sometimes a sound cabinet with an empty reserve area: FDI reads it well,
    // and the header rule refuses it.
    if (rng() % 8 == 0) {
        cab.insert(36, 4, '\0');
        cab[30] |= 4;
        for (size_t at : {8, 16, 40}) { // the size, where the files and the data start
            unsigned long field = 0;
            for (int i = 3; i >= 0; --i) field = field << 8 | static_cast<unsigned char>(cab[at + i]);
            for (int i = 0; i < 4; ++i) cab[at + i] = static_cast<char>((field + 4) >> 8 * i);
        }
        return cab;
    }
    for (int i = 1 + rng() % 3; i > 0; --i) {
        const size_t at = std::vector<size_t>{26, 28, 30, 8}[rng() % 4]; // folders, files, flags, size
        if (rng() % 3 == 0)
            cab.resize(rng() % (cab.size() + 1));
        else if (rng() % 2 && cab.size() > at + 1)
            cab[at] = static_cast<char>(rng() % 6), cab[at + 1] = 0;
        else if (cab.size() > 60)
            cab.replace(60 + rng() % (cab.size() - 60), 0, pick(awkward) + '\0');
    }
    // Often a header that tells the truth about the size: then the names and
    // the data are what FDI reads.
    if (rng() % 2 && cab.size() >= 12)
        for (size_t i = 0; i < 4; ++i) cab[8 + i] = static_cast<char>(cab.size() >> 8 * i);
    return cab;
}

// The header rule: one folder, some files, no reserve and no neighbours, the
// size the file has.
bool wellFormed(const std::string& cab)
{
    auto field = [&](size_t at) { return static_cast<unsigned char>(cab[at]) | static_cast<unsigned char>(cab[at + 1]) << 8; };
    return cab.size() >= 36 && field(26) == 1 && field(28) >= 1 && field(30) == 0 && (field(8) | static_cast<unsigned long>(field(10)) << 16) == cab.size();
}

std::string unpack(const std::string& cab)
{
    const std::string folder = root + "\\cab";
    kit::removeTree(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "\\out").c_str(), nullptr);
    kit::writeFile(folder + "\\x.cab", cab);
    std::vector<std::string> names;
    unsigned spread = 0;
    const int whole = mergemod::extractWholeCabinet(folder + "\\", "x.cab", folder + "\\out", names, spread);
    const std::string left = listing(folder), out = listing(folder + "\\out");
    kit::removeTree(folder);
    if (left != "|out|x.cab|") return "written beside the extraction folder: " + left;
    return wellFormed(cab) || (!whole && out == "|") ? "" : "a cabinet against the header rule was unpacked: " + out;
}

// Folders as the registry and the environment give them: install folder, common
// files, shared usage (two), CMS, data; then TMP.
std::string folders()
{
    std::string text;
    for (int i = 0; i < 7; ++i)
        text += (rng() % 5 ? pick({"", "1", "..\\..", "C:", "C:\\", product, product + "\\", "\\\\.\\nul", "\\\\server\\x", "relative\\x",
                                   std::string(300, 'a'), "\\gen", root + "\\temp with blanks", root + "\\" + std::string(280, 'l'), longTemp, deepTemp})
                           : noise(30)) +
                "\n";
    return text;
}

std::string resolve(const std::string& text)
{
    const char* const places[][2] = {{"System", "InstallDir"}, {"", "CommonFilesDir"}, {"Shared", ""},
                                     {"Shared", "Tidewarden"}, {"System", "CMSDir"},   {"System", "FilesDirectory"}};
    size_t at = 0;
    for (const auto& place : places) {
        const std::string key = place[0] == "System"s   ? "HKLM\\Software\\Veltrane\\Corvindale\\CurrentVersion\\System"
                                : place[0] == "Shared"s ? "HKLM\\SOFTWARE\\Veltrane\\SharedUsage"
                                                        : "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion";
        kit::setValue(key, place[1], REG_SZ, text.substr(at, text.find('\n', at) - at) + '\0');
        at = text.find('\n', at) + 1;
    }
    std::string tmp = text.substr(at, text.find('\n', at) - at);
    SetEnvironmentVariableA("TMP", tmp.c_str());
    UpdateSession run;
    initialiseEnvironment(run);
    resolveMacros(run);
    const std::string& folder = run.productDir;
    // A drive and its root, or a share; the product folder is joined with a backslash.
    auto absolute = [](const std::string& path) { return path.size() > 2 && (path.compare(1, 2, ":\\") == 0 || path.compare(0, 2, "\\\\") == 0); };
    std::string why = folder.empty() || absolute(folder + "\\") ? "" : "a relative product folder";
    if (isProductInstalled() && !run.productDir.empty()) {
        prepareStagingDirs(run, stagingCreate);
        scheduleCleanupRun(run);
        prepareStagingDirs(run, stagingRemove);
    }
    std::string entry;
    const std::string runOnce = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    const bool scheduled = kit::readValue(runOnce, "Corvindale Update", entry);
    // A TMP that is a folder, however long, gets its cleanup run.
    if (!scheduled && isProductInstalled() && !run.productDir.empty() && absolute(tmp) && (kit::exists(tmp + "\\*") || tmp == deepTemp))
        why += "no cleanup run with TMP " + tmp;
    if (scheduled) {
        // The copy is in TMP as given (TEMP when that is empty), or its short
        // form: a relative one is no place at all.
        const std::string copy = entry.substr(1, entry.find('"', 1) - 1);
        if (tmp.empty()) tmp = getenv("TEMP");
        const std::string shortTmp = shortOf(tmp);
        auto in = [&](const std::string& folder) { return !folder.empty() && !lstrcmpiA(copy.substr(0, folder.size()).c_str(), folder.c_str()); };
        if (!kit::exists(copy)) why += "the cleanup entry names no copy: " + entry;
        if (!absolute(tmp) || !(in(tmp) || in(shortTmp))) why += "the copy is outside TMP: " + copy;
        kit::removeTree(copy.substr(0, copy.rfind('\\')));
        kit::deleteKey(runOnce, "Corvindale Update");
    }
    SetEnvironmentVariableA("TMP", (root + "\\temp").c_str());
    return why;
}

DWORD WINAPI watchdog(void*)
{
    while (WaitForSingleObject(progress, 60000) == WAIT_OBJECT_0) {}
    std::printf("a case did not end within 60 s: its input is in the generator's .case file\n");
    std::fflush(stdout);
    ExitProcess(3);
}

} // namespace

int main(int argc, char** argv)
{
    const int cases = argc > 1 ? std::atoi(argv[1]) : 100;
    const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1;
    rng.seed(seed);
    const std::string out = getenv("TREVIX_OUT") ? getenv("TREVIX_OUT") : "C:\\generated",
                      fixtures = getenv("TREVIX_FIXTURES") ? getenv("TREVIX_FIXTURES") : "";
    for (const std::string& folder : {root, root + "\\temp", root + "\\temp with blanks", longTemp, product, product + "\\Packager", modules, newFiles, out,
                                      root + "\\here", root + "\\here\\deep", deepTemp.substr(0, deepTemp.rfind('\\')), deepTemp})
        CreateDirectoryW(wide(folder).c_str(), nullptr);
    // Relative folders then lead into the watched ones, never into the build tree.
    SetCurrentDirectoryA((root + "\\here\\deep").c_str());
    for (const std::string& name : kit::listDir(fixtures)) CopyFileA(kit::join(fixtures, name).c_str(), kit::join(modules, name).c_str(), FALSE);
    for (const std::string& name : kit::listDir(fixtures + "\\new"))
        CopyFileA(kit::join(fixtures + "\\new", name).c_str(), kit::join(newFiles, name).c_str(), FALSE);
    kit::readFile(kit::join(modules, "good.cab"), goodCabinet);
    DeleteFileA(kit::join(modules, "good.cab").c_str());
    resolve(product + "\n" + root + "\\common\n" + root + "\\shared\n" + root + "\\tw\n" + root + "\\cms\n" + root + "\\data\n" + root + "\\temp\n");
    kit::setValue("HKLM\\Software\\Veltrane\\Corvindale\\CurrentVersion\\System", "Installed", REG_SZ, "1"s + '\0');
    // The staging folders exist from the first section on: part of the machine as found.
    prepareStagingDirs(*session(), stagingCreate);
    CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr);
    const std::pair<const char*, std::pair<std::function<std::string()>, std::function<std::string(const std::string&)>>> generators[] = {
        {"manifest", {manifest, install}},
        {"module-list", {moduleList, patch}},
        {"settings", {settings, stamp}},
        {"cabinet", {cabinet, unpack}},
        {"folders", {folders, resolve}}};
    int failed = 0;
    std::printf("seed %lu\n", seed);
    for (const auto& generator : generators) {
        const std::string current = kit::join(out, std::string(generator.first) + ".case");
        int failures = 0;
        const DWORD start = GetTickCount();
        machine.take(true);
        for (int i = 0; i < cases; ++i) {
            const std::string input = generator.second.first();
            kit::writeFile(current, input);
            std::string why = generator.second.second(input);
            SetEvent(progress);
            if (why.empty()) why = machine.broken(false);
            if (why.empty()) continue;
            const std::string kept = kit::join(out, generator.first + ("-" + std::to_string(++failures)) + ".case");
            CopyFileA(current.c_str(), kept.c_str(), FALSE);
            std::printf("%s case %d: %s (input in %s)\n", generator.first, i, why.c_str(), kept.c_str());
            machine.take(false);
        }
        const std::string why = machine.broken(true);
        if (!why.empty()) std::printf("%s, after all cases: %s\n", generator.first, why.c_str()), ++failures;
        DeleteFileA(current.c_str());
        std::printf("%-12s %6d cases, %d failed, %lu ms\n", generator.first, cases, failures, GetTickCount() - start);
        std::fflush(stdout);
        failed += failures;
    }
    return failed ? 1 : 0;
}
