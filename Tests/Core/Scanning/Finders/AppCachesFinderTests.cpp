#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Scanning/Finders/Finders.h"
#include "QuandrilCore/Scanning/Scanner.h"
#include "Support/AppBundles.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/FinderChecks.h"
#include "Support/MiniCatalog.h"

using namespace Quandril;
using Quandril::Testing::AppSpec;
using Quandril::Testing::FakeMachine;

namespace {

const std::string reason = "Files apps keep so they start faster; each app makes them again when it needs them.";
const std::string getBack = "Rebuilds itself: the apps recreate what they need.";

Finding cachesFinding(std::string title, std::int64_t bytes, std::vector<std::string> paths)
{
    return Finding("app-caches", "app-caches", std::move(title), reason, getBack, Tier::rebuilds, bytes,
                   std::move(paths), std::nullopt, Action::delete_(), std::nullopt, std::nullopt, false, std::nullopt);
}

class AppCaches : public testing::Test {
protected:
    AppCaches()
    {
        catalog.systemNames = { "CloudKit" };
        catalog.systemPrefixes = { "com.apple." };
    }

    // A cache folder holding one file of the given size.
    std::string cache(const std::string& name, std::int64_t bytes = 10'000)
    {
        fake.file("~/Library/Caches/" + name + "/data.bin", bytes);
        return fake.at("~/Library/Caches/" + name);
    }

    FinderResult find(std::optional<std::int64_t> minimumBytes = std::nullopt)
    {
        mac.emplace(fake.mac());
        ScanOptions options { .minimumBytes = minimumBytes, .now = Clock::now() };
        return AppCachesFinder().find(Scanner::makeContext(*mac, catalog, options));
    }

    std::int64_t sizeOf(const std::vector<std::string>& paths) const { return Testing::bytesOf(fake.mac(), paths); }

    FakeMachine fake;
    Catalog catalog = Testing::miniCatalog();
    std::optional<Mac> mac;
};

// Notes aside, which the open apps' tests check themselves.
void expectFindings(const FinderResult& result, const std::vector<Finding>& expected)
{
    EXPECT_EQ(Testing::records(result.findings), Testing::records(expected));
    EXPECT_TRUE(result.skipped.empty());
}

TEST_F(AppCaches, GathersEveryOrdinaryCacheFolderIntoOneFindingInListingOrder)
{
    const std::string decomposed = "Cafe\u0301 \"Quoted\" Tool";
    std::vector<std::string> expected { cache("Alpha Tool"), cache(decomposed), cache("com.example.writer") };
    // None of these is an app's own cache folder.
    cache("CloudKit");
    cache("cloudkit");
    cache("COM.Apple.Safari");
    cache(".hidden");
    cache("Claimed Place");
    cache("Holder/inner");
    fake.text("~/Library/Caches/Loose File", "not a folder");
    fake.folder("/Elsewhere/Linked").file("/Elsewhere/Linked/data.bin", 10'000);
    fake.link("~/Library/Caches/Linked", fake.at("/Elsewhere/Linked"));
    catalog.places = { Testing::place("claimed", "~/Library/Caches/Claimed Place"),
                       Testing::place("inner", "~/Library/Caches/Holder/inner") };

    Testing::expectOnly(find(), { cachesFinding("Caches of 3 apps that aren't open", sizeOf(expected), expected) });
}

TEST_F(AppCaches, OneFolderIsCalledTheCacheOfAnApp)
{
    std::string only = cache("Only One");
    Testing::expectOnly(find(), { cachesFinding("Cache of an app that isn't open", sizeOf({ only }), { only }) });
}

TEST_F(AppCaches, NothingToOfferWithoutCacheFoldersOrBehindTheFence)
{
    for (std::optional<std::int64_t> minimum : { std::optional<std::int64_t>(), std::optional<std::int64_t>(0) })
        Testing::expectOnly(find(minimum), {});
    cache("com.apple.Music");
    EXPECT_TRUE(find(0).findings.empty());
    cache("Fenced Away");
    PrivacyFence::Registration fence(PrivacyFence::shared(), { fake.at("~/Library/Caches") });
    EXPECT_TRUE(find(0).findings.empty());
}

TEST_F(AppCaches, CachesOfOpenAppsAreNamedInTheNoteAndLeftOut)
{
    Testing::addApp(fake, "/Applications/Beta.app", AppSpec("com.beta.app"));
    Testing::addApp(fake, "/Applications/Alpha.app", AppSpec("com.alpha.app"));
    fake.fixture()["running"] = Json::Value::array({ "COM.BETA.APP", "com.alpha.app", "com.gamma.tool" });
    cache("com.beta.app");
    cache("com.alpha.app");
    cache("com.alpha.app.agent");   // an agent of a running app
    cache("Beta");                  // found by name, running under its identifier
    cache("com.gamma.tool.helper"); // no app installed, but its identifier runs
    cache("com.gamma.toolkit");     // only a longer name, not a helper of com.gamma.tool
    std::string idle = cache("Idle Thing");

    FinderResult result = find();

    std::vector<std::string> notOpen { idle, fake.at("~/Library/Caches/com.gamma.toolkit") };
    expectFindings(result, { cachesFinding("Caches of 2 apps that aren't open", sizeOf(notOpen), notOpen) });
    EXPECT_EQ(result.notes,
              std::vector<std::string> {
                  "Left the caches of open apps alone: Alpha, Alpha, Beta, Beta, com.gamma.tool.helper." });
}

struct ThresholdCase {
    std::string name;
    std::int64_t each;                   // catalog appCacheEach, in bytes over the small folder's size
    std::int64_t total;                  // catalog appCaches, over the sum of both folders
    std::optional<std::int64_t> minimum; // scan minimum, over the small folder's size
    bool smallKept;
    bool bigKept;
    bool noteKept;
};

void PrintTo(const ThresholdCase& c, std::ostream* out)
{
    *out << c.name;
}

class AppCacheThresholds : public AppCaches, public testing::WithParamInterface<ThresholdCase> {};

TEST_P(AppCacheThresholds, EachFolderThenTheTotal)
{
    const ThresholdCase& c = GetParam();
    fake.fixture()["running"] = Json::Value::array({ "com.open.app" });
    std::string small = cache("Small", 1'000);
    std::string big = cache("Big", 400'000);
    cache("com.open.app", 400'000);
    const std::int64_t smallBytes = sizeOf({ small });
    const std::int64_t sum = sizeOf({ small, big });
    catalog.thresholds.appCacheEach = smallBytes + c.each;
    catalog.thresholds.appCaches = sum + c.total;

    FinderResult result = find(c.minimum ? std::optional(smallBytes + *c.minimum) : std::nullopt);

    std::vector<std::string> kept;
    if (c.bigKept)
        kept.push_back(big);
    if (c.smallKept)
        kept.push_back(small);
    std::vector<Finding> expected;
    if (!kept.empty())
        expected.push_back(
            cachesFinding(kept.size() == 1 ? "Cache of an app that isn't open" : "Caches of 2 apps that aren't open",
                          sizeOf(kept), kept));
    expectFindings(result, expected);
    EXPECT_EQ(result.notes.size(), c.noteKept ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AppCacheThresholds,
    testing::Values(
        ThresholdCase { "both pass when the sizes equal the thresholds", 0, 0, std::nullopt, true, true, true },
        ThresholdCase { "a small folder drops silently", 1, -1'000'000, std::nullopt, false, true, true },
        ThresholdCase { "a total below the threshold leaves only the note", 0, 1, std::nullopt, false, false, true },
        ThresholdCase { "the scan minimum lowers both thresholds", 1'000'000, 1'000'000'000, 0, true, true, true },
        ThresholdCase { "the scan minimum raises both thresholds", -1'000'000, -1'000'000'000, 1, false, true, true },
        // With the minimum above every folder no open app is named either: size comes first.
        ThresholdCase { "nothing passes the scan minimum", 0, 0, 10'000'000, false, false, false }),
    Testing::CaseNamed {});

TEST_F(AppCaches, AZeroThresholdOffersNoEmptyFinding)
{
    fake.fixture()["running"] = Json::Value::array({ "com.open.app" });
    cache("com.open.app");

    FinderResult result = find(0);

    EXPECT_TRUE(result.findings.empty());
    EXPECT_EQ(result.notes, std::vector<std::string> { "Left the caches of open apps alone: com.open.app." });
}

} // namespace
