#include "QuandrilCore/Cleaning/Cleaner.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "Support/CaseName.h"
#include "Support/CleanPrinting.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"
#include "Support/MiniCatalog.h"
#include "Support/TreeSnapshot.h"

using namespace Quandril;
using namespace Quandril::Testing;
using Status = CleanResult::Status;

namespace {

const std::string cache = "~/Library/Caches/app";

// ---- The safety checks of acting on one finding, in the order they decide ----

struct RefusalCase {
    const char* name;
    // Changes the finding (and the machine) so that this check and, where it can, a later one apply.
    std::function<void(Finding&, FakeMachine&)> setup;
    const char* detail;
    const char* dryDetail = nullptr; // when a dry run answers otherwise
    Status dryStatus = Status::refused;
    std::vector<std::string> fenced {};
    bool permanent = false; // caches are deleted for good
};

class ActRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ActRefusals, FirstCheckThatAppliesDecidesAndNothingIsTouched)
{
    const auto& row = GetParam();
    for (const bool dryRun : { true, false }) {
        FakeMachine machine;
        machine.file(cache + "/data.bin", 300).file(cache + "/deep/x.keepme", 10).file("~/Library/Keep/k.txt", 5);
        machine.drive("Backup", "/Volumes/Backup", 10'000'000, 5'000'000);
        machine.file("/Volumes/Backup/app/data.bin", 300);
        Finding finding = makeFinding("f", Tier::rebuilds, Action::trash(), { cache });
        row.setup(finding, machine);
        const Mac mac = machine.mac();
        for (auto& path : finding.paths)
            path = machine.at(path);
        if (finding.duplicateOf)
            finding.duplicateOf = machine.at(*finding.duplicateOf);

        std::vector<std::string> fence;
        for (const auto& folder : row.fenced)
            fence.push_back(machine.at(folder));
        PrivacyFence::Registration registration(PrivacyFence::shared(), fence);

        const auto before = TreeSnapshot::take(machine.root());
        auto files = std::make_shared<FaultyFileOps>();
        CleanOptions options = optionsWith(files, dryRun);
        options.includeCautioned = false;
        options.moveTo.reset();
        options.permanentCaches = row.permanent;
        const CleanResult result = Cleaner::act(finding, reportOf(mac), mac, PathGuard(guardedCatalog(), mac), options);

        const bool dryDiffers = dryRun && row.dryDetail;
        EXPECT_EQ(result.status, dryDiffers ? row.dryStatus : Status::refused) << (dryRun ? "dry run" : "real run");
        EXPECT_EQ(result.detail, dryDiffers ? row.dryDetail : row.detail) << (dryRun ? "dry run" : "real run");
        EXPECT_EQ(result.id, finding.id);
        EXPECT_EQ(result.title, finding.title);
        EXPECT_EQ(result.bytes, finding.bytes);
        EXPECT_TRUE(result.relocated.empty());
        EXPECT_TRUE(files->calls().empty()) << "a refused or dry finding must not reach a file operation";
        EXPECT_EQ(before.differences(), std::vector<std::string> {});
    }
}

Action handOff(std::optional<std::string> app, std::optional<std::string> steps, bool linkable)
{
    return Action(Action::Kind::handOff, std::nullopt, std::nullopt, std::move(app), std::move(steps), std::nullopt,
                  linkable ? std::optional<bool>(true) : std::nullopt);
}

