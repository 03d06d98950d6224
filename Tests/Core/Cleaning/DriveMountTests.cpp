// Drives as the kernel mounts them: which one is the startup drive when the home has a file system
// of its own, and moves to a drive that is unmounted between its choice and the copy. This
// executable moves into a mount namespace of its own before any test runs, so the mounts it makes
// are seen by no other process and go with it.

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Cleaning/DriveMove.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/PathText.h"
#include "Support/CaseName.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"
#include "Support/LiveHome.h"
#include "Support/MoveBench.h"
#include "Support/OwnMounts.h"

using namespace Quandril;
using namespace Quandril::Testing;

namespace {

// Before main, while the process has one thread.
const bool ownMounts = enterOwnMounts();

// Every file and folder below `folder`, relative to it and sorted; "(none)" when it holds nothing.
std::string treeOf(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        names.push_back(it->path().string().substr(folder.size() + 1));
    std::sort(names.begin(), names.end());
    std::string out;
    for (const auto& name : names)
        out += (out.empty() ? "" : ", ") + name;
    return out.empty() ? "(none)" : out;
}

// ---- The startup drive is the one that holds the home ----

struct StartupCase {
    const char* name;
    // Mounts what the row is about below `dir`, the home being dir + "/home".
    std::function<std::vector<std::unique_ptr<Mounted>>(const std::string& dir)> mount;
    std::vector<std::string> drives; // "/" and the drives below the temporary folder, "<dir>" for it
};

class StartupDrive : public ::testing::TestWithParam<StartupCase> {};

// "/" is listed beside the home's own file system but is neither the startup drive nor a place to
// move to; a file system mounted twice is one drive, shown where the home is.
TEST_P(StartupDrive, IsTheOneThatHoldsTheHome)
{
    NEEDS_OWN_MOUNTS();
    const auto& row = GetParam();
    TempDir dir;
    const std::string home = dir.path() + "/home";
    makeFolders(home);
    const auto mounts = row.mount(dir.path());
    const Mac mac { "", home, std::nullopt };

    std::vector<std::string> seen;
    const auto drives = mac.drives();
    for (const auto& drive : drives) {
        if (drive.path != "/" && !Platform::below(drive.path, dir.path()))
            continue;
        seen.push_back((drive.path == "/" ? "/" : "<dir>" + drive.path.substr(dir.path().size()))
                       + (drive.isStartup ? " startup" : "") + (drive.isExternal() ? " takes moves" : ""));
    }
    EXPECT_EQ(seen, row.drives);
    for (const char* wanted : { "/", "home" })
        EXPECT_FALSE(DriveMove::chosenDrive(drives, wanted)) << wanted;
}

INSTANTIATE_TEST_SUITE_P(
    Mounts, StartupDrive,
    ::testing::Values(StartupCase { "HomeOnItsOwnFileSystem",
                                    [](const std::string& dir) {
                                        std::vector<std::unique_ptr<Mounted>> mounts;
                                        mounts.push_back(std::make_unique<Mounted>(dir + "/home", "", "size=4m"));
                                        return mounts;
                                    },
                                    { "/", "<dir>/home startup" } },
                      // As a second btrfs subvolume or a bind mount of it shows the home's file system again.
                      StartupCase { "HomeFileSystemMountedTwice",
                                    [](const std::string& dir) {
                                        std::vector<std::unique_ptr<Mounted>> mounts;
                                        mounts.push_back(std::make_unique<Mounted>(dir + "/pool", "", "size=4m"));
                                        makeFolders(dir + "/pool/me");
                                        mounts.push_back(std::make_unique<Mounted>(dir + "/home", dir + "/pool/me"));
                                        mounts.push_back(std::make_unique<Mounted>(dir + "/again", dir + "/pool"));
                                        return mounts;
                                    },
                                    { "/", "<dir>/home startup" } },
                      // As btrfs subvolumes "/" and "/home" of one file system are.
                      StartupCase { "HomeOnTheTopFileSystemMountedAgain",
                                    [](const std::string& dir) {
                                        makeFolders(dir + "/elsewhere");
                                        std::vector<std::unique_ptr<Mounted>> mounts;
                                        mounts.push_back(std::make_unique<Mounted>(dir + "/home", dir + "/elsewhere"));
                                        return mounts;
                                    },
                                    { "/ startup" } }),
    CaseNamed {});

// ---- A drive unmounted between its choice and the copy ----

enum class Road { ownFiles, withLinks };
enum class Gone { beforeTheMove, whenTheFolderIsMade, beforeTheFurtherPathGoesToTheTrash };

struct UnmountCase {
    const char* name;
    Road road;
    Gone gone;
    std::string status;
    std::string detail;
    std::string original;   // the original's content, or "(gone)"
    std::string mountPoint; // what its bare folder holds after
};

class UnmountedDrive : public ::testing::TestWithParam<UnmountCase> {};

// Nothing lands on the startup drive in the folder the drive's mount point leaves behind, and the
// original stays in place.
TEST_P(UnmountedDrive, TakesNothingAndWritesNothingOnTheStartupDrive)
{
    NEEDS_OWN_MOUNTS();
    const auto& row = GetParam();
    LiveHome live;
    const std::string mountPoint = live.dir.path() + "/Backup";
    Mounted drive(mountPoint, "", "size=4m");
    const std::string original = row.road == Road::ownFiles ? live.at("Movies/Trip/a.txt")
                                                            : live.at("Library/Sounds/Strings/a.txt");
    writeFile(original, "the original");
    writeFile(live.at("Movies/Trip.txt"), "said of the trip");

    ScanReport report = reportOf(live.mac);
    report.drives = { DriveInfo { .name = "Backup",
                                  .path = mountPoint,
                                  .totalBytes = 4'000'000'000,
                                  .freeBytes = 2'000'000'000,
                                  .strictFreeBytes = 2'000'000'000 } };
    auto files = std::make_shared<FaultyFileOps>();
    const auto goneBefore = [&](FileOp op) {
        files->before([&drive, op](const FileOpCall& call, int) {
            if (call.op == op)
                drive.unmount();
        });
    };
    if (row.gone == Gone::beforeTheMove)
        drive.unmount();
    else if (row.gone == Gone::whenTheFolderIsMade)
        goneBefore(FileOp::createFolder);
    else
        goneBefore(FileOp::trash);
    Finding finding = row.road == Road::ownFiles ? personalMove({ live.at("Movies/Trip"), live.at("Movies/Trip.txt") })
                                                 : soundLibrary({ live.at("Library/Sounds/Strings") });
    CleanOptions options = optionsWith(files);
    options.moveTo = "Backup";
    const auto result = Cleaner::act(finding, report, live.mac, PathGuard(guardedCatalog(), live.mac), options);

    EXPECT_EQ((std::vector<std::string> { std::string(rawValue(result.status)), result.detail,
                                          exists(original) ? readFile(original) : "(gone)", treeOf(mountPoint) }),
              (std::vector<std::string> { row.status, row.detail, row.original, row.mountPoint }));
}

INSTANTIATE_TEST_SUITE_P(
    Moves, UnmountedDrive,
    ::testing::Values(
        UnmountCase { "OwnFilesBeforeTheMove", Road::ownFiles, Gone::beforeTheMove, "refused",
                      "Backup isn't mounted any more, so nothing was moved.", "the original", "(none)" },
        // The copy lands in the bare folder, on the startup drive: it goes again.
        UnmountCase { "OwnFilesWhileTheFolderIsMade", Road::ownFiles, Gone::whenTheFolderIsMade, "failed",
                      "Backup isn't mounted any more, so nothing was moved.", "the original", "(none)" },
        // The copy went with the drive: the original stays until it is back.
        UnmountCase { "OwnFilesBeforeTheTrash", Road::ownFiles, Gone::beforeTheFurtherPathGoesToTheTrash, "failed",
                      "Copied and checked, but Backup isn't mounted any more, so the original stays in place.",
                      "the original", "(none)" },
        UnmountCase { "WithLinksBeforeTheMove", Road::withLinks, Gone::beforeTheMove, "refused",
                      "Backup isn't mounted any more, so nothing was moved.", "the original", "(none)" },
        UnmountCase { "WithLinksWhileTheFolderIsMade", Road::withLinks, Gone::whenTheFolderIsMade, "failed",
                      "Backup isn't mounted any more, so ~/Library/Sounds/Strings stays in place.", "the original",
                      "(none)" }),
    CaseNamed {});

} // namespace
