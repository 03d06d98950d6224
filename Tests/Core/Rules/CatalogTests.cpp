#include <cerrno>
#include <filesystem>
#include <functional>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/ExecutablePath.h"
#include "QuandrilCore/Rules/Catalog.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/MiniCatalog.h"
#include "Support/SystemState.h"

using namespace Quandril;
using Testing::ScopedEnv;
using Testing::TempDir;

namespace {

// The mini catalog with one place and one owner carrying every optional key, so that each key
// of every record can be knocked out.
Json::Value fullCatalogJson()
{
    Json::Value json = Testing::miniCatalogJson();
    json["version"] = 3;
    json["protected"].push_back(Json::parse(R"({"path":"~/Library/Keychains","why":"your passwords"})"));
    json["protectedSuffixes"].push_back(Json::parse(R"({"path":".photoslibrary","why":"your photos"})"));
    json["places"].push_back(Json::parse(R"({
        "id": "xcode-derived", "title": "Xcode \"build\" data", "paths": ["~/Library/Developer/Xcode/DerivedData"],
        "tier": "rebuilds", "owner": "Xcode", "ownerBundleIDs": ["com.apple.dt.Xcode"], "tool": "xcrun",
        "app": "com.apple.dt.Xcode", "action": {"kind": "command", "command": ["xcrun", "simctl", "delete"]},
        "actionIfToolMissing": {"kind": "trash"}, "reason": "Old builds.", "reasonIfUninstalled": "Xcode is gone.",
        "onlyIfUninstalled": false, "getBack": "Xcode rebuilds it.", "marker": "*.xcodeproj", "minBytes": 100,
        "caution": "Quit Xcode first."})"));
    json["owners"].push_back(
        Json::parse(R"({"names": ["Steam"], "app": "Steam", "bundleIDs": ["com.valvesoftware.steam"],
        "bundlePrefix": "com.valvesoftware", "steamAppID": "570"})"));
    json["pluginVendors"].push_back("com.native-instruments");
    json["systemNames"].push_back("CloudKit");
    json["systemPrefixes"].push_back("com.apple.");
    json["personalMarkers"]["folders"].push_back("projects");
    json["personalMarkers"]["extensions"].push_back("psd");
    json["appLibraries"].push_back(
        Json::parse(R"({"match": ".musiclibrary", "app": "Music", "how": "Move it in Music."})"));
    return json;
}

std::string writeCatalog(const TempDir& dir, std::string_view text, std::string name = "catalog.json")
{
    std::string path = dir.path() + "/" + name;
    Testing::writeFile(path, text);
    return path;
}

} // namespace

TEST(CatalogLoad, MiniAndFullCatalogsLoadAndRoundTrip)
{
    TempDir dir;
    Catalog mini = Catalog::load(writeCatalog(dir, Testing::miniCatalogText(), "mini.json"));
    EXPECT_EQ(mini, Testing::miniCatalog());

    // Every key of every record, written back in field order, reads back the same.
    Catalog full = Catalog::load(writeCatalog(dir, Json::dump(fullCatalogJson())));
    EXPECT_EQ(toJson(full), fullCatalogJson());
}

struct DecodeCase {
    std::string name;
    std::function<void(Json::Value&)> change;
    std::optional<std::string> failingPath; // absent: the catalog loads
};

class CatalogDecode : public testing::TestWithParam<DecodeCase> {};

TEST_P(CatalogDecode, FailsNamingTheKeyPathOrLoads)
{
    const DecodeCase& c = GetParam();
    Json::Value json = fullCatalogJson();
    c.change(json);
    TempDir dir;
    const std::string path = writeCatalog(dir, Json::dump(json));
    EXPECT_EQ(Testing::decodeFailure([&] { Catalog::load(path); }), c.failingPath.value_or("(decoded)"));
}

