#include "QuandrilCore/Scanning/Scanner.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Scanning/Planner.h"
#include "QuandrilCore/Scanning/Report.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/MiniCatalog.h"
#include "Support/Records.h"
#include "Support/SystemState.h"

using namespace Quandril;
using Quandril::Testing::FakeMachine;
using Quandril::Testing::ids;
using Quandril::Testing::records;

namespace {

const std::string linkWhy = "reached through a link; acting on it could reach somewhere else";
const std::string fencedWhy = "macOS asks before any app looks inside; give Gorrin Full Disk Access to include it";

Catalog::Place place(std::string id, std::string pattern, Action action = Action(Action::Kind::delete_))
{
    Catalog::Place out = Testing::place(std::move(id), std::move(pattern));
    out.action = std::move(action);
    return out;
}

// Every place and runtime offered whatever its size; the other finders stay quiet.
Catalog placesCatalog(std::vector<Catalog::Place> places = {})
{
    Catalog catalog = Testing::miniCatalog();
    catalog.places = std::move(places);
    Testing::onlyPlacesSpeak(catalog);
    return catalog;
}

ScanOptions options(std::vector<ProtectedPath> extra = {})
{
    return ScanOptions { .extraProtected = std::move(extra) };
}

// ---- Never touched, reached through a link -------------------------------------------------------

struct RefusalCase {
    std::string name;
    std::function<void(FakeMachine&)> machine;
    std::function<void(Catalog&)> catalog;
    std::vector<ProtectedPath> extraProtected;
    std::vector<std::string> accepted;                        // finding ids, in report order
    std::vector<std::pair<std::string, std::string>> refused; // display path, why
};

void PrintTo(const RefusalCase& c, std::ostream* out)
{
    *out << c.name;
}

const RefusalCase refusalCases[] = {
    { "never-touch path deep inside a place",
      [](FakeMachine& m) { m.file("~/Work/Keep/thesis.tex", 100).file("~/Work/build/out.o", 100); },
      [](Catalog& c) {
          c.places = { place("work", "~/Work"), place("build", "~/Work/build") };
          c.protected_ = { { "~/Work/Keep", "your own work" } };
      },
      {},
      { "build" },
      { { "~/Work", "never touched: your own work" } } },
    { "user-protected folder at, under and above",
      [](FakeMachine& m) {
          m.file("~/Media/Movies/Old Cuts/take.mov", 100).file("~/Media/Movies Backup/take.mov", 100);
      },
      [](Catalog& c) {
          c.places = { place("at", "~/Media/Movies"), place("under", "~/Media/Movies/Old Cuts"),
                       place("above", "~/Media"), place("sibling", "~/Media/Movies Backup") };
      },
      { { "~/Media/Movies", "you asked me to leave your films alone" } },
      { "sibling" },
      { { "~/Media/Movies", "never touched: you asked me to leave your films alone" },
        { "~/Media/Movies/Old Cuts", "never touched: you asked me to leave your films alone" },
        { "~/Media", "never touched: you asked me to leave your films alone" } } },
    { "reached through a link, refused unless handed off or for review",
      [](FakeMachine& m) {
          m.file("~/Real/one/a.bin", 100).file("~/Real/two/b.bin", 100).file("~/Real/three/c.bin", 100);
          m.link("~/Via One", "Real/one").link("~/Via Two", "Real/two").link("~/Via Three", "Real/three");
          m.link("~/Via Parent", "Real");
      },
      [](Catalog& c) {
          c.places = { place("delete", "~/Via One"), place("inside-link", "~/Via Parent/two"),
                       place("review", "~/Via Two", Action::review()),
                       place("hand-off", "~/Via Three",
                             Action(Action::Kind::handOff, std::nullopt, std::nullopt, std::string("Finder"))) };
      },
      {},
      { "review", "hand-off" },
      { { "~/Via One", linkWhy }, { "~/Via Parent/two", linkWhy } } },
    { "never touched comes before the link",
      [](FakeMachine& m) { m.file("~/Real/a.bin", 100).link("~/Via", "Real"); },
      [](Catalog& c) {
          c.places = { place("via", "~/Via") };
          c.protected_ = { { "~/Via", "kept" } };
      },
      {},
      {},
      { { "~/Via", "never touched: kept" } } },
};

class ScanRefusals : public testing::TestWithParam<RefusalCase> {};

TEST_P(ScanRefusals, RefusedWithTheirReasonOthersKept)
{
    const RefusalCase& c = GetParam();
    FakeMachine machine;
    c.machine(machine);
    Catalog catalog = placesCatalog();
    c.catalog(catalog);

    ScanReport report = Scanner::scan(machine.mac(), catalog, options(c.extraProtected));
    std::vector<Skipped> refused;
    for (const auto& [display, why] : c.refused)
        refused.push_back({ machine.at(display), why });
    EXPECT_EQ(ids(report), c.accepted);
    EXPECT_EQ(records(report.skipped), records(refused));
}

INSTANTIATE_TEST_SUITE_P(Scanner, ScanRefusals, testing::ValuesIn(refusalCases), Testing::CaseNamed());

// ---- Overlaps ------------------------------------------------------------------------------------

TEST(Scanner, TheEarlierFindingKeepsOverlappingSpaceWithoutATrace)
{
    FakeMachine machine;
    machine.file("~/Library/Caches/App/Sub/a.bin", 100)
        .file("~/Library/Caches/Apple/b.bin", 100)
        .file("~/Library/Caf\u00e9/c.bin", 100)   // composed accent
        .file("~/Library/Cafe\u0301/d.bin", 100); // the same name, decomposed
    Catalog catalog = placesCatalog(
        { place("app", "~/Library/Caches/App"), place("holder", "~/Library/Caches"),
          place("inside", "~/Library/Caches/App/Sub"), place("same", "~/Library/Caches/App"),
          place("name-extends", "~/Library/Caches/Apple"), place("composed", "~/Library/Caf\u00e9"),
          place("decomposed", "~/Library/Cafe\u0301") });

    ScanReport report = Scanner::scan(machine.mac(), catalog, options());
    EXPECT_EQ(ids(report), (std::vector<std::string> { "app", "name-extends", "composed" }));
    EXPECT_TRUE(report.skipped.empty());
    EXPECT_TRUE(report.notes.empty());
}

// ---- Drives ----------------------------------------------------------------------------------------

std::vector<std::pair<std::string, std::string>> drivesOf(const ScanReport& report)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& finding : report.findings)
        out.emplace_back(finding.id, finding.drive);
    return out;
}