const RefusalCase refusalCases[] = {
    { "unsure before blocked",
      [](Finding& f, FakeMachine&) {
          f.unsure = true;
          f.blockedBy = "Synth is open. Quit it first.";
      },
      "Its owner isn't known for sure; look into it first." },
    { "blocked before unrecordable",
      [](Finding& f, FakeMachine&) {
          f.blockedBy = "Synth is open. Quit it first.";
          f.title = "bad \xff title";
      },
      "Synth is open. Quit it first." },
    { "unrecordable path before the copy removal",
      [](Finding& f, FakeMachine&) {
          f.tier = Tier::personal;
          f.duplicateOf = "/Volumes/Backup/app";
          f.paths = { "~/Library/Caches/caf\xe9" };
      },
      "Its name or path isn't valid UTF-8 text, so History couldn't record the change; rename it and scan again." },
    { "unrecordable id", [](Finding& f, FakeMachine&) { f.id = std::string("id-\xc3"); },
      "Its name or path isn't valid UTF-8 text, so History couldn't record the change; rename it and scan again." },
    { "a personal copy goes to the copy removal before hand-off rules",
      [](Finding& f, FakeMachine&) {
          f.tier = Tier::personal;
          f.duplicateOf = "/Volumes/Backup/app";
          f.action = handOff(std::nullopt, std::nullopt, false);
          f.paths.push_back(cache + "/data.bin");
      },
      "Nothing to remove." },
    { "the copy removal checks the caution itself",
      [](Finding& f, FakeMachine&) {
          f.tier = Tier::personal;
          f.duplicateOf = "/Volumes/Backup/app";
          f.caution = "Backup holds the only copy.";
      },
      "Backup holds the only copy. It waits until you've agreed to it, knowing that." },
    { "hand-off before the personal rule",
      [](Finding& f, FakeMachine&) {
          f.tier = Tier::personal;
          f.action = handOff(std::nullopt, std::nullopt, true);
      },
      // linkMove is on, but no drive was named
      "Say which drive to move it to." },
    { "hand-off names its app and steps",
      [](Finding& f, FakeMachine&) { f.action = handOff("Synth", "Open Synth and use its Library menu", false); },
      "Only Synth can do this: Open Synth and use its Library menu." },
    { "hand-off without app or steps",
      [](Finding& f, FakeMachine&) { f.action = handOff(std::nullopt, std::nullopt, false); },
      "Only its own app can do this: ." },
    { "review before the personal rule",
      [](Finding& f, FakeMachine&) {
          f.tier = Tier::personal;
          f.action = Action::review();
      },
      "This one is for you to decide; Quandril doesn't act on it." },
    { "personal files are only moved",
      [](Finding& f, FakeMachine&) {
          f.tier = Tier::personal;
          f.caution = "Careful.";
      },
      "Your own files are never removed, only moved." },
    { "delete outside rebuilds before any path is looked at",
      [](Finding& f, FakeMachine&) {
          f.tier = Tier::reinstallable;
          f.action = Action::delete_();
          f.caution = "Careful.";
          f.paths = { "~/Library/Caches/gone" };
      },
      "Only caches that rebuild themselves are ever deleted." },
    { "caution before the paths",
      [](Finding& f, FakeMachine&) {
          f.caution = "Careful.";
          f.paths = { "~/Library/Keep" };
      },
      "Careful. It waits until you've agreed to it, knowing that." },
    { "never-touch before link",
      [](Finding& f, FakeMachine& m) {
          m.link("~/Library/Keep/alias", "../Caches/app");
          f.paths = { "~/Library/Keep/alias" };
      },
      "It reaches your keepsakes, which is never touched." },
    { "a rule inside the folder counts as reaching it", [](Finding& f, FakeMachine&) { f.paths = { "~/Library" }; },
      "It reaches your keepsakes, which is never touched." },
    { "each path is checked whole before the next",
      [](Finding& f, FakeMachine&) {
          f.paths = { "~/Library/Caches/gone", "~/Library/Keep/k.txt" };
      },
      "~/Library/Caches/gone isn't there any more; scan again." },
    { "link before presence",
      [](Finding& f, FakeMachine& m) {
          m.link("~/Library/Caches/alias", "app");
          f.paths = { "~/Library/Caches/alias", "~/Library/Caches/gone" };
      },
      "It's reached through a link, so acting on it could land somewhere else." },
    { "a trailing slash counts as a link", [](Finding& f, FakeMachine&) { f.paths = { cache + "/" }; },
      "It's reached through a link, so acting on it could land somewhere else." },
    { "a fenced path counts as gone",
      [](Finding& f, FakeMachine& m) {
          m.file("~/Documents/notes.txt", 4);
          f.paths = { "~/Documents/notes.txt" };
      },
      "~/Documents/notes.txt isn't there any more; scan again.",
      nullptr,
      Status::refused,
      { "~/Documents" } },
    { "a name ending inside the folder", [](Finding&, FakeMachine&) {},
      "It holds kept things, which is never touched." },
    { "a move is searched inside too",
      [](Finding& f, FakeMachine&) {
          f.tier = Tier::personal;
          f.action = Action(Action::Kind::move);
      },
      "It holds kept things, which is never touched." },
    { "a command is not searched inside, and a fake Mac runs none",
      [](Finding& f, FakeMachine&) {
          f.action = Action(Action::Kind::command, std::vector<std::string> { "/usr/bin/true", "--all" });
      },
      "A fake Mac runs no commands (would run: /usr/bin/true --all).", "Would run: /usr/bin/true --all",
      Status::wouldDo },
    { "a trash finding with no paths", [](Finding& f, FakeMachine&) { f.paths.clear(); },
      "Nothing to move to the Trash; scan again." },
    { "a delete finding with no paths",
      [](Finding& f, FakeMachine&) {
          f.paths.clear();
          f.action = Action::delete_();
      },
      "Nothing to move to the Trash; scan again." },
    { "a move with no paths",
      [](Finding& f, FakeMachine&) {
          f.paths.clear();
          f.tier = Tier::personal;
          f.action = Action(Action::Kind::move);
      },
      "Nothing to move." },
    { "a permanent delete of nothing is not done",
      [](Finding& f, FakeMachine&) {
          f.paths.clear();
          f.action = Action::delete_();
      },
      "Nothing to delete; scan again.",
      nullptr,
      Status::refused,
      {},
      true },
};

