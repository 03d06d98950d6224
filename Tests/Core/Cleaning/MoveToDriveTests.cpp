#include "QuandrilCore/Cleaning/Cleaner.h"

#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/DriveMove.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Trash.h"
#include "Support/CaseName.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"
#include "Support/MoveBench.h"
#include "Support/SystemState.h"
#include "Support/TreeSnapshot.h"

using namespace Quandril;
using namespace Quandril::Testing;
using Status = CleanResult::Status;

namespace {

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

// ---- Which drive, and whether it has room ----

TEST(DriveChoice, ByNameOrPathNeverTheStartupDrive)
{
    FakeMachine machine;
    machine.drive("Caf\u00e9", "/Volumes/Cafe", 100, 50).drive("Backup", "/Volumes/Backup", 100, 50);
    const Mac mac = machine.mac();
    const ScanReport report = reportOf(mac);
    struct Row {
        std::optional<std::string> moveTo;
        std::optional<std::string> drive; // name of the drive chosen
    };
    const Row rows[] = {
        { std::nullopt, std::nullopt },
        { "Macintosh HD", std::nullopt },
        { machine.root(), std::nullopt },
        { "Backup", "Backup" },
        { machine.at("/Volumes/Backup"), "Backup" },
        { "backup", std::nullopt },
        { "Cafe\u0301", "Caf\u00e9" }, // the same name, decomposed
        { "Backup ", std::nullopt },
    };
    for (const auto& row : rows) {
        const auto chosen = Cleaner::targetDrive(report, row.moveTo);
        EXPECT_EQ(chosen ? std::optional(chosen->name) : std::nullopt, row.drive) << row.moveTo.value_or("(none)");
    }
}

// The one choice the cleaner's moves and iCloud's parking share. Invalid UTF-8 repairs to the same
// replacement character whatever its bytes, so it may only ever match itself.
TEST(DriveChoice, SpellingsOfANameOrPathMatchOnlyAsRealText)
{
    const auto drive = [](std::string name, std::string path, bool startup = false) {
        DriveInfo info;
        info.name = std::move(name);
        info.path = std::move(path);
        info.isStartup = startup;
        return info;
    };
    const std::vector<DriveInfo> drives { drive("Macintosh HD", "/", true), drive("Caf\u00e9", "/Volumes/Caf\u00e9"),
                                          drive("Old\xff", "/Volumes/Old\xff"), drive("Backup", "/Volumes/Backup") };
    const std::pair<std::string, std::optional<std::string>> rows[] = {
        { "Macintosh HD", std::nullopt },
        { "/", std::nullopt },
        { "Caf\u00e9", "/Volumes/Caf\u00e9" },
        { "Cafe\u0301", "/Volumes/Caf\u00e9" },
        { "/Volumes/Cafe\u0301", "/Volumes/Caf\u00e9" },
        { "Old\xff", "/Volumes/Old\xff" },
        { "/Volumes/Old\xff", "/Volumes/Old\xff" },
        { "Old\xfe", std::nullopt },
        { "Old\xef\xbf\xbd", std::nullopt }, // the replacement character itself
        { "Backup", "/Volumes/Backup" },
        { "", std::nullopt },
    };
    for (const auto& [wanted, path] : rows) {
        const auto chosen = DriveMove::chosenDrive(drives, wanted);
        EXPECT_EQ(chosen ? std::optional(chosen->path) : std::nullopt, path) << wanted;
    }
}

TEST(DriveChoice, RoomIsTheSizePlusATenthStrictlyBelowFreeSpace)
{
    struct Row {
        std::int64_t bytes;
        std::int64_t free;
        bool room;
    };
    const Row rows[] = {
        { 1000, 1100, false },
        { 1000, 1101, true },
        { 9, 9, false },
        { 9, 10, true },
        { 0, 0, false },
        { 0, 1, true },
        // A need past the 64-bit range fits nowhere.
        { int64Max, int64Max, false },
        { int64Max - int64Max / 11 + 1, int64Max, false },
        { int64Max / 2, int64Max, true },
    };
    for (const auto& row : rows) {
        DriveInfo drive;
        drive.freeBytes = row.free;
        drive.strictFreeBytes = 0; // free space as the Finder counts it decides
        EXPECT_EQ(Cleaner::hasRoom(row.bytes, drive), row.room) << row.bytes << " on " << row.free;
    }
}

// ---- The move to a drive ----

struct TargetCase {
    const char* name;
    std::string source;
    std::optional<std::string> destination;
    std::optional<std::string> moveTo;
    std::int64_t bytes;
    Status status;
    std::string detail;
};

class MoveTargets : public ::testing::TestWithParam<TargetCase> {};

TEST_P(MoveTargets, DryRunNamesTheTarget)
{
    const auto& row = GetParam();
    Bench bench;
    bench.machine.file("~/Movies/Trip/clip.mov", 100).file("/Shared/Big/a.bin", 100).file("/Volumes/Backup/Taken", 1);
    Finding finding = personalMove({ row.source }, row.bytes);
    finding.action.destination = row.destination ? std::optional(bench.machine.at(*row.destination)) : std::nullopt;
    CleanOptions options = bench.options(true);
    options.moveTo = row.moveTo;
    const Mac& mac = bench.mac();
    finding.paths = { bench.machine.at(row.source) };
    // Straight to the move: the home folder itself would meet the never-touch rules first.
    const auto result = Cleaner::moveToDrive(finding, reportOf(mac), mac, PathGuard(guardedCatalog(), mac), options);
    EXPECT_EQ(result.status, row.status);
    EXPECT_EQ(result.detail, row.detail);
    EXPECT_TRUE(bench.files->calls().empty());
}

std::string wouldCopy(const std::string& to)
{
    return "Would copy to " + to + ", check every file, then move the original to the Trash.";
}

const TargetCase targetCases[] = {
    { "home folder path is kept", "~/Movies/Trip", std::nullopt, "Backup", 1000, Status::wouldDo,
      wouldCopy("/Volumes/Backup/Moved from Mac/Movies/Trip") },
    { "outside home only the last name", "/Shared/Big", std::nullopt, "Backup", 1000, Status::wouldDo,
      wouldCopy("/Volumes/Backup/Moved from Mac/Big") },
    { "home itself only the last name", "~", std::nullopt, "Backup", 1000, Status::wouldDo,
      wouldCopy("/Volumes/Backup/Moved from Mac/me") },
    { "no drive named", "~/Movies/Trip", std::nullopt, std::nullopt, 1000, Status::refused,
      "Say which drive to move it to." },
    { "the startup drive is never a target", "~/Movies/Trip", std::nullopt, "Macintosh HD", 1000, Status::refused,
      "Say which drive to move it to." },
    { "no room", "~/Movies/Trip", std::nullopt, "Backup", 909'090'910, Status::refused,
      "Backup doesn't have room for it plus a margin." },
    { "a destination needs neither drive nor room", "~/Movies/Trip", "/Volumes/Other/Trip", std::nullopt, int64Max,
      Status::wouldDo, wouldCopy("/Volumes/Other/Trip") },
    { "an occupied target", "/Shared/Big", "/Volumes/Backup/Taken", std::nullopt, 1000, Status::refused,
      "/Volumes/Backup/Taken already exists; compare the two before anything moves." },
};

INSTANTIATE_TEST_SUITE_P(Move, MoveTargets, ::testing::ValuesIn(targetCases), CaseNamed {});

TEST(MoveToDrive, CopiesChecksThenTrashesAndNeverMovesTwice)
{
    Bench bench;
    bench.machine.file("~/Movies/Trip/clip.mov", 3000).file("~/Movies/Trip/more/notes.txt", 30);
    bench.machine.link("~/Movies/Trip/latest", "clip.mov");
    const auto before = TreeSnapshot::take(bench.machine.at("~/Movies/Trip"));

    const auto result = bench.run(personalMove({ "~/Movies/Trip" }), bench.options());
    const std::string target = bench.backup("/Moved from Mac/Movies/Trip");
    ASSERT_EQ(result.status, Status::done) << result.detail;
    EXPECT_EQ(result.detail,
              "Moved to /Volumes/Backup/Moved from Mac/Movies/Trip and checked file by file; the "
              "original is in the Trash.");
    const std::string trip = bench.machine.at("~/Movies/Trip");
    EXPECT_EQ(result.relocated,
              (std::vector<Relocation> { { trip, target, {}, {} },
                                         { trip, bench.machine.at("~/.Trash/Trip"), {}, {} } }));
    EXPECT_FALSE(exists(bench.machine.at("~/Movies/Trip")));
    EXPECT_EQ(TreeSnapshot::take(target).entries(), before.entries()) << "the copy keeps contents, modes and times";

    // The same item again: the copy on the drive is never replaced or merged into.
    bench.machine.file("~/Movies/Trip/clip.mov", 10);
    const auto again = bench.run(personalMove({ "~/Movies/Trip" }), bench.options());
    EXPECT_EQ(again.status, Status::refused);
    EXPECT_EQ(again.detail,
              "/Volumes/Backup/Moved from Mac/Movies/Trip already exists; compare the two before "
              "anything moves.");
}

struct GameCase {
    const char* name;
    bool recordOnDrive;
    std::vector<std::string> records; // display forms of the relocations' `to`
};

class GameMoves : public ::testing::TestWithParam<GameCase> {};

TEST_P(GameMoves, SteamRecordGoesBesideTheLibrary)
{
    const auto& row = GetParam();
    Bench bench;
    bench.machine.file("~/Steam/steamapps/common/Game/game.bin", 2000)
        .text("~/Steam/steamapps/appmanifest_7.acf", "mac");
    if (row.recordOnDrive)
        bench.machine.text("/Volumes/Backup/Lib/steamapps/appmanifest_7.acf", "drive");
    Finding finding = makeFinding("game", Tier::reinstallable, Action(Action::Kind::move),
                                  { "~/Steam/steamapps/common/Game", "~/Steam/steamapps/appmanifest_7.acf" });
    finding.action.destination = bench.backup("/Lib/steamapps/common/Game");

    const auto result = bench.run(finding, bench.options());
    const Mac& mac = bench.mac();
    ASSERT_EQ(result.status, Status::done) << result.detail;
    std::vector<std::string> records;
    for (const auto& record : result.relocated)
        records.push_back(mac.display(record.to));
    EXPECT_EQ(records, row.records);
    EXPECT_EQ(readFile(bench.backup("/Lib/steamapps/appmanifest_7.acf")), row.recordOnDrive ? "drive" : "mac");
}

const GameCase gameCases[] = {
    { "record copied",
      false,
      { "/Volumes/Backup/Lib/steamapps/common/Game", "/Volumes/Backup/Lib/steamapps/appmanifest_7.acf",
        "~/.Trash/appmanifest_7.acf", "~/.Trash/Game" } },
    { "record already there",
      true,
      { "/Volumes/Backup/Lib/steamapps/common/Game", "~/.Trash/appmanifest_7.acf", "~/.Trash/Game" } },
};

INSTANTIATE_TEST_SUITE_P(Move, GameMoves, ::testing::ValuesIn(gameCases), CaseNamed {});

// Without its record Steam wouldn't find the moved game: nothing goes to the Trash then, and the
// result names what is on the drive so far.
TEST(SteamRecord, ARecordThatCantBeCopiedKeepsEveryOriginal)
{
    Bench bench;
    bench.machine.file("~/Steam/steamapps/common/Game/game.bin", 2000)
        .text("~/Steam/steamapps/appmanifest_7.acf", "mac");
    Finding finding = makeFinding("game", Tier::reinstallable, Action(Action::Kind::move),
                                  { "~/Steam/steamapps/common/Game", "~/Steam/steamapps/appmanifest_7.acf" });
    finding.action.destination = bench.backup("/Lib/steamapps/common/Game");
    bench.files->failAt(2, FileOp::copy);

    const auto result = bench.run(finding, bench.options());
    EXPECT_EQ(result.status, Status::failed);
    EXPECT_EQ(result.detail.rfind("Copied the files, but not Steam's record of them: planted failure of copy ", 0), 0u)
        << result.detail;
    EXPECT_EQ(result.relocated,
              (std::vector<Relocation> { { bench.machine.at("~/Steam/steamapps/common/Game"),
                                           *finding.action.destination, std::nullopt, std::nullopt } }));
    EXPECT_EQ(bench.files->count(FileOp::trash), 0);
    EXPECT_FALSE(Platform::nameTaken(bench.backup("/Lib/steamapps/appmanifest_7.acf")));
}

// ---- The move with links ----

TEST(MoveWithLinks, MovesWhatIsLeftAndLeavesLinks)
{
    Bench bench;
    bench.machine.file("~/Library/Sounds/Strings/s.wav", 400).file("~/Library/Sounds/Brass/b.wav", 200);
    bench.machine.link("~/Library/Sounds/Keys", "/Volumes/Backup/Sound Libraries/Synth/Keys");
    const std::vector<std::string> items { "~/Library/Sounds/Strings", "~/Library/Sounds/Keys",
                                           "~/Library/Sounds/Brass" };

    const auto dry = bench.run(soundLibrary(items), bench.options(true));
    EXPECT_EQ(dry.status, Status::wouldDo);
    EXPECT_EQ(dry.detail,
              "Would copy each of the 2 to /Volumes/Backup/Sound Libraries/Synth, check every file, put "
              "the original in the Trash and leave a link in its place, so Synth keep finding the sounds "
              "while Backup is plugged in.");

    const auto result = bench.run(soundLibrary(items), bench.options());
    ASSERT_EQ(result.status, Status::done) << result.detail;
    EXPECT_EQ(result.detail,
              "Moved to /Volumes/Backup/Sound Libraries/Synth and checked file by file, with a link "
              "where each was, so Synth find them while Backup is plugged in. The originals are in the "
              "Trash.");
    std::vector<Relocation> expected;
    for (const std::string name : { "Strings", "Brass" }) {
        const std::string item = bench.machine.at("~/Library/Sounds/" + name);
        const std::string place = bench.backup("/Sound Libraries/Synth/" + name);
        EXPECT_TRUE(isSymlink(item) && isDirectory(item)) << "the link leads to the copy";
        expected.insert(expected.end(),
                        { { item, place, {}, {} },
                          { item, bench.machine.at("~/.Trash/" + name), {}, {} },
                          { item, place, true, {} } });
    }
    EXPECT_EQ(result.relocated, expected);
}

TEST(MoveWithLinks, OneItemAndNoOwner)
{
    Bench bench;
    bench.machine.file("~/Library/Sounds/Strings/s.wav", 400);
    const auto dry = bench.run(soundLibrary({ "~/Library/Sounds/Strings" }, std::nullopt), bench.options(true));
    EXPECT_EQ(dry.detail,
              "Would copy it to /Volumes/Backup/Sound Libraries/Title of sounds, check every file, put the "
              "original in the Trash and leave a link in its place, so its apps keep finding the sounds "
              "while Backup is plugged in.");
}

struct LinkRefusalCase {
    const char* name;
    std::function<void(Finding&, FakeMachine&)> setup;
    const char* detail;
};

class LinkMoveRefusals : public ::testing::TestWithParam<LinkRefusalCase> {};

TEST_P(LinkMoveRefusals, TouchNothing)
{
    const auto& row = GetParam();
    Bench bench;
    bench.machine.file("~/Library/Sounds/Strings/s.wav", 400).file("~/Library/Sounds/Brass/b.wav", 200);
    Finding finding = soundLibrary({ "~/Library/Sounds/Strings", "~/Library/Sounds/Brass" });
    row.setup(finding, bench.machine);
    bench.mac();
    const auto before = TreeSnapshot::take(bench.machine.root());
    CleanOptions options = bench.options();
    options.includeCautioned = false;
    const auto result = bench.run(finding, options);
    EXPECT_EQ(result.status, Status::refused);
    EXPECT_EQ(result.detail, row.detail);
    EXPECT_TRUE(bench.files->calls().empty());
    EXPECT_EQ(before.differences(), std::vector<std::string> {});
}

const LinkRefusalCase linkRefusalCases[] = {
    { "a caution waits for agreement", [](Finding& f, FakeMachine&) { f.caution = "Synth must be closed."; },
      "Synth must be closed. It waits until you've agreed to it, knowing that." },
    { "a never-touch item",
      [](Finding& f, FakeMachine& m) {
          m.file("~/Library/Keep/Sounds/k.wav", 3);
          f.paths.push_back("~/Library/Keep/Sounds");
      },
      "It reaches your keepsakes, which is never touched." },
    { "a never-touch folder inside an item",
      [](Finding& f, FakeMachine& m) {
          m.folder("~/Library/Keep");
          f.paths.push_back("~/Library");
      },
      "It reaches your keepsakes, which is never touched." },
    { "a never-touch name ending",
      [](Finding& f, FakeMachine& m) {
          m.file("~/Library/Sounds/Old.keepme/k.wav", 3);
          f.paths.push_back("~/Library/Sounds/Old.keepme");
      },
      "It reaches kept things, which is never touched." },
    { "the caution comes before the drive",
      [](Finding& f, FakeMachine&) {
          f.caution = "Careful.";
          f.bytes = int64Max;
      },
      "Careful. It waits until you've agreed to it, knowing that." },
    { "no room", [](Finding& f, FakeMachine&) { f.bytes = int64Max; },
      "Backup doesn't have room for it plus a margin." },
    { "nothing left", [](Finding& f, FakeMachine&) { f.paths = { "~/Library/Sounds/Gone" }; },
      "Nothing left to move; scan again." },
    { "a place already taken",
      [](Finding&, FakeMachine& m) { m.link("/Volumes/Backup/Sound Libraries/Synth/Brass", "nowhere"); },
      "/Volumes/Backup/Sound Libraries/Synth/Brass already exists; compare the two before anything moves." },
};

INSTANTIATE_TEST_SUITE_P(Move, LinkMoveRefusals, ::testing::ValuesIn(linkRefusalCases), CaseNamed {});

// ---- Removing a copy a drive already holds ----

struct CopyCase {
    const char* name;
    std::function<void(Finding&, FakeMachine&)> setup;
    bool dryRun;
    Status status;
    const char* detail;
};

class RemoveCopy : public ::testing::TestWithParam<CopyCase> {};

TEST_P(RemoveCopy, ComparesByteForByteAndKeepsTheDrivesCopy)
{
    const auto& row = GetParam();
    Bench bench;
    for (const char* at : { "~/Documents/Archive", "/Volumes/Backup/Old/Archive" })
        bench.machine.file(std::string(at) + "/a.bin", 500).text(std::string(at) + "/sub/b.txt", "same");
    Finding finding = makeFinding("archive", Tier::personal, Action::review(), { "~/Documents/Archive" });
    finding.duplicateOf = bench.backup("/Old/Archive");
    finding.caution = "Backup will hold the only copy.";
    row.setup(finding, bench.machine);
    const auto driveCopy = TreeSnapshot::take(bench.backup());

    const auto result = bench.run(finding, bench.options(row.dryRun));
    EXPECT_EQ(result.status, row.status);
    EXPECT_EQ(result.detail, row.detail);
    EXPECT_EQ(driveCopy.differences(), std::vector<std::string> {}) << "the drive's copy is only read";
    const bool gone = row.status == Status::done;
    EXPECT_EQ(exists(bench.machine.at("~/Documents/Archive")), !gone);
    EXPECT_EQ(result.relocated.size(), gone ? 1u : 0u);
}

const CopyCase copyCases[] = {
    { "identical", [](Finding&, FakeMachine&) {}, false, Status::done,
      "Contents matched byte for byte; this copy is in the Trash and /Volumes/Backup/Old/Archive stays." },
    { "dry run", [](Finding&, FakeMachine&) {}, true, Status::wouldDo,
      "Contents match byte for byte; would move this copy to the Trash and keep /Volumes/Backup/Old/Archive." },
    { "one file differs", [](Finding&, FakeMachine& m) { m.text("/Volumes/Backup/Old/Archive/sub/b.txt", "SAME"); },
      false, Status::refused, "The copy on the drive isn't identical any more (1 files differ); nothing was removed." },
    { "one file more on the drive",
      [](Finding&, FakeMachine& m) { m.text("/Volumes/Backup/Old/Archive/c.txt", "new"); }, false, Status::refused,
      "The copy on the drive isn't identical any more (1 files differ); nothing was removed." },
    { "two paths", [](Finding& f, FakeMachine&) { f.paths.push_back("~/Documents/Other"); }, false, Status::refused,
      "Nothing to remove." },
    { "never-touch",
      [](Finding& f, FakeMachine& m) {
          m.text("~/Library/Keep/Archive/a.bin", "k");
          f.paths = { "~/Library/Keep/Archive" };
      },
      false, Status::refused, "It reaches your keepsakes, which is never touched." },
    { "the copy through a link",
      [](Finding& f, FakeMachine& m) {
          m.link("/Volumes/Backup/Alias", "Old");
          f.duplicateOf = m.at("/Volumes/Backup/Alias/Archive");
      },
      false, Status::refused, "One of the copies is reached through a link." },
    { "the copy is gone", [](Finding& f, FakeMachine& m) { f.duplicateOf = m.at("/Volumes/Backup/Old/Gone"); }, false,
      Status::refused, "One of the two copies isn't there any more; scan again." },
    { "the copy is the item itself", [](Finding& f, FakeMachine& m) { f.duplicateOf = m.at("~/Documents/Archive"); },
      false, Status::refused, "The copy on the drive is this same item; nothing was removed." },
    { "the copy lies inside the item",
      [](Finding& f, FakeMachine& m) {
          m.file("~/Documents/Archive/Archive/a.bin", 500);
          f.duplicateOf = m.at("~/Documents/Archive/Archive");
      },
      false, Status::refused, "The copy on the drive is this same item; nothing was removed." },
};

INSTANTIATE_TEST_SUITE_P(Move, RemoveCopy, ::testing::ValuesIn(copyCases), CaseNamed {});

TEST(RemoveCopyIncomplete, AComparisonThatCannotSeeEverythingRemovesNothing)
{
    Bench bench;
    for (const char* at : { "~/Documents/Archive", "/Volumes/Backup/Archive" })
        bench.machine.text(std::string(at) + "/sub/secret.txt", "x");
    Finding finding = makeFinding("archive", Tier::personal, Action::review(), { "~/Documents/Archive" });
    finding.duplicateOf = bench.backup("/Archive");
    // Files a running scan fences off cannot be compared, however alike the rest is.
    PrivacyFence::Registration fence(PrivacyFence::shared(), { bench.machine.at("~/Documents/Archive/sub") });
    const auto result = bench.run(finding, bench.options());
    EXPECT_EQ(result.status, Status::refused);
    EXPECT_EQ(result.detail,
              "Not every file of the two copies could be read, so they can't be compared; nothing was removed.");
    EXPECT_TRUE(exists(bench.machine.at("~/Documents/Archive")));
}

// ---- Asking for the password when a plain operation fails ----

// A live machine whose home is a temporary folder and whose Trash is the desktop one inside it.
class LiveHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* value = std::getenv("XDG_DATA_HOME"))
            saved_ = value;
        ::unsetenv("XDG_DATA_HOME");
    }
    void TearDown() override
    {
        if (saved_)
            ::setenv("XDG_DATA_HOME", saved_->c_str(), 1);
    }

    TempDir dir_;
    Mac mac_ { "", dir_.path(), std::nullopt };
    std::string trashFiles() const { return Platform::homeTrashFiles(dir_.path()); }

