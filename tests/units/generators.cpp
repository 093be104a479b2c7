// Generated outside input, one generator per input the program reads: the
// manifest, the module list, the settings file, cabinets and folders in the
// registry. After each case: no crash and no hang (a case that crashes or
// hangs stops the program and leaves its input in GENERATED\<name>.case),
// nothing written outside the update, macro, module and temporary folders,
// no installed file lost or truncated.
//   generators.exe CASES [SEED]
#include <windows.h>
#include <msiquery.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>

#include "install/directory_macros.h"
#include "install/installation_step.h"
#include "kit/kit.h"
#include "mergemod/cabinet.h"
#include "mergemod/merge_module_patching.h"
#include "product/product_checks.h"
#include "product/registry_work.h"
#include "session/detection.h"
#include "session/update_session.h"

namespace {

const std::string root = "C:\\gen", product = root + "\\product", package = root + "\\pkg";
const std::string modules = product + "\\Packager\\Merge Modules", newFiles = modules + "\\NewFiles";
std::mt19937 rng;
HANDLE progress = CreateEventA(nullptr, FALSE, FALSE, nullptr);

std::string pick(const std::vector<std::string>& pool)
{
    return pool[rng() % pool.size()];
}

std::string randomText(size_t most)
{
    std::string text(rng() % (most + 1), ' ');
    for (char& c : text) c = static_cast<char>(' ' + rng() % 95);
    return text;
}

const std::vector<std::string> awkwardNames = {"", ".", "..", "...", "..\\x.dll", "sub\\x.dll", "C:x.dll", "C:\\x.dll",
                                               "\\\\srv\\x", "a/b", "CON", "nul.txt", "COM1", "LPT9.dll", "x ", std::string(300, 'n')};

// Installed files: their names and the contents they may have, old or new.
const std::vector<std::pair<std::string, std::string>> installed = {
    {"cvd.exe", "cvd 10.4"}, {"Long Name.dll", "long 10.4"}, {"vindale.bin", ""}, {"cvdadmn.dll", "admin 10.4"}};

std::string state(const std::string& folder)
{
    std::string out;
    for (const std::string& name : kit::listDir(folder)) out += "|" + name + "|";
    return out;
}

// An entry of folder that was not there before.
std::string added(const std::string& before, const std::string& folder)
{
    for (const std::string& name : kit::listDir(folder))
        if (before.find("|" + name + "|") == std::string::npos) return kit::join(folder, name);
    return std::string();
}

struct Machine {
    std::string rootEntries = state("C:\\"), current = state("."), genEntries;

    void install()
    {
        for (const auto& file : installed)
            if (!file.second.empty()) kit::writeFile(kit::join(product, file.first), file.second);
        genEntries = state(root);
    }

