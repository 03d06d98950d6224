// A drive mounted read-only (a write-protected stick, a hibernated system's NTFS) takes no copy and
// gives nothing up: the preview says so as the real run does, and nothing is touched. This
// executable moves into a mount namespace of its own before any test runs, so its mounts are seen
// by no other process.

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/mount.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/ICloud/ICloud.h"
#include "Support/CaseName.h"
#include "Support/MoveBench.h"
#include "Support/OwnMounts.h"
#include "Support/TreeSnapshot.h"

using namespace Quandril;
using namespace Quandril::Testing;

namespace {

// Before main, while the process has one thread.
const bool ownMounts = enterOwnMounts();

struct ReadOnlyCase {
    const char* name;
    Finding finding;
    std::string detail; // for the preview and the real run alike
};

class OnAReadOnlyDrive : public ::testing::TestWithParam<ReadOnlyCase> {};

TEST_P(OnAReadOnlyDrive, NothingIsPromisedNorTouched)
{
    NEEDS_OWN_MOUNTS();
    const auto& row = GetParam();
    Bench bench;
    bench.machine.text("~/Movies/Trip/a.mov", "trip").text("~/Library/Sounds/Strings/a.wav", "strings");
    const Mounted drive(bench.backup(), {}, "size=1m");
    writeFile(bench.backup("/Caches/old.bin"), "old");
    ASSERT_EQ(::mount(nullptr, bench.backup().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    bench.mac();
    const auto before = TreeSnapshot::take(bench.machine.root());

    std::vector<std::string> seen;
    for (const bool dryRun : { true, false }) {
        CleanOptions options = bench.options(dryRun);
        options.linkMove = true;
        Finding finding = row.finding;
        if (finding.action.destination)
            finding.action.destination = bench.machine.at(*finding.action.destination);
        const auto result = bench.run(finding, options);
        seen.push_back(std::string(rawValue(result.status)) + ": " + result.detail);
    }
    EXPECT_EQ(seen, (std::vector<std::string> { "refused: " + row.detail, "refused: " + row.detail }));
    EXPECT_EQ(before.differences(), std::vector<std::string> {});
}

const std::string noCopy = "Backup is mounted read-only, so nothing can be copied to it.";

const ReadOnlyCase readOnlyCases[] = {
    { "move to the drive", personalMove({ "~/Movies/Trip" }), noCopy },
    { "move to a destination on it",
      makeFinding("game", Tier::reinstallable,
                  Action(Action::Kind::move, std::nullopt, std::string("/Volumes/Backup/Games/Trip")),
                  { "~/Movies/Trip" }),
      noCopy },
    { "sound library moved with links", soundLibrary({ "~/Library/Sounds/Strings" }), noCopy },
    { "trashed from it", makeFinding("cache", Tier::rebuilds, Action::trash(), { "/Volumes/Backup/Caches" }),
      "/Volumes/Backup/Caches is on Backup, which is mounted read-only, so it can't go to the Trash." },
};

INSTANTIATE_TEST_SUITE_P(Clean, OnAReadOnlyDrive, ::testing::ValuesIn(readOnlyCases), CaseNamed {});

// Files moved off iCloud are parked on the drive: none is, and none is said to be.
TEST(OnAReadOnlyDrive, NothingIsParkedOnIt)
{
    NEEDS_OWN_MOUNTS();
    Bench bench;
    const std::string clip = "~/Library/Mobile Documents/com~apple~CloudDocs/clip.mov";
    bench.machine.file(clip, 1000);
    const Mounted drive(bench.backup(), {}, "size=1m");
    ASSERT_EQ(::mount(nullptr, bench.backup().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    const Mac& mac = bench.mac();
    const CloudScan scan = ICloud::scan(mac, std::nullopt, 100, 500, 1'000'000);
    const auto before = TreeSnapshot::take(bench.machine.root());

    std::vector<std::string> seen;
    for (const bool dryRun : { true, false }) {
        const CloudOptions options { .drive = "Backup", .chunkBytes = 1'000'000, .agreed = true, .dryRun = dryRun };
        for (const auto& result : ICloud::clean({ ICloud::itemID(bench.machine.at(clip)) }, scan, mac, options, {}, {}))
            seen.push_back(std::string(rawValue(result.status)) + ": " + result.detail);
    }
    EXPECT_EQ(seen, (std::vector<std::string> { "refused: " + noCopy, "refused: " + noCopy }));
    EXPECT_EQ(before.differences(), std::vector<std::string> {});
}

} // namespace
