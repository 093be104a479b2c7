// Figures, not a test: an install run of 2,000 files (200 MB) into the
// product folder against a loop with the same guarantee (each file copied to
// a new name in a work folder of its target folder, then moved over the
// target) and against a plain CopyFileA loop over the same files; and the
// time to schedule 2,000 staged files through the WinInit.Ini writer.
// Runs on a machine of its own (make bench).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "install/directory_macros.h"
#include "install/file_replacement.h"
#include "install/install_plan.h"
#include "install/installation_step.h"
#include "kit/kit.h"
#include "session/detection.h"
#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/files.h"

namespace {

const int fileCount = 2000;
const size_t fileSize = 100000;
const int perSection = 400;

double now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string name(int i)
{
    char text[16];
    std::snprintf(text, sizeof text, "f%04d", i);
    return text;
}

void fill(const std::string& folder, const std::string& content)
{
    CreateDirectoryA(folder.c_str(), nullptr);
    for (int i = 0; i < fileCount; ++i) kit::writeFile(folder + "\\" + name(i), content);
}

void prepare(UpdateSession& session, const std::string& product, const std::string& package, unsigned long family)
{
    initialiseEnvironment(session);
    session.productDir = product;
    resolveMacros(session);
    session.programDir = package;
    session.manifestPath = package + "\\trevix.ini";
    session.osFamily = family;
    session.hasMergeModules = 0;
}

} // namespace

