#include "QuandrilCore/Scanning/Finders/Finders.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "Support/AppBundles.h"
#include "Support/Archives.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/FinderChecks.h"
#include "Support/MiniCatalog.h"
#include "Support/Records.h"

using namespace Quandril;
using Quandril::Testing::AppSpec;
using Quandril::Testing::FakeMachine;
using Quandril::Testing::InfoPlist;

namespace {

// Month names and days as the tests spell them, whatever the machine running them uses.
[[maybe_unused]] const bool pinnedLocale = [] {
    ::setenv("LC_ALL", "C", 1);
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    return true;
}();

TimePoint at(const char* iso)
{
    return *Platform::parseIso8601(iso);
}

const TimePoint now = at("2025-03-20T12:00:00Z");
constexpr std::chrono::seconds day(86'400);

FinderResult run(const SpaceFinder& finder, const Mac& mac, const Catalog& catalog,
                 std::optional<std::int64_t> minimumBytes)
{
    ScanContext context = Scanner::makeContext(mac, catalog, ScanOptions { .minimumBytes = minimumBytes, .now = now });
    return finder.find(context);
}

// ---- Simulator runtimes -----------------------------------------------------------------------------

Finding runtimeFinding(const std::string& id, const std::string& name, std::int64_t bytes,
                       std::optional<std::string> blockedBy = std::nullopt)
{
    return Finding("sim-runtime-" + id, "simulators", name + " simulator",
                   "The " + name + " simulator Xcode uses to run apps on a pretend device.",
                   "Xcode downloads it again (Settings \u2192 Components) when you need it.", Tier::reinstallable,
                   bytes, {}, "Xcode",
                   Action(Action::Kind::command,
                          std::vector<std::string> { "xcrun", "simctl", "runtime", "delete", id }),
                   std::nullopt, std::move(blockedBy), false, std::nullopt);
}

struct SimulatorCase {
    std::string name;
    std::optional<Json::Value> runtimes; // the fixture's list; absent: none could be had
    std::vector<std::string> running;
    bool xcodeInstalled;
    std::optional<std::int64_t> minimumBytes;
    std::vector<Finding> expected;
};

void PrintTo(const SimulatorCase& c, std::ostream* out)
{
    *out << c.name;
}

const Json::Value twoRuntimes = Json::Value::array({
    { { "id", "2E6F-iOS" }, { "name", "iOS 17.5" }, { "bytes", 7'000'000'000 } },
    { { "id", "9A1C watch" }, { "name", "watchOS 10.2" }, { "bytes", 4'999 } },
});

class Simulators : public testing::TestWithParam<SimulatorCase> {};

TEST_P(Simulators, OneCommandFindingPerRuntimeAboveTheMinimum)
{
    const SimulatorCase& c = GetParam();
    FakeMachine machine;
    if (c.runtimes)
        machine.fixture()["simRuntimes"] = *c.runtimes;
    machine.fixture()["running"] = Json::Value(c.running);
    if (c.xcodeInstalled)
        addApp(machine, "/Applications/Xcode.app", AppSpec("com.apple.dt.Xcode"));
    Catalog catalog = Testing::miniCatalog();
    catalog.thresholds.place = 5'000;

    Testing::expectOnly(run(SimulatorsFinder(), machine.mac(), catalog, c.minimumBytes), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    AppFinders, Simulators,
    testing::Values(SimulatorCase { "no runtime list on a fake machine", std::nullopt, {}, false, 0, {} },
                    SimulatorCase { "empty runtime list", Json::Value::array(), { "com.apple.dt.Xcode" }, true, 0, {} },
                    SimulatorCase { "catalog threshold",
                                    twoRuntimes,
                                    {},
                                    false,
                                    std::nullopt,
                                    { runtimeFinding("2E6F-iOS", "iOS 17.5", 7'000'000'000) } },
                    SimulatorCase { "minimum 0 takes every runtime",
                                    twoRuntimes,
                                    {},
                                    false,
                                    0,
                                    { runtimeFinding("2E6F-iOS", "iOS 17.5", 7'000'000'000),
                                      runtimeFinding("9A1C watch", "watchOS 10.2", 4'999) } },
                    SimulatorCase {
                        "Xcode open blocks every runtime",
                        twoRuntimes,
                        { "com.apple.dt.xcode" },
                        true,
                        0,
                        { runtimeFinding("2E6F-iOS", "iOS 17.5", 7'000'000'000, "Xcode is open. Quit it first."),
                          runtimeFinding("9A1C watch", "watchOS 10.2", 4'999, "Xcode is open. Quit it first.") } }),
    Testing::CaseNamed());

// ---- Installers in Downloads ----------------------------------------------------------------------

Finding installerFinding(const FakeMachine& machine, const Mac& mac, const std::string& name, const std::string& id,
                         const std::string& reason)
{
    const std::string path = machine.at("~/Downloads/" + name);
    return Finding(id, "installers", name, reason, "Download it again from its maker if you ever need it.",
                   Tier::reinstallable, mac.usage(path).bytes, { path }, std::nullopt, Action::trash(), std::nullopt,
                   std::nullopt, false, std::nullopt);
}

class Installers : public testing::Test {
protected:
    void SetUp() override
    {
        const TimePoint old = at("2025-03-01T08:30:00Z");
        const TimePoint cutoff = now - 14 * day;
        for (const char* name : { "Foo-Bar-2.1.dmg", "Setup.PKG", "Photos.zip", "Tool-1.0.dmg", "StudioMax 2024.xip",
                                  "Caf\u00e9 \"Deluxe\".dmg", "notes.txt", "tiny.dmg" })
            machine.file("~/Downloads/" + std::string(name), std::string(name) == "tiny.dmg" ? 10 : 60'000)
                .modified("~/Downloads/" + std::string(name), old);
        Testing::writeZip(machine.at("~/Downloads/Foo Bar Extras.ZIP"),
                          { { "Foo Bar Extras.app/", "" },
                            { "Foo Bar Extras.app/Contents/MacOS/Foo Bar Extras", std::string(60'000, 'x') } });
        machine.modified("~/Downloads/Foo Bar Extras.ZIP", old);
        machine.file("~/Downloads/exactly old enough.dmg", 60'000)
            .modified("~/Downloads/exactly old enough.dmg", cutoff)
            .file("~/Downloads/new.dmg", 60'000)
            .modified("~/Downloads/new.dmg", now - day)
            .file("~/Downloads/Bundle.pkg/Contents/payload", 60'000)
            .modified("~/Downloads/Bundle.pkg", old)
            .file("~/Downloads/.hidden.dmg", 60'000)
            .modified("~/Downloads/.hidden.dmg", old);
        addApp(machine, "/Applications/Foo Bar.app", AppSpec("com.example.foobar"));
        addApp(machine, "/Applications/Tool.app", AppSpec("com.example.tool")); // key too short to match
        // Both keys begin StudioMax's; the first in the index names it.
        addApp(machine, "/Applications/A/Studio.app", AppSpec("com.example.studio"));
        addApp(machine, "/Applications/B/Studio Max.app", AppSpec("com.example.studiomax"));
        catalog.thresholds.installerDays = 14;
        catalog.thresholds.installerBytes = 20'000; // above the tiny file's one block
    }

    FakeMachine machine;
    Catalog catalog = Testing::miniCatalog();
};

TEST_F(Installers, OldInstallersWithTheAppTheyInstalled)
{
    Mac mac = machine.mac();
    const std::string on = "An installer you downloaded on 1 March 2025";
    const std::vector<Finding> expected {
        installerFinding(machine, mac, "Caf\u00e9 \"Deluxe\".dmg", "installer-caf\u00e9deluxedmg", on + "."),
        installerFinding(machine, mac, "Foo Bar Extras.ZIP", "installer-foobarextraszip",
                         on + "; Foo Bar is already installed."),
        installerFinding(machine, mac, "Foo-Bar-2.1.dmg", "installer-foobar21dmg",
                         on + "; Foo Bar is already installed."),
        installerFinding(machine, mac, "Setup.PKG", "installer-setuppkg", on + "."),
        installerFinding(machine, mac, "StudioMax 2024.xip", "installer-studiomax2024xip",
                         on + "; Studio is already installed."),
        installerFinding(machine, mac, "Tool-1.0.dmg", "installer-tool10dmg", on + "."),
    };
    Testing::expectOnly(run(InstallersFinder(), mac, catalog, std::nullopt), expected);

    // With no minimum the tiny image comes too, in listing order.
    FinderResult result = run(InstallersFinder(), mac, catalog, 0);
    ASSERT_EQ(result.findings.size(), expected.size() + 1);
    EXPECT_EQ(toJson(result.findings.back()),
              toJson(installerFinding(machine, mac, "tiny.dmg", "installer-tinydmg", on + ".")));
}

TEST_F(Installers, NothingBehindThePrivacyFence)
{
    Mac mac = machine.mac();
    PrivacyFence::Registration fence(PrivacyFence::shared(), PrivacyFence::guardedRoots(mac.home));
    Testing::expectOnly(run(InstallersFinder(), mac, catalog, 0), {});
}

// What a zip holds and what a disk image's header says decide, beside the name, whether it installs
// something. Foo Bar is installed; each case puts one old, big enough file in Downloads.
struct DownloadCase {
    std::string name;
    std::string file;
    std::vector<Testing::ZipEntry> zip; // the file is a zip of these entries; none: `content` is
    std::string content;
    std::optional<std::string> reason; // the finding's reason; absent: not an installer
};

void PrintTo(const DownloadCase& c, std::ostream* out)
{
    *out << c.name;
}

class Downloads : public testing::TestWithParam<DownloadCase> {};

TEST_P(Downloads, InstallerOnlyByWhatTheFileHolds)
{
    const DownloadCase& c = GetParam();
    FakeMachine machine;
    addApp(machine, "/Applications/Foo Bar.app", AppSpec("com.example.foobar"));
    addApp(machine, "/Applications/WhatsApp.app", AppSpec("net.whatsapp.WhatsApp"));
    const std::string display = "~/Downloads/" + c.file;
    if (c.zip.empty())
        machine.text(display, c.content);
    else
        Testing::writeZip(machine.at(display), c.zip);
    machine.modified(display, at("2025-03-01T08:30:00Z"));
    Mac mac = machine.mac();

    std::vector<Finding> expected;
    if (c.reason)
        expected.push_back(installerFinding(machine, mac, c.file, "installer-" + normalized(c.file),
                                            "An installer you downloaded on 1 March 2025" + *c.reason));
    Testing::expectOnly(run(InstallersFinder(), mac, Testing::miniCatalog(), 0), expected);
}

const std::string padding(30'000, 'p');
const std::string installed = "; Foo Bar is already installed.";
using Testing::ImageHeader;

INSTANTIATE_TEST_SUITE_P(
    AppFinders, Downloads,
    testing::Values(
        DownloadCase { "chat export named after an installed app",
                       "WhatsApp Chat - Mom.zip",
                       { { "_chat.txt", "[01.02.25] Mom: hi" }, { "00000012-PHOTO-2025-02-01.jpg", padding } },
                       "",
                       std::nullopt },
        DownloadCase { "zip holding the app",
                       "Foo Bar 3.zip",
                       { { "Foo Bar.app/", "" }, { "Foo Bar.app/Contents/MacOS/Foo Bar", padding } },
                       "",
                       installed },
        DownloadCase { "app bundle deeper in the zip, folders not listed",
                       "Foo Bar Suite.zip",
                       { { "Suite/Foo Bar.app/Contents/Info.plist", padding } },
                       "",
                       installed },
        DownloadCase {
            "zip holding a flat package", "Foo Bar Setup.zip", { { "Foo Bar Setup.PKG", padding } }, "", installed },
        DownloadCase { "zip holding a meta package",
                       "Foo Bar Bundle.zip",
                       { { "Foo Bar.mpkg/Contents/Info.plist", padding } },
                       "",
                       installed },
        DownloadCase {
            "a file merely called .app", "Foo Bar Notes.zip", { { "Foo Bar.app", padding } }, "", std::nullopt },
        DownloadCase { "only resource-fork shadows",
                       "Foo Bar Shadows.zip",
                       { { "__MACOSX/._Foo Bar.app/", "" }, { "__MACOSX/._Foo Bar.pkg", padding } },
                       "",
                       std::nullopt },
        DownloadCase { "app in a zip of no installed app",
                       "Other Tool.zip",
                       { { "Other Tool.app/Contents/Info.plist", padding } },
                       "",
                       std::nullopt },
        DownloadCase { "named like a zip, not one", "Foo Bar 4.zip", {}, padding, std::nullopt },
        DownloadCase { "plain disk image", "Backup.dmg", {}, Testing::diskImage(ImageHeader::plain, 30'000), "." },
        DownloadCase { "encrypted disk image",
                       "Foo Bar Private.dmg",
                       {},
                       Testing::diskImage(ImageHeader::encryptedAtStart, 30'000),
                       std::nullopt },
        DownloadCase { "encrypted disk image, older layout",
                       "Taxes.DMG",
                       {},
                       Testing::diskImage(ImageHeader::encryptedAtEnd, 30'000),
                       std::nullopt },
        DownloadCase { "encryption word elsewhere in a plain image",
                       "Notes.dmg",
                       {},
                       "kk" + Testing::diskImage(ImageHeader::encryptedAtStart, 30'000) + "kk",
                       "." }),
    Testing::CaseNamed());

// ---- Apps not opened for a long time ---------------------------------------------------------------

class UnusedApps : public testing::Test {
protected:
    void used(const std::string& display, const char* iso) { machine.fixture()["lastUsed"][display] = iso; }

    Finding unused(const Mac& mac, const std::string& display, const std::string& name, const std::string& key,
                   const std::string& month, bool appStore = false)
    {
        const std::string path = machine.at(display);
        return Finding(
            "unused-app-" + key, "unused-apps", name, "You last opened " + name + " in " + month + ".",
            appStore ? "Download it again from the App Store." : "Download it again from its maker.",
            Tier::reinstallable, mac.usage(path).bytes, { path }, name, Action::trash(),
            "Its settings stay behind until you remove them too; they show up as leftovers once the app is gone.",
            std::nullopt, false, std::nullopt);
    }

    void SetUp() override
    {
        const char* old = "2024-01-15T10:00:00Z";
        addApp(machine, "/Applications/Old Editor.app", AppSpec("com.example.oldeditor"));
        used("/Applications/Old Editor.app", old);
        addApp(machine, "/Applications/Utilities/Deep \"Tool\".app", AppSpec().plist(InfoPlist::none));
        used("/Applications/Utilities/Deep \"Tool\".app", "2023-07-31T12:00:00Z");
        addApp(machine, "~/Applications/H\u00f6me App.app", AppSpec("com.example.home"));
        used("~/Applications/H\u00f6me App.app", old);
        addApp(machine, "/Applications/Keynote.app", AppSpec("com.apple.iWork.Keynote").receipt());
        used("/Applications/Keynote.app", old);

        // Never offered:
        addApp(machine, "/Applications/Chess.app", AppSpec("com.apple.Chess")); // comes with the system
        used("/Applications/Chess.app", old);
        addApp(machine, "/Applications/Recent.app", AppSpec("com.example.recent"));
        used("/Applications/Recent.app", "2025-03-01T10:00:00Z");
        addApp(machine, "/Applications/Borderline.app", AppSpec("com.example.borderline"));
        used("/Applications/Borderline.app", "2024-09-21T12:00:00Z"); // exactly 180 days before now
        addApp(machine, "/Applications/Never.app", AppSpec("com.example.never"));
        addApp(machine, "/Applications/Busy.app", AppSpec("com.example.Busy"));
        used("/Applications/Busy.app", old);
        machine.fixture()["running"] = Json::Value::array({ "com.example.Busy" });
        addApp(machine, "/System/Applications/Old System.app");
        used("/System/Applications/Old System.app", old);
        machine.drive("External", "/Volumes/External", 1'000'000'000'000, 1'000'000);
        addApp(machine, "/Volumes/External/Applications/Elsewhere.app", AppSpec("com.example.elsewhere"));
        used("/Volumes/External/Applications/Elsewhere.app", old);
        addApp(machine, "/Applications/Synth Host.app", AppSpec("com.plugmaker.host")); // by vendor
        used("/Applications/Synth Host.app", old);
        addApp(machine, "/Applications/Beat Forge.app", AppSpec("com.example.beatforge")); // by plug-in name
        used("/Applications/Beat Forge.app", old);
        machine.folder("~/Library/Audio/Plug-Ins/Components/Beat Forge FX.component");

        catalog.thresholds.unusedAppDays = 180;
        catalog.pluginVendors = { "COM.PlugMaker." };
    }

    FakeMachine machine;
    Catalog catalog = Testing::miniCatalog();
};

TEST_F(UnusedApps, OnlyAppsLongUnopenedThatCanGo)
{
    Mac mac = machine.mac();
    const std::vector<Finding> expected {
        unused(mac, "/Applications/Keynote.app", "Keynote", "keynote", "January 2024", true),
        unused(mac, "/Applications/Old Editor.app", "Old Editor", "oldeditor", "January 2024"),
        unused(mac, "/Applications/Utilities/Deep \"Tool\".app", "Deep \"Tool\"", "deeptool", "July 2023"),
        unused(mac, "~/Applications/H\u00f6me App.app", "H\u00f6me App", "h\u00f6meapp", "January 2024"),
    };
    Testing::expectOnly(run(UnusedAppsFinder(), mac, catalog, std::nullopt), expected);
}

TEST_F(UnusedApps, SizeThresholdAndItsOverride)
{
    Mac mac = machine.mac();
    const std::int64_t editor = mac.usage(machine.at("/Applications/Old Editor.app")).bytes;
    auto offersEditor = [&](std::int64_t threshold, std::optional<std::int64_t> minimum) {
        catalog.thresholds.unusedAppBytes = threshold;
        for (const auto& finding : run(UnusedAppsFinder(), mac, catalog, minimum).findings)
            if (finding.id == "unused-app-oldeditor")
                return true;
        return false;
    };
    EXPECT_TRUE(offersEditor(editor, std::nullopt));
    EXPECT_FALSE(offersEditor(editor + 1, std::nullopt));
    EXPECT_TRUE(offersEditor(editor + 1, 0));
    EXPECT_FALSE(offersEditor(0, editor + 1));
}

} // namespace
