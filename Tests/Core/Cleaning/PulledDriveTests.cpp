// A drive pulled out right after a move said it was done must hold the copy whole: every road that
// copies to another file system and then lets the original go (a move of one's own files or of a
// sound library, iCloud's parking, the copy across mounts that the Trash and Put Back use) makes
// the copy reach the disk first. This executable moves into a mount namespace of its own before
// any test runs.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/ICloud/ICloud.h"
#include "QuandrilCore/Platform/Move.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"
#include "Support/LiveHome.h"
#include "Support/MoveBench.h"
#include "Support/OwnMounts.h"
#include "Support/PulledDrive.h"
#include "Support/TreeSnapshot.h"

using namespace Quandril;
using namespace Quandril::Testing;

namespace {

// Before main, while the process has one thread.
const bool ownMounts = enterOwnMounts();

// What a road did: its outcome in words, and where its copy is on the drive.
struct Moved {
    std::string outcome;
    std::string copy;
};

struct PullCase {
    const char* name;
    // Fills `source` (a folder on the test's own file system), moves it to the drive at `drive`.
    std::function<Moved(const std::string& source, const std::string& drive, LiveHome& home)> move;
};

ScanReport withBackup(const Mac& mac, const std::string& drive)
{
    ScanReport report = reportOf(mac);
    report.drives = { DriveInfo { .name = "Backup",
                                  .path = drive,
                                  .totalBytes = 32'000'000,
                                  .freeBytes = 20'000'000,
                                  .strictFreeBytes = 20'000'000 } };
    return report;
}

Moved acted(const Finding& finding, const std::string& drive, LiveHome& home, const std::string& copy)
{
    CleanOptions options = optionsWith(std::make_shared<FaultyFileOps>());
    options.moveTo = "Backup";
    const auto result = Cleaner::act(finding, withBackup(home.mac, drive), home.mac,
                                     PathGuard(guardedCatalog(), home.mac), options);
    return { std::string(rawValue(result.status)), copy };
}

class CopyOnAPulledDrive : public ::testing::TestWithParam<PullCase> {};

TEST_P(CopyOnAPulledDrive, IsWholeOnceTheMoveIsDone)
{
    NEEDS_OWN_MOUNTS();
    LiveHome home;
    PulledDrive drive(home.dir.path(), home.dir.path() + "/Backup");
    const std::string source = home.at("Movies/Trip");
    writeFile(source + "/a.txt", std::string(300'000, 'a'));
    writeFile(source + "/deep/b.txt", "b");
    writeFile(source + "/deep/er/c.txt", std::string(70'000, 'c'));
    const auto before = TreeSnapshot::take(source).entries();

    const Moved moved = GetParam().move(source, drive.top(), home);
    ASSERT_EQ(moved.outcome, "done");
    drive.pull();
    drive.plugBack();
    const auto after = TreeSnapshot::take(moved.copy).entries();
    EXPECT_EQ(after.size(), before.size());
    EXPECT_TRUE(after == before) << "the copy isn't whole";
}

INSTANTIATE_TEST_SUITE_P(
    Roads, CopyOnAPulledDrive,
    ::testing::Values(PullCase { "OwnFiles",
                                 [](const std::string& source, const std::string& drive, LiveHome& home) {
                                     return acted(personalMove({ source }, 400'000), drive, home,
                                                  drive + "/Moved from Mac/Movies/Trip");
                                 } },
                      PullCase { "SoundLibrary",
                                 [](const std::string& source, const std::string& drive, LiveHome& home) {
                                     return acted(soundLibrary({ source }), drive, home,
                                                  drive + "/Sound Libraries/Synth/Trip");
                                 } },
                      // The road of a Trash and of Put Back when the item's place is on another file system.
                      PullCase { "AcrossFileSystems",
                                 [](const std::string& source, const std::string& drive, LiveHome&) {
                                     Platform::moveNoReplace(source, drive + "/Trip");
                                     return Moved { "done", drive + "/Trip" };
                                 } }),
    [](const auto& info) { return std::string(info.param.name); });

// iCloud's parking copies one file, checked by its hash, before the file leaves iCloud.
TEST(ParkedOnAPulledDrive, IsWholeOnceParkingIsDone)
{
    NEEDS_OWN_MOUNTS();
    FakeMachine machine;
    machine.drive("Backup", "/Volumes/Backup", 32'000'000, 20'000'000);
    PulledDrive drive(machine.root(), machine.at("/Volumes/Backup"));
    const std::string film = "~/Library/Mobile Documents/com~apple~CloudDocs/Film.mov";
    const std::string content(200'000, 'f');
    writeFile(machine.at(film), content);
    const Mac mac = machine.mac();
    const CloudScan scan = ICloud::scan(mac, std::nullopt, 100, 500, 1'000'000);
    CloudOptions options { .drive = "Backup", .chunkBytes = 1'000'000, .marginBytes = 1000, .agreed = true };
    options.files = std::make_shared<FaultyFileOps>();

    const auto results = ICloud::clean({ ICloud::itemID(machine.at(film)) }, scan, mac, options, [](const auto&) {},
                                       {});
    ASSERT_EQ(results.size(), 1u);
    ASSERT_EQ(results[0].status, CleanResult::Status::done) << results[0].detail;
    drive.pull();
    drive.plugBack();
    EXPECT_TRUE(readFile(machine.at("/Volumes/Backup/Removed from iCloud/iCloud Drive/Film.mov")) == content)
        << "the parked file isn't whole";
}

} // namespace