INSTANTIATE_TEST_SUITE_P(Cleaner, ActRefusals, ::testing::ValuesIn(refusalCases), CaseNamed {});

// ---- What each kind does ----

struct KindCase {
    const char* name;
    Action action;
    bool permanent;
    std::pair<int, FileOp> failAt; // the k-th operation of that kind fails; 0: none
    Status status;
    const char* detail;
    std::vector<bool> left; // per path: still in place afterwards
    std::size_t records;
};

class ActKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(ActKinds, CarriesOutTheKind)
{
    const auto& row = GetParam();
    FakeMachine machine;
    const std::vector<std::string> displays { "~/Library/Caches/a", "~/Library/Caches/b b",
                                              "~/Library/Caches/c\u00e9" };
    for (const auto& display : displays)
        machine.file(display + "/f.bin", 100);
    const Mac mac = machine.mac();
    std::vector<std::string> paths;
    for (const auto& display : displays)
        paths.push_back(machine.at(display));

    auto files = std::make_shared<FaultyFileOps>();
    if (row.failAt.first)
        files->failAt(row.failAt.first, row.failAt.second);
    CleanOptions options = optionsWith(files);
    options.permanentCaches = row.permanent;
    const auto result = Cleaner::act(makeFinding("f", Tier::rebuilds, row.action, paths), reportOf(mac), mac,
                                     PathGuard(guardedCatalog(), mac), options);

