#include "QuandrilCore/Scanning/Finders/Finders.h"

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Scanning/Report.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/MiniCatalog.h"
#include "Support/Records.h"
#include "Support/SteamFixtures.h"

using namespace Quandril;
using namespace Quandril::Testing;

namespace {

const std::string S(steamFolder);
const std::string G = "/Volumes/Games";             // a library at the top of the attached drive "Games"
const std::string gone = "/Volumes/Spiele \"Ä\" é"; // a library on a drive that is not attached

std::string content(const std::string& library, const std::string& appID)
{
    return library + "/steamapps/workshop/content/" + appID;
}

// A machine with the drive "Games" attached and Steam's own folder set up.
void attachGames(FakeMachine& machine)
{
    machine.drive("Games", G, 1'000'000'000'000, 900'000'000'000);
    machine.folder(steamPath("/steamapps"));
}

void steamRunning(FakeMachine& machine)
{
    machine.fixture()["running"] = Json::Value::array({ "com.valvesoftware.steam" });
}

// Names the game 440 and, as the shipped rules do, Steam's own app.
Catalog catalog()
{
    Catalog catalog = miniCatalog();
    Catalog::Owner game = owner("Team Fortress 2", { "Team Fortress" });
    game.steamAppID = "440";
    catalog.owners = { game, owner("Steam", { "Steam" }, { "com.valvesoftware.steam" }) };
    return catalog;
}

FinderResult findOn(const Mac& mac, const Catalog& rules = catalog(),
                    std::optional<std::int64_t> minimum = std::nullopt)
{
    const ScanOptions options { .minimumBytes = minimum, .now = Clock::now() };
    return SteamFinder().find(Scanner::makeContext(mac, rules, options));
}

// One expected finding. Paths (and a move's destination) are display paths; the bytes are those of
// the first path.
struct Want {
    std::string id;
    std::string title;
    std::string reason;
    std::string getBack;
    Action action;
    std::vector<std::string> paths;
    std::optional<std::string> caution = std::nullopt;
    std::optional<std::string> blockedBy = std::nullopt;
};

std::string dump(const std::vector<Finding>& findings)
{
    return Json::dump(records(findings), true);
}

std::string dump(const FakeMachine& machine, const Mac& mac, const std::vector<Want>& wants)
{
    std::vector<Finding> findings;
    for (const Want& want : wants) {
        std::vector<std::string> paths;
        for (const std::string& path : want.paths)
            paths.push_back(machine.at(path));
        Action action = want.action;
        if (action.destination)
            action.destination = machine.at(*action.destination);
        findings.emplace_back(want.id, "steam", want.title, want.reason, want.getBack, Tier::reinstallable,
                              mac.usage(paths.front()).bytes, paths, "Steam", action, want.caution, want.blockedBy,
                              false, std::nullopt);
    }
    return dump(findings);
}

Action handOff(const std::string& steps)
{
    return Action(Action::Kind::handOff, std::nullopt, std::nullopt, "Steam", steps, true);
}
Action moveTo(const std::string& destination)
{
    return Action(Action::Kind::move, std::nullopt, destination);
}

const std::string blocker = "Steam is open. Quit it first.";
const std::string differs = "The copies differ: compare dates before removing either.";
const std::string keepNewer = "Keep whichever copy is newer; the other can go.";

// A game of `library`, offered for the drive "More Games"; its install folder is its name unless given.
Want gameToMore(const std::string& appID, const std::string& name, const std::string& library,
                const std::string& installDir = "")
{
    return { "steam-game-" + appID,
             name,
             name + " is installed on your Mac, and you have a Steam library on More Games.",
             "Moved, not removed: it plays from More Games whenever it's plugged in.",
             handOff("In Steam: Settings → Storage → pick " + name + " → Move, and choose More Games."),
             { library + "/steamapps/common/" + (installDir.empty() ? name : installDir) } };
}

struct Scenario {
    const char* name;
    void (*build)(FakeMachine&);
    std::vector<Want> findings;
    std::vector<std::string> notes; // "{size}" stands for the engine's text of the size of `measured`
    std::string measured = "";      // a mods folder, as a display path
};

void PrintTo(const Scenario& scenario, std::ostream* out)
{
    *out << scenario.name;
}

const Scenario scenarios[] = {
    { "no Steam", [](FakeMachine&) {}, {}, {} },
    { "mods of games installed nowhere",
      [](FakeMachine& m) {
          attachGames(m);
          m.file(content(S, "440") + "/a b.vpk", 3000).text(S + "/steamapps/workshop/appworkshop_440.acf", "x");
          m.file(content(S, "77") + "/ü.vpk", 10);
          installGame(m, S, "10", "Ten", "Ten", 1); // mods next to their game: never offered, whatever the size
          m.file(content(S, "10") + "/big.vpk", 50'000);
          m.file(content(S, "55"), 10); // a file, not a folder of mods
      },
      { { "steam-workshop-440",
          "Team Fortress 2 workshop mods",
          "Workshop mods for Team Fortress 2, which isn't installed anymore.",
          "Steam downloads them again if you reinstall the game while still subscribed to them.",
          Action::trash(),
          { content(S, "440"), S + "/steamapps/workshop/appworkshop_440.acf" } },
        { "steam-workshop-77",
          "Steam app 77 workshop mods",
          "Workshop mods for Steam app 77, which isn't installed anymore.",
          "Steam downloads them again if you reinstall the game while still subscribed to them.",
          Action::trash(),
          { content(S, "77") } } },
      {} },
    { "libraries that cannot be checked",
      [](FakeMachine& m) {
          attachGames(m);
          writeLibraryList(m, { { G + "/Old Library", { "5" } }, { gone, { "440" } } });
          m.file(content(S, "440") + "/a.vpk", 3000);
      },
      {},
      { "Steam still lists a library at /Volumes/Games/Old Library, but that folder is gone.",
        "Steam has a library at " + gone + " whose drive isn't plugged in, so it wasn't checked.",
        "Team Fortress 2's workshop mods ({size}) are on the Mac, and the game is in the Steam library at " + gone
            + ", which isn't plugged in. Plug it in to compare." },
      content(S, "440") },
    { "mods whose game moved to another drive, Steam open",
      [](FakeMachine& m) {
          attachGames(m);
          steamRunning(m);
          writeLibraryList(m, { { S, {} }, { G, { "300", "400", "500", "600", "700" } } });
          installGame(m, G, "300", "Portal \"2\"", "Portal 2", 1);
          installGame(m, G, "400", "Ōkami", "Okami", 1);
          installGame(m, G, "500", "Left Behind", "Left Behind", 1);
          installGame(m, G, "600", "Extra There", "Extra", 1);
          installGame(m, G, "700", "Linked", "Linked", 1);
          for (const std::string& library : { S, G })
              m.file(content(library, "300") + "/a.vpk", 5000).file(content(library, "300") + "/sub/b.vpk", 100);
          m.text(S + "/steamapps/workshop/appworkshop_300.acf", "x");
          m.file(content(S, "400") + "/same.vpk", 7)
              .file(content(S, "400") + "/a.vpk", 10)
              .file(content(S, "400") + "/b.vpk", 5);
          m.file(content(G, "400") + "/same.vpk", 7)
              .file(content(G, "400") + "/a.vpk", 11)
              .file(content(G, "400") + "/c.vpk", 3);
          m.file(content(S, "500") + "/a.vpk", 10);
          m.file(content(S, "600") + "/a.vpk", 10)
              .file(content(G, "600") + "/a.vpk", 10)
              .file(content(G, "600") + "/new.vpk", 1);
          // A dangling link holds the name a move would need.
          m.file(content(S, "700") + "/a.vpk", 10).link(content(G, "700"), "/nowhere");
      },
      { { "steam-workshop-300",
          "Portal \"2\" workshop mods (second copy)",
          "Steam keeps a second copy of Portal \"2\"'s workshop mods here; the game and an identical copy are on Games.",
          "The copy on Games stays, and it's the one the game uses.",
          Action::trash(),
          { content(S, "300"), S + "/steamapps/workshop/appworkshop_300.acf" },
          std::nullopt,
          blocker },
        { "steam-workshop-400",
          "Ōkami workshop mods (two different copies)",
          "Steam left Ōkami's workshop mods here when the game moved to Games; Games has its own copy, and 2 files differ.",
          keepNewer,
          Action::review(),
          { content(S, "400") },
          differs,
          blocker },
        { "steam-workshop-500",
          "Left Behind workshop mods",
          "Steam left Left Behind's workshop mods here when the game moved to Games.",
          "Moved, not removed: they go next to the game on Games.",
          moveTo(content(G, "500")),
          { content(S, "500") },
          std::nullopt,
          blocker },
        { "steam-workshop-600",
          "Extra There workshop mods (two different copies)",
          "Steam left Extra There's workshop mods here when the game moved to Games; Games has its own copy, and 0 files differ.",
          keepNewer,
          Action::review(),
          { content(S, "600") },
          differs,
          blocker } },
      {} },
    { "games on the startup drive, offered for the first external library only",
      [](FakeMachine& m) {
          attachGames(m);
          steamRunning(m);
          m.drive("More Games", "/Volumes/More", 1'000'000'000'000, 900'000'000'000);
          writeLibraryList(m, { { "/Volumes/More", {} }, { G, {} }, { "~/Steam Games", {} } });
          m.folder("/Volumes/More/steamapps").folder(G + "/steamapps").folder("~/Steam Games/steamapps");
          installGame(m, S, "1", "Zeta", "Zeta", 2000);
          installGame(m, S, "2", "alpha", "alpha", 2000);
          installGame(m, S, "3", "Ōkami", "Ōkami", 2000);
          installGame(m, S, "4", "Half \"Life\" 2", "Half-Life 2", 2000);
          installGame(m, S, "5", "Beta", "", -1);
          installGame(m, S, "6", "Sneaky", "..", -1);
          installGame(m, "~/Steam Games", "7", "Moon", "Moon", 2000);
          installGame(m, "/Volumes/More", "8", "Far", "Far", 2000);
          installGame(m, G, "9", "Farther", "Farther", 2000);
      },
      { gameToMore("4", "Half \"Life\" 2", S, "Half-Life 2"), gameToMore("1", "Zeta", S), gameToMore("2", "alpha", S),
        gameToMore("3", "Ōkami", S), gameToMore("7", "Moon", "~/Steam Games") },
      {} },
    { "no library on an external drive, no game offered",
      [](FakeMachine& m) {
          m.folder(steamPath("/steamapps"));
          writeLibraryList(m, { { "~/Steam Games", {} } });
          m.folder("~/Steam Games/steamapps");
          installGame(m, S, "1", "Zeta", "Zeta", 2000);
      },
      {},
      {} },
};

class SteamFinderScenarios : public ::testing::TestWithParam<Scenario> {};

TEST_P(SteamFinderScenarios, FindsWholeRecordsAndNotes)
{
    const Scenario& c = GetParam();
    FakeMachine machine;
    c.build(machine);
    Mac mac = machine.mac();
    FinderResult result = findOn(mac);
    EXPECT_EQ(dump(result.findings), dump(machine, mac, c.findings));
    std::vector<std::string> notes = c.notes;
    for (std::string& note : notes)
        if (auto at = note.find("{size}"); at != std::string::npos)
            note.replace(at, 6, Report::bytes(mac.usage(machine.at(c.measured)).bytes));
    EXPECT_EQ(result.notes, notes);
    EXPECT_TRUE(result.skipped.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, SteamFinderScenarios, ::testing::ValuesIn(scenarios), CaseNamed());

std::vector<std::string> idsAndKinds(const FinderResult& result)
{
    std::vector<std::string> out;
    for (const Finding& finding : result.findings)
        out.push_back(finding.id + " " + std::string(rawValue(finding.action.kind)));
    return out;
}

// The fence may go up after the libraries were read (another scan starts): what it hides is
// neither compared, nor taken for a complete copy, nor moved onto.
TEST(SteamFinder, PrivacyFence)
{
    FakeMachine machine;
    attachGames(machine);
    writeLibraryList(machine, { { G, {} } });
    installGame(machine, G, "300", "Same", "Same", 1);
    installGame(machine, G, "500", "Moved", "Moved", 1);
    for (const std::string& library : { S, G })
        machine.file(content(library, "300") + "/a.vpk", 500).folder(content(library, "300") + "/empty");
    machine.file(content(S, "500") + "/a.vpk", 500);
    Mac mac = machine.mac();

    const struct {
        const char* name;
        std::string fenced; // empty: no fence
        std::vector<std::string> expected;
    } cases[] = {
        { "no fence", "", { "steam-workshop-300 trash", "steam-workshop-500 move" } },
        { "other library's workshop fenced", G + "/steamapps/workshop", {} },
        { "part of the other copy fenced",
          content(G, "300") + "/empty",
          { "steam-workshop-300 review", "steam-workshop-500 move" } },
        { "the mods themselves fenced", S + "/steamapps/workshop/content", {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScanContext context = Scanner::makeContext(mac, catalog(), ScanOptions { .now = Clock::now() });
        std::vector<std::string> roots;
        if (!c.fenced.empty())
            roots.push_back(machine.at(c.fenced));
        PrivacyFence::Registration fence(PrivacyFence::shared(), roots);
        FinderResult result = SteamFinder().find(context);
        EXPECT_EQ(idsAndKinds(result), c.expected);
        if (c.fenced == content(G, "300") + "/empty") {
            EXPECT_EQ(
                result.findings.front().reason,
                "Steam left Same's workshop mods here when the game moved to Games; Games has its own copy, and 0 files differ.");
        }
    }
}

// The catalog's two minimums apply each to its own kind, inclusively; the scan's minimum replaces both.
TEST(SteamFinder, Minimums)
{
    FakeMachine machine;
    attachGames(machine);
    writeLibraryList(machine, { { G, {} } });
    machine.folder(G + "/steamapps");
    installGame(machine, S, "1", "Game", "Game", 3000);
    machine.file(content(S, "99") + "/a.vpk", 1000);
    Mac mac = machine.mac();
    const std::int64_t mods = mac.usage(machine.at(content(S, "99"))).bytes;
    const std::int64_t game = mac.usage(machine.at(S + "/steamapps/common/Game")).bytes;

    const struct {
        std::int64_t workshop;
        std::int64_t personalFolder;
        std::optional<std::int64_t> minimum;
        std::vector<std::string> expected;
    } cases[] = {
        { mods, game, std::nullopt, { "steam-workshop-99 trash", "steam-game-1 handOff" } },
        { mods + 1, game, std::nullopt, { "steam-game-1 handOff" } },
        { mods, game + 1, std::nullopt, { "steam-workshop-99 trash" } },
        { 1LL << 60, 1LL << 60, std::min(mods, game), { "steam-workshop-99 trash", "steam-game-1 handOff" } },
        { 0, 0, std::max(mods, game) + 1, {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.workshop << " " << c.personalFolder);
        Catalog rules = catalog();
        rules.thresholds.workshop = c.workshop;
        rules.thresholds.personalFolder = c.personalFolder;
        EXPECT_EQ(idsAndKinds(findOn(mac, rules, c.minimum)), c.expected);
    }
}

// Without a drive list nothing is external: the mods' destination is "another drive" and no game is offered.
TEST(SteamFinder, NoDrivesKnown)
{
    FakeMachine machine;
    machine.folder(steamPath("/steamapps"));
    writeLibraryList(machine, { { "~/Steam Games", {} } });
    installGame(machine, "~/Steam Games", "5", "Elsewhere", "Elsewhere", 1);
    installGame(machine, S, "6", "Here", "Here", 1);
    machine.file(content(S, "5") + "/a.vpk", 10);
    machine.fixture()["drives"] = Json::Value::array();
    Mac mac = machine.mac();
    FinderResult result = findOn(mac);
    ASSERT_EQ(result.findings.size(), 1u);
    EXPECT_EQ(result.findings[0].reason,
              "Steam left Elsewhere's workshop mods here when the game moved to another drive.");
    EXPECT_EQ(result.findings[0].action.destination, machine.at(content("~/Steam Games", "5")));
}

// Through the whole scan the findings keep their real paths and get the startup drive.
TEST(SteamFinder, ThroughTheScan)
{
    FakeMachine machine;
    attachGames(machine);
    writeLibraryList(machine, { { G, {} } });
    machine.folder(G + "/steamapps");
    installGame(machine, S, "1", "Game", "Game", 30000); // the larger comes first
    machine.file(content(S, "99") + "/a.vpk", 1000);
    ScanReport report = Scanner::scan(machine.mac(), catalog(), ScanOptions { .minimumBytes = 0, .now = Clock::now() });
    std::vector<std::string> steam;
    for (const Finding& finding : report.findings)
        if (finding.finder == "steam")
            steam.push_back(finding.id + " " + finding.drive);
    EXPECT_EQ(steam,
              (std::vector<std::string> { "steam-game-1 " + machine.root(), "steam-workshop-99 " + machine.root() }));
}

} // namespace