void oneRuntime(FakeMachine& machine)
{
    machine.fixture()["simRuntimes"] = Json::Value::array({ { { "id", "R1" }, { "name", "iOS 18" }, { "bytes", 1 } } });
}

TEST(Scanner, EachFindingGetsTheDriveThatHoldsIt)
{
    FakeMachine machine;
    machine.drive("Games", "/Volumes/Games", 1'000'000'000, 1'000)
        .drive("Games Library", "/Volumes/Games Library", 1'000'000'000, 1'000)
        .file("/Volumes/Games Library/Cache/a.bin", 400'000)
        .file("/Volumes/Games/Cache/b.bin", 300'000)
        .file("~/Cache/c.bin", 200'000);
    oneRuntime(machine);
    Catalog catalog = placesCatalog({ place("library", "/Volumes/Games Library/Cache"),
                                      place("games", "/Volumes/Games/Cache"), place("home", "~/Cache") });

    ScanReport report = Scanner::scan(machine.mac(), catalog, options());
    const std::string root = machine.root();
    EXPECT_EQ(drivesOf(report),
              (std::vector<std::pair<std::string, std::string>> { { "library", root + "/Volumes/Games Library" },
                                                                  { "games", root + "/Volumes/Games" },
                                                                  { "home", root },
                                                                  { "sim-runtime-R1", root } }));
}

TEST(Scanner, NoDrivesAtAllGivesAnEmptyDrive)
{
    FakeMachine machine;
    machine.fixture()["drives"] = Json::Value::array();
    machine.file("~/Cache/c.bin", 200'000);
    oneRuntime(machine);

    ScanReport report = Scanner::scan(machine.mac(), placesCatalog({ place("home", "~/Cache") }), options());
    EXPECT_TRUE(report.drives.empty());
    EXPECT_EQ(drivesOf(report),
              (std::vector<std::pair<std::string, std::string>> { { "home", "" }, { "sim-runtime-R1", "" } }));
}

// ---- The privacy fence -------------------------------------------------------------------------------

TEST(Scanner, FencedFoldersAreLeftAloneAndListedLast)
{
    FakeMachine machine;
    machine.file("~/Desktop/Big/clip.mov", 100)
        .folder("~/Library/Containers")
        .text("~/Documents", "a file, not a folder")
        .file("~/Real/a.bin", 100)
        .link("~/Via", "Real");
    Mac mac = machine.mac();
    Catalog catalog = placesCatalog({ place("desktop", "~/Desktop/Big"), place("via", "~/Via") });

    for (bool fenced : { true, false }) {
        SCOPED_TRACE(fenced ? "fenced" : "open");
        ScanOptions fence = options();
        fence.avoidPrivacyPrompts = fenced;
        ScanReport report = Scanner::scan(mac, catalog, fence);

        std::vector<Skipped> skipped { { machine.at("~/Via"), linkWhy } };
        if (fenced) {
            skipped.push_back({ machine.at("~/Desktop"), fencedWhy });
            skipped.push_back({ machine.at("~/Library/Containers"), fencedWhy });
        }
        EXPECT_EQ(records(report.skipped), records(skipped));
        EXPECT_EQ(ids(report), fenced ? std::vector<std::string> {} : std::vector<std::string> { "desktop" });
        EXPECT_TRUE(PrivacyFence::shared().active().empty());
    }
}

// ---- Order and ids -------------------------------------------------------------------------------------

TEST(Scanner, SortsByTierThenSizeKeepingTies)
{
    FakeMachine machine;
    machine.file("~/Small/a.bin", 10'000)
        .file("~/Big Reinstall/a.bin", 500'000)
        .file("~/Big/a.bin", 200'000)
        .file("~/Same/a.bin", 10'000)
        .file("~/Mine/a.bin", 900'000);
    Mac mac = machine.mac();
    ASSERT_EQ(mac.usage(machine.at("~/Small")), mac.usage(machine.at("~/Same")));
    auto tiered = [](std::string id, std::string pattern, Tier tier) {
        Catalog::Place out = place(std::move(id), std::move(pattern));
        out.tier = tier;
        return out;
    };
    Catalog catalog = placesCatalog(
        { tiered("small", "~/Small", Tier::rebuilds), tiered("personal", "~/Mine", Tier::personal),
          tiered("big-reinstall", "~/Big Reinstall", Tier::reinstallable), tiered("big", "~/Big", Tier::rebuilds),
          tiered("same", "~/Same", Tier::rebuilds) });

    ScanReport report = Scanner::scan(mac, catalog, options());
    EXPECT_EQ(ids(report), (std::vector<std::string> { "big", "small", "same", "big-reinstall", "personal" }));
}

// The scan and the quick status name the same Trash: the desktop's on the live machine (here
// pointed at the fake home), the fake machine's own ~/.Trash there. Emptied, it frees nothing, so
// no route counts on emptying it.
TEST(Scanner, MeasuresTheTrashTheStatusMeasures)
{
    FakeMachine machine;
    machine.file("~/.Trash/fake only", 7'000).file("~/.local/share/Trash/files/desktop only", 50'000);
    Testing::ScopedEnv home("HOME", machine.home());
    Testing::ScopedEnv data("XDG_DATA_HOME", std::nullopt);
    const struct {
        Mac mac;
        std::string item;
    } rows[] = {
        { machine.mac(), "~/.Trash/fake only" },
        { Mac::real(), "~/.local/share/Trash/files/desktop only" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.item);
        const std::int64_t expected = row.mac.usage(machine.at(row.item)).bytes;
        EXPECT_GT(expected, 0);
        EXPECT_EQ(Scanner::scan(row.mac, placesCatalog(), options()).trashBytes, expected);
        EXPECT_EQ(ScanReport::status(row.mac).trashBytes, expected);

        std::filesystem::remove(machine.at(row.item));
        const ScanReport emptied = Scanner::scan(row.mac, placesCatalog(), options());
        EXPECT_EQ(emptied.trashBytes, 0);
        EXPECT_EQ(ScanReport::status(row.mac).trashBytes, 0);
        const auto plan = Planner::plan(emptied, Goal::ofBytes(1), std::nullopt);
        ASSERT_TRUE(plan);
        EXPECT_EQ(plan->trashBytes, 0);
        EXPECT_EQ(Report::text(*plan, emptied).find("Trash"), std::string::npos) << Report::text(*plan, emptied);
    }
}

struct RepeatCase {
    std::string name;
    std::vector<std::string> placeIDs; // for folders of 10, 300, 100 and 50 KB
    std::vector<std::string> reported; // in report order (largest first)
};

void PrintTo(const RepeatCase& c, std::ostream* out)
{
    *out << c.name;
}

class ScanRepeatedIDs : public testing::TestWithParam<RepeatCase> {};

TEST_P(ScanRepeatedIDs, MadeUniqueInReportOrder)
{
    const RepeatCase& c = GetParam();
    FakeMachine machine;
    const std::int64_t sizes[] = { 10'000, 300'000, 100'000, 50'000 };
    Catalog catalog = placesCatalog();
    for (std::size_t i = 0; i < c.placeIDs.size(); ++i) {
        const std::string folder = "~/Folder " + std::to_string(i);
        machine.file(folder + "/a.bin", sizes[i]);
        catalog.places.push_back(place(c.placeIDs[i], folder));
    }
    EXPECT_EQ(ids(Scanner::scan(machine.mac(), catalog, options())), c.reported);
}

INSTANTIATE_TEST_SUITE_P(
    Scanner, ScanRepeatedIDs,
    testing::Values(RepeatCase { "three alike", { "cache", "cache", "cache" }, { "cache", "cache-2", "cache-3" } },
                    RepeatCase { "a suffix already taken",
                                 { "cache", "cache", "cache-2", "cache" },
                                 { "cache", "cache-2", "cache-3", "cache-4" } },
                    RepeatCase { "distinct ids untouched", { "a", "b", "c" }, { "b", "c", "a" } }),
    Testing::CaseNamed());

} // namespace