    EXPECT_EQ(result.status, row.status);
    // A failure's sentence ends with the system's own words.
    EXPECT_EQ(result.detail.rfind(row.detail, 0), 0u) << result.detail;
    ASSERT_EQ(result.relocated.size(), row.records);
    for (std::size_t i = 0; i < result.relocated.size(); ++i) {
        EXPECT_EQ(result.relocated[i].from, paths[i]);
        EXPECT_EQ(readFile(result.relocated[i].to + "/f.bin").size(), 100u);
        EXPECT_FALSE(result.relocated[i].link.has_value());
        EXPECT_FALSE(result.relocated[i].parked.has_value());
    }
    for (std::size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(exists(paths[i]), row.left[i]) << paths[i];
}

const char* const trashed = "Moved to the Trash; the space comes back when the Trash is emptied.";

const KindCase kindCases[] = {
    { "trash", Action::trash(), false, {}, Status::done, trashed, { false, false, false }, 3 },
    { "delete through the Trash", Action::delete_(), false, {}, Status::done, trashed, { false, false, false }, 3 },
    { "delete for good",
      Action::delete_(),
      true,
      {},
      Status::done,
      "Deleted; it rebuilds itself.",
      { false, false, false },
      0 },
    { "trash fails on the second path",
      Action::trash(),
      false,
      { 2, FileOp::trash },
      Status::failed,
      "Couldn't move ~/Library/Caches/b b to the Trash: ",
      { false, true, true },
      1 },
    { "delete for good stops at the first error",
      Action::delete_(),
      true,
      { 2, FileOp::remove },
      Status::failed,
      "Couldn't delete ~/Library/Caches/b b: ",
      { false, true, true },
      0 },
};

INSTANTIATE_TEST_SUITE_P(Cleaner, ActKinds, ::testing::ValuesIn(kindCases), CaseNamed {});

// ---- Never-touch paths inside a folder ----

TEST(ProtectedInside, FindsTheFirstRuleBelowWithinTheLimit)
{
    FakeMachine machine;
    // A chain, so the walk meets the match third whatever order the file system lists.
    machine.file("~/Chain/a/b/x.keepme", 1);
    machine.file("~/Plain/a.txt", 1).file("~/Plain/b/c.txt", 1);
    machine.file("~/Fenced/inner/x.keepme", 1);
    machine.file("~/file.keepme.not", 1);
    const Mac mac = machine.mac();
    const PathGuard guardian(guardedCatalog(), mac);
    const Cleaner::InsideSearch nothing, kept { "kept things", std::nullopt },
        keepsakes { "your keepsakes", std::nullopt };

    EXPECT_EQ(Cleaner::protectedInside(machine.at("~/Chain"), guardian), kept);
    EXPECT_EQ(Cleaner::protectedInside(machine.at("~/Chain"), guardian, 3), kept);
    EXPECT_EQ(Cleaner::protectedInside(machine.at("~/Chain"), guardian, 2), nothing);
    EXPECT_EQ(Cleaner::protectedInside(machine.at("~/Plain"), guardian), nothing);
    EXPECT_EQ(Cleaner::protectedInside(machine.at("~/file.keepme.not"), guardian), nothing);
    EXPECT_EQ(Cleaner::protectedInside(machine.at("~/missing"), guardian), nothing);
    // A rule path below counts as well as a name ending.
    machine.folder("~/Library/Keep");
    EXPECT_EQ(Cleaner::protectedInside(machine.at("~/Library"), guardian), keepsakes);

    {
        PrivacyFence::Registration fence(PrivacyFence::shared(), { machine.at("~/Fenced") });
        EXPECT_EQ(Cleaner::protectedInside(machine.at("~/Fenced"), guardian), nothing);
        EXPECT_EQ(Cleaner::protectedInside(machine.at("~/Fenced/inner"), guardian), nothing);
    }
    EXPECT_EQ(Cleaner::protectedInside(machine.at("~/Fenced"), guardian), kept);
}

// ---- The clean-up driver ----

Catalog cachesCatalog()
{
    Catalog catalog = guardedCatalog();
    auto trash = place("old-caches", "~/Library/Caches/old");
    trash.action = Action::trash();
    trash.tier = Tier::reinstallable;
    auto fresh = place("fresh-caches", "~/Library/Caches/fresh");
    fresh.action = Action::trash();
    fresh.tier = Tier::reinstallable;
    catalog.places = { trash, fresh };
    return catalog;
}

std::string historyText(const Mac& mac)
{
    return exists(History::path(mac)) ? readFile(History::path(mac)) : std::string();
}

std::string line(const HistoryEntry& entry)
{
    return *History::encodeLine(entry) + "\n";
}

TEST(Clean, AnEmptyRequestStillScans)
{
    FakeMachine machine;
    const Mac mac = machine.mac();
    EXPECT_TRUE(Cleaner::clean({}, mac, cachesCatalog(), optionsWith(std::make_shared<FaultyFileOps>())).empty());
    EXPECT_EQ(historyText(mac), "");
}

TEST(Clean, ResultsKeepRequestOrderAndEachChangeIsRecordedBeforeTheNext)
{
    FakeMachine machine;
    machine.file("~/Library/Caches/old/a.bin", 4000).file("~/Library/Caches/fresh/b.bin", 2000);
    const Mac mac = machine.mac();

    auto files = std::make_shared<FaultyFileOps>();
    std::vector<std::string> historyWhenTrashing;
    files->before([&](const FileOpCall& call, int) {
        if (call.op == FileOp::trash)
            historyWhenTrashing.push_back(historyText(mac));
    });
    const auto results = Cleaner::clean({ "fresh-caches", "nowhere", "old-caches", "fresh-caches" }, mac,
                                        cachesCatalog(), optionsWith(files));

    ASSERT_EQ(results.size(), 4u);
    const std::vector<std::pair<std::string, Status>> statuses { { "fresh-caches", Status::done },
                                                                 { "nowhere", Status::refused },
                                                                 { "old-caches", Status::done },
                                                                 { "fresh-caches", Status::refused } };
    for (std::size_t i = 0; i < results.size(); ++i)
        EXPECT_EQ(std::pair(results[i].id, results[i].status), statuses[i]) << i;
    EXPECT_EQ(
        results[1],
        (CleanResult {
            "nowhere", "nowhere", Status::refused, "A fresh scan doesn't find this any more; scan again.", 0, {} }));
    // The same id again meets the same fresh report: its folder is gone now.
    EXPECT_EQ(results[3].detail, "~/Library/Caches/fresh isn't there any more; scan again.");

    // The first change must be on file before the second starts.
    const auto history = History::load(mac);
    EXPECT_EQ(historyWhenTrashing, (std::vector<std::string> { "", line(history.at(0)) }));
    ASSERT_EQ(history.size(), 2u);
    HistoryEntry first = history[0];
    first.relocated = Testing::movesOf(first.relocated);
    EXPECT_EQ(first,
              (HistoryEntry { history[0].at,
                              "fresh-caches",
                              results[0].title,
                              Action::Kind::trash,
                              results[0].bytes,
                              results[0].relocated,
                              {} }));
    EXPECT_EQ(history[1].id, "old-caches");
}

TEST(Clean, OnlyChangesAreRecorded)
{
    struct Row {
        const char* name;
        bool dryRun;
        int failTrashAt;
        Status status;
        std::size_t lines;
    };
    const Row rows[] = {
        { "dry run", true, 0, Status::wouldDo, 0 },
        { "failed with nothing moved", false, 1, Status::failed, 0 },
        { "failed after one path moved", false, 2, Status::failed, 1 },
        { "done", false, 0, Status::done, 1 },
    };
    for (const auto& row : rows) {
        FakeMachine machine;
        machine.file("~/Library/Caches/old/a/1.bin", 3000).file("~/Library/Caches/old2/b/1.bin", 3000);
        Catalog catalog = guardedCatalog();
        auto both = place("old-caches", "~/Library/Caches/old");
        both.paths.push_back("~/Library/Caches/old2");
        both.action = Action::trash();
        catalog.places = { both };
        const Mac mac = machine.mac();
        auto files = std::make_shared<FaultyFileOps>();
        if (row.failTrashAt)
            files->failAt(row.failTrashAt, FileOp::trash);
        const auto before = TreeSnapshot::take(machine.root());
        const auto results = Cleaner::clean({ "old-caches" }, mac, catalog, optionsWith(files, row.dryRun));
        ASSERT_EQ(results.size(), 1u) << row.name;
        EXPECT_EQ(results[0].status, row.status) << row.name;
        const auto history = History::load(mac);
        ASSERT_EQ(history.size(), row.lines) << row.name;
        if (row.lines) {
            EXPECT_EQ(Testing::movesOf(history[0].relocated), results[0].relocated) << row.name;
        }
        if (row.dryRun) {
            EXPECT_EQ(before.differences(), std::vector<std::string> {}) << row.name;
        }
    }
}

TEST(Clean, AStopEndsItBetweenItemsWithWhatWasDoneRecorded)
{
    // The stop comes while the second of three folders goes: that one finishes, the third stays,
    // and the next finding isn't started.
    for (const bool permanent : { true, false }) {
        SCOPED_TRACE(permanent ? "deleted for good" : "moved to the Trash");
        FakeMachine machine;
        machine.file("~/Library/Caches/one/a.bin", 30000).file("~/Library/Caches/two/b.bin", 20000);
        machine.file("~/Library/Caches/three/c.bin", 10000).file("~/Library/Caches/fresh/d.bin", 5000);
        Catalog catalog = guardedCatalog();
        auto three = place("three-caches", "~/Library/Caches/one");
        three.paths = { "~/Library/Caches/one", "~/Library/Caches/two", "~/Library/Caches/three" };
        catalog.places = { three, place("fresh-caches", "~/Library/Caches/fresh") };
        const Mac mac = machine.mac();
        const std::int64_t firstTwo = mac.usage(machine.at("~/Library/Caches/one")).bytes
            + mac.usage(machine.at("~/Library/Caches/two")).bytes;

        auto files = std::make_shared<FaultyFileOps>();
        int items = 0;
        CleanOptions options = stoppingAfter(2, files, items);
        options.permanentCaches = permanent;
        const auto results = Cleaner::clean({ "three-caches", "fresh-caches" }, mac, catalog, options);

        ASSERT_EQ(results.size(), 2u);
        EXPECT_EQ(std::tuple(results[0].status, results[0].detail, results[0].bytes, results[0].relocated.size()),
                  std::tuple(Status::done, std::string("Stopped after 2 of 3 items; the others are still there."),
                             firstTwo, permanent ? 0u : 2u));
        EXPECT_EQ(results[1],
                  (CleanResult { "fresh-caches",
                                 "fresh-caches",
                                 Status::refused,
                                 "Stopped before it started; nothing was touched.",
                                 0,
                                 {} }));
        EXPECT_EQ(items, 2);
        for (const char* left : { "~/Library/Caches/three/c.bin", "~/Library/Caches/fresh/d.bin" })
            EXPECT_TRUE(exists(machine.at(left))) << left;
        EXPECT_FALSE(exists(machine.at("~/Library/Caches/two")));

        // History says what the disk shows: the two folders that went, and their bytes only.
        const auto history = History::load(mac);
        ASSERT_EQ(history.size(), 1u);
        HistoryEntry recorded = history[0];
        recorded.relocated = Testing::movesOf(recorded.relocated);
        EXPECT_EQ(recorded,
                  (HistoryEntry { history[0].at,
                                  "three-caches",
                                  results[0].title,
                                  Action::Kind::delete_,
                                  firstTwo,
                                  results[0].relocated,
                                  {} }));
    }
}

TEST(Clean, UserProtectedPathsInDisplayFormAreHonoured)
{
    FakeMachine machine;
    machine.file("~/Library/Caches/old/a.bin", 3000);
    const Mac mac = machine.mac();
    CleanOptions options = optionsWith(std::make_shared<FaultyFileOps>());
    options.scan.extraProtected = { { "~/Library/Caches/old/a.bin", "my file" } };
    const auto results = Cleaner::clean({ "old-caches" }, mac, cachesCatalog(), options);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].status, Status::refused);
    EXPECT_TRUE(exists(machine.at("~/Library/Caches/old/a.bin")));
}

