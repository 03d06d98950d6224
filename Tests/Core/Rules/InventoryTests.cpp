#include "QuandrilCore/Rules/Inventory.h"

#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "Support/AppBundles.h"
#include "Support/FakeMachine.h"

using namespace Quandril;
using Quandril::Testing::AppSpec;
using Quandril::Testing::FakeMachine;
using Quandril::Testing::InfoPlist;

namespace {

// "é" written as one scalar and as "e" + a combining acute accent.
const std::string eComposed = "\u00e9";
const std::string eDecomposed = "e\u0301";

// ---- The name key --------------------------------------------------------------------------

struct KeyCase {
    std::string text;
    std::string key;
};

class NameKey : public testing::TestWithParam<KeyCase> {};

TEST_P(NameKey, LowerCasesThenKeepsLettersMarksDigits)
{
    EXPECT_EQ(normalized(GetParam().text), GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    Inventory, NameKey,
    testing::Values(KeyCase { "Sound Editor", "soundeditor" }, KeyCase { "com.example.App-2", "comexampleapp2" },
                    KeyCase { "Caf" + eComposed, "caf" + eComposed },
                    KeyCase { "CAF" + eDecomposed, "caf" + eComposed },
                    KeyCase { "\u0395\u039b\u039b\u0391\u0394\u0391 2",
                              "\u03b5\u03bb\u03bb\u03b1\u03b4\u03b12" },                             // Greek
                    KeyCase { "\u65e5\u672c \u30a2\u30d7\u30ea", "\u65e5\u672c\u30a2\u30d7\u30ea" }, // CJK, kana
                    KeyCase { "Stra\u00dfe", "stra\u00dfe" }, KeyCase { "\u0130stanbul", "i\u0307stanbul" },
                    KeyCase { "\u0663 Apps", "\u0663apps" }, // Arabic-Indic digit three
                    KeyCase { "\U0001F3B5 \U0001F3B6!", "" },
                    KeyCase { "\U0001F468\u200D\U0001F469\u200D\U0001F467", "" }, KeyCase { "", "" }));

// ---- Spotlight's listing ---------------------------------------------------------------------

TEST(Spotlight, KeepsOnlyTopLevelBundlesOutsideSystemAndTrash)
{
    const std::string output = "/Applications/Editor.app\n"
                               "\n"
                               "/Applications/Editor.app/Contents/Helpers/Agent.app\n"
                               "/Users/me/.Trash/Old.app\n"
                               "/System/Applications/Calculator.app\n"
                               "/private/var/folders/x/Installer.app\n"
                               "/Volumes/Backup/Tools/Player.app\n"
                               "/Users/me/System/Mine.app\n"
                               "/Users/me/Downloads/Last.app";
    EXPECT_EQ(spotlightBundlePaths(output),
              (std::vector<std::string> { "/Applications/Editor.app", "/Volumes/Backup/Tools/Player.app",
                                          "/Users/me/System/Mine.app", "/Users/me/Downloads/Last.app" }));
    EXPECT_TRUE(spotlightBundlePaths("").empty());
    EXPECT_TRUE(spotlightBundlePaths("\n\n").empty());
}

// ---- Discovery on a fake machine --------------------------------------------------------------

struct Seen {
    std::string path; // display form
    std::string name;
    std::optional<std::string> bundleID;
    bool onStartupDisk = true;
    bool fromAppStore = false;

    friend bool operator==(const Seen&, const Seen&) = default;
};

void PrintTo(const Seen& seen, std::ostream* out)
{
    *out << seen.path << " name=" << seen.name << " id=" << seen.bundleID.value_or("-")
         << (seen.onStartupDisk ? " startup" : " other-drive") << (seen.fromAppStore ? " store" : "");
}

// One machine with every kind of place an app can be found in, and every place it must not be.
class Discovery : public testing::Test {
protected:
    void SetUp() override;

    FakeMachine fake;
    std::optional<Mac> mac;
    AppIndex index;
};

void Discovery::SetUp()
{
    fake.drive("Backup", "/Volumes/Backup", 1'000'000'000'000, 500'000'000'000);
    auto app = [&](const std::string& display, AppSpec spec = {}) { Testing::addApp(fake, display, spec); };

    app("/Applications/Sound Editor.app", AppSpec("com.example.soundeditor"));
    app("/Applications/Writer.app", AppSpec("com.examplesoft.writer").plist(InfoPlist::xml));
    app("/Applications/Utilities/Console Plus.app", AppSpec("org.console.plus"));
    app("/Applications/A/B/C/Deep.app", AppSpec("com.deep.app"));
    app("/Applications/A/B/C/D/Too Deep.app", AppSpec("com.toodeep.app"));
    app("/Applications/Tools.APP/Inner.app", AppSpec("com.inner.app"));
    app("/Applications/No Plist.app", AppSpec().plist(InfoPlist::none));
    app("/Applications/Broken.app", AppSpec("com.broken.app").plist(InfoPlist::broken));
    app("/Applications/Store.app", AppSpec("com.store.app").receipt());
    app("/Applications/.Hidden.app", AppSpec("com.hidden.app"));
    app("/Applications/Sound Editor.app/Contents/Helpers/Helper.app", AppSpec("com.example.helper"));
    app("/Applications/Caf" + eComposed + ".app", AppSpec("com.cafe.one"));
    app("/Applications/Caf" + eDecomposed + ".app", AppSpec("com.cafe.two"));
    app("~/Applications/Home Tool.app", AppSpec("me.home.tool").plist(InfoPlist::xml));
    app("/System/Applications/Calculator.app", AppSpec("com.system.calculator"));
    app("/Volumes/Backup/Applications/Sound Editor.app", AppSpec("com.example.soundeditor"));
    app("~/Library/Application Support/Steam/steamapps/common/Quest/Quest.app", AppSpec("com.quest.game"));
    app("/Elsewhere/Linked.app", AppSpec("com.linked.app"));
    app("/Elsewhere/Folder/Behind Link.app", AppSpec("com.behind.link"));
    fake.link("/Applications/Linked.app", fake.at("/Elsewhere/Linked.app"));
    fake.link("/Applications/Linked Folder", fake.at("/Elsewhere/Folder"));
    fake.text("/Applications/Plain File.app", "not a bundle");
    fake.fixture()["lastUsed"] = { { "/Applications/Writer.app", "2025-01-31T09:30:00Z" },
                                   { "~/Applications/Home Tool.app", "not a date" } };

    mac = fake.mac();
    index = AppIndex::discover(*mac, mac->drives(),
                               { fake.at("~/Library/Application Support/Steam/steamapps/common") });
}

TEST_F(Discovery, FindsEveryBundleOnceInPathOrder)
{
    std::vector<Seen> seen;
    for (const InstalledApp& app : index.apps)
        seen.push_back({ mac->display(app.path), app.name, app.bundleID, app.onStartupDisk, app.fromAppStore });

    // In the order of the real paths: the fake home (/Users/me) sorts before /Volumes.
    const std::vector<Seen> expected {
        { "/Applications/A/B/C/Deep.app", "Deep", "com.deep.app" },
        { "/Applications/Broken.app", "Broken", std::nullopt },
        // Two spellings of one name are two paths; they sort together, the decomposed bytes first.
        { "/Applications/Caf" + eDecomposed + ".app", "Caf" + eDecomposed, "com.cafe.two" },
        { "/Applications/Caf" + eComposed + ".app", "Caf" + eComposed, "com.cafe.one" },
        { "/Applications/No Plist.app", "No Plist", std::nullopt },
        { "/Applications/Sound Editor.app", "Sound Editor", "com.example.soundeditor" },
        { "/Applications/Store.app", "Store", "com.store.app", true, true },
        { "/Applications/Tools.APP/Inner.app", "Inner", "com.inner.app" },
        { "/Applications/Utilities/Console Plus.app", "Console Plus", "org.console.plus" },
        { "/Applications/Writer.app", "Writer", "com.examplesoft.writer" },
        { "/System/Applications/Calculator.app", "Calculator", "com.system.calculator" },
        { "~/Applications/Home Tool.app", "Home Tool", "me.home.tool" },
        { "~/Library/Application Support/Steam/steamapps/common/Quest/Quest.app", "Quest", "com.quest.game" },
        { "/Volumes/Backup/Applications/Sound Editor.app", "Sound Editor", "com.example.soundeditor", false },
    };
    EXPECT_EQ(seen, expected);
}

TEST_F(Discovery, ReadsLastUsedDatesByDisplayPath)
{
    for (const InstalledApp& app : index.apps) {
        if (app.name == "Writer")
            EXPECT_EQ(app.lastUsed, Platform::parseIso8601("2025-01-31T09:30:00Z"));
        else
            EXPECT_FALSE(app.lastUsed.has_value()) << app.path; // no entry, or one that does not parse
    }
}

TEST_F(Discovery, FirstPathWinsTheMaps)
{
    ASSERT_TRUE(index.appForBundleID("com.example.soundeditor"));
    EXPECT_EQ(mac->display(index.appForBundleID("com.example.soundeditor")->path), "/Applications/Sound Editor.app");
    ASSERT_TRUE(index.byName.contains("caf" + eComposed));
    EXPECT_EQ(index.byName.at("caf" + eComposed).bundleID, "com.cafe.two");
    // Found only by its name, having no identifier.
    ASSERT_TRUE(index.appNamed("No Plist"));
    EXPECT_FALSE(index.appNamed("No Plist")->bundleID);
}

TEST(DiscoveryEmpty, EmptyMachineHasNoAppsAndNoPlugins)
{
    FakeMachine fake;
    Mac mac = fake.mac();
    AppIndex index = AppIndex::discover(mac, mac.drives(), { fake.at("/Missing/Root") });
    EXPECT_TRUE(index.apps.empty());
    EXPECT_TRUE(index.byID.empty());
    EXPECT_TRUE(index.pluginNames.empty());
}

// ---- Audio plug-ins --------------------------------------------------------------------------

TEST(Plugins, NamesFromTheThreeFoldersOneLevelDown)
{
    FakeMachine fake;
    fake.folder("/Library/Audio/Plug-Ins/Components/Reverb Hall.component/Contents")
        .folder("~/Library/Audio/Plug-Ins/VST3/Synth-One.vst3")
        .folder("/Library/Audio/Plug-Ins/Top Level.VST")
        .text("/Library/Audio/Plug-Ins/Loose.clap", "a plug-in as a single file")
        .folder("/Library/Application Support/Avid/Audio/Plug-Ins/Pro Comp.aaxplugin")
        .folder("/Library/Audio/Plug-Ins/Components/!!!.component")
        .folder("/Library/Audio/Plug-Ins/VST/Too/Deep.vst")
        .text("/Library/Audio/Plug-Ins/readme.txt", "words")
        .folder("/Library/Audio/Plug-Ins/Components/Not A Plugin.bundle");
    Mac mac = fake.mac();
    AppIndex index = AppIndex::discover(mac, mac.drives(), {});
    EXPECT_EQ(index.pluginNames, (std::set<std::string> { "reverbhall", "synthone", "toplevel", "loose", "procomp" }));
}

struct HostCase {
    std::string name;
    std::optional<std::string> bundleID;
    bool host;
};

class PluginHost : public testing::TestWithParam<HostCase> {};

TEST_P(PluginHost, ByVendorPrefixOrByPluginName)
{
    const AppIndex index({}, { "reverbhall", "synth", "ab" });
    const std::vector<std::string> vendors { "COM.Vendor.", "org.audio" };
    InstalledApp app;
    app.name = GetParam().name;
    app.bundleID = GetParam().bundleID;
    app.path = "/Applications/X.app";
    EXPECT_EQ(index.isPluginHost(app, vendors), GetParam().host) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Inventory, PluginHost,
                         testing::Values(HostCase { "Anything", "com.vendor.daw", true },
                                         HostCase { "Anything", "ORG.AUDIOHOUSE.X", true },
                                         HostCase { "Anything", "com.vendorx.daw", false },
                                         HostCase { "Reverb", std::nullopt, true },
                                         HostCase { "Reverb Hall Deluxe", std::nullopt, true },
                                         HostCase { "Synthesizer", std::nullopt, true },
                                         HostCase { "Rev", std::nullopt, false },   // too short to compare loosely
                                         HostCase { "Abacus", std::nullopt, true }, // begins with the plug-in key "ab"
                                         HostCase { "\U0001F3B9\U0001F3B9\U0001F3B9\U0001F3B9", std::nullopt, false },
                                         HostCase { "Writer", "com.example.writer", false }));

// ---- Lookups ---------------------------------------------------------------------------------

InstalledApp made(std::string name, std::optional<std::string> id, std::string path)
{
    InstalledApp app;
    app.name = std::move(name);
    app.bundleID = std::move(id);
    app.path = std::move(path);
    return app;
}

const AppIndex& lookupIndex()
{
    static const AppIndex index(
        {
            made("Sound Editor 3", "com.example.soundeditor", "/A/1.app"),
            made("Editor", "com.example.editor", "/A/2.app"),
            made("Writer", "com.examplesoft.writer", "/A/3.app"),
            made("Zed", "org.zed.zed", "/A/4.app"),
            made("No ID", std::nullopt, "/A/5.app"),
            made("Caf" + eComposed + " Noir", "fr.cafe.noir", "/A/6.app"),
            made("\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac", "gr.example.hellenic", "/A/7.app"),
            made("\U0001F3B5\U0001F3B6", "com.emoji.only", "/A/8.app"),
            made("\u00c9t\u00e9s", "com.seasons.etes", "/A/9.app"),
            made("Abcx", "com.abcx.tool", "/A/10.app"),
            made("Editor", "com.example.editor", "/B/2.app"),
        },
        {});
    return index;
}

struct LookupCase {
    enum class By { bundleID, name, maker, prefix } by;
    std::string query;
    std::optional<std::string> path; // of the app found
};

void PrintTo(const LookupCase& c, std::ostream* out)
{
    static const char* const by[] = { "bundleID", "name", "maker", "prefix" };
    *out << by[static_cast<int>(c.by)] << "(" << c.query << ") -> " << c.path.value_or("nothing");
}

class Lookup : public testing::TestWithParam<LookupCase> {};

TEST_P(Lookup, FindsTheRightAppOrNone)
{
    const AppIndex& index = lookupIndex();
    const LookupCase& c = GetParam();
    std::optional<InstalledApp> found;
    switch (c.by) {
    case LookupCase::By::bundleID:
        found = index.appForBundleID(c.query);
        break;
    case LookupCase::By::name:
        found = index.appNamed(c.query);
        break;
    case LookupCase::By::maker:
        found = index.appFromMaker(c.query);
        break;
    case LookupCase::By::prefix:
        found = index.appForBundlePrefix(c.query);
        break;
    }
    EXPECT_EQ(found ? std::optional(found->path) : std::nullopt, c.path);
}

using By = LookupCase::By;

INSTANTIATE_TEST_SUITE_P(BundleID, Lookup,
                         testing::Values(LookupCase { By::bundleID, "com.example.editor", "/A/2.app" },
                                         LookupCase { By::bundleID, "COM.Example.Editor", "/A/2.app" },
                                         LookupCase { By::bundleID, "com.example.editor.agent", "/A/2.app" },
                                         LookupCase { By::bundleID, "..com..example.editor.", "/A/2.app" },
                                         LookupCase { By::bundleID, "com.example.editorial", std::nullopt },
                                         LookupCase { By::bundleID, "com.example", std::nullopt },
                                         LookupCase { By::bundleID, "com", std::nullopt },
                                         LookupCase { By::bundleID, "", std::nullopt },
                                         LookupCase { By::bundleID, "...", std::nullopt }));

INSTANTIATE_TEST_SUITE_P(
    Name, Lookup,
    testing::Values(LookupCase { By::name, "Sound Editor", "/A/1.app" },
                    LookupCase { By::name, "SoundEditor3 Cache", "/A/1.app" },
                    LookupCase { By::name, "Editor", "/A/2.app" },
                    LookupCase { By::name, "editorial", "/A/2.app" }, // begins with the app's key
                    LookupCase { By::name, "Ed", std::nullopt }, LookupCase { By::name, "Zed!", "/A/4.app" },
                    LookupCase { By::name, "Sou", std::nullopt }, // three letters match only a whole key
                    LookupCase { By::name, "No-ID", "/A/5.app" },
                    LookupCase { By::name, "CAF" + eDecomposed + " noir", "/A/6.app" },
                    LookupCase { By::name, "\u0395\u039b\u039b\u0397\u039d\u0399\u039a\u0386", "/A/7.app" },
                    LookupCase { By::name, "\U0001F3B5\U0001F3B6", std::nullopt },
                    // Three characters written with four scalars are still three characters.
                    LookupCase { By::name, "E\u0301t\u00e9", std::nullopt },
                    LookupCase { By::name, "E\u0301te\u0301s", "/A/9.app" },
                    // "x" with an accent is not "x": a beginning must end between two characters.
                    LookupCase { By::name, "Abcx\u0301yz", std::nullopt },
                    LookupCase { By::name, "Abcxyz", "/A/10.app" }));

INSTANTIATE_TEST_SUITE_P(
    Maker, Lookup,
    testing::Values(LookupCase { By::maker, "Example Soft", "/A/3.app" },
                    LookupCase { By::maker, "Example", "/A/1.app" }, LookupCase { By::maker, "zed", std::nullopt },
                    LookupCase { By::maker, "soundeditor", std::nullopt }, // last part, not a maker
                    LookupCase { By::maker, "com.", std::nullopt }, LookupCase { By::maker, "Example!", "/A/1.app" },
                    LookupCase { By::maker, "CAFE", "/A/6.app" },
                    LookupCase { By::maker, "Caf" + eDecomposed, std::nullopt }));

INSTANTIATE_TEST_SUITE_P(Prefix, Lookup,
                         testing::Values(LookupCase { By::prefix, "com.example.", "/A/1.app" },
                                         LookupCase { By::prefix, "COM.EXAMPLESOFT", "/A/3.app" },
                                         LookupCase { By::prefix, "", "/A/1.app" },
                                         LookupCase { By::prefix, "net.", std::nullopt }));

} // namespace