namespace {

Json::Value* walk(Json::Value& json, const std::vector<std::string>& where)
{
    Json::Value* at = &json;
    for (const auto& step : where)
        at = step == "0" ? &(*at)[0] : &(*at)[step];
    return at;
}

std::function<void(Json::Value&)> erase(std::vector<std::string> where, std::string key)
{
    return [where, key](Json::Value& json) { walk(json, where)->erase(key); };
}

std::function<void(Json::Value&)> set(std::vector<std::string> where, std::string key, Json::Value value)
{
    return [where, key, value](Json::Value& json) { (*walk(json, where))[key] = value; };
}

std::vector<DecodeCase> decodeCases()
{
    std::vector<DecodeCase> cases;
    auto add = [&](std::string name, std::function<void(Json::Value&)> change, std::optional<std::string> failing) {
        cases.push_back({ std::move(name), std::move(change), std::move(failing) });
    };
    const std::vector<std::string> topKeys { "version",         "protected",     "protectedSuffixes", "places",
                                             "owners",          "pluginVendors", "systemNames",       "systemPrefixes",
                                             "personalMarkers", "appLibraries",  "thresholds" };
    const std::vector<std::string> thresholdKeys { "leftover",       "unknownLeftover", "appCaches",
                                                   "appCacheEach",   "splitInstall",    "workshop",
                                                   "installerBytes", "installerDays",   "unusedAppBytes",
                                                   "unusedAppDays",  "personalFolder",  "staleMount",
                                                   "place" };

    for (const auto& key : topKeys) {
        add("missing_" + key, erase({}, key), key);
        add("null_" + key, set({}, key, nullptr), key);
    }
    for (const auto& key : thresholdKeys)
        add("missing_thresholds_" + key, erase({ "thresholds" }, key), "thresholds." + key);
    for (std::string key : { "folders", "extensions" })
        add("missing_markers_" + key, erase({ "personalMarkers" }, key), "personalMarkers." + key);
    for (std::string key : { "id", "title", "paths", "tier", "action", "reason", "getBack" }) {
        add("missing_place_" + key, erase({ "places", "0" }, key), "places[0]." + key);
        add("null_place_" + key, set({ "places", "0" }, key, nullptr), "places[0]." + key);
    }
    for (std::string key : { "names", "app" })
        add("missing_owner_" + key, erase({ "owners", "0" }, key), "owners[0]." + key);
    for (std::string key : { "match", "app", "how" })
        add("missing_library_" + key, erase({ "appLibraries", "0" }, key), "appLibraries[0]." + key);
    add("missing_protected_why", erase({ "protected", "0" }, "why"), "protected[0].why");
    add("missing_suffix_path", erase({ "protectedSuffixes", "0" }, "path"), "protectedSuffixes[0].path");
    add("missing_action_kind", erase({ "places", "0", "action" }, "kind"), "places[0].action.kind");

    // Optional keys: absent and null both mean "not given".
    for (std::string key : { "owner", "ownerBundleIDs", "tool", "app", "actionIfToolMissing", "reasonIfUninstalled",
                             "onlyIfUninstalled", "marker", "minBytes", "caution" }) {
        add("null_place_" + key, set({ "places", "0" }, key, nullptr), std::nullopt);
        add("absent_place_" + key, erase({ "places", "0" }, key), std::nullopt);
    }
    for (std::string key : { "bundleIDs", "bundlePrefix", "steamAppID" }) {
        add("null_owner_" + key, set({ "owners", "0" }, key, nullptr), std::nullopt);
        add("absent_owner_" + key, erase({ "owners", "0" }, key), std::nullopt);
    }

    // Unknown keys are ignored at every level.
    add("extra_top", set({}, "//", "a comment"), std::nullopt);
    add("extra_place", set({ "places", "0" }, "note", Json::parse("{\"x\":1}")), std::nullopt);
    add("extra_action", set({ "places", "0", "action" }, "why", 1), std::nullopt);
    add("extra_owner", set({ "owners", "0" }, "note", "x"), std::nullopt);
    add("extra_thresholds", set({ "thresholds" }, "future", 1.5), std::nullopt);
    add("extra_markers", set({ "personalMarkers" }, "future", nullptr), std::nullopt);

    // Numbers: whole and in range, negative allowed.
    add("minBytes_fraction", set({ "places", "0" }, "minBytes", 1.5), "places[0].minBytes");
    add("minBytes_negative", set({ "places", "0" }, "minBytes", -1), std::nullopt);
    add("minBytes_text", set({ "places", "0" }, "minBytes", "100"), "places[0].minBytes");
    add("threshold_fraction", set({ "thresholds" }, "place", 2.5), "thresholds.place");
    add("threshold_negative", set({ "thresholds" }, "installerDays", -30), std::nullopt);
    add("version_too_big", set({}, "version", Json::Value(std::uint64_t { 9223372036854775808ull })), "version");

    // Words from fixed lists.
    add("tier_unknown", set({ "places", "0" }, "tier", "sometimes"), "places[0].tier");
    add("tier_wrong_case", set({ "places", "0" }, "tier", "Rebuilds"), "places[0].tier");
    add("kind_unknown", set({ "places", "0", "action" }, "kind", "shred"), "places[0].action.kind");
    add("fallback_kind_unknown", set({ "places", "0", "actionIfToolMissing" }, "kind", "burn"),
        "places[0].actionIfToolMissing.kind");

    // Wrong types.
    add("vendors_not_array", set({}, "pluginVendors", "com.x"), "pluginVendors");
    add(
        "system_name_number", [](Json::Value& j) { j["systemNames"].push_back(7); }, "systemNames[1]");
    add(
        "paths_element_null", [](Json::Value& j) { j["places"][0]["paths"].push_back(nullptr); }, "places[0].paths[1]");
    add("markers_not_object", set({}, "personalMarkers", Json::Value::array()), "personalMarkers");
    add(
        "place_not_object", [](Json::Value& j) { j["places"].push_back("x"); }, "places[1]");
    add("onlyIfUninstalled_text", set({ "places", "0" }, "onlyIfUninstalled", "yes"), "places[0].onlyIfUninstalled");
    add("command_not_texts", set({ "places", "0", "action" }, "command", Json::parse("[1]")),
        "places[0].action.command[0]");
    add(
        "top_level_array", [](Json::Value& j) { j = Json::Value::array(); }, "");
    return cases;
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Cases, CatalogDecode, testing::ValuesIn(decodeCases()), Testing::CaseNamed {});

TEST(CatalogLoad, BadFilesFailWithTheFileLayersOrTheParsersError)
{
    TempDir dir;
    // A missing explicit path is a read error naming the file, never "not found".
    std::string missing = dir.path() + "/no such \"rules\".json";
    try {
        Catalog::load(missing);
        ADD_FAILURE() << "loaded";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::error_code(ENOENT, std::generic_category()));
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }

    // A folder opens on Linux; it must not load as an empty file.
    std::string folder = dir.path() + "/rules.json";
    Testing::makeFolders(folder);
    try {
        Catalog::load(folder);
        ADD_FAILURE() << "loaded";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::error_code(EISDIR, std::generic_category()));
    }

    for (std::string_view text : { "", "{", "{\"version\": 1,}", "// comment\n{}", "null" })
        EXPECT_THROW(Catalog::load(writeCatalog(dir, text, "bad.json")), Json::DecodeError) << text;
}

TEST(CatalogErrors, NotFoundHasTheUserFacingMessage)
{
    EXPECT_STREQ(CatalogError::notFound().what(),
                 "Couldn't find the rules (engine/rules/catalog.json). Pass --catalog <path>.");
    EXPECT_EQ(CatalogError::notFound(), CatalogError::notFound());
}

TEST(CatalogPath, NormalisesTextually)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        { "/a/b/../c/./d", "/a/c/d" },
        { "/a//b/", "/a/b" },
        { "/usr/bin/../rules/catalog.json", "/usr/rules/catalog.json" },
        { "/a/b/../../..", "/" },
        { "/..", "/" },
        { "/x/My \"Mac\" é/../y", "/x/y" },
        { "a/../../b", "../b" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(normalizedPath(c.in), c.out) << c.in;
}