    // What must hold after every case, whatever the input was.
    std::string broken()
    {
        for (const auto& place : {std::make_pair(rootEntries, "C:\\"), std::make_pair(current, "."), std::make_pair(genEntries, root.c_str())})
            if (!added(place.first, place.second).empty()) return "written outside: " + added(place.first, place.second);
        for (const auto& file : installed) {
            std::string content;
            if (file.second.empty()) continue;
            if (!kit::readFile(kit::join(product, file.first), content)) return file.first + " is lost";
            if (content != file.second && content != "new " + file.first) return file.first + " holds \"" + content + "\"";
        }
        return std::string();
    }
} machine;

void prepare(UpdateSession& session)
{
    kit::removeTree(package);
    CreateDirectoryA(package.c_str(), nullptr);
    for (const auto& file : installed) kit::writeFile(kit::join(package, file.first), "new " + file.first);
    initialiseEnvironment(session);
    session.programDir = package;
    session.manifestPath = package + "\\trevix.ini";
}

void manifest(const std::string& text)
{
    UpdateSession session;
    prepare(session);
    kit::writeFile(session.manifestPath, text);
    installUpdateFiles(session);
}

std::string makeManifest()
{
    const std::vector<std::string> sections = {"COMMON", "FULL.WINDOWSXP", "HOSTADMIN", "REMOTEMANAGE", "PACKAGER.RESOURCES", "TIDEWARDEN"};
    const std::vector<std::string> values = {"PROGDIR", "VELDIR", "PACKAGERRESDIR", "CMSDIR", "DELETE", "delete", "x.dll", "..\\x.dll",
                                             "C:\\x.dll", "CON", "", std::string(40, 'P'), "Version Major"};
    std::string text;
    for (int s = rng() % 6; s >= 0; --s) {
        text += "[" + (rng() % 8 ? pick(sections) : randomText(20)) + "]\r\n";
        for (int k = rng() % 8; k >= 0; --k) {
            std::string key = rng() % 2 ? installed[rng() % installed.size()].first : rng() % 2 ? pick(awkwardNames) : randomText(12);
            text += key + "=" + (rng() % 4 ? pick(values) : randomText(40)) + "\r\n";
        }
    }
    return text;
}

void moduleList(const std::string& text)
{
    UpdateSession session;
    prepare(session);
    kit::writeFile(newFiles + "\\msm.ini", text);
    patchMergeModules(session);
}

std::string makeModuleList()
{
    const std::vector<std::string> sections = {"CVDCOREMAIN.MSM", "OTHER.MSM", "NOFOLDER.MSM", "DEVICE.MSM", "ABSENT.MSM", "..\\OTHER.MSM"};
    const std::vector<std::string> keys = {"cvdhost.exe", "Corvindale Viewer.dll", "tool.exe", "Read Me.txt", "absent.dll"};
    std::string text;
    for (int s = rng() % 3; s >= 0; --s) {
        text += "[" + (rng() % 6 ? pick(sections) : pick(awkwardNames)) + "]\r\n";
        for (int k = rng() % 4; k >= 0; --k) text += (rng() % 3 ? pick(keys) : pick(awkwardNames)) + "=\r\n";
    }
    return text;
}

std::string moduleBroken()
{
    for (const std::string& name : kit::listDir(modules)) {
        MSIHANDLE database = 0;
        const std::string path = kit::join(modules, name);
        const bool module = name.size() > 4 && name.compare(name.size() - 4, 4, ".MSM") == 0;
        if (module && MsiOpenDatabaseA(path.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS)
            return name + " does not open";
        if (database) MsiCloseHandle(database);
        const bool folder = kit::exists(path + "\\*");
        if (!folder && !module) return name + " was left in the module folder";
    }
    return std::string();
}

// The settings file: a genuine one with random fields, then damaged at random.
std::string makeSettings()
{
    std::string image = kit::settingsFile(rng() % 3 ? 10 : rng(), rng(), rng(), rng() % 4);
    for (int flips = rng() % 3 ? 0 : rng() % 4; flips > 0; --flips) image[rng() % image.size()] ^= 1 << rng() % 8;
    if (rng() % 8 == 0) image.resize(rng() % 9000, 'x');
    const unsigned versions[] = {0, 10, 11, 65536, 65537, static_cast<unsigned>(rng())};
    return std::to_string(versions[rng() % 6]) + " " + std::to_string(versions[rng() % 6]) + "\n" + image;
}

std::string caseBroken;

void settings(const std::string& input)
{
    UpdateSession session;
    prepare(session);
    const size_t line = input.find('\n');
    unsigned major = 0, minor = 0;
    std::sscanf(input.c_str(), "%u %u", &major, &minor);
    kit::writeFile(session.manifestPath, "[TIDEWARDEN]\r\nVersion Major=" + std::to_string(major) +
                                             "\r\nVersion Minor=" + std::to_string(minor) + "\r\n");
    const std::string image = input.substr(line + 1), staging = product + ".tmp\\vindale.bin";
    kit::writeFile(product + "\\vindale.bin", image);
    CreateDirectoryA((product + ".tmp").c_str(), nullptr);
    kit::writeFile(staging, image);
    checkProductVersion(session);
    stampStagedVersion(session, product + ".tmp");
    std::string after, product_;
    unsigned oldMajor = 0, oldMinor = 0, newMajor = 0, newMinor = 0;
    kit::readFile(staging, after);
    kit::readFile(product + "\\vindale.bin", product_);
    const bool genuine = kit::settingsVersion(product + "\\vindale.bin", oldMajor, oldMinor);
    caseBroken.clear();
    if (product_ != image) caseBroken = "the installed settings file changed";
    else if (!genuine && after != image) caseBroken = "a foreign staged file was rewritten";
    else if (genuine && (!kit::settingsVersion(staging, newMajor, newMinor) || (after != image && after.size() != 8192) ||
                         after.compare(12, std::string::npos, image, 12, 8192 - 12) || after.compare(0, 8, image, 0, 8)))
        caseBroken = "the staged file changed beyond its version";
    else if (genuine && (newMajor != (major & 0xFFFF ? major & 0xFFFF : oldMajor) || newMinor != (minor & 0xFFFF ? minor & 0xFFFF : oldMinor)))
        caseBroken = "the staged version is " + std::to_string(newMajor) + "." + std::to_string(newMinor);
    else if (kit::exists(staging + ".save")) caseBroken = "the safe write's folder stayed";
}

// A cabinet: a good one with header fields, names and length changed at random.
std::string goodCabinet;

std::string makeCabinet()
{
    std::string cab = goodCabinet;
    auto put = [&](size_t at, unsigned value, int bytes) {
        for (int i = 0; i < bytes && at + i < cab.size(); ++i) cab[at + i] = static_cast<char>(value >> 8 * i);
    };
    const int changes = 1 + rng() % 3;
    for (int i = 0; i < changes; ++i) switch (rng() % 7) {
        case 0: put(26, rng() % 4, 2); break;                         // folders
        case 1: put(28, rng() % 6, 2); break;                         // files
        case 2: put(30, rng() % 8, 2); break;                         // flags: previous, next, reserve
        case 3: put(8, static_cast<unsigned>(cab.size()) + rng() % 3 - 1, 4); break;
        case 4: cab.resize(rng() % (cab.size() + 1)); break;
        case 5: { const std::string name = pick(awkwardNames); cab.replace(std::min<size_t>(60 + rng() % 80, cab.size()), name.size() + 1, name + '\0'); break; }
        default: if (!cab.empty()) cab[rng() % cab.size()] ^= static_cast<char>(1 << rng() % 8);
        }
    return cab;
}

void cabinet(const std::string& cab)
{
    const std::string folder = root + "\\cab", target = folder + "\\out";
    kit::removeTree(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA(target.c_str(), nullptr);
    kit::writeFile(folder + "\\x.cab", cab);
    std::vector<std::string> names;
    mergemod::extractWholeCabinet(folder + "\\", "x.cab", target, names);
    kit::removeTree(folder);
}

// Folders in the registry, and the temporary folder, from a pool of awkward texts.
std::string makeFolders()
{
    const std::vector<std::string> pool = {"", "1", "..\\..", "C:", "C:\\", product, product + "\\", "\\\\.\\nul", "\\\\server\\x",
                                           "relative\\x", std::string(300, 'a'), "\\gen", root + "\\temp with blanks",
                                           root + "\\" + std::string(120, 't') + "\\" + std::string(150, 'u')};
    std::string text;
    for (int i = 0; i < 7; ++i) text += (rng() % 5 ? pick(pool) : randomText(30)) + "\n";
    return text;
}

void folders(const std::string& text)
{
    std::vector<std::string> v;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) v.push_back(text.substr(at, end - at));
    const char* const places[][2] = {{"Software\\Veltrane\\Corvindale\\CurrentVersion\\System", "InstallDir"},
                                     {"Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir"},
                                     {"SOFTWARE\\Veltrane\\SharedUsage", ""},
                                     {"SOFTWARE\\Veltrane\\SharedUsage", "Tidewarden"},
                                     {"Software\\Veltrane\\Corvindale\\CurrentVersion\\System", "CMSDir"},
                                     {"Software\\Veltrane\\Corvindale\\CurrentVersion\\System", "FilesDirectory"}};
    for (int i = 0; i < 6; ++i) kit::setValue(std::string("HKLM\\") + places[i][0], places[i][1], REG_SZ, v[i] + '\0');
    SetEnvironmentVariableA("TMP", v[6].c_str());
    UpdateSession session;
    initialiseEnvironment(session);
    if (!session.productDir.empty() && session.productDir[1] != ':' && session.productDir[0] != '\\')
        caseBroken = "a relative product folder: " + session.productDir;
    if (isProductInstalled() && !session.productDir.empty()) {
        prepareStagingDirs(session, stagingCreate);
        scheduleCleanupRun(session);
        prepareStagingDirs(session, stagingRemove);
    }
    std::string entry;
    DWORD type = 0;
    if (kit::readValue("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "Corvindale Update", type, entry)) {
        const std::string copy = entry.substr(1, entry.find('"', 1) - 1);
        if (!kit::exists(copy)) caseBroken = "the cleanup entry names no copy: " + entry;
        kit::removeTree(copy.substr(0, copy.rfind('\\')));
        kit::deleteValue("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "Corvindale Update");
    }
    SetEnvironmentVariableA("TMP", (root + "\\temp").c_str());
    kit::setValue("HKLM\\Software\\Veltrane\\Corvindale\\CurrentVersion\\System", "InstallDir", REG_SZ, product + '\0');
}

struct Generator {
    const char* name;
    std::function<std::string()> make;
    std::function<void(const std::string&)> apply;
    std::function<std::string()> check;
};

DWORD WINAPI watchdog(void*)
{
    while (WaitForSingleObject(progress, 60000) == WAIT_OBJECT_0) {}
    std::printf("a case did not end within 60 s: its input is in the .case file of its generator\n");
    std::fflush(stdout);
    ExitProcess(3);
}

} // namespace

int main(int argc, char** argv)
{
    const int cases = argc > 1 ? std::atoi(argv[1]) : 100;
    const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1;
    rng.seed(seed);
    std::printf("seed %lu\n", seed);
    const char* out = std::getenv("TREVIX_OUT");
    const std::string saved = out ? out : "C:\\generated";
    CreateDirectoryA(saved.c_str(), nullptr);
    for (const std::string& folder : {root, root + "\\temp", root + "\\temp with blanks", root + "\\" + std::string(120, 't'),
                                      root + "\\" + std::string(120, 't') + "\\" + std::string(150, 'u'), product,
                                      product + "\\Packager", modules, newFiles})
        CreateDirectoryA(folder.c_str(), nullptr);
    const std::string fixtures = std::getenv("TREVIX_FIXTURES") ? std::getenv("TREVIX_FIXTURES") : "";
    for (const std::string& name : kit::listDir(fixtures))
        CopyFileA(kit::join(fixtures, name).c_str(), kit::join(name.find(".MSM") != std::string::npos ? modules : newFiles, name).c_str(), FALSE);
    for (const std::string& name : kit::listDir(fixtures + "\\new"))
        CopyFileA(kit::join(fixtures + "\\new", name).c_str(), kit::join(newFiles, name).c_str(), FALSE);
    kit::readFile(kit::join(fixtures, "good.cab"), goodCabinet);
    DeleteFileA(kit::join(newFiles, "good.cab").c_str());
    folders(product + "\n" + root + "\\common\n" + root + "\\shared\n" + root + "\\tw\n" + root + "\\cms\n" + root +
            "\\data\n" + root + "\\temp\n");
    kit::setValue("HKLM\\Software\\Veltrane\\Corvindale\\CurrentVersion\\System", "Installed", REG_SZ, std::string("1", 2));
    SetEnvironmentVariableA("TMP", (root + "\\temp").c_str());
    // The staging folders exist from the first section on: they belong to the machine as found.
    UpdateSession session;
    prepare(session);
    prepareStagingDirs(session, stagingCreate);
    machine = Machine();
    machine.install();
    CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr);

    const Generator generators[] = {
        {"manifest", makeManifest, manifest, [] { return machine.broken(); }},
        {"module-list", makeModuleList, moduleList, [] { return machine.broken() + moduleBroken(); }},
        {"settings", makeSettings, settings, [] { return machine.broken() + caseBroken; }},
        {"cabinet", makeCabinet, cabinet, [] { return machine.broken(); }},
        {"folders", makeFolders, folders, [] { return machine.broken() + caseBroken; }},
    };
    int failed = 0;
    for (const Generator& generator : generators) {
        const std::string current = kit::join(saved, std::string(generator.name) + ".case");
        int failures = 0;
        const DWORD start = GetTickCount();
        for (int i = 0; i < cases; ++i) {
            const std::string input = generator.make();
            kit::writeFile(current, input);
            caseBroken.clear();
            generator.apply(input);
            SetEvent(progress);
            const std::string why = generator.check();
            if (why.empty()) continue;
            const std::string kept = kit::join(saved, std::string(generator.name) + "-" + std::to_string(++failures) + ".case");
            CopyFileA(current.c_str(), kept.c_str(), FALSE);
            std::printf("%s case %d: %s (input in %s)\n", generator.name, i, why.c_str(), kept.c_str());
            machine.install();
        }
        DeleteFileA(current.c_str());
        std::printf("%-12s %6d cases, %d failed, %lu ms\n", generator.name, cases, failures, GetTickCount() - start);
        std::fflush(stdout);
        failed += failures;
    }
    return failed ? 1 : 0;
}