private:
    std::optional<std::string> saved_;
};

TEST_F(LiveHome, TrashOrAskMovesUnderAFreeNameAndNeverReplaces)
{
    writeFile(dir_.path() + "/Sounds/Lib/a.wav", "sound");
    writeFile(trashFiles() + "/Lib", "taken");
    makeFolders(trashFiles() + "/Lib 2");

    FaultyFileOps files;
    files.failAll(FileOp::trash).adminAnswer(true);
    const auto arrived = Cleaner::trashOrAsk(dir_.path() + "/Sounds/Lib", mac_, files);
    ASSERT_EQ(arrived, trashFiles() + "/Lib 3");
    // Recorded like any trashed item, so that every Trash client can restore it.
    const std::string info = Platform::parentOf(trashFiles()) + "/info";
    EXPECT_NE(readFile(info + "/Lib 3.trashinfo").find("\nPath=" + dir_.path() + "/Sounds/Lib\n"), std::string::npos);
    EXPECT_EQ(readFile(*arrived + "/a.wav"), "sound");
    EXPECT_EQ(readFile(trashFiles() + "/Lib"), "taken");
    EXPECT_TRUE(listNames(trashFiles() + "/Lib 2").empty()) << "nothing moved into the folder of that name";
    ASSERT_EQ(files.adminLines().size(), 1u);
    EXPECT_NE(files.adminLines()[0].find("'/bin/mv' '-n' '-T'"), std::string::npos) << files.adminLines()[0];

    // A refused password leaves the item where it is.
    writeFile(dir_.path() + "/Sounds/Other/b.wav", "b");
    FaultyFileOps refusing;
    refusing.failAll(FileOp::trash).adminAnswer(false);
    EXPECT_EQ(Cleaner::trashOrAsk(dir_.path() + "/Sounds/Other", mac_, refusing), std::nullopt);
    EXPECT_EQ(readFile(dir_.path() + "/Sounds/Other/b.wav"), "b");
    EXPECT_EQ(listNames(info), std::vector<std::string> { "Lib 3.trashinfo" });
}