int main()
{
    const std::string root = "C:\\bench";
    kit::removeTree(root);
    CreateDirectoryA(root.c_str(), nullptr);
    const std::string package = root + "\\package", product = root + "\\Corvindale", plain = root + "\\plain",
                      guarded = root + "\\guarded";
    std::string fresh(fileSize, 'n'), old(fileSize, 'o');
    fill(package, fresh);

    // Five sections of 400 entries: the key list of one section holds 3072 bytes.
    const std::string sections[] = {facts::commonSection, productSectionName(0, osWindowsXp), facts::hostAdminSection,
                                    facts::remoteManageSection, facts::packagerResourcesSection};
    std::string manifest;
    for (int s = 0; s < 5; ++s) {
        manifest += "[" + sections[s] + "]\r\n";
        for (int i = s * perSection; i < (s + 1) * perSection; ++i) manifest += name(i) + "=PROGDIR\r\n";
    }
    kit::writeFile(package + "\\trevix.ini", manifest);

    // Taking turns at going first, so that none always pays for the
    // write-back of the files written before it.
    std::vector<double> installTimes, guardedTimes, copyTimes, planTimes;
    for (int round = 0; round < 4; ++round) {
        // All three replace installed files, as an update does.
        fill(product, old);
        kit::writeFile(product + "\\cvdadmn.dll", "");
        kit::writeFile(product + "\\cvdmgt.exe", "");
        fill(guarded, old);
        fill(plain, old);
        Sleep(1000);

        auto installRun = [&] {
            UpdateSession session;
            prepare(session, product, package, osWindowsXp);
            const double start = now();
            // Logged as a real run logs: a line per entry; planned and checked first.
            session.outcome.begin({facts::installRunKind, "WINDOWSXP", "", package, product});
            const InstallPlan plan = planInstall(session);
            checkPlan(session, plan);
            planTimes.push_back(now() - start);
            installUpdateFiles(session, plan);
            session.workFolders.removeAll();
            session.outcome.finish(0);
            installTimes.push_back(now() - start);
            prepareStagingDirs(session, stagingRemove);
        };
        // Whole or nothing: a copy under a new name in a folder of the
        // target's own folder, then the replacing move.
        auto guardedLoop = [&] {
            const double start = now();
            const std::string work = guarded + "\\~work", copy = work + "\\copy.new";
            CreateDirectoryA(work.c_str(), nullptr);
            for (int i = 0; i < fileCount; ++i)
                if (CopyFileA((package + "\\" + name(i)).c_str(), copy.c_str(), TRUE))
                    MoveFileExA(copy.c_str(), (guarded + "\\" + name(i)).c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            RemoveDirectoryA(work.c_str());
            guardedTimes.push_back(now() - start);
        };
        auto copyLoop = [&] {
            const double start = now();
            for (int i = 0; i < fileCount; ++i)
                CopyFileA((package + "\\" + name(i)).c_str(), (plain + "\\" + name(i)).c_str(), FALSE);
            copyTimes.push_back(now() - start);
        };
        const std::function<void()> loops[] = {installRun, guardedLoop, copyLoop};
        for (int i = 0; i < 3; ++i) loops[(round + i) % 3]();
    }
    std::string check, guardedCheck;
    kit::readFile(product + "\\" + name(fileCount - 1), check);
    kit::readFile(guarded + "\\" + name(fileCount - 1), guardedCheck);
    const double install = *std::min_element(installTimes.begin(), installTimes.end());
    const double same = *std::min_element(guardedTimes.begin(), guardedTimes.end());
    const double copy = *std::min_element(copyTimes.begin(), copyTimes.end());
    std::printf("install run, %d files / %.0f MB into the product folder: %.3f s (best of 4)\n", fileCount,
                fileCount * fileSize / 1e6, install);
    std::printf("copy to a work folder, then replacing move:           %.3f s (best of 4)%s\n", same,
                guardedCheck == fresh ? "" : "  [files were NOT replaced]");
    std::printf("plain CopyFileA loop over the same files:             %.3f s (best of 4)\n", copy);
    const char* const first[] = {"install", "same-guarantee", "copy"};
    for (size_t i = 0; i < installTimes.size(); ++i)
        std::printf("  round %u (%s first): install %.3f s, same-guarantee %.3f s, copy %.3f s\n",
                    static_cast<unsigned>(i + 1), first[i % 3], installTimes[i], guardedTimes[i], copyTimes[i]);
    std::printf("ratio install / same-guarantee loop: %.3f (goal <= 1.10)%s\n", install / same,
                check == fresh ? "" : "  [files were NOT installed]");
    std::printf("ratio install / copy: %.3f (at most 2.0)\n", install / copy);
    const double plan = *std::min_element(planTimes.begin(), planTimes.end());
    std::printf("planning and checking %d entries: %.3f s, %.1f%% of the install run (goal < 5%%)\n", fileCount, plan,
                100 * plan / install);

    // Empty files, both overwriting the same targets: what the install run
    // adds to its copies per entry, without the cost of the data.
    {
        fill(package, "");
        fill(product, "");
        double installEmpty = 1e9, copyEmpty = 1e9;
        for (int round = 0; round < 3; ++round) {
            UpdateSession session;
            prepare(session, product, package, osWindowsXp);
            double start = now();
            installUpdateFiles(session, planInstall(session));
            session.workFolders.removeAll();
            installEmpty = std::min(installEmpty, now() - start);
            start = now();
            for (int i = 0; i < fileCount; ++i) copyOneFile(session.workFolders, name(i), package, product);
            session.workFolders.removeAll();
            copyEmpty = std::min(copyEmpty, now() - start);
            prepareStagingDirs(session, stagingRemove);
        }
        std::printf("empty files (best of 3): install %.3f s, copy %.3f s: %.3f ms added per entry\n", installEmpty,
                    copyEmpty, (installEmpty - copyEmpty) * 1000 / fileCount);
    }

    // 2,000 staged files scheduled on the 9x family: every one a line of WinInit.Ini.
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string wininit = std::string(windows) + "\\wininit.ini";
    kit::removeTree(product + ".tmp");
    fill(product + ".tmp", "staged");
    DeleteFileA(wininit.c_str());
    UpdateSession session;
    prepare(session, product, package, osWindows9x);
    MacroFolder& staged = session.macros[session.macroProgDir];
    staged.staging = product + ".tmp";
    for (int i = 0; i < fileCount; ++i) staged.files.push_back(name(i));
    double start = now();
    finishStagedFiles(session);
    const double schedule = now() - start;
    std::string text;
    kit::readFile(wininit, text);
    const long lines = static_cast<long>(std::count(text.begin(), text.end(), '\n')) - 1;
    std::printf("scheduling %d staged files through WinInit.Ini (9x family): %.3f s, %ld lines, %lu bytes "
                "(goal <= 1 s)\n",
                fileCount, schedule, lines, static_cast<unsigned long>(text.size()));

    // The writer alone.
    DeleteFileA(wininit.c_str());
    UpdateSession writer;
    prepare(writer, product, package, osWindows9x);
    start = now();
    for (int i = 0; i < fileCount; ++i) {
        const std::string target = "C:\\PROGRA~1\\CORVIN~1\\" + name(i) + ".DLL";
        addRenameLine(writer, "C:\\PROGRA~1\\CORVIN~2.TMP\\" + name(i) + ".DLL", &target);
    }
    closeRenameList(writer);
    std::printf("rename-list writer alone, %d lines: %.3f s\n", fileCount, now() - start);

    DeleteFileA(wininit.c_str());
    kit::removeTree(root);
    return 0;
}
