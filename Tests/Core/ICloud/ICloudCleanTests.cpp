#include "QuandrilCore/ICloud/ICloud.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/Compare.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Stop.h"
#include "QuandrilCore/Platform/Token.h"
#include "QuandrilCore/Scanning/Report.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"
#include "Support/TreeSnapshot.h"

using namespace Quandril;
using namespace Quandril::Testing;
using Status = CleanResult::Status;

namespace {

const std::string cloud = "~/Library/Mobile Documents/com~apple~CloudDocs";
const std::string big = cloud + "/Big.mov";     // a placeholder, alone: it carries a caution
const std::string copy = cloud + "/b/Note.txt"; // the newer of two iCloud copies: no caution
const std::string unknown = "icloud-ffffffffffff";
constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();

void standard(FakeMachine& machine)
{
    machine.sparse(big, 3000).file(cloud + "/a/Note.txt", 1000).file(copy, 1000);
    machine.modified(cloud + "/a/Note.txt", TimePoint(std::chrono::seconds(1'600'000'000)));
}

// A fake machine with a drive "Backup", scanned once; every change goes through `files`.
struct Cloud {
    explicit Cloud(const std::function<void(FakeMachine&)>& setup = standard, std::int64_t backupFree = 500'000'000)
    {
        machine.drive("Backup", "/Volumes/Backup", 1'000'000'000, backupFree);
        setup(machine);
        options.files = files;
    }
    const Mac& open()
    {
        mac.emplace(machine.mac());
        scan = ICloud::scan(*mac, std::nullopt, 100, 500, 1'000'000);
        return *mac;
    }
    std::string id(const std::string& display) const
    {
        return display.starts_with("icloud-") ? display : ICloud::itemID(machine.at(display));
    }
    std::vector<CleanResult> clean(const std::vector<std::string>& displays, const ICloud::Stop& stop = {})
    {
        std::vector<std::string> ids;
        for (const auto& display : displays)
            ids.push_back(id(display));
        return ICloud::clean(
            ids, scan, *mac, options, [this](const std::string& line) { lines.push_back(line); }, stop);
    }
    std::string parked(const std::string& rest) const
    {
        return machine.at("/Volumes/Backup/Removed from iCloud/iCloud Drive/" + rest);
    }

    FakeMachine machine;
    std::optional<Mac> mac;
    CloudScan scan;
    std::shared_ptr<FaultyFileOps> files = std::make_shared<FaultyFileOps>();
    CloudOptions options { .drive = "Backup", .chunkBytes = 1'000'000, .marginBytes = 1000, .agreed = true };
    std::vector<std::string> lines;
};

std::string nameOf(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// ---- Requests that go no further than sorting out ----

struct Expect {
    std::string who; // a display path, or an id that is not in the scan
    Status status;
    std::string detail;
};

struct RequestCase {
    const char* name;
    std::string drive;
    bool agreed;
    bool dryRun;
    std::int64_t backupFree;
    std::vector<std::string> ids;
    std::vector<Expect> expected;
};

class Requests : public ::testing::TestWithParam<RequestCase> {};

TEST_P(Requests, AreAnsweredWithoutTouchingAnything)
{
    const auto& row = GetParam();
    Cloud run(standard, row.backupFree);
    const Mac& mac = run.open();
    run.options = CloudOptions { .drive = row.drive.starts_with("/") ? run.machine.at(row.drive) : row.drive,
                                 .chunkBytes = 1'000'000,
                                 .marginBytes = 1000,
                                 .agreed = row.agreed,
                                 .dryRun = row.dryRun };
    run.options.files = run.files;
    const auto before = TreeSnapshot::take(run.machine.root());
    const auto results = run.clean(row.ids);

    ASSERT_EQ(results.size(), row.expected.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
        const Expect& want = row.expected[i];
        const bool known = !want.who.starts_with("icloud-");
        EXPECT_EQ(results[i].id, run.id(want.who));
        EXPECT_EQ(results[i].title, known ? nameOf(want.who) : want.who);
        EXPECT_EQ(results[i].bytes, known ? *size(run.machine.at(want.who)) : 0);
        EXPECT_EQ(results[i].status, want.status) << i;
        EXPECT_EQ(results[i].detail, want.detail) << i;
    }
    EXPECT_TRUE(run.files->calls().empty());
    EXPECT_TRUE(run.lines.empty());
    EXPECT_EQ(before.differences(), std::vector<std::string> {});
    EXPECT_TRUE(History::load(mac).empty());
}

const std::string sayDrive = "Say which drive to park the removed files on.";
const std::string noRoom = "Backup doesn't have room for all of them plus a margin.";
const std::string checkCopy = "check it byte for byte against the copy that stays, park it on Backup in Removed from "
                              "iCloud and remove it from iCloud.";

const RequestCase requestCases[] = {
    { "no such drive",
      "Nowhere",
      true,
      false,
      500'000'000,
      { copy, unknown, big },
      { { copy, Status::refused, sayDrive },
        { unknown, Status::refused, sayDrive },
        { big, Status::refused, sayDrive } } },
    { "the startup drive is no target",
      "Macintosh HD",
      true,
      false,
      500'000'000,
      { big },
      { { big, Status::refused, sayDrive } } },
    { "refusals come first",
      "Backup",
      false,
      true,
      500'000'000,
      { copy, unknown, big },
      { { unknown, Status::refused, "Not in the last iCloud scan; scan again." },
        { big, Status::refused,
          "Afterwards it's no longer in iCloud: the copy moved to your drive is the only one. It "
          "waits until you've agreed to that." },
        { copy, Status::wouldDo, checkCopy } } },
    { "a drive by its path and a dry run",
      "/Volumes/Backup",
      true,
      true,
      500'000'000,
      { big, copy, copy },
      { { big, Status::wouldDo,
          "Would download it, check it byte for byte, park it on Backup in Removed from iCloud "
          "and remove it from iCloud." },
        { copy, Status::wouldDo, checkCopy },
        { copy, Status::wouldDo, checkCopy } } },
    { "a tenth over is not room", "Backup", true, true, 1100, { copy }, { { copy, Status::refused, noRoom } } },
    { "a byte more is room", "Backup", true, true, 1101, { copy }, { { copy, Status::wouldDo, checkCopy } } },
    { "room counts files on the Mac too",
      "Backup",
      true,
      false,
      4400,
      { big, copy },
      { { big, Status::refused, noRoom }, { copy, Status::refused, noRoom } } },
    { "nothing asked", "Nowhere", true, false, 500'000'000, {}, {} },
};

INSTANTIATE_TEST_SUITE_P(ICloud, Requests, ::testing::ValuesIn(requestCases), CaseNamed {});

TEST(ICloudClean, PathsHistoryCannotRecordAreRefusedBeforeAnythingHappens)
{
    const std::string file = cloud + "/bad\xff.mov";
    Cloud run([&](FakeMachine& machine) { machine.sparse(file, 3000); });
    run.open();
    for (const bool dryRun : { true, false }) {
        run.options.dryRun = dryRun;
        const auto results = run.clean({ file });
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].status, Status::refused);
        EXPECT_EQ(results[0].detail,
                  "Its name or path isn't valid UTF-8 text, so History couldn't record the change; "
                  "rename it and scan again.");
    }
    EXPECT_TRUE(run.files->calls().empty());
    EXPECT_TRUE(exists(run.machine.at(file)));
}

// ---- Chunks ----

struct ChunkCase {
    const char* name;
    std::vector<std::pair<std::int64_t, bool>> files; // size, on the Mac
    std::int64_t chunkBytes;
    std::vector<std::string> chunkLines;
};

class Chunks : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(Chunks, FormInRequestOrderAndEveryParkedFileIsInHistory)
{
    const auto& row = GetParam();
    std::vector<std::string> names;
    Cloud run([&](FakeMachine& machine) {
        for (const auto& [bytes, onMac] : row.files) {
            names.push_back(cloud + "/f" + std::to_string(names.size()) + ".bin");
            onMac ? machine.file(names.back(), bytes) : machine.sparse(names.back(), bytes);
        }
    });
    run.options.chunkBytes = row.chunkBytes;
    const Mac& mac = run.open();
    const auto results = run.clean(names);

    std::vector<std::string> chunkLines;
    for (const auto& line : run.lines)
        if (line.starts_with("Chunk "))
            chunkLines.push_back(line);
    EXPECT_EQ(chunkLines, row.chunkLines);
    const auto history = History::load(mac);
    ASSERT_EQ(results.size(), names.size());
    ASSERT_EQ(history.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(results[i].status, Status::done) << results[i].detail;
        EXPECT_EQ(history[i].id, results[i].id);
        EXPECT_EQ(history[i].action, Action::Kind::move);
        EXPECT_EQ(history[i].relocated,
                  (std::vector<Relocation> { { run.machine.at(names[i]), run.parked(nameOf(names[i])), {}, true } }));
        EXPECT_FALSE(exists(run.machine.at(names[i])));
    }
}

const ChunkCase chunkCases[] = {
    { "none fits beside another",
      { { 3000, false }, { 3000, false }, { 6000, false }, { 1000, false } },
      5000,
      { "Chunk 1 of 4: downloading 3 KB", "Chunk 2 of 4: downloading 3 KB", "Chunk 3 of 4: downloading 6 KB",
        "Chunk 4 of 4: downloading 1 KB" } },
    { "files on the Mac ride along",
      { { 4000, false }, { 20000, true }, { 1000, false } },
      5000,
      { "Chunk 1 of 1: downloading 5 KB" } },
    { "nothing to download", { { 2000, true }, { 3000, true } }, 1000, { "Chunk 1 of 1: downloading 0 KB" } },
};

INSTANTIATE_TEST_SUITE_P(ICloud, Chunks, ::testing::ValuesIn(chunkCases), CaseNamed {});

TEST(ICloudClean, ProgressLinesComeInOrder)
{
    Cloud run;
    run.open();
    const auto results = run.clean({ big, copy });
    EXPECT_EQ(run.lines,
              (std::vector<std::string> { "Chunk 1 of 1: downloading 3 KB", "Checking Big.mov",
                                          "Copying Big.mov to Backup", "Checking Note.txt",
                                          "Copying Note.txt to Backup" }));
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].detail, "Checked byte for byte, parked on Backup and removed from iCloud.");
    EXPECT_EQ(results[1].detail,
              "Checked byte for byte against the copy that stays, parked on Backup and removed from "
              "iCloud.");
}

TEST(ICloudClean, TheMacKeepsItsMarginAndSumsThatOverflowFitNowhere)
{
    Cloud run([](FakeMachine& machine) {
        machine.sparse(cloud + "/a.bin", 3000).sparse(cloud + "/b.bin", 4000).file(cloud + "/c.bin", 2000);
        machine.fixture()["drives"][0]["free"] = 100'000;
        machine.drive("Huge", "/Volumes/Huge", most, most);
    });
    run.open();
    run.options.chunkBytes = 4000;
    run.options.marginBytes = 97'000; // exactly enough for the first chunk, not for the second
    auto results = run.clean({ cloud + "/a.bin", cloud + "/b.bin", cloud + "/c.bin" });
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].status, Status::done);
    for (const int i : { 1, 2 }) {
        EXPECT_EQ(results[i].status, Status::refused);
        EXPECT_EQ(results[i].detail,
                  "Downloading it needs " + Report::bytes(101'000) + " free on the Mac, which has "
                      + Report::bytes(100'000) + "; it's still in iCloud.");
    }
    EXPECT_TRUE(exists(run.machine.at(cloud + "/b.bin")));

    run.options.marginBytes = most;
    results = run.clean({ cloud + "/b.bin" });
    EXPECT_EQ(results.at(0).detail,
              "Downloading it needs " + Report::bytes(most) + " free on the Mac, which has " + Report::bytes(100'000)
                  + "; it's still in iCloud.");

    const std::int64_t half = most / 2 + 1;
    run.scan.biggest = { { "icloud-000000000001", run.machine.at(cloud + "/x"), half, true, {}, {}, {} },
                         { "icloud-000000000002", run.machine.at(cloud + "/y"), half, true, {}, {}, {} } };
    run.options = CloudOptions { .drive = "Huge", .chunkBytes = most, .agreed = true, .dryRun = true };
    for (const auto& result : run.clean({ "icloud-000000000001", "icloud-000000000002" }))
        EXPECT_EQ(result.detail, "Huge doesn't have room for all of them plus a margin.");
}

// ---- Stopping ----

struct StopCase {
    const char* name;
    std::int64_t chunkBytes;
    int stopFromPoll;             // polls: before each chunk and before each of its files
    std::vector<Status> statuses; // of a.bin and b.bin
};

class Stopping : public ::testing::TestWithParam<StopCase> {};

TEST_P(Stopping, LeavesTheRestInICloud)
{
    const auto& row = GetParam();
    Cloud run([](FakeMachine& machine) { machine.sparse(cloud + "/a.bin", 3000).sparse(cloud + "/b.bin", 3001); });
    run.open();
    run.options.chunkBytes = row.chunkBytes;
    int polls = 0;
    const auto results = run.clean({ cloud + "/a.bin", unknown, cloud + "/b.bin" },
                                   [&] { return ++polls >= row.stopFromPoll; });
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].detail, "Not in the last iCloud scan; scan again.");
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(results[i + 1].status, row.statuses[i]);
        if (row.statuses[i] == Status::refused) {
            EXPECT_EQ(results[i + 1].detail, "Stopped before this one; it's still in iCloud.");
        }
    }
    EXPECT_TRUE(exists(run.machine.at(cloud + "/b.bin")));
    if (row.stopFromPoll == 1) {
        EXPECT_TRUE(run.lines.empty() && run.files->calls().empty());
    }
}

const StopCase stopCases[] = {
    { "from the start", 1'000'000, 1, { Status::refused, Status::refused } },
    { "between chunks", 0, 3, { Status::done, Status::refused } },
    { "between files", 1'000'000, 3, { Status::done, Status::refused } },
};

INSTANTIATE_TEST_SUITE_P(ICloud, Stopping, ::testing::ValuesIn(stopCases), CaseNamed {});

// ---- Faults while parking: the original's content is never lost ----

// The user saves the file while it is being copied.
class EditsWhileCopying : public FaultyFileOps {
public:
    void copy(const std::string& from, const std::string& to) override
    {
        FaultyFileOps::copy(from, to);
        writeFile(from, std::string(1000, 'z'));
    }
};

struct FaultCase {
    const char* name;
    std::function<void(Cloud&)> prepare; // after the scan
    Status status;
    std::string detail; // a text ending in ": " is the start of the detail
    bool originalStays;
    bool parkedStays;
};

class ParkingFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ParkingFaults, KeepTheOriginalAndSayWhy)
{
    const auto& row = GetParam();
    Cloud run;
    const Mac& mac = run.open();
    row.prepare(run);
    run.options.files = run.files;
    const auto before = TreeSnapshot::take(run.machine.root());
    const auto results = run.clean({ copy });

    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].status, row.status);
    if (row.detail.ends_with(": "))
        EXPECT_TRUE(results[0].detail.starts_with(row.detail)) << results[0].detail;
    else
        EXPECT_EQ(results[0].detail, row.detail);
    EXPECT_EQ(exists(run.machine.at(copy)), row.originalStays);
    EXPECT_EQ(exists(run.parked("b/Note.txt")), row.parkedStays);
    EXPECT_EQ(before.lost(), std::vector<std::string> {});
    EXPECT_EQ(History::load(mac).size(), results[0].relocated.size());
}

