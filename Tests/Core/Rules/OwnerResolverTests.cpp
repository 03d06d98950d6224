#include "QuandrilCore/Rules/Inventory.h"

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/ParallelMap.h"
#include "QuandrilCore/Scanning/Explain.h"
#include "QuandrilCore/Scanning/Scanner.h"
#include "Support/AppBundles.h"
#include "Support/FakeMachine.h"
#include "Support/MiniCatalog.h"
#include "Support/SteamFixtures.h"

using namespace Quandril;
using Quandril::Testing::AppSpec;
using Quandril::Testing::FakeMachine;
using Kind = OwnerResolver::Kind;
using Verdict = OwnerResolver::Verdict;

namespace Quandril {

void PrintTo(const OwnerResolver::Verdict& verdict, std::ostream* out)
{
    static const char* const cases[] = { "installed", "uninstalled", "system", "unknown" };
    *out << cases[static_cast<int>(verdict.kind)];
    if (verdict.name)
        *out << "(" << *verdict.name << ")";
}

} // namespace Quandril

namespace {

const std::string eComposed = "\u00e9";
const std::string eDecomposed = "e\u0301";

SteamGame game(std::string appID, std::string name, std::string installDir)
{
    SteamGame made;
    made.appID = std::move(appID);
    made.name = std::move(name);
    made.installDir = std::move(installDir);
    return made;
}

Catalog resolverCatalog()
{
    Catalog catalog = Testing::miniCatalog();
    catalog.systemNames = { "CloudDocs", "Mobile Documents" };
    catalog.systemPrefixes = { "com.apple." };

    Catalog::Owner editor = Testing::owner("Sound Editor", { "Sound Editor Data" });
    editor.bundleIDs = std::vector<std::string> { "com.example.soundeditor" };
    Catalog::Owner gone = Testing::owner("Old Tool", { "Old Tool" });
    gone.bundleIDs = std::vector<std::string> { "", "com.gone.oldtool" };
    Catalog::Owner space = Testing::owner("Space Game", { "Space Game" });
    space.steamAppID = "4242";
    Catalog::Owner lostGame = Testing::owner("Lost Game", { "Lost Game" });
    lostGame.steamAppID = "424";
    Catalog::Owner suite = Testing::owner("Prefix Suite", { "Prefix Owner" });
    suite.bundlePrefix = "COM.PrefixCo.";
    Catalog::Owner named = Testing::owner("Writer Family", { "Nobody Here", "Writer" });
    Catalog::Owner symbols = Testing::owner("Music Notes", { "\u266b\u266b" }); // a name with an empty key
    catalog.owners = { editor, gone, space, lostGame, suite, named, symbols };
    return catalog;
}

// Installed: Sound Editor 3, Writer (signing team ABCDE12345), Suite, Shared, Café Noir.
class Resolver : public testing::Test {
protected:
    void SetUp() override
    {
        Testing::addApp(fake, "/Applications/Sound Editor 3.app", AppSpec("com.example.soundeditor"));
        Testing::addApp(fake, "/Applications/Writer.app", AppSpec("com.examplesoft.writer").team("ABCDE12345"));
        Testing::addApp(fake, "/Applications/Suite.app", AppSpec("com.prefixco.suite"));
        Testing::addApp(fake, "/Applications/Shared.app",
                        AppSpec("com.example.shared").plist(Testing::InfoPlist::xml).team("QQQQQ00000"));
        Testing::addApp(fake, "/Applications/Caf" + eComposed + " Noir.app", AppSpec("fr.cafe.noir"));
        Mac mac = fake.mac();
        resolver = std::make_unique<OwnerResolver>(AppIndex::discover(mac, mac.drives(), {}), resolverCatalog(),
                                                   std::vector<SteamGame> { game("4242", "Space Game", "SpaceGame"),
                                                                            game("77", "Cave Crawl", "cave_crawl"),
                                                                            game("99", "No Folder", "") },
                                                   mac);
    }