TEST_F(LiveHome, LinkOrAskNeverPutsALinkIntoAFolder)
{
    makeFolders(dir_.path() + "/Copy");
    FaultyFileOps files;
    files.failAll(FileOp::createLink).adminAnswer(true);
    EXPECT_TRUE(Cleaner::linkOrAsk(dir_.path() + "/Link", dir_.path() + "/Copy", mac_, files));
    EXPECT_TRUE(isSymlink(dir_.path() + "/Link"));

    makeFolders(dir_.path() + "/Standing");
    EXPECT_FALSE(Cleaner::linkOrAsk(dir_.path() + "/Standing", dir_.path() + "/Copy", mac_, files));
    EXPECT_TRUE(listNames(dir_.path() + "/Standing").empty());
    EXPECT_FALSE(isSymlink(dir_.path() + "/Standing"));
}

TEST(FakeMachineAsksNobody, TrashAndLinkFailuresAreFinal)
{
    FakeMachine machine;
    machine.file("~/Sounds/Lib/a.wav", 10);
    const Mac mac = machine.mac();
    FaultyFileOps files;
    files.failAll(FileOp::trash).failAll(FileOp::createLink).adminAnswer(true);
    EXPECT_EQ(Cleaner::trashOrAsk(machine.at("~/Sounds/Lib"), mac, files), std::nullopt);
    EXPECT_FALSE(Cleaner::linkOrAsk(machine.at("~/Link"), machine.at("~/Sounds"), mac, files));
    EXPECT_EQ(files.count(FileOp::runAsAdmin), 0);
    EXPECT_TRUE(exists(machine.at("~/Sounds/Lib/a.wav")));
}

} // namespace