// A copy that doesn't match goes again: it never takes the file's name.
const std::string mismatch = "The copy on Backup doesn't match, so Note.txt stays in iCloud.";

const FaultCase faultCases[] = {
    { "corrupt copy", [](Cloud& run) { run.files->damageCopies(FaultyFileOps::CopyFault::flippedByte); },
      Status::failed, mismatch, true, false },
    { "short copy", [](Cloud& run) { run.files->damageCopies(FaultyFileOps::CopyFault::shortFile); }, Status::failed,
      mismatch, true, false },
    { "copy fails", [](Cloud& run) { run.files->failAll(FileOp::copy); }, Status::failed,
      "Couldn't copy it to Backup: ", true, false },
    { "folder fails", [](Cloud& run) { run.files->failAll(FileOp::createFolder); }, Status::failed,
      "Couldn't make the folder on Backup: ", true, false },
    { "removal fails", [](Cloud& run) { run.files->failAll(FileOp::remove); }, Status::failed,
      "Parked on Backup and checked, but it couldn't be removed from iCloud: ", true, true },
    { "keeper differs", [](Cloud& run) { writeFile(run.machine.at(cloud + "/a/Note.txt"), std::string(1000, 'x')); },
      Status::refused, "It isn't identical to iCloud Drive/a/Note.txt byte for byte, so it stays in iCloud.", true,
      false },
    { "keeper gone", [](Cloud& run) { std::filesystem::remove(run.machine.at(cloud + "/a/Note.txt")); }, Status::failed,
      "The copy that stays (iCloud Drive/a/Note.txt) couldn't be read to compare, so nothing was changed.", true,
      false },
    { "grown since the scan", [](Cloud& run) { writeFile(run.machine.at(copy), std::string(1001, 'a')); },
      Status::refused, "It changed or moved since the scan; scan again.", true, false },
    { "replaced by a link",
      [](Cloud& run) {
          std::filesystem::rename(run.machine.at(copy), run.machine.at("~/Note.txt"));
          std::filesystem::create_symlink(run.machine.at("~/Note.txt"), run.machine.at(copy));
      },
      Status::refused, "It isn't in iCloud Drive any more; scan again.", true, false },
    { "edited while copied", [](Cloud& run) { run.files = std::make_shared<EditsWhileCopying>(); }, Status::failed,
      "It changed while it was being parked, so it stays in iCloud as it is now; the copy of how it was before is at "
      "/Volumes/Backup/Removed from iCloud/iCloud Drive/b/Note.txt.",
      true, true },
    // A fake machine's drive is there while its folder stands: this one is unmounted since the scan.
    { "drive unmounted", [](Cloud& run) { std::filesystem::remove_all(run.machine.at("/Volumes/Backup")); },
      Status::refused, "Backup isn't mounted any more, so nothing was changed; it's still in iCloud.", true, false },
};