    FakeMachine fake;
    std::unique_ptr<OwnerResolver> resolver;
};

struct VerdictCase {
    std::string name;
    Kind kind;
    Verdict verdict;
};

void PrintTo(const VerdictCase& c, std::ostream* out)
{
    static const char* const kinds[] = { "container", "groupContainer", "supportFolder" };
    *out << c.name << " as " << kinds[static_cast<int>(c.kind)] << " -> ";
    PrintTo(c.verdict, out);
}

class Verdicts : public Resolver, public testing::WithParamInterface<VerdictCase> {};

TEST_P(Verdicts, FirstRuleThatAnswersWins)
{
    EXPECT_EQ(resolver->resolve(GetParam().name, GetParam().kind), GetParam().verdict);
}

const Verdict systemVerdict = Verdict::system();
const Verdict unknownVerdict = Verdict::unknown();
Verdict installed(std::string name)
{
    return Verdict::installed(std::move(name));
}
Verdict uninstalled(std::optional<std::string> name = std::nullopt)
{
    return Verdict::uninstalled(std::move(name));
}

INSTANTIATE_TEST_SUITE_P(System, Verdicts,
                         testing::Values(VerdictCase { "CloudDocs", Kind::container, systemVerdict },
                                         VerdictCase { "CLOUDDOCS", Kind::supportFolder, systemVerdict },
                                         VerdictCase { "mobile documents", Kind::groupContainer, systemVerdict },
                                         VerdictCase { "com.apple.Mail", Kind::container, systemVerdict },
                                         VerdictCase { "COM.APPLE.notes", Kind::supportFolder, systemVerdict },
                                         // The prefix matches the identifier once "group." is taken off, in any case.
                                         VerdictCase { "group.com.apple.notes", Kind::groupContainer, systemVerdict },
                                         VerdictCase { "GROUP.com.apple.notes", Kind::groupContainer, systemVerdict },
                                         VerdictCase { "group.com.apple.notes", Kind::container, uninstalled() }));

INSTANTIATE_TEST_SUITE_P(
    CatalogOwners, Verdicts,
    testing::Values(VerdictCase { "Sound Editor Data", Kind::supportFolder, installed("Sound Editor") },
                    VerdictCase { "sound-editor  DATA", Kind::container, installed("Sound Editor") },
                    VerdictCase { "Old Tool", Kind::supportFolder, uninstalled("Old Tool") },
                    VerdictCase { "Space Game", Kind::supportFolder, installed("Space Game") }, // by its Steam app id
                    VerdictCase { "Lost Game", Kind::supportFolder, uninstalled("Lost Game") }, // 424 is not 4242
                    VerdictCase { "Prefix Owner", Kind::supportFolder, installed("Prefix Suite") },
                    VerdictCase { "Nobody Here", Kind::supportFolder, installed("Writer Family") }, // by its other name
                    VerdictCase { "com.gone.oldtool", Kind::container, uninstalled("Old Tool") },
                    VerdictCase { "COM.GONE.OLDTOOL", Kind::supportFolder, uninstalled("Old Tool") },
                    VerdictCase { "com.gone.oldtool.agent", Kind::container, uninstalled("Old Tool") },
                    VerdictCase { "com.gone.oldtoolkit", Kind::container, uninstalled() },
                    VerdictCase { "com.example.soundeditor.helper", Kind::groupContainer, installed("Sound Editor") },
                    // Symbols alone name nobody, and an empty catalog identifier claims nothing.
                    VerdictCase { "\u2605\u2605", Kind::supportFolder, unknownVerdict },
                    VerdictCase { ".hidden", Kind::supportFolder, unknownVerdict }));

INSTANTIATE_TEST_SUITE_P(
    Containers, Verdicts,
    testing::Values(VerdictCase { "com.examplesoft.writer", Kind::container, installed("Writer") },
                    VerdictCase { "com.examplesoft.writer.share-extension", Kind::container, installed("Writer") },
                    VerdictCase { "com.nobody.thing", Kind::container, uninstalled() },
                    VerdictCase { "Writer", Kind::container, installed("Writer Family") },
                    VerdictCase { "Sound Editor 3", Kind::container, uninstalled() })); // a container is judged by id

INSTANTIATE_TEST_SUITE_P(
    GroupContainers, Verdicts,
    testing::Values(
        VerdictCase { "ABCDE12345.com.example.shared", Kind::groupContainer, installed("Shared") },
        VerdictCase { "group.ABCDE12345.com.example.shared.data", Kind::groupContainer, installed("Shared") },
        VerdictCase { "ABCDE12345.com.example", Kind::groupContainer, installed("Shared") }, // first by prefix
        VerdictCase { "ABCDE12345.com.other.thing", Kind::groupContainer, installed("com.other.thing") },
        VerdictCase { "QQQQQ00000.net.other", Kind::groupContainer, installed("net.other") },
        VerdictCase { "ZZZZZ99999.com.other.thing", Kind::groupContainer, uninstalled("com.other.thing") },
        VerdictCase { "ZZZZZ99999.x", Kind::groupContainer, uninstalled("x") },
        // Nine, eleven, or a lower-case letter: no team prefix, so judged as an identifier.
        VerdictCase { "ABCDE1234.com.other.thing", Kind::groupContainer, uninstalled() },
        VerdictCase { "ABCDE123456.com.other.thing", Kind::groupContainer, uninstalled() },
        VerdictCase { "aBCDE12345.com.other.thing", Kind::groupContainer, uninstalled() },
        // Ten characters, one of them written as a letter and a combining accent.
        VerdictCase { "A\u0300BCDE12345.com.other.thing", Kind::groupContainer, uninstalled("com.other.thing") },
        VerdictCase { "group.com.examplesoft", Kind::groupContainer, installed("Writer") },
        VerdictCase { "group.net.unknown", Kind::groupContainer, unknownVerdict },
        VerdictCase { "group.org.lost.app.shared", Kind::groupContainer, uninstalled() },
        // Nothing left to judge must not match every app.
        VerdictCase { "group.", Kind::groupContainer, unknownVerdict },
        VerdictCase { "ABCDE12345.", Kind::groupContainer, unknownVerdict }));

INSTANTIATE_TEST_SUITE_P(
    SupportFolders, Verdicts,
    testing::Values(VerdictCase { "Sound Editor", Kind::supportFolder, installed("Sound Editor 3") },
                    VerdictCase { "Example Soft", Kind::supportFolder, installed("Writer") }, // by maker
                    VerdictCase { "1.2.3", Kind::supportFolder, uninstalled() }, // identifier-like: never by name
                    VerdictCase { "com.examplesoft.writer", Kind::supportFolder, installed("Writer") },
                    VerdictCase { "cave_crawl", Kind::supportFolder, installed("Cave Crawl") },
                    VerdictCase { "CAVE CRAWL", Kind::supportFolder, installed("Cave Crawl") },
                    VerdictCase { "Caf" + eDecomposed + " Noir", Kind::supportFolder,
                                  installed("Caf" + eComposed + " Noir") },
                    // A game without an install folder must not claim names without letters or digits.
                    VerdictCase { "\u2605\u2605", Kind::supportFolder, unknownVerdict },
                    VerdictCase { "Random Stuff", Kind::supportFolder, unknownVerdict },
                    VerdictCase { "My App.agent.x", Kind::supportFolder, unknownVerdict }));

TEST_F(Resolver, TeamCacheFillsOnceWithoutDeadlockUnderNestedParallelCalls)
{
    // Every call runs on a worker of an outer parallel map while the first one fills the cache
    // with an inner parallel map under the resolver's lock.
    std::vector<std::string> names;
    for (int i = 0; i < 64; ++i)
        names.push_back(i % 2 ? "ABCDE12345.org.item" + std::to_string(i) : "ZZZZZ99999.org.item" + std::to_string(i));
    const auto verdicts = parallelMap(names, [&](const std::string& name) {
        return resolver->resolve(name, Kind::groupContainer);
    });
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string rest = "org.item" + std::to_string(i);
        EXPECT_EQ(verdicts[i], i % 2 ? installed(rest) : uninstalled(rest)) << names[i];
    }
}

