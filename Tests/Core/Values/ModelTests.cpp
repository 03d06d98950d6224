#include <gtest/gtest.h>

#include "QuandrilCore/Platform/IsoDate.h"
#include "QuandrilCore/Scanning/Report.h"
#include "QuandrilCore/Values/Model.h"
#include "Support/CaseName.h"
#include "Support/SystemState.h"

using namespace Quandril;

namespace {

Finding sampleFinding()
{
    return Finding("places-xcode", "places", "Xcode build data", "Old builds.", "Xcode rebuilds it.", Tier::rebuilds,
                   1'500'000'000, { "/Users/me/Library/Developer/Xcode/DerivedData" }, std::string("Xcode"),
                   Action(Action::Kind::command, std::vector<std::string> { "brew", "cleanup" }), std::nullopt,
                   std::string("Xcode is open. Quit it first."), false, std::nullopt);
}

Json::Value findingJson()
{
    return Json::parse(R"({"id":"a","finder":"places","title":"T","reason":"R","getBack":"G","tier":"personal",
        "bytes":10,"paths":["/x"],"drive":"/","action":{"kind":"trash"},"unsure":false})");
}

} // namespace

TEST(ModelJson, FindingRoundTripKeepsEveryFieldAndKeyOrder)
{
    Finding finding = sampleFinding();
    finding.drive = "/";
    Json::Value json = toJson(finding);
    std::vector<std::string> keys;
    for (auto it = json.begin(); it != json.end(); ++it)
        keys.push_back(it.key());
    EXPECT_EQ(keys,
              (std::vector<std::string> { "id", "finder", "title", "reason", "getBack", "tier", "bytes", "paths",
                                          "drive", "owner", "action", "blockedBy", "unsure" }));
    EXPECT_EQ(toJson(Json::decodeAs<Finding>(Json::parse(Json::dump(json)))), json);
}

TEST(ModelJson, AbsentOptionalsAreLeftOut)
{
    EXPECT_EQ(Json::dump(toJson(Action::delete_())), R"({"kind":"delete"})");
    Finding fresh("x", "f", "t", "r", "g", Tier::personal, 0, {}, std::nullopt, Action::review(), std::nullopt,
                  std::nullopt, true, std::nullopt);
    std::string text = Json::dump(toJson(fresh));
    for (const char* key : { "owner", "caution", "blockedBy", "duplicateOf", "null" })
        EXPECT_EQ(text.find(key), std::string::npos) << key;
}

struct BadFinding {
    const char* name;
    const char* key;
    const char* replacement; // JSON text, or nullptr to remove the key
    const char* pathInError;
};

class FindingDecoding : public testing::TestWithParam<BadFinding> {};

TEST_P(FindingDecoding, FailsNamingTheKey)
{
    const auto& bad = GetParam();
    Json::Value json = findingJson();
    if (bad.replacement)
        json[bad.key] = Json::parse(bad.replacement);
    else
        json.erase(bad.key);
    EXPECT_EQ(Testing::decodeFailure([&] { Json::decodeAs<Finding>(json); }), bad.pathInError);
}

INSTANTIATE_TEST_SUITE_P(
    Strict, FindingDecoding,
    testing::Values(BadFinding { "NoUnsure", "unsure", nullptr, "unsure" },
                    BadFinding { "NoDrive", "drive", nullptr, "drive" }, BadFinding { "NullId", "id", "null", "id" },
                    BadFinding { "FractionalBytes", "bytes", "1.5", "bytes" },
                    BadFinding { "BytesPastInt64", "bytes", "18446744073709551615", "bytes" },
                    BadFinding { "BytesAsText", "bytes", "\"10\"", "bytes" },
                    BadFinding { "UnknownTier", "tier", "\"cache\"", "tier" },
                    BadFinding { "KindRemove", "action", R"({"kind":"remove"})", "action.kind" },
                    BadFinding { "KindLowerCaseHandoff", "action", R"({"kind":"handoff"})", "action.kind" },
                    BadFinding { "CommandNotStrings", "action", R"({"kind":"command","command":[1]})",
                                 "action.command[0]" },
                    BadFinding { "PathsNotArray", "paths", "\"/x\"", "paths" },
                    BadFinding { "UnsureAsNumber", "unsure", "0", "unsure" }),
    Testing::CaseNamed {});

TEST(ModelJson, OptionalKeysMayBeNullOrMissingAndUnknownKeysAreIgnored)
{
    Json::Value json = findingJson();
    json["owner"] = nullptr;
    json["comment"] = "ignored";
    json["action"] = Json::parse(R"({"kind":"handOff","app":null,"steps":"Open it."})");
    Finding finding = Json::decodeAs<Finding>(json);
    EXPECT_FALSE(finding.owner.has_value());
    EXPECT_EQ(finding.action.kind, Action::Kind::handOff);
    EXPECT_FALSE(finding.action.app.has_value());
    EXPECT_EQ(finding.action.steps, "Open it.");
    EXPECT_EQ(finding.drive, "/");
}

TEST(ModelJson, ScanReportRoundTripAndStartup)
{
    ScanReport report;
    report.engine = engineName();
    report.scannedAt = *Platform::parseIso8601("2026-03-04T05:06:07Z");
    report.drives = { { "Backup", "/Volumes/Backup", false, 10, 5, 4 },
                      { "Mac", "/", true, 100, 50, 40 },
                      { "Other", "/x", true, 1, 1, 1 } };
    report.trashBytes = 42;
    report.findings = { sampleFinding() };
    report.skipped = { { "/Users/me/Desktop", "privacy" } };
    report.notes = { "a note" };
    // The first startup drive, not the last.
    EXPECT_EQ(report.startup().value_or(DriveInfo {}).name, "Mac");

    Json::Value json = toJson(report);
    EXPECT_EQ(json["scannedAt"], "2026-03-04T05:06:07Z");
    EXPECT_EQ(toJson(Json::decodeAs<ScanReport>(json)), json);

    report.drives = { { "Backup", "/Volumes/Backup", false, 10, 5, 4 } };
    EXPECT_FALSE(report.startup().has_value());
}

TEST(ModelEnums, RawValuesRoundTripAndAreCaseSensitive)
{
    for (Tier tier : TierInfo::allCases)
        EXPECT_EQ(tierFromRaw(rawValue(tier)), tier);
    EXPECT_FALSE(tierFromRaw("Rebuilds").has_value());
    EXPECT_EQ(rawValue(Action::Kind::delete_), "delete");
}