INSTANTIATE_TEST_SUITE_P(ICloud, ParkingFaults, ::testing::ValuesIn(faultCases), CaseNamed {});

// A parking killed while it copies leaves nothing under the file's name: the next cleanup parks the
// file under its own name, and takes the partial copy the killed one left.
TEST(ICloudPark, AKilledCopyNeverStandsUnderTheFilesName)
{
    const std::string clip = cloud + "/clip6.mov";
    Cloud run([&](FakeMachine& machine) { machine.file(clip, 12 << 20); });
    run.open();
    const auto digest = sha256(run.machine.at(clip));
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            Platform::Token::random(); // a token of its own, as another process draws
            // Killed the first time the copy asks whether to stop: a few MiB into it.
            const Platform::StopInForce killed([] {
                ::raise(SIGKILL);
                return false;
            });
            run.clean({ clip });
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGKILL), "");
    const std::string folder = Platform::parentOf(run.parked("clip6.mov"));
    ASSERT_EQ(listNames(folder).size(), 2u) << "a partial copy and its lock";

    const auto results = run.clean({ clip });
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ((std::vector<std::string> { std::string(rawValue(results[0].status)), results[0].detail,
                                          sha256(run.parked("clip6.mov")).value_or("(none)") }),
              (std::vector<std::string> { "done", "Checked byte for byte, parked on Backup and removed from iCloud.",
                                          digest.value_or("?") }));
    EXPECT_EQ(listNames(folder), std::vector<std::string> { "clip6.mov" });
}