// ---- A clean-up, then Put Back ----

TEST(Clean, PutBackRestoresEveryOriginalPathExactly)
{
    FakeMachine machine;
    const auto old = std::chrono::system_clock::now() - std::chrono::hours(24 * 400);
    machine.file("~/Library/Caches/old/a.bin", 3000).file("~/Library/Caches/old/sub/b.bin", 1000);
    machine.file("~/Movies/Trip/clip.mov", 5000).file("~/Movies/Trip/notes \"1\".txt", 20);
    machine.file("~/Library/Sounds/Strings/s.wav", 4000).file("~/Library/Sounds/Brass/b.wav", 2000);
    for (const char* item : { "~/Library/Caches/old/a.bin", "~/Movies/Trip/clip.mov", "~/Movies/Trip/notes \"1\".txt",
                              "~/Movies/Trip", "~/Library/Sounds/Strings/s.wav", "~/Library/Sounds/Strings" })
        machine.modified(item, old);
    ::chmod(machine.at("~/Movies/Trip/clip.mov").c_str(), 0604);
    machine.drive("Backup", "/Volumes/Backup", 1'000'000'000, 500'000'000);

    Catalog catalog = cachesCatalog();
    auto sounds = place("sounds", "~/Library/Sounds/*");
    sounds.tier = Tier::reinstallable;
    sounds.owner = "Synth";
    sounds.action = Action(Action::Kind::handOff, std::nullopt, std::nullopt, std::string("Finder"),
                           std::string("Move it in Synth"), std::nullopt, true);
    catalog.places.push_back(sounds);
    const Mac mac = machine.mac();

    CleanOptions options = optionsWith(FileOps::liveShared());
    options.moveTo = "Backup";
    options.scan.now = std::chrono::system_clock::now();
    const ScanReport scan = Scanner::scan(mac, catalog, options.scan);
    std::string movie;
    for (const auto& finding : scan.findings)
        if (finding.paths.front() == machine.at("~/Movies/Trip"))
            movie = finding.id;
    ASSERT_FALSE(movie.empty());

    const std::vector<std::string> watched { "~/Library/Caches", "~/Movies", "~/Library/Sounds" };
    std::vector<TreeSnapshot> before;
    for (const auto& folder : watched)
        before.push_back(TreeSnapshot::take(machine.at(folder)));

    const auto results = Cleaner::clean({ "old-caches", movie, "sounds" }, mac, catalog, options);
    ASSERT_EQ(results.size(), 3u);
    for (const auto& result : results)
        ASSERT_EQ(result.status, Status::done) << result.id << ": " << result.detail;
    EXPECT_TRUE(isSymlink(machine.at("~/Library/Sounds/Strings")));
    for (const auto& snapshot : before)
        EXPECT_FALSE(snapshot.differences().empty()) << snapshot.root() << " should have changed";

    for (const auto& id : { "sounds", movie.c_str(), "old-caches" }) {
        const auto back = Cleaner::undo(id, mac, false);
        EXPECT_EQ(back.status, Status::done) << id << ": " << back.detail;
    }
    for (const auto& snapshot : before)
        EXPECT_EQ(snapshot.differences(), std::vector<std::string> {}) << snapshot.root();
}

} // namespace
