// How a move's copy to a drive goes for items that are long, sparse or deep: a stop during the copy
// leaves the original and no partial copy; a sparse file takes on the drive only the room its data
// takes; a folder deeper than a path can name is checked as well as a shallow one. This executable
// moves into a mount namespace of its own before any test runs, for its small drive.

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/Move.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"
#include "Support/LiveHome.h"
#include "Support/MoveBench.h"
#include "Support/OwnMounts.h"
#include "Support/TreeSnapshot.h"

using namespace Quandril;
using namespace Quandril::Testing;

namespace {

// Before main, while the process has one thread.
const bool ownMounts = enterOwnMounts();

// Every entry below `folder`, relative to it and sorted, a partial copy's and its lock's included.
std::vector<std::string> everythingBelow(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        names.push_back(it->path().string().substr(folder.size() + 1));
    std::sort(names.begin(), names.end());
    return names;
}

struct StopCase {
    const char* name;
    bool withLinks;
};

class StoppedCopy : public ::testing::TestWithParam<StopCase> {};

// The stop says yes from the moment a partial copy stands on the drive.
TEST_P(StoppedCopy, KeepsTheOriginalAndLeavesNothingOnTheDrive)
{
    Bench bench;
    const std::string item = GetParam().withLinks ? "~/Library/Sounds/Strings" : "~/Movies/Trip";
    for (int i = 0; i < 300; ++i)
        bench.machine.file(item + "/f" + std::to_string(i), 100);
    const auto before = TreeSnapshot::take(bench.machine.at(item));
    CleanOptions options = bench.options();
    int asked = 0;
    options.stop = [&] {
        ++asked;
        for (const auto& name : everythingBelow(bench.backup()))
            if (name.find(".gorrin-partial-") != std::string::npos)
                return true;
        return false;
    };
    const Finding finding = GetParam().withLinks ? soundLibrary({ item }) : personalMove({ item });
    const auto result = bench.run(finding, options);

    EXPECT_GT(asked, 0);
    EXPECT_EQ((std::vector<std::string> { std::string(rawValue(result.status)), result.detail,
                                          std::to_string(result.bytes), std::to_string(result.relocated.size()) }),
              (std::vector<std::string> { "refused", "Stopped before anything moved; nothing was touched.", "0",
                                          "0" }));
    EXPECT_EQ(before.differences(), std::vector<std::string> {}) << "the original is untouched";
    EXPECT_EQ(everythingBelow(bench.backup()), std::vector<std::string> {}) << "nothing of the copy stays";
}

INSTANTIATE_TEST_SUITE_P(Moves, StoppedCopy,
                         ::testing::Values(StopCase { "OwnFiles", false }, StopCase { "SoundLibrary", true }),
                         [](const auto& info) { return std::string(info.param.name); });

// A disk image of 64 MiB holding 1 MiB of data fits on a drive of 8 MiB, and keeps its holes there.
TEST(SparseCopy, TakesOnTheDriveOnlyWhatItsDataTakes)
{
    NEEDS_OWN_MOUNTS();
    LiveHome live;
    const std::string mountPoint = live.dir.path() + "/Backup";
    Mounted drive(mountPoint, "", "size=8m");
    const std::string image = live.at("Disks/vm.img");
    writeFile(image, "");
    {
        const Platform::Descriptor fd(::open(image.c_str(), O_WRONLY | O_CLOEXEC));
        const std::string data(1 << 20, 'x');
        ASSERT_EQ(::pwrite(fd.get(), data.data(), data.size(), 32 << 20), ssize_t(data.size()));
        ASSERT_EQ(::ftruncate(fd.get(), 64 << 20), 0);
    }
    ScanReport report = reportOf(live.mac);
    report.drives = { DriveInfo { .name = "Backup",
                                  .path = mountPoint,
                                  .totalBytes = 8 << 20,
                                  .freeBytes = 8 << 20,
                                  .strictFreeBytes = 8 << 20 } };
    CleanOptions options = optionsWith(std::make_shared<FaultyFileOps>());
    options.moveTo = "Backup";
    const auto result = Cleaner::act(personalMove({ live.at("Disks") }, 1 << 20), report, live.mac,
                                     PathGuard(guardedCatalog(), live.mac), options);

    ASSERT_EQ(result.status, CleanResult::Status::done) << result.detail;
    const std::string copy = mountPoint + "/Moved from Mac/Disks/vm.img";
    struct stat info {};
    ASSERT_EQ(::stat(copy.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 64 << 20);
    EXPECT_LE(info.st_blocks * 512, 2 << 20) << "the holes were written out";
    EXPECT_TRUE(Platform::sameTree(result.relocated.back().to + "/vm.img", copy, false))
        << "the copy holds the same bytes";
}

// Deeper than PATH_MAX: the check goes folder by folder, as the copy does.
TEST(DeepCopy, IsCheckedAndMoved)
{
    Bench bench;
    bench.machine.file("~/Movies/Deep/top.txt", 10);
    {
        Platform::Descriptor at(::open(bench.machine.at("~/Movies/Deep").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const std::string name(60, 'd');
        for (int level = 0; level < 80; ++level) {
            ASSERT_EQ(::mkdirat(at.get(), name.c_str(), 0755), 0);
            at = Platform::Descriptor(::openat(at.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            ASSERT_TRUE(at);
        }
        const Platform::Descriptor file(::openat(at.get(), "bottom.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        ASSERT_EQ(::write(file.get(), "bottom", 6), 6);
    }
    const auto result = bench.run(personalMove({ "~/Movies/Deep" }), bench.options());
    EXPECT_EQ(std::string(rawValue(result.status)) + ": " + result.detail,
              "done: Moved to /Volumes/Backup/Moved from Mac/Movies/Deep and checked file by file; the original is in "
              "the Trash.");
    // Gone folder by folder, since a path can't name what lies at the bottom.
    FileOps::live().remove(bench.machine.root());
}

} // namespace
