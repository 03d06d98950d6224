#include <clocale>
#include <limits>
#include <locale>

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

struct BytesCase {
    std::int64_t count;
    const char* text;
};

class ReportBytes : public testing::TestWithParam<BytesCase> {};

TEST_P(ReportBytes, Formats)
{
    EXPECT_EQ(Report::bytes(GetParam().count), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Amounts, ReportBytes,
                         testing::Values(BytesCase { 0, "0 KB" }, BytesCase { -5'000'000'000, "0 KB" },
                                         BytesCase { 999, "0 KB" }, BytesCase { 999'999, "999 KB" },
                                         BytesCase { 1'000'000, "1 MB" }, BytesCase { 1'500'000, "2 MB" },
                                         BytesCase { 999'999'999, "1000 MB" }, BytesCase { 1'000'000'000, "1 GB" },
                                         BytesCase { 1'500'000'000, "1.5 GB" }, BytesCase { 2'000'000'000, "2 GB" },
                                         BytesCase { 99'960'000'000, "100 GB" },
                                         BytesCase { 150'000'000'000, "150 GB" },
                                         BytesCase { 150'500'000'000, "151 GB" },
                                         BytesCase { std::numeric_limits<std::int64_t>::max(), "9223372037 GB" }));

namespace {

struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

} // namespace

TEST(ReportBytesLocale, UsesAPointUnderACommaLocale)
{
    std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
    std::string cLocale = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // may not exist; the C++ facet above always does
    std::string text = Report::bytes(1'500'000'000);
    std::setlocale(LC_NUMERIC, cLocale.c_str());
    std::locale::global(previous);
    EXPECT_EQ(text, "1.5 GB");
}

TEST(Uniqued, KeepsFirstOccurrencesInOrder)
{
    EXPECT_EQ(uniqued({ "b", "a", "b", "B", "a", "c" }), (std::vector<std::string> { "b", "a", "B", "c" }));
    EXPECT_TRUE(uniqued({}).empty());
}

TEST(JsonParse, ReadsWhatTheLibraryReadsInDocumentOrder)
{
    // Large objects take another path than small ones; both keep a repeated key's first place.
    std::string large = "{";
    for (int i = 0; i < 40; ++i)
        large += "\"k" + std::to_string(39 - i) + "\":" + std::to_string(i) + ",";
    large += R"("k5":"again","k39":{"inner":[{"b":1,"a":2,"b":3}]}})";
    const std::string texts[] {
        R"({"b":1,"a":[{"z":null,"y":true}],"c":"x","d":{}})",
        R"({"a":1,"b":2,"a":3})",
        R"([{"a":1,"a":{"x":1}},{"a":[]}])",
        large,
        R"("text")",
        "12",
        "-3",
        "1.5e3",
        "18446744073709551615",
        "null",
        "[]",
        "{}",
    };
    for (const auto& text : texts) {
        const auto ours = Json::parse(text);
        const auto library = Json::Value::parse(text);
        EXPECT_EQ(Json::dump(ours), Json::dump(library)) << text;
        EXPECT_EQ(ours, library) << text;
    }
    for (std::string_view text : { "", "1e400", "{\"a\":1,}", "[1 2]", "{\"a\":1} x", "\"\xFF\"", "{\"a\"}", "[" })
        EXPECT_THROW(Json::parse(text), Json::DecodeError) << text;
}

TEST(IsoDate, ReadsOnlyDatesTheClockHolds)
{
    using namespace std::chrono;
    using Ticks = system_clock::duration;
    struct Case {
        const char* text;
        std::optional<Ticks> sinceEpoch;
    };
    const Case cases[] {
        { "1500-01-01T00:00:00Z", std::nullopt },
        { "2300-01-01T00:00:00Z", std::nullopt },
        { "0000-01-01T00:00:00Z", std::nullopt },
        { "9999-12-31T23:59:59.999999999+23:59", std::nullopt },
        // The first instant the clock holds, and just before it.
        { "1677-09-21T00:12:43.145224192Z", Ticks::min() },
        { "1677-09-21T00:12:43.145224191Z", std::nullopt },
        { "1677-09-21T00:12:43Z", std::nullopt },
        { "1677-09-21T00:12:44Z", seconds(-9'223'372'036) },
        { "1677-09-21T01:12:44+01:00", seconds(-9'223'372'036) },
        { "1677-09-20T23:12:43.2-01:00", Ticks::min() + milliseconds(54) + microseconds(775) + nanoseconds(808) },
        // The last instant, and just after it.
        { "2262-04-11T23:47:16.854775807Z", Ticks::max() },
        { "2262-04-11T23:47:16.854775808Z", std::nullopt },
        { "2262-04-11T23:47:17Z", std::nullopt },
        { "2262-04-12T00:47:16.5+01:00", seconds(9'223'372'036) + milliseconds(500) },
        { "2262-04-11T22:47:17-01:00", std::nullopt },
    };
    for (const auto& c : cases) {
        const auto date = Platform::parseIso8601(c.text);
        EXPECT_EQ(date ? std::optional(date->time_since_epoch()) : std::nullopt, c.sinceEpoch) << c.text;
    }
}

TEST(IsoDate, ParsesStrictlyAndFormatsInUTC)
{
    using namespace std::chrono;
    auto base = Platform::parseIso8601("2025-01-31T09:30:00Z");
    ASSERT_TRUE(base);
    EXPECT_EQ(Platform::formatIso8601(*base), "2025-01-31T09:30:00Z");
    EXPECT_EQ(Platform::parseIso8601("2025-01-31T10:30:00+01:00"), base);
    EXPECT_EQ(Platform::parseIso8601("2025-01-31T04:00:00-0530"), base);
    EXPECT_EQ(Platform::formatIso8601(*Platform::parseIso8601("2025-01-31T09:30:00.999Z")), "2025-01-31T09:30:00Z");
    EXPECT_EQ(Platform::formatIso8601(*Platform::parseIso8601("1969-12-31T23:59:59Z")), "1969-12-31T23:59:59Z");
    for (const char* bad : { "", "2025-01-31", "2025-01-31T09:30:00", "2025-02-30T00:00:00Z", "2025-01-31 09:30:00Z",
                             "2025-01-31T24:00:00Z", "2025-01-31T09:30:00Zjunk", "2025-1-31T09:30:00Z",
                             "2025-01-31T09:30:00.Z", "2025-01-31T09:30:00+1:00" })
        EXPECT_FALSE(Platform::parseIso8601(bad).has_value()) << bad;
}