TEST(ICloudPark, AFileThatDidNotArriveIsLeftAlone)
{
    Cloud run;
    const Mac& mac = run.open();
    const DriveInfo backup = mac.drives().at(1);
    const ICloud::Progress silent;
    ICloud::ParkRun park { backup, mac, run.options, silent, {} };
    const auto result = ICloud::park(run.scan.biggest.at(0), {}, park);
    EXPECT_EQ(result.status, Status::failed);
    EXPECT_EQ(result.detail, "It didn't finish downloading, so nothing was changed; it's still in iCloud.");
    EXPECT_TRUE(run.files->calls().empty());
}

TEST(ICloudPark, ATakenNameGetsTheNextNumberBeforeItsExtension)
{
    const std::string parking = "/Volumes/Backup/Removed from iCloud";
    Cloud run([&](FakeMachine& machine) {
        machine.fixture()["cloud"] = Json::Value::array({ "~/Desktop" });
        for (const char* taken : { "/Report.pdf", "/Report 2.pdf", "/Archive.tar.gz", "/Notes" })
            machine.file(parking + "/iCloud Drive" + taken, 1);
        machine.folder("~/Desktop").folder(cloud).link(parking + "/iCloud Drive/Old.pdf", "nowhere");
    });
    const Mac& mac = run.open();
    const DriveInfo backup = mac.drives().at(1);
    const std::vector<std::pair<std::string, std::string>> cases {
        { cloud + "/Taxes/2019.pdf", "/iCloud Drive/Taxes/2019.pdf" },
        { cloud + "/Report.pdf", "/iCloud Drive/Report 3.pdf" },
        { cloud + "/Old.pdf", "/iCloud Drive/Old 2.pdf" },
        { cloud + "/Archive.tar.gz", "/iCloud Drive/Archive.tar 2.gz" },
        { cloud + "/Notes", "/iCloud Drive/Notes 2" },
        { "~/Desktop/plan.txt", "/Desktop/plan.txt" },
        { "~/Downloads/x.txt", "/x.txt" },
    };
    for (const auto& [file, place] : cases)
        EXPECT_EQ(ICloud::parkedPath(run.machine.at(file), backup, mac), run.machine.at(parking + place)) << file;
}

TEST(ICloudClean, PutBackBringsAParkedFileHomeFromTheDrive)
{
    Cloud run;
    const Mac& mac = run.open();
    const auto digest = sha256(run.machine.at(copy));
    ASSERT_EQ(run.clean({ copy }).at(0).status, Status::done);
    ASSERT_FALSE(exists(run.machine.at(copy)));

    const CleanResult back = Cleaner::undo(run.id(copy), mac, false, *run.files);
    EXPECT_EQ(back.status, Status::done) << back.detail;
    EXPECT_EQ(sha256(run.machine.at(copy)), digest);
    EXPECT_FALSE(exists(run.parked("b/Note.txt")));
    const auto history = History::load(mac);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_TRUE(history[0].isUndone());
}

} // namespace
