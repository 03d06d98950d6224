#include "QuandrilCore/Scanning/Finders/Finders.h"

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "Support/AppBundles.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/FinderChecks.h"
#include "Support/MiniCatalog.h"
#include "Support/Records.h"
#include "Support/Unprivileged.h"

using namespace Quandril;
using Quandril::Testing::AppSpec;
using Quandril::Testing::FakeMachine;
using Quandril::Testing::records;

namespace {

// A folder with a space, quotes and an accent in its name.
const std::string placeFolder = "~/Library/Developer/Build \"Caf\u00e9\" Data";

FinderResult findPlaces(const Mac& mac, const Catalog& catalog, std::optional<std::int64_t> minimumBytes = 0)
{
    ScanContext context = Scanner::makeContext(mac, catalog, ScanOptions { .minimumBytes = minimumBytes });
    return PlacesFinder().find(context);
}

Catalog withPlaces(std::vector<Catalog::Place> places)
{
    Catalog catalog = Testing::miniCatalog();
    catalog.places = std::move(places);
    return catalog;
}

TEST(PlacesFinder, NothingWithoutPlacesOrWhenTheyMatchNothing)
{
    FakeMachine machine;
    machine.file("~/Projects/app/big.bin", 200'000);

    auto marked = Testing::place("marked", "~/Projects/*");
    marked.marker = "*.xcodeproj"; // large folders, but none holds a project
    const Catalog catalogs[] = { withPlaces({}),
                                 withPlaces({ Testing::place("missing", "~/Library/Nowhere"),
                                              Testing::place("glob", "~/Nowhere/*/x"), marked }) };
    for (const auto& catalog : catalogs)
        Testing::expectOnly(findPlaces(machine.mac(), catalog), {});
}

// ---- Size thresholds ---------------------------------------------------------------------------

struct ThresholdCase {
    std::string name;
    // Each given relative to the folder's measured size; absent stays absent.
    std::optional<std::int64_t> catalogExtra;
    std::optional<std::int64_t> minBytesExtra;
    std::optional<std::int64_t> minimumBytes; // absolute
    bool offered;
};

void PrintTo(const ThresholdCase& c, std::ostream* out)
{
    *out << c.name;
}

class PlaceThreshold : public testing::TestWithParam<ThresholdCase> {};

TEST_P(PlaceThreshold, EqualPassesOneByteLessDoesNot)
{
    const ThresholdCase& c = GetParam();
    FakeMachine machine;
    machine.file(placeFolder + "/index.db", 100'000);
    Mac mac = machine.mac();
    const std::int64_t size = mac.usage(machine.at(placeFolder)).bytes;
    ASSERT_GT(size, 100'000);

    Catalog catalog = withPlaces({ Testing::place("build", placeFolder) });
    catalog.thresholds.place = c.catalogExtra ? size + *c.catalogExtra : std::int64_t(1) << 60;
    if (c.minBytesExtra)
        catalog.places[0].minBytes = size + *c.minBytesExtra;

    FinderResult result = findPlaces(mac, catalog, c.minimumBytes);
    ASSERT_EQ(result.findings.size(), c.offered ? 1u : 0u);
    if (c.offered) {
        EXPECT_EQ(result.findings[0].bytes, size);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Places, PlaceThreshold,
    testing::Values(ThresholdCase { "catalog threshold equal", 0, std::nullopt, std::nullopt, true },
                    ThresholdCase { "catalog threshold one more", 1, std::nullopt, std::nullopt, false },
                    ThresholdCase { "own threshold equal beats the catalog", std::nullopt, 0, std::nullopt, true },
                    ThresholdCase { "own threshold one more", -1'000, 1, std::nullopt, false },
                    ThresholdCase { "minimum 0 beats both", std::nullopt, 1'000'000, 0, true },
                    ThresholdCase { "minimum above the size beats a lower own threshold", -1, -1, std::int64_t(1) << 40,
                                    false }),
    Testing::CaseNamed());

// ---- Paths, markers, sums ------------------------------------------------------------------------

TEST(PlacesFinder, KeepsMarkedPathsInPatternOrderAndCountsEachOnce)
{
    FakeMachine machine;
    machine
        .file("~/Code/a/node_modules/left-pad/package.json", 30'000) // marker one level down
        .file("~/Code/b/node_modules/package.json", 50'000)          // marker in the folder
        .file("~/Code/c/node_modules/x/y/package.json", 70'000)      // two levels down: too deep
        .file("~/Code/d/node_modules/readme.md", 90'000);
    Mac mac = machine.mac();

    auto place = Testing::place("node", "~/Code/*/node_modules");
    place.paths.push_back("~/Code/b/node_modules"); // named a second time
    place.marker = "package.json";
    FinderResult result = findPlaces(mac, withPlaces({ place }));

    const std::string a = machine.at("~/Code/a/node_modules");
    const std::string b = machine.at("~/Code/b/node_modules");
    ASSERT_EQ(result.findings.size(), 1u);
    EXPECT_EQ(result.findings[0].paths, (std::vector<std::string> { a, b, b }));
    EXPECT_EQ(result.findings[0].bytes, mac.usage(a).bytes + mac.usage(b).bytes);
}

TEST(PlacesFinder, PartlyUnreadableIsReportedAndTheFindingStillMade)
{
    // Root reads every folder.
    Testing::asOrdinaryUser([] {
        FakeMachine machine;
        machine.file("~/Library/Caches/Locked/inner/secret.bin", 10'000).file("~/Library/Caches/Open/file.bin", 10'000);
        ASSERT_EQ(::chmod(machine.at("~/Library/Caches/Locked/inner").c_str(), 0), 0);
        addApp(machine, "/Applications/Editor.app", AppSpec("com.example.editor"));
        Mac mac = machine.mac();

        auto offered = Testing::place("locked", "~/Library/Caches/Locked");
        offered.paths.push_back("~/Library/Caches/Open");
        // Dropped only after the unreadable part was reported: the owning app is installed.
        auto dropped = Testing::place("dropped", "~/Library/Caches/Locked");
        dropped.app = "com.example.editor";
        dropped.onlyIfUninstalled = true;
        // Below its threshold: dropped before anything is said about it.
        auto small = Testing::place("small", "~/Library/Caches/Locked");
        small.minBytes = std::int64_t(1) << 50;

        FinderResult result = findPlaces(mac, withPlaces({ offered, dropped, small }), std::nullopt);
        const std::string why = "partly unreadable (Full Disk Access would show all of it)";
        const std::string locked = machine.at("~/Library/Caches/Locked");
        EXPECT_EQ(records(result.skipped), records(std::vector<Skipped> { { locked, why }, { locked, why } }));
        ASSERT_EQ(result.findings.size(), 1u);
        EXPECT_EQ(result.findings[0].id, "locked");
        EXPECT_EQ(result.findings[0].bytes,
                  mac.usage(locked).bytes + mac.usage(machine.at("~/Library/Caches/Open")).bytes);
    });
}

// ---- What the machine adds to a place ------------------------------------------------------------

struct RuleCase {
    std::string name;
    std::function<void(Catalog&)> catalog;     // the one place is catalog.places[0]
    std::function<void(FakeMachine&)> machine; // apps, running apps, tools
    std::function<void(Finding&)> expected;    // changes to the plain finding; none: no finding
};

void PrintTo(const RuleCase& c, std::ostream* out)
{
    *out << c.name;
}

void noChange(Catalog&)
{
}
void bare(FakeMachine&)
{
}
void same(Finding&)
{
}

void installEditor(FakeMachine& machine)
{
    addApp(machine, "/Applications/Editor.app", AppSpec("com.example.editor"));
}

void running(FakeMachine& machine, std::vector<std::string> ids)
{
    Json::Value list = Json::Value::array();
    for (auto& id : ids)
        list.push_back(id);
    machine.fixture()["running"] = list;
}

Catalog::Place& placeOf(Catalog& catalog)
{
    return catalog.places[0];
}

Action handOff(std::string app, std::optional<std::string> steps = std::nullopt)
{
    return Action(Action::Kind::handOff, std::nullopt, std::nullopt, std::move(app), std::move(steps));
}

const RuleCase ruleCases[] = {
    { "plain place", noChange, bare, same },
    { "owner app gone: its reason and owner say so",
      [](Catalog& c) {
          placeOf(c).app = "com.example.editor";
          placeOf(c).owner = "Editor";
          placeOf(c).reasonIfUninstalled = "Editor left it behind.";
      },
      bare,
      [](Finding& f) {
          f.reason = "Editor left it behind.";
          f.owner = "Editor (uninstalled)";
      } },
    { "owner app gone without its own reason or owner", [](Catalog& c) { placeOf(c).app = "com.example.editor"; }, bare,
      same },
    { "owner app installed",
      [](Catalog& c) {
          placeOf(c).app = "com.example.editor";
          placeOf(c).owner = "Editor";
          placeOf(c).reasonIfUninstalled = "Editor left it behind.";
      },
      installEditor, [](Finding& f) { f.owner = "Editor"; } },
    { "only if uninstalled, and installed",
      [](Catalog& c) {
          placeOf(c).app = "com.example.editor";
          placeOf(c).onlyIfUninstalled = true;
      },
      installEditor, nullptr },
    { "only if uninstalled, and gone",
      [](Catalog& c) {
          placeOf(c).app = "com.example.editor";
          placeOf(c).onlyIfUninstalled = true;
      },
      bare, same },
    { "hand-off to Finder", [](Catalog& c) { placeOf(c).action = handOff("Finder"); }, bare,
      [](Finding& f) { f.action = handOff("Finder"); } },
    { "hand-off to a missing app without steps", [](Catalog& c) { placeOf(c).action = handOff("Photo Mender"); }, bare,
      [](Finding& f) {
          f.action = handOff("Photo Mender", " Photo Mender isn't on this Mac yet; it's free from its maker.");
      } },
    { "hand-off to a missing app with steps",
      [](Catalog& c) { placeOf(c).action = handOff("Photo Mender", "Open it, then Library \u2192 Clean."); }, bare,
      [](Finding& f) {
          f.action = handOff(
              "Photo Mender",
              "Open it, then Library \u2192 Clean. Photo Mender isn't on this Mac yet; it's free from its maker.");
      } },
    { "hand-off to an installed app", [](Catalog& c) { placeOf(c).action = handOff("Photo Mender", "Open it."); },
      [](FakeMachine& m) { addApp(m, "/Applications/Photo Mender.app", AppSpec("com.example.mender")); },
      [](Finding& f) { f.action = handOff("Photo Mender", "Open it."); } },
    { "tool missing, replacement given",
      [](Catalog& c) {
          placeOf(c).tool = "brew";
          placeOf(c).actionIfToolMissing = Action::review();
      },
      bare, [](Finding& f) { f.action = Action::review(); } },
    { "tool present",
      [](Catalog& c) {
          placeOf(c).tool = "brew";
          placeOf(c).actionIfToolMissing = Action::review();
      },
      [](FakeMachine& m) {
          m.fixture()["tools"] = Json::Value::array({ "git", "brew" });
      },
      same },
    { "tool missing, no replacement", [](Catalog& c) { placeOf(c).tool = "brew"; }, bare, same },
    { "owner open by another letter case",
      [](Catalog& c) { placeOf(c).ownerBundleIDs = std::vector<std::string> { "COM.example.Editor" }; },
      [](FakeMachine& m) {
          installEditor(m);
          running(m, { "com.EXAMPLE.editor" });
      },
      [](Finding& f) { f.blockedBy = "Editor is open. Quit it first."; } },
    { "owner open by its app, named by the catalog's owner",
      [](Catalog& c) {
          placeOf(c).ownerBundleIDs = std::vector<std::string> { "com.example.other" };
          placeOf(c).app = "com.example.viewer";
          c.owners.push_back(Testing::owner("Viewer Pro", { "Viewer" }, { "com.example.VIEWER" }));
      },
      [](FakeMachine& m) { running(m, { "com.example.viewer" }); },
      [](Finding& f) { f.blockedBy = "Viewer Pro is open. Quit it first."; } },
    { "other apps open", [](Catalog& c) { placeOf(c).app = "com.example.editor"; },
      [](FakeMachine& m) {
          installEditor(m);
          running(m, { "com.example.writer" });
      },
      same },
    { "caution kept",
      [](Catalog& c) {
          placeOf(c).caution = "Close every project first.";
          placeOf(c).tier = Tier::personal;
          placeOf(c).owner = "Xcode";
      },
      bare,
      [](Finding& f) {
          f.caution = "Close every project first.";
          f.tier = Tier::personal;
          f.owner = "Xcode";
      } },
};

class PlaceRules : public testing::TestWithParam<RuleCase> {};

TEST_P(PlaceRules, FindingAsExpected)
{
    const RuleCase& c = GetParam();
    FakeMachine machine;
    machine.file(placeFolder + "/index.db", 20'000);
    c.machine(machine);
    Mac mac = machine.mac();

    Catalog catalog = withPlaces({ Testing::place("build-data", placeFolder) });
    c.catalog(catalog);
    FinderResult result = findPlaces(mac, catalog);

    std::vector<Finding> expected;
    if (c.expected) {
        const std::string path = machine.at(placeFolder);
        Finding plain("build-data", "places", "Place build-data", "Rebuilds itself.", "Nothing to do.", Tier::rebuilds,
                      mac.usage(path).bytes, { path }, std::nullopt, Action(Action::Kind::delete_), std::nullopt,
                      std::nullopt, false, std::nullopt);
        c.expected(plain);
        expected.push_back(plain);
    }
    Testing::expectOnly(result, expected);
}

INSTANTIATE_TEST_SUITE_P(Places, PlaceRules, testing::ValuesIn(ruleCases), Testing::CaseNamed());

} // namespace
