#include "QuandrilCore/Scanning/Explain.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "Support/AppBundles.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/MiniCatalog.h"
#include "Support/Unprivileged.h"

using namespace Quandril;
using Quandril::Testing::AppSpec;
using Quandril::Testing::FakeMachine;

namespace Quandril {

void PrintTo(const Explanation& explanation, std::ostream* out)
{
    *out << Json::dump(toJson(explanation));
}

} // namespace Quandril

namespace {

constexpr std::int64_t block = 64 * 1024;
constexpr std::int64_t cloudBytes = 64 * block;
const std::string keychains = "Your passwords live here.";

std::vector<std::string> names(const Explanation& explanation)
{
    std::vector<std::string> out;
    for (const auto& child : explanation.biggest)
        out.push_back(child.name);
    return out;
}

Catalog explainCatalog()
{
    Catalog catalog = Testing::miniCatalog();
    catalog.protected_ = { { "~/Library/Keychains", keychains },
                           { "~/Library/Mail", "Mail keeps your messages here." },
                           { "~/Library/Accounts", keychains } };
    catalog.protectedSuffixes = { { ".photoslibrary", "Photos keeps its library here." } };
    auto derived = Testing::place("xcode-derived", "~/Library/Developer/Xcode/DerivedData");
    derived.title = "Xcode build data";
    catalog.places = { derived, Testing::place("in-cloud", "~/Library/Mobile Documents/*"),
                       Testing::place("quoted", "~/Library/Application Support/Build \"Caf\u00e9\" Data") };
    catalog.systemPrefixes = { "com.apple." };
    catalog.owners = { Testing::owner("Old Tool", { "Old Tool" }, { "com.gone.oldtool" }) };
    return catalog;
}

// A home with iCloud Drive holding the biggest file, a cloud drive, a known place, never-touch
// folders, links, app data of installed and gone apps, and a Steam game.
class Explaining : public testing::Test {
protected:
    void SetUp() override
    {
        fake.file("~/Library/Mobile Documents/com~apple~CloudDocs/Film.mov", cloudBytes)
            .file("~/Library/CloudStorage/Box/Report.pdf", 32 * block)
            .file("~/Library/Caches/com.example.editor/cache.db", 2 * block)
            .file("~/Library/Keychains/login.keychain", block)
            .file("~/Library/Developer/Xcode/DerivedData/App-abc/Build/out.o", 3 * block)
            .folder("~/Library/Application Support/Build \"Caf\u00e9\" Data")
            .folder("~/Pictures/Trip.photoslibrary/originals")
            .file("~/Projects/app/main.c", 4 * block)
            .file("~/Projects/notes.txt", block)
            .folder("~/Documents")
            .link("~/iCloud", "Library/Mobile Documents")
            .link("~/lib", "Library")
            .link("~/proj", "Projects/app")
            .link("~/gone", "Nowhere");
        Testing::addApp(fake, "/Applications/Editor.app", AppSpec("com.example.editor"));
        Testing::addApp(fake, "/Applications/Caf\u00e9 Noir.app", AppSpec("fr.cafe.noir"));
        const std::string steamapps = "~/Library/Application Support/Steam/steamapps/";
        fake.text(steamapps + "libraryfolders.vdf", R"("libraryfolders" { "1" { "path" "/Volumes/Gone" } })");
        fake.text(steamapps + "appmanifest_42.acf",
                  R"("AppState" { "appid" "42" "name" "Space Game" "installdir" "SpaceGame" })");
    }

    Explanation explain(const std::string& display)
    {
        if (!machine)
            machine.emplace(fake.mac());
        return Explainer::explain(fake.at(display), *machine, catalog);
    }