TEST(ResolverFence, FencedBundleGivesNoTeam)
{
    FakeMachine fake;
    Testing::addApp(fake, "~/Documents/Apps/Writer.app", AppSpec("com.examplesoft.writer").team("ABCDE12345"));
    Mac mac = fake.mac();
    // The index was made before the fence went up, as when an explanation runs beside a scan.
    AppIndex index = AppIndex::discover(mac, mac.drives(), { fake.at("~/Documents/Apps") });
    ASSERT_EQ(index.apps.size(), 1U);
    OwnerResolver resolver(index, Testing::miniCatalog(), {}, mac);
    PrivacyFence::Registration fence(PrivacyFence::shared(), { fake.at("~/Documents") });
    EXPECT_EQ(resolver.resolve("ABCDE12345.com.other.thing", Kind::groupContainer), uninstalled("com.other.thing"));
}

TEST(SteamOwners, AGameListedByAnyLibraryIsInstalledEvenWithItsDriveUnplugged)
{
    // Steam's own library holds one game; the list names a second library on a drive that is not
    // plugged in, which holds Terraria, and a third whose list entry names a game with no manifest.
    FakeMachine fake;
    Testing::writeLibraryList(fake,
                              { { fake.at(std::string(Testing::steamFolder)), { "440" } },
                                { "/Volumes/Unplugged", { "105600" } },
                                { "/Volumes/Games", { "8930" } } });
    Testing::installGame(fake, Testing::steamFolder, "440", "Team Fortress 2", "Team Fortress 2", 10);
    fake.drive("Games", "/Volumes/Games", 1'000'000'000, 500'000'000).folder("/Volumes/Games/steamapps");

    Catalog catalog = Testing::miniCatalog();
    const std::vector<std::pair<std::string, std::string>> games {
        { "Terraria", "105600" }, { "Team Fortress", "440" }, { "Civilization V", "8930" }, { "Factorio", "427520" }
    };
    for (const auto& [name, id] : games) {
        Catalog::Owner owner = Testing::owner(name, { name });
        owner.steamAppID = id;
        catalog.owners.push_back(owner);
    }
    Mac mac = fake.mac();
    const ScanContext context = Scanner::makeContext(mac, catalog, ScanOptions { .now = Clock::now() });
    std::vector<std::string> verdicts;
    std::vector<std::string> explained;
    for (const auto& [name, id] : games) {
        const std::string folder = "~/Library/Application Support/" + name;
        fake.folder(folder);
        const Verdict verdict = context.owners().resolve(name, Kind::supportFolder);
        verdicts.push_back((verdict.kind == Verdict::Case::installed ? "installed: " : "uninstalled: ")
                           + *verdict.name);
        explained.push_back(Explainer::explain(fake.at(folder), mac, catalog).owner.value_or("none"));
    }
    const std::vector<std::string> expected { "installed: Terraria", "installed: Team Fortress",
                                              "installed: Civilization V", "uninstalled: Factorio" };
    EXPECT_EQ(verdicts, expected);
    EXPECT_EQ(explained, expected);
}

// ---- Names -----------------------------------------------------------------------------------

struct NameCase {
    std::string bundleID;
    std::string display;
};

class DisplayName : public testing::TestWithParam<NameCase> {};

TEST_P(DisplayName, LastMeaningfulPartWithCapitalFirstCharacter)
{
    EXPECT_EQ(displayName(GetParam().bundleID), GetParam().display);
}

INSTANTIATE_TEST_SUITE_P(Resolver, DisplayName,
                         testing::Values(NameCase { "com.example.soundeditor", "Soundeditor" },
                                         NameCase { "com.example.editor.launcher", "Editor" },
                                         NameCase { "com.example.app", "Example" },
                                         NameCase { "com.example.Helper", "Example" },
                                         NameCase { "com.example.Mac-OS", "Example" }, NameCase { "com.app", "App" },
                                         NameCase { "editor", "Editor" }, NameCase { "com..example..", "Example" },
                                         NameCase { "", "" }, NameCase { "...", "..." },
                                         NameCase { "com.example.\u00dfeta", "SSeta" },
                                         NameCase { "com.example.e\u0301diteur", "E\u0301diteur" },
                                         NameCase { "jp.example.\u65e5\u672c", "\u65e5\u672c" }));

struct ShapeCase {
    std::string text;
    bool bundleLike;
    std::optional<std::string> team;
};

class NameShape : public testing::TestWithParam<ShapeCase> {};

TEST_P(NameShape, BundleLikeAndTeamPrefix)
{
    EXPECT_EQ(looksLikeBundleID(GetParam().text), GetParam().bundleLike);
    const auto team = splitTeamPrefix(GetParam().text);
    EXPECT_EQ(team ? std::optional(team->first) : std::nullopt, GetParam().team);
}

INSTANTIATE_TEST_SUITE_P(
    Resolver, NameShape,
    testing::Values(ShapeCase { "com.example.editor", true, std::nullopt }, ShapeCase { "1.2.3", true, std::nullopt },
                    ShapeCase { "Sound Editor", false, std::nullopt }, ShapeCase { "com.example", false, std::nullopt },
                    ShapeCase { "com..example", false, std::nullopt },
                    ShapeCase { "com.example.", false, std::nullopt },
                    ShapeCase { "My App.agent.x", false, std::nullopt },
                    ShapeCase { "ABCDE12345.com.example.shared", true, "ABCDE12345" },
                    ShapeCase { "0123456789.x", false, "0123456789" },
                    ShapeCase { "ABCDE1234.x.y", true, std::nullopt }, ShapeCase { "ABCDE12345", false, std::nullopt },
                    ShapeCase { "ABCDe12345.x", false, std::nullopt },
                    ShapeCase { "\uff21BCDE12345.x", false, "\uff21BCDE12345" })); // a full-width capital is upper-case

} // namespace
