#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Scanning/Finders/Finders.h"
#include "QuandrilCore/Scanning/Report.h"
#include "QuandrilCore/Scanning/Scanner.h"
#include "Support/AppBundles.h"
#include "Support/FakeMachine.h"
#include "Support/FinderChecks.h"
#include "Support/MiniCatalog.h"

using namespace Quandril;
using Quandril::Testing::AppSpec;
using Quandril::Testing::FakeMachine;
using Quandril::Testing::owner;

namespace {

struct Expected {
    std::string app;
    std::string drive;
    std::string path;
    std::optional<std::string> caution = std::nullopt;
    std::optional<std::string> blockedBy = std::nullopt;
};

class SplitInstalls : public testing::Test {
protected:
    SplitInstalls()
    {
        fake.drive("Work", "/Volumes/Work", 2'000'000'000'000, 1'000'000'000'000);
        catalog.personalMarkers = { { "documents" }, { "psd" } };
    }

    std::string app(const std::string& name, std::optional<std::string> id, const std::string& volume = "/Volumes/Work")
    {
        AppSpec spec;
        spec.bundleID = std::move(id);
        return Testing::addApp(fake, volume + "/Applications/" + name + ".app", spec);
    }

    // A data folder holding one file.
    std::string data(const std::string& display, std::int64_t bytes = 10'000)
    {
        fake.file(display + "/data.bin", bytes);
        return fake.at(display);
    }

    ScanContext context(std::optional<std::int64_t> minimumBytes = 0)
    {
        mac.emplace(fake.mac());
        return Scanner::makeContext(*mac, catalog, ScanOptions { .minimumBytes = minimumBytes, .now = Clock::now() });
    }

    // Whole records, the texts built from the app's name, its drive's name and the measured size.
    void expectFindings(const ScanContext& context, const FinderResult& result, const std::vector<Expected>& expected)
    {
        std::vector<Finding> findings;
        for (const Expected& e : expected) {
            std::int64_t bytes = context.usage(e.path).bytes;
            std::string last = e.path.substr(e.path.rfind('/') + 1);
            findings.push_back(Finding("split-" + normalized(e.app) + "-" + normalized(last), "split-installs",
                                       e.app + " data on your Mac",
                                       e.app + " is installed on " + e.drive + ", but " + Report::bytes(bytes)
                                           + " of its data is on your Mac.",
                                       "Look inside first: it may hold settings or downloads " + e.app
                                           + " needs. Some apps let you point this folder at " + e.drive + " instead.",
                                       Tier::reinstallable, bytes, { e.path }, e.app, Action::review(), e.caution,
                                       e.blockedBy, false, std::nullopt));
        }
        Testing::expectOnly(result, findings);
    }

    FakeMachine fake;
    Catalog catalog = Testing::miniCatalog();
    std::optional<Mac> mac;
};

TEST_F(SplitInstalls, ThreeBillionBytesOfAlphaOnTheMac)
{
    app("Alpha", std::nullopt);
    std::string folder = data("~/Library/Application Support/Alpha");
    catalog.thresholds.splitInstall = 1'000'000'000;
    // Scale the fake's sizes so that the folder measures close to 3 GB.
    std::int64_t measured = fake.mac().usage(folder).bytes;
    fake.fixture()["scale"] = 3e9 / static_cast<double>(measured);

    ScanContext ctx = context(std::nullopt);
    FinderResult result = SplitInstallsFinder().find(ctx);

    ASSERT_EQ(result.findings.size(), 1u);
    EXPECT_EQ(result.findings[0].reason, "Alpha is installed on Work, but 3 GB of its data is on your Mac.");
    expectFindings(ctx, result, { { "Alpha", "Work", folder } });
}

TEST_F(SplitInstalls, SupportFoldersThenContainerThenCache)
{
    app("Studio Pro", "com.maker.studiopro");
    // Pro Samples is named by the owner that shares the app's identifier; the resolver gives it to
    // Ghost, an app that is gone, so it stays with Studio Pro. The folder named by the identifier
    // itself is that owner's, so it goes.
    catalog.owners = { owner("Studio Pro", { "Studio Sessions" }), owner("Ghost", { "Pro Samples" }),
                       owner("Someone Else", { "Pro Samples" }, { "COM.MAKER.STUDIOPRO" }) };
    std::vector<std::string> support { data("~/Library/Application Support/Pro Samples") };
    fake.text("~/Library/Application Support/Studio Pro", "a file is data too");
    support.push_back(fake.at("~/Library/Application Support/Studio Pro"));
    for (const char* name : { "Studio Sessions", "Studio-Pro", "StudioPro" })
        support.push_back(data(std::string("~/Library/Application Support/") + name));
    data("~/Library/Application Support/com.maker.studiopro");
    data("~/Library/Application Support/Studio"); // not one of its names
    std::string container = data("~/Library/Containers/com.maker.studiopro");
    std::string cache = data("~/Library/Caches/com.maker.studiopro");

    ScanContext ctx = context();
    FinderResult result = SplitInstallsFinder().find(ctx);

    std::vector<Expected> expected;
    for (const auto& path : support)
        expected.push_back({ "Studio Pro", "Work", path });
    expected.push_back({ "Studio Pro", "Work", container });
    expected.push_back({ "Studio Pro", "Work", cache });
    expectFindings(ctx, result, expected);
}

TEST_F(SplitInstalls, AppsOnTheStartupDriveOrNowhereGiveNothing)
{
    app("Local", "com.example.local", "");
    app("Wanderer", "com.example.wanderer");
    data("~/Library/Application Support/Local");
    data("~/Library/Application Support/Wanderer");
    data("~/Library/Containers/com.example.local");

    ScanContext ctx = context();
    expectFindings(ctx, SplitInstallsFinder().find(ctx),
                   { { "Wanderer", "Work", fake.at("~/Library/Application Support/Wanderer") } });

    // An app marked as on the startup disk is passed over whatever drive its path names, and one
    // whose drive cannot be told too.
    for (auto& installed : ctx.apps.apps)
        installed.onStartupDisk = true;
    EXPECT_TRUE(SplitInstallsFinder().find(ctx).findings.empty());
    for (auto& installed : ctx.apps.apps) {
        installed.onStartupDisk = false;
        installed.path = "Applications/" + installed.name + ".app";
    }
    EXPECT_TRUE(SplitInstallsFinder().find(ctx).findings.empty());
    ctx.apps = AppIndex();
    EXPECT_TRUE(SplitInstallsFinder().find(ctx).findings.empty());
}

TEST_F(SplitInstalls, GenericDisplayNamesAreNoKeys)
{
    app("Gamma", "net.game");
    std::string own = data("~/Library/Application Support/Gamma");
    std::string byID = data("~/Library/Application Support/net.game");
    data("~/Library/Application Support/Game");

    ScanContext ctx = context();
    expectFindings(ctx, SplitInstallsFinder().find(ctx), { { "Gamma", "Work", own }, { "Gamma", "Work", byID } });
}

TEST_F(SplitInstalls, TheFirstAppToNameAFolderDecidesIt)
{
    // Both name Common Stuff; the catalog gives it to Foxtrot, so Echo drops it, and Foxtrot,
    // coming later, never gets it either.
    app("Echo", "com.echo.app");
    app("Foxtrot", "com.fox.trot");
    catalog.owners = { owner("Foxtrot", { "Common Stuff", "Fox Data" }, { "com.fox.trot" }),
                       owner("Echo", { "Common Stuff", "Echo Data" }) };
    data("~/Library/Application Support/Common Stuff");
    std::string echo = data("~/Library/Application Support/Echo Data");
    std::string fox = data("~/Library/Application Support/Fox Data");

    ScanContext ctx = context();
    expectFindings(ctx, SplitInstallsFinder().find(ctx), { { "Echo", "Work", echo }, { "Foxtrot", "Work", fox } });
}

TEST_F(SplitInstalls, AFolderOfAnotherInstalledAppIsDropped)
{
    app("Delta", "com.delta.app");
    Testing::addApp(fake, "/Applications/Other Editor.app", AppSpec("com.other.editor"));
    catalog.owners = { owner("Other Editor", { "Shared Data" }, { "com.other.editor" }),
                       owner("Delta", { "Shared Data", "Delta Cache" }) };
    data("~/Library/Application Support/Shared Data");
    std::string own = data("~/Library/Application Support/Delta Cache"); // its own: kept

    ScanContext ctx = context();
    expectFindings(ctx, SplitInstallsFinder().find(ctx), { { "Delta", "Work", own } });
}

TEST_F(SplitInstalls, LinksClaimedAndFencedFoldersAreSkipped)
{
    app("Alpha", "com.example.alpha");
    fake.file("/Elsewhere/Alpha/data.bin", 10'000)
        .link("~/Library/Application Support/Alpha", fake.at("/Elsewhere/Alpha"));
    data("~/Library/Application Support/com.example.alpha");
    catalog.places = { Testing::place("claimed", "~/Library/Application Support/com.example.alpha") };
    data("~/Library/Containers/com.example.alpha");
    std::string cache = data("~/Library/Caches/com.example.alpha");

    PrivacyFence::Registration fence(PrivacyFence::shared(), PrivacyFence::guardedRoots(fake.home()));
    ScanContext ctx = context();
    expectFindings(ctx, SplitInstallsFinder().find(ctx), { { "Alpha", "Work", cache } });
}

TEST_F(SplitInstalls, CautionBlockerAndThresholds)
{
    app("Alpha", "com.example.alpha");
    fake.fixture()["running"] = Json::Value::array({ "COM.example.ALPHA" });
    std::string small = data("~/Library/Application Support/Alpha", 1'000);
    std::string big = data("~/Library/Containers/com.example.alpha", 500'000);
    fake.file("~/Library/Containers/com.example.alpha/Data/Documents/Q\u00e9 \"1\".txt");

    ScanContext ctx = context();
    const std::int64_t smallBytes = ctx.usage(small).bytes;
    const std::string blocked = "Alpha is open. Quit it first.";
    const Expected smallOne { "Alpha", "Work", small, std::nullopt, blocked };
    const Expected bigOne { "Alpha", "Work", big,
                            "Inside: 1 file that looks like your own, Data/Documents/Q\u00e9 \"1\".txt.", blocked };

    expectFindings(ctx, SplitInstallsFinder().find(ctx), { smallOne, bigOne });
    ctx.options.minimumBytes = smallBytes;
    expectFindings(ctx, SplitInstallsFinder().find(ctx), { smallOne, bigOne });
    ctx.options.minimumBytes = smallBytes + 1;
    expectFindings(ctx, SplitInstallsFinder().find(ctx), { bigOne });
    ctx.options.minimumBytes.reset();
    ctx.catalog.thresholds.splitInstall = smallBytes + 1;
    expectFindings(ctx, SplitInstallsFinder().find(ctx), { bigOne });
}

TEST_F(SplitInstalls, UnicodeNamesAndAQuotedDriveName)
{
    fake.drive("Jo's \"Big\" Drive", "/Volumes/Jo's Drive", 1'000'000'000'000, 1'000'000'000);
    app("Caf\u00e9 Zo\u00eb", std::nullopt, "/Volumes/Jo's Drive");
    std::string folder = data("~/Library/Application Support/Cafe\u0301 Zoe\u0308");

    ScanContext ctx = context();
    FinderResult result = SplitInstallsFinder().find(ctx);
    expectFindings(ctx, result, { { "Caf\u00e9 Zo\u00eb", "Jo's \"Big\" Drive", folder } });
    EXPECT_EQ(result.findings.at(0).id, "split-caf\u00e9zo\u00eb-caf\u00e9zo\u00eb");
}

TEST_F(SplitInstalls, AnIdentifierThatLeadsElsewhereIsNotFollowed)
{
    app("Sneaky", "../../Documents");
    data("~/Documents");
    fake.folder("~/Library/Containers").folder("~/Library/Caches");

    ScanContext ctx = context();
    EXPECT_TRUE(SplitInstallsFinder().find(ctx).findings.empty());
}

TEST_F(SplitInstalls, ContainerAndCacheOfOneAppBothReachTheReport)
{
    app("Alpha", "com.example.alpha");
    std::string container = data("~/Library/Containers/com.example.alpha");
    std::string cache = data("~/Library/Caches/com.example.alpha");

    ScanReport report = Scanner::scan(fake.mac(), catalog, ScanOptions { .minimumBytes = 0, .now = Clock::now() });

    std::map<std::string, std::string> ids; // path to id
    for (const auto& finding : report.findings)
        if (finding.finder == "split-installs")
            ids[finding.paths.at(0)] = finding.id;
    EXPECT_EQ(ids,
              (std::map<std::string, std::string> { { container, "split-alpha-comexamplealpha" },
                                                    { cache, "split-alpha-comexamplealpha-2" } }));
}

} // namespace