    FakeMachine fake;
    Catalog catalog = explainCatalog();
    std::optional<Mac> machine;
};

// The JSON keys a case is about; null says the key is left out.
struct Case {
    std::string name;
    std::string path;
    std::string expected;
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

const std::string inLibrary = R"("holdsNeverTouch":["Your passwords live here.","Mail keeps your messages here.",)"
                              R"("iCloud Drive","a cloud drive"],"neverTouch":null,"throughLink":false,)"
                              R"("notLookedInto":["~/Library/Mobile Documents","~/Library/CloudStorage"]})";
const std::string unmeasured = R"("bytes":0,"unreadable":0,"biggest":[],"holdsNeverTouch":[],"knownAs":null,)"
                               R"("owner":null,"drive":"Macintosh HD",)";

const Case cases[] = {
    { "known place", "~/Library/Developer/Xcode/DerivedData/", R"({"knownAs":"Xcode build data [xcode-derived]"})" },
    { "inside a known place", "~/Library/Developer/Xcode/DerivedData/App-abc/Build",
      R"({"knownAs":"Xcode build data [xcode-derived]"})" },
    { "only named like a place", "~/Library/Developer/Xcode/DerivedDataOld", R"({"knownAs":null})" },
    { "place typed decomposed", "~/Library/Application Support/Build \"Cafe\u0301\" Data",
      R"({"knownAs":"Place quoted [quoted]"})" },
    { "never-touch folder", "~/Library/Keychains",
      R"({"neverTouch":"Your passwords live here.","holdsNeverTouch":[],"biggest":[{"name":"login.keychain","bytes":65536}]})" },
    { "never-touch name ending", "~/Pictures/Trip.photoslibrary/originals",
      R"({"neverTouch":"Photos keeps its library here."})" },
    { "Library", "~/Library", "{" + inLibrary },
    { "Library with a final slash", "~/Library/", "{" + inLibrary },
    { "Library spelled with // and .", "~//Library/.", "{" + inLibrary },
    { "Library spelled with ..", "~/Documents/../Library", "{" + inLibrary },
    { "iCloud Drive", "~/Library/Mobile Documents/",
      "{" + unmeasured + R"("neverTouch":"iCloud Drive","notLookedInto":["~/Library/Mobile Documents"]})" },
    { "in iCloud Drive spelled with ..", "~/Library/Caches/../Mobile Documents/com~apple~CloudDocs",
      "{" + unmeasured
          + R"("neverTouch":"iCloud Drive","notLookedInto":["~/Library/Mobile Documents/com~apple~CloudDocs"]})" },
    { "a cloud drive", "~/Library/CloudStorage/Box",
      "{" + unmeasured + R"("neverTouch":"a cloud drive","notLookedInto":["~/Library/CloudStorage/Box"]})" },
    { "through a link into iCloud Drive", "~/iCloud/com~apple~CloudDocs",
      "{" + unmeasured
          + R"("neverTouch":"iCloud Drive","throughLink":true,"notLookedInto":["~/iCloud/com~apple~CloudDocs"]})" },
    { "a link to Library", "~/lib",
      R"({"throughLink":true,"notLookedInto":["~/Library/Mobile Documents","~/Library/CloudStorage"]})" },
    { "the Containers folder", "~/Library/Containers/", R"({"owner":null})" },
    { "an installed app's container", "~/Library/Containers/com.example.editor/Data",
      R"({"owner":"installed: Editor"})" },
    { "a gone app named by the catalog", "~/Library/Containers/com.gone.oldtool",
      R"({"owner":"uninstalled: Old Tool"})" },
    { "a gone app named from its folder", "~/Library/Containers/com.vanished.paint-pro",
      R"({"owner":"uninstalled: Paint-pro"})" },
    { "part of macOS", "~/Library/Containers/com.apple.mail", R"({"owner":"macOS"})" },
    { "a group container", "~/Library/Group Containers/group.com.example.editor", R"({"owner":"installed: Editor"})" },
    { "nobody's support folder", "~/Library/Application Support/Random Stuff", R"({"owner":"unknown"})" },
    { "a Steam game's support folder", "~/Library/Application Support/Space Game",
      R"({"owner":"installed: Space Game"})" },
    { "support folder typed decomposed", "~/Library/Application Support/Cafe\u0301 Noir",
      R"({"owner":"installed: Café Noir"})" },
    { "a cache folder", "~/Library/Caches/com.example.editor", R"({"owner":"installed: Editor"})" },
    { "only named like an app-data folder", "~/Library/ContainersOld/com.example.editor", R"({"owner":null})" },
    { "a link to a folder", "~/proj", R"({"throughLink":true,"biggest":[{"name":"main.c","bytes":262144}]})" },
    { "inside a folder reached through a link", "~/proj/main.c",
      R"({"throughLink":true,"bytes":262144,"biggest":[]})" },
    { ".. after a link", "~/proj/../notes.txt", R"({"throughLink":true})" },
    { ".. without a link", "~/Projects/app/../notes.txt", R"({"throughLink":false})" },
    { "a dangling link", "~/gone", R"({"throughLink":false,"unreadable":0,"biggest":[]})" },
    { "a missing path", "~/Nowhere/thing",
      R"({"bytes":0,"unreadable":1,"drive":"Macintosh HD","throughLink":false,"biggest":[],"notLookedInto":[]})" },
};

class ExplainCases : public Explaining, public testing::WithParamInterface<Case> {};

TEST_P(ExplainCases, Fields)
{
    const Json::Value got = toJson(explain(GetParam().path));
    const Json::Value expected = Json::parse(GetParam().expected);
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (it.value().is_null())
            EXPECT_FALSE(got.contains(it.key())) << it.key() << " in " << got.dump();
        else
            EXPECT_EQ(got.value(it.key(), Json::Value()), it.value()) << it.key() << " in " << got.dump();
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ExplainCases, testing::ValuesIn(cases), Testing::CaseNamed());

TEST_F(Explaining, CloudFoldersAreLeftOutOfSizesAndChildren)
{
    for (const std::string path : { "~/Library", "~/Library/", "~//./Library", "~/Documents/../Library", "~/lib/" }) {
        SCOPED_TRACE(path);
        const Explanation explanation = explain(path);
        EXPECT_GT(explanation.bytes, 6 * block);
        EXPECT_LT(explanation.bytes, 32 * block);
        ASSERT_FALSE(explanation.biggest.empty());
        for (const auto& child : explanation.biggest) {
            EXPECT_LT(child.bytes, 32 * block) << child.name;
            EXPECT_TRUE(child.name != "Mobile Documents" && child.name != "CloudStorage") << child.name;
        }
    }
    EXPECT_LT(explain("~/lib").bytes, block) << "a link is measured as itself";
}

TEST_F(Explaining, FenceIsRespected)
{
    fake.fixture()["cloud"] = Json::Value::array({ "~/Dropbox", "~/Missing Cloud" });
    fake.file("~/Dropbox/Big.zip", block).link("~/Library/Caches/back", "../Keychains");
    EXPECT_EQ(explain("~").notLookedInto,
              (std::vector<std::string> { "~/Library/Mobile Documents", "~/Library/CloudStorage", "~/Dropbox" }));

    PrivacyFence::Registration fence(PrivacyFence::shared(), { fake.at("~/Library") });
    EXPECT_EQ(explain("~").notLookedInto, std::vector<std::string> { "~/Dropbox" });
    for (const std::string path : { "~/Library", "~/Library/Caches", "~/Library/Caches/back" }) {
        SCOPED_TRACE(path);
        const Explanation explanation = explain(path);
        EXPECT_EQ(explanation.bytes, 0);
        EXPECT_TRUE(explanation.biggest.empty());
        EXPECT_FALSE(explanation.throughLink);
    }
}

TEST(ExplainRoot, EveryRuleLiesInsideTheRoot)
{
    FakeMachine fake;
    // A fence on "/" keeps the whole disk from being walked or listed.
    PrivacyFence::Registration fence(PrivacyFence::shared(), { "/" });
    const Explanation root = Explainer::explain("/", fake.mac(), explainCatalog());
    EXPECT_EQ(root.holdsNeverTouch,
              (std::vector<std::string> { keychains, "Mail keeps your messages here.", "iCloud Drive",
                                          "a cloud drive" }));
}

TEST(ExplainDrives, LongestDrivePathThatHoldsThePath)
{
    FakeMachine fake;
    fake.drive("Backup", "/Volumes/Backup", 1, 1).drive("Back", "/Volumes/Back", 1, 1);
    fake.drive("First Twin", "/Volumes/Twin", 1, 1).drive("Second Twin", "/Volumes/Twin", 1, 1);
    fake.drive("Caf\u00e9", "/Volumes/Caf\u00e9", 1, 1);
    const Mac mac = fake.mac();
    const std::pair<std::string, std::string> rows[] = { { "/", "Macintosh HD" },
                                                         { "/Volumes/Backup/", "Backup" },
                                                         { "/Volumes/Backup/Photos", "Backup" },
                                                         { "/Volumes/Backups/x", "Macintosh HD" },
                                                         { "/Volumes/Back/x", "Back" },
                                                         { "/Volumes/Twin/x", "First Twin" },
                                                         { "/Volumes/Cafe\u0301/x", "Caf\u00e9" } };
    for (const auto& [path, drive] : rows)
        EXPECT_EQ(Explainer::explain(fake.root() + path, mac, Testing::miniCatalog()).drive, drive) << path;
    EXPECT_FALSE(Explainer::explain("/held-by-no-drive", mac, Testing::miniCatalog()).drive);
}

TEST_F(Explaining, TwelveBiggestChildrenHiddenOnesAndOddNamesIncluded)
{
    const std::vector<std::string> odd { "My \"Quoted\" File", "Caf\u00e9", "Cafe\u0301", "it's  two", "new\nline" };
    for (int i = 0; i < 13; ++i)
        fake.file("~/Big/" + (i < 5 ? odd[static_cast<std::size_t>(i)] : "f" + std::to_string(i)), (20 - i) * block);
    fake.file("~/Big/.hidden", 30 * block);
    fake.file("~/Big/tie", 10 * block); // as big as f10, and only one of the two fits

    std::vector<std::string> expected { ".hidden" };
    expected.insert(expected.end(), odd.begin(), odd.end());
    for (int i = 5; i < 10; ++i)
        expected.push_back("f" + std::to_string(i));
    for (const auto& name : listNames(fake.at("~/Big")))
        if (name == "tie" || name == "f10")
            expected.push_back(name); // equal sizes keep the listing's order
    expected.resize(Explainer::biggestCount);
    const Explanation big = explain("~/Big");
    EXPECT_EQ(names(big), expected);
    EXPECT_EQ(big.biggest.front().bytes, 30 * block);

    const Explanation file = explain("~/Big/My \"Quoted\" File");
    EXPECT_EQ(file.bytes, 20 * block);
    EXPECT_TRUE(file.biggest.empty());
}

TEST_F(Explaining, UnreadableFolderInsideIsCounted)
{
    // Root reads every folder.
    Testing::asOrdinaryUser(
        [&] {
            fake.file("~/Locked/inner/secret.txt", block);
            ASSERT_EQ(::chmod(fake.at("~/Locked/inner").c_str(), 0), 0);
            const Explanation explanation = explain("~/Locked");
            EXPECT_EQ(explanation.unreadable, 1);
            EXPECT_EQ(names(explanation), std::vector<std::string> { "inner" });
        },
        { fake.root() });
}

TEST_F(Explaining, PathsThatNameNothingAreAnsweredAsMissing)
{
    for (const std::string& path : { std::string(), std::string("Library"), std::string("~/Library"),
                                     fake.at("~/Projects") + std::string("\0/app", 5) }) {
        Explanation expected;
        expected.path = path;
        expected.unreadable = 1;
        EXPECT_EQ(Explainer::explain(path, fake.mac(), catalog), expected);
    }
}

TEST(ExplanationJson, AbsentFieldsLeftOutListsAlwaysWritten)
{
    Explanation bare;
    bare.path = "/x";
    EXPECT_EQ(
        Json::dump(toJson(bare)),
        R"({"path":"/x","bytes":0,"unreadable":0,"holdsNeverTouch":[],"throughLink":false,"biggest":[],"notLookedInto":[]})");
    Explanation full { "/a",     INT64_MAX, 3, "HD", "No.", { "Why." }, "P [p]", "macOS", true, { { "Caf\u00e9", 5 } },
                       { "~/x" } };
    const Json::Value json = toJson(full);
    EXPECT_EQ(Json::decodeAs<Explanation>(Json::parse(Json::dump(json))), full);
    EXPECT_EQ(Json::decodeAs<Explanation>(toJson(bare)), bare);
    for (const char* key :
         { "path", "bytes", "unreadable", "holdsNeverTouch", "throughLink", "biggest", "notLookedInto" }) {
        Json::Value missing = json;
        missing.erase(key);
        EXPECT_THROW(Json::decodeAs<Explanation>(missing), Json::DecodeError) << key;
    }
}

} // namespace
