#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Scanning/Planner.h"
#include "QuandrilCore/Scanning/Report.h"

#include <clocale>
#include <cstdint>
#include <limits>
#include <locale>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Support/CaseName.h"

namespace {

using namespace Quandril;
using Kind = Action::Kind;

constexpr std::int64_t GB = 1'000'000'000;
constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();

// Only turns paths into display form; nothing on disk is read.
Mac fakeMac()
{
    return Mac("/fake", "/fake/Users/me", Fixture {});
}

Finding finding(std::string id, std::string title, Tier tier, std::int64_t bytes, Kind kind = Kind::delete_)
{
    Finding f;
    f.id = std::move(id);
    f.title = std::move(title);
    f.reason = "Why " + f.title + ".";
    f.tier = tier;
    f.bytes = bytes;
    f.drive = "/";
    f.action.kind = kind;
    return f;
}

const DriveInfo macintoshHD { "Macintosh HD", "/", true, 500 * GB, 120 * GB, 110 * GB };
const DriveInfo backup { "Backup", "/Volumes/Backup", false, 2000 * GB, 1500 * GB, 1500 * GB };

TEST(ScanText, writesEveryPartInItsPlace)
{
    ScanReport report;
    report.drives = { macintoshHD, backup };
    report.trashBytes = 2'500'000'000;

    auto xcode = finding("xcode-derived", "Xcode build files", Tier::rebuilds, 12'345'678'901);
    auto caches = finding("app-caches", "App caches", Tier::rebuilds, 999'999);
    caches.caution = "Some apps start slower once.";
    caches.blockedBy = "Safari is open.";
    auto installers = finding("installers", "Old installers", Tier::reinstallable, int64Max, Kind::trash);
    auto sims = finding("ios-sims", "Simulators", Tier::reinstallable, 100 * GB, Kind::command);
    sims.action.steps = "Only hand-offs show their steps.";
    auto steam = finding("steam", "Steam games", Tier::reinstallable, 40 * GB, Kind::handOff);
    steam.action.steps = "Open Steam and uninstall what you don't play.";
    auto music = finding("music-library", "Music library", Tier::reinstallable, GB, Kind::handOff);
    report.findings = { xcode, caches, installers, sims, steam, music };

    report.notes = { "Full Disk Access is off.", "Steam is not installed." };
    report.skipped = {
        { "/fake/Users/me/Library/Mail", "partly unreadable (3 entries)" },
        { "/fake/Users/me/Pictures/Holiday link", "reached through a link" },
        { "/fake/Users/me/Documents/Taxes", "never touched: your own rule" },
        { "/fake/Volumes/Other/x", "reached through a link to /elsewhere" },
        { "/fake/Users/me/Library/Mobile Documents", "never looked into: a cloud drive syncs it" },
    };

    // The reinstallable sum passes the 64-bit limit and stops there.
    const std::string expected = R"(Macintosh HD: 120 GB free of 500 GB (goal 150 GB: 30 GB short)
Backup: 1500 GB free of 2000 GB
Trash: 2.5 GB, freed when you empty it

Rebuilds itself (12.3 GB)
  12.3 GB  Xcode build files  [xcode-derived]
           Why Xcode build files.
  999 KB   App caches  [app-caches]
           Why App caches.
           ⚠︎ Some apps start slower once.
           ⏸ Safari is open.

Can be downloaded or installed again (9223372037 GB)
  92233720 Old installers  [installers]
           Why Old installers.
  100 GB   Simulators  [ios-sims]
           Why Simulators.
  40 GB    Steam games  [steam]
           Why Steam games.
           → Open Steam and uninstall what you don't play.
  1 GB     Music library  [music-library]
           Why Music library.

• Full Disk Access is off.
• Steam is not installed.

1 place couldn't be fully read (Full Disk Access would show more).

Left alone because they're reached through a link: ~/Pictures/Holiday link, /Volumes/Other/x.

Not looked into, because a cloud drive syncs them: ~/Library/Mobile Documents.
)";
    EXPECT_EQ(Report::text(report, fakeMac(), Goal::parse("150GB")), expected);
}

struct ScanCase {
    const char* name;
    ScanReport report;
    std::string expected;
};

void PrintTo(const ScanCase& c, std::ostream* out)
{
    *out << c.name;
}

ScanReport scanReport(std::vector<DriveInfo> drives, std::vector<Finding> findings, std::vector<Skipped> skipped = {})
{
    ScanReport report;
    report.drives = std::move(drives);
    report.findings = std::move(findings);
    report.skipped = std::move(skipped);
    return report;
}

Finding personalMove()
{
    auto f = finding("movies", "Movies", Tier::personal, 60 * GB, Kind::move);
    f.action.steps = "Steps of a move are not shown.";
    return f;
}

class ScanTexts : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanTexts, matchInFull)
{
    EXPECT_EQ(Report::text(GetParam().report, fakeMac(), std::nullopt), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScanTexts,
    ::testing::Values(ScanCase { "emptyReport", scanReport({}, {}), "\n\nNothing worth freeing found.\n" },
                      ScanCase { "twoUnreadablePlaces",
                                 scanReport({ backup }, {},
                                            { { "/fake/a", "partly unreadable" }, { "/fake/b", "partly unreadable" } }),
                                 R"(Backup: 1500 GB free of 2000 GB

Nothing worth freeing found.

2 places couldn't be fully read (Full Disk Access would show more).
)" },
                      ScanCase { "onlyYourFiles", scanReport({ macintoshHD }, { personalMove() }),
                                 R"(Macintosh HD: 120 GB free of 500 GB

Your files (60 GB)
  60 GB    Movies  [movies]
           Why Movies.
)" },
                      ScanCase { "pathsOutsideTheFakeRootKeepTheirText",
                                 scanReport({}, { personalMove() },
                                            { { "/elsewhere/x", "reached through a link" },
                                              { "/fake", "never looked into" } }),
                                 R"(

Your files (60 GB)
  60 GB    Movies  [movies]
           Why Movies.

Left alone because they're reached through a link: /elsewhere/x.

Not looked into, because a cloud drive syncs them: /.
)" }),
    Testing::CaseNamed());

struct DriveLinesCase {
    const char* name;
    std::vector<DriveInfo> drives;
    std::int64_t trashBytes;
    std::optional<Goal> goal;
    std::string expected;
};

void PrintTo(const DriveLinesCase& c, std::ostream* out)
{
    *out << c.name;
}

DriveInfo startupWith(std::int64_t total, std::int64_t free)
{
    return { "Macintosh HD", "/", true, total, free, 0 };
}

class DriveLines : public ::testing::TestWithParam<DriveLinesCase> {};

TEST_P(DriveLines, matchInFull)
{
    const auto& c = GetParam();
    ScanReport report;
    report.drives = c.drives;
    report.trashBytes = c.trashBytes;
    EXPECT_EQ(Report::drives(report, c.goal), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DriveLines,
    ::testing::Values(
        DriveLinesCase { "nothing", {}, 0, std::nullopt, "" },
        DriveLinesCase { "onlyTheTrash", {}, 1, std::nullopt, "\nTrash: 0 KB, freed when you empty it" },
        DriveLinesCase { "noGoal",
                         { macintoshHD, backup },
                         0,
                         std::nullopt,
                         "Macintosh HD: 120 GB free of 500 GB\nBackup: 1500 GB free of 2000 GB" },
        DriveLinesCase {
            "goalOnlyOnTheStartupDrive", { backup }, 0, Goal::ofBytes(1), "Backup: 1500 GB free of 2000 GB" },
        DriveLinesCase { "exactlyMet",
                         { startupWith(500 * GB, 100 * GB) },
                         0,
                         Goal::ofBytes(100 * GB),
                         "Macintosh HD: 100 GB free of 500 GB (goal 100 GB: met)" },
        DriveLinesCase { "oneByteShort",
                         { startupWith(500 * GB, 100 * GB - 1) },
                         0,
                         Goal::ofBytes(100 * GB),
                         "Macintosh HD: 100 GB free of 500 GB (goal 100 GB: 0 KB short)" },
        DriveLinesCase { "shareOfTheDrive",
                         { startupWith(1000 * GB, 150 * GB) },
                         0,
                         Goal::ofShare(0.2),
                         "Macintosh HD: 150 GB free of 1000 GB (goal 20% of the drive: 50 GB short)" },
        // The shortfall stops at the 64-bit limit instead of wrapping to a negative amount.
        DriveLinesCase { "shortfallSaturates",
                         { startupWith(int64Max, int64Min) },
                         0,
                         Goal::ofBytes(int64Max),
                         "Macintosh HD: 0 KB free of 9223372037 GB (goal 9223372037 GB: 9223372037 GB short)" }),
    Testing::CaseNamed());

TEST(PlanText, writesRoutesFewestStepsAndNotes)
{
    ScanReport report;
    report.drives = { { "Macintosh HD", "/", true, 500 * GB, 80 * GB, 70 * GB } };
    report.trashBytes = 2 * GB;
    auto logic = finding("logic", "Logic sounds", Tier::reinstallable, 5 * GB, Kind::handOff);
    logic.action.app = "Logic";
    auto mail = finding("mail", "Mail downloads", Tier::rebuilds, GB);
    mail.blockedBy = "Mail is open.";
    report.findings = {
        finding("xcode", "Xcode build files", Tier::rebuilds, 15 * GB),
        finding("caches", "App caches", Tier::rebuilds, 3 * GB),
        mail,
        finding("installers", "Old installers", Tier::reinstallable, 40 * GB, Kind::trash),
        logic,
        finding("movies", "Movies", Tier::personal, 60 * GB, Kind::move),
    };
    auto plan = Planner::plan(report, *Goal::parse("120GB"));
    ASSERT_TRUE(plan);

    const std::string expected = R"(Macintosh HD: 80 GB free, goal 120 GB (120 GB)
Every route includes emptying the Trash (2 GB).

· Only what rebuilds itself: +18 GB → 100 GB free
✓ Plus what can be downloaded again: +58 GB → 140 GB free
✓ Plus moving your own files to a drive: +118 GB → 200 GB free

Fewest steps to 120 GB:
  empty the Trash (2 GB)
  Xcode build files (15 GB)  [xcode]
  App caches (3 GB)  [caches]
  Old installers (40 GB)  [installers]

• Up to 5 GB more is yours to prune inside other apps (Logic).
• 1 GB waits for open apps to be quit.
)";
    EXPECT_EQ(Report::text(*plan, report), expected);
}

struct PlanTextCase {
    const char* name;
    Plan plan;
    std::string expected;
};

void PrintTo(const PlanTextCase& c, std::ostream* out)
{
    *out << c.name;
}

Route route(std::string title, std::int64_t bytes, std::int64_t freeAfter, bool reaches,
            std::vector<std::string> ids = {})
{
    return Route { "safe", std::move(title), std::move(ids), bytes, freeAfter, reaches };
}

Plan plan(std::int64_t trash, std::vector<Route> routes, std::optional<Route> fewest,
          std::vector<std::string> notes = {})
{
    return Plan { backup, "20% of the drive", 400 * GB,          500 * GB,
                  trash,  std::move(routes),  std::move(fewest), std::move(notes) };
}

class PlanTexts : public ::testing::TestWithParam<PlanTextCase> {};

TEST_P(PlanTexts, matchInFull)
{
    // Two findings share an id: the first in report order is the one shown.
    ScanReport report;
    report.findings = { finding("a", "First A", Tier::rebuilds, GB), finding("a", "Second A", Tier::rebuilds, 2 * GB),
                        finding("b", "B", Tier::reinstallable, 3 * GB) };
    EXPECT_EQ(Report::text(GetParam().plan, report), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PlanTexts,
    ::testing::Values(
        PlanTextCase { "goalMetWithoutTrash",
                       plan(0, { route("Only", 0, 500 * GB, true) }, route("Few", 0, 500 * GB, true)),
                       R"(Backup: 500 GB free, goal 20% of the drive (400 GB)

✓ Only: +0 KB → 500 GB free

Fewest steps to 400 GB:
)" },
        PlanTextCase { "goalMetWithTrash",
                       plan(GB, { route("Only", 0, 501 * GB, true) }, route("Few", 0, 501 * GB, true)),
                       R"(Backup: 500 GB free, goal 20% of the drive (400 GB)
Every route includes emptying the Trash (1 GB).

✓ Only: +0 KB → 501 GB free

Fewest steps to 400 GB:
  empty the Trash (1 GB)
)" },
        PlanTextCase {
            "unknownIdsAreLeftOut",
            plan(0, { route("Only", 0, 500 * GB, true) }, route("Few", 0, 500 * GB, true, { "b", "gone", "a" })),
            R"(Backup: 500 GB free, goal 20% of the drive (400 GB)

✓ Only: +0 KB → 500 GB free

Fewest steps to 400 GB:
  B (3 GB)  [b]
  First A (1 GB)  [a]
)" },
        PlanTextCase {
            "onlyLaterRoutesReach",
            plan(0, { route("Only", 0, 300 * GB, false), route("Plus", 200 * GB, 500 * GB, true) }, std::nullopt),
            R"(Backup: 500 GB free, goal 20% of the drive (400 GB)

· Only: +0 KB → 300 GB free
✓ Plus: +200 GB → 500 GB free

The goal needs your own files moved or other apps' help: see the routes marked ✓.
)" },
        PlanTextCase { "noRouteReaches",
                       plan(0, { route("Only", 0, 300 * GB, false) }, std::nullopt, { "One note.", "Two notes." }),
                       R"(Backup: 500 GB free, goal 20% of the drive (400 GB)

· Only: +0 KB → 300 GB free

No route reaches the goal; the rest is your own files to decide about.

• One note.
• Two notes.
)" }),
    Testing::CaseNamed());

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

struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

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

} // namespace