// The search: environment variable, then beside the executable, then the source tree; a
// candidate counts only when it exists and no running scan has fenced it off.
class CatalogSearch : public testing::Test {
protected:
    void SetUp() override
    {
        auto executable = Platform::executablePath();
        ASSERT_TRUE(executable.has_value());
        std::string folder = std::filesystem::path(*executable).parent_path();
        besideFolder = normalizedPath(folder + "/../rules");
        beside = besideFolder + "/catalog.json";
        // The folder beside the executable is shared by every process running these tests.
        lock = ::open((folder + "/catalog-search.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(lock, 0);
        ASSERT_EQ(::flock(lock, LOCK_EX), 0);
        ASSERT_FALSE(std::filesystem::exists(besideFolder)) << "leftover " << besideFolder;
        sourceFolder = normalizedPath(std::string(QUANDRIL_SOURCE_DIR) + "/engine/rules");
        source = sourceFolder + "/catalog.json";
    }

    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(besideFolder, ignored);
        if (lock >= 0)
            ::close(lock);
    }

    void putBeside()
    {
        Json::Value json = Testing::miniCatalogJson();
        json["version"] = 2;
        Testing::writeFile(beside, Json::dump(json));
    }

    TempDir dir;
    int lock = -1;
    std::string besideFolder, beside, sourceFolder, source;
};

TEST_F(CatalogSearch, VariableWinsThenExecutableFolderThenSourceTree)
{
    Json::Value json = Testing::miniCatalogJson();
    json["version"] = 1;
    std::string own = writeCatalog(dir, Json::dump(json), "my rules ü.json");
    putBeside();

    {
        ScopedEnv env("QUANDRIL_CATALOG", own);
        EXPECT_EQ(Catalog::defaultPath(), own);
        EXPECT_EQ(Catalog::load().version, 1);
    }
    {
        // A variable naming a missing file falls back silently.
        ScopedEnv env("QUANDRIL_CATALOG", dir.path() + "/missing.json");
        EXPECT_EQ(Catalog::defaultPath(), beside);
        EXPECT_EQ(Catalog::load().version, 2);
    }
    {
        ScopedEnv env("QUANDRIL_CATALOG", std::nullopt);
        std::filesystem::remove_all(besideFolder);
        std::optional<std::string> expected;
        if (std::filesystem::exists(source))
            expected = source;
        EXPECT_EQ(Catalog::defaultPath(), expected);
    }
}

TEST_F(CatalogSearch, FolderCandidateIsChosenAndFailsToRead)
{
    std::string folder = dir.path() + "/catalog.json";
    Testing::makeFolders(folder);
    ScopedEnv env("QUANDRIL_CATALOG", folder);
    EXPECT_EQ(Catalog::defaultPath(), folder);
    EXPECT_THROW(Catalog::load(), std::system_error);
}

TEST_F(CatalogSearch, FencedCandidateIsPassedOverUntilTheFenceEnds)
{
    ScopedEnv env("QUANDRIL_CATALOG", std::nullopt);
    putBeside();
    {
        PrivacyFence::Registration fence(PrivacyFence::shared(), { besideFolder, sourceFolder });
        EXPECT_EQ(Catalog::defaultPath(), std::nullopt);
        try {
            Catalog::load();
            ADD_FAILURE() << "loaded";
        } catch (const CatalogError& e) {
            EXPECT_EQ(e, CatalogError::notFound());
        }
        // A given path is read without asking the fence.
        EXPECT_EQ(Catalog::load(beside).version, 2);
    }
    EXPECT_EQ(Catalog::defaultPath(), beside);
}
