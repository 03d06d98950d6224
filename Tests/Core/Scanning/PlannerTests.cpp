#include "QuandrilCore/Scanning/Planner.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Support/CaseName.h"

namespace Quandril {

void PrintTo(const Route& route, std::ostream* out)
{
    *out << Json::dump(toJson(route));
}
void PrintTo(const Plan& plan, std::ostream* out)
{
    *out << Json::dump(toJson(plan), true);
}

} // namespace Quandril

namespace {

using namespace Quandril;
using Kind = Action::Kind;

constexpr std::int64_t MB = 1'000'000;
constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();

// A finding on the startup drive, changed by the calls that follow.
struct F {
    Finding finding;

    F(std::string id, Tier tier, std::int64_t bytes, Kind kind = Kind::delete_)
    {
        finding.id = id;
        finding.title = "Title of " + id;
        finding.reason = "Reason of " + id;
        finding.tier = tier;
        finding.bytes = bytes;
        finding.drive = "/";
        finding.action.kind = kind;
    }
    F& on(std::string drive) { return finding.drive = std::move(drive), *this; }
    F& app(std::string name) { return finding.action.app = std::move(name), *this; }
    F& moves(bool flag = true) { return finding.action.moves = flag, *this; }
    F& blocked() { return finding.blockedBy = "Music is open.", *this; }
    F& unsure() { return finding.unsure = true, *this; }
    F& copyOf(std::string path) { return finding.duplicateOf = std::move(path), *this; }
    operator Finding() const { return finding; }
};

ScanReport reportWith(std::vector<Finding> findings, std::int64_t free = 80 * MB, std::int64_t trash = 10 * MB,
                      std::int64_t total = 1000 * MB)
{
    ScanReport report;
    report.engine = "quandril 0.1.0";
    report.drives = {
        { "Macintosh HD", "/", true, total, free, free },
        { "Backup", "/Volumes/Backup", false, 2000 * MB, 500 * MB, 400 * MB },
    };
    report.trashBytes = trash;
    report.findings = std::move(findings);
    return report;
}

Route R(std::string id, std::string title, std::vector<std::string> ids, std::int64_t bytes, std::int64_t freeAfter,
        bool reaches)
{
    return Route { std::move(id), std::move(title), std::move(ids), bytes, freeAfter, reaches };
}

Route safe(std::vector<std::string> ids, std::int64_t bytes, std::int64_t freeAfter, bool reaches)
{
    return R("safe", "Only what rebuilds itself", std::move(ids), bytes, freeAfter, reaches);
}

Route fewest(std::vector<std::string> ids, std::int64_t bytes, std::int64_t freeAfter)
{
    return R("fewest", "Fewest steps to the goal", std::move(ids), bytes, freeAfter, true);
}

const char* const canComeBack = "Plus what can be downloaded again";
const char* const withMoves = "Plus moving your own files to a drive";
const char* const withCopies = "Plus removing your copies that already exist on a drive";

// Every class of finding on one drive, with some that take part in no route.
std::vector<Finding> everyClass()
{
    return {
        F("r", Tier::rebuilds, 10 * MB),
        F("rv", Tier::rebuilds, 11 * MB, Kind::review),
        F("i", Tier::reinstallable, 20 * MB, Kind::trash),
        F("m", Tier::personal, 30 * MB, Kind::move),
        F("h1", Tier::reinstallable, 40 * MB, Kind::handOff).app("Music").moves(),
        F("h2", Tier::personal, 1 * MB, Kind::handOff).moves(),
        F("h3", Tier::rebuilds, 2 * MB, Kind::handOff).app("Music").moves(),
        F("h4", Tier::reinstallable, 3 * MB, Kind::handOff).app("Photos").moves(),
        F("c", Tier::personal, 50 * MB, Kind::review).copyOf("/Volumes/Backup/c"),
        F("p1", Tier::reinstallable, 60 * MB, Kind::handOff).app("Logic"),
        F("p2", Tier::rebuilds, 5 * MB, Kind::handOff).app("Logic").moves(false),
        F("p3", Tier::rebuilds, 4 * MB, Kind::handOff),
        F("b1", Tier::rebuilds, 7 * MB).blocked(),
        F("b2", Tier::rebuilds, 8 * MB).blocked().unsure(),
        F("u", Tier::rebuilds, 9 * MB).unsure(),
        F("x", Tier::rebuilds, 100 * MB).on("/Volumes/Backup"),
        F("xb", Tier::rebuilds, 100 * MB).on("/Volumes/Backup").blocked(),
    };
}

std::vector<Route> everyClassRoutes(bool copiesReach)
{
    return {
        safe({ "r" }, 10 * MB, 100 * MB, false),
        R("can-come-back", canComeBack, { "r", "i" }, 30 * MB, 120 * MB, false),
        R("with-moves", withMoves, { "r", "i", "m" }, 60 * MB, 150 * MB, false),
        R("with-apps", "Plus what other apps can move to a drive (Music, Photos)",
          { "r", "i", "m", "h1", "h2", "h3", "h4" }, 106 * MB, 196 * MB, false),
        R("with-copies", withCopies, { "r", "i", "m", "h1", "h2", "h3", "h4", "c" }, 156 * MB, 246 * MB, copiesReach),
    };
}

const std::vector<std::string> everyClassNotes {
    "Up to 69 MB more is yours to prune inside other apps (Logic).",
    "15 MB waits for open apps to be quit.",
};

struct PlanCase {
    const char* name;
    ScanReport report;
    Goal goal;
    std::vector<Route> routes;
    std::optional<Route> fewest;
    std::vector<std::string> notes;
};

void PrintTo(const PlanCase& c, std::ostream* out)
{
    *out << c.name;
}

class Planning : public ::testing::TestWithParam<PlanCase> {};

TEST_P(Planning, buildsCumulativeRoutes)
{
    const auto& c = GetParam();
    auto plan = Planner::plan(c.report, c.goal);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->routes, c.routes);
    EXPECT_EQ(plan->fewest, c.fewest);
    EXPECT_EQ(plan->notes, c.notes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Planning,
    ::testing::Values(
        PlanCase { "emptyReportGoalMet",
                   reportWith({}),
                   Goal::ofBytes(90 * MB),
                   { safe({}, 0, 90 * MB, true) },
                   fewest({}, 0, 90 * MB),
                   {} },
        PlanCase { "emptyReportGoalUnmet",
                   reportWith({}),
                   Goal::ofBytes(90 * MB + 1),
                   { safe({}, 0, 90 * MB, false) },
                   std::nullopt,
                   {} },
        PlanCase { "goalAlreadyMet",
                   reportWith({ F("r", Tier::rebuilds, 5 * MB), F("i", Tier::reinstallable, 6 * MB) }),
                   Goal::ofBytes(50 * MB),
                   { safe({ "r" }, 5 * MB, 95 * MB, true),
                     R("can-come-back", canComeBack, { "r", "i" }, 11 * MB, 101 * MB, true) },
                   fewest({}, 0, 90 * MB),
                   {} },
        PlanCase { "fewestStopsAtTheFirstFindingThatReaches",
                   reportWith({ F("small", Tier::rebuilds, 20 * MB), F("large", Tier::rebuilds, 30 * MB) }),
                   Goal::ofBytes(100 * MB),
                   { safe({ "small", "large" }, 50 * MB, 140 * MB, true) },
                   fewest({ "large" }, 30 * MB, 120 * MB),
                   {} },
        PlanCase { "fewestTakesWhatRebuildsBeforeWhatDownloads",
                   reportWith({ F("big", Tier::reinstallable, 100 * MB), F("tiny", Tier::rebuilds, 1) }),
                   Goal::ofBytes(90 * MB + 1),
                   { safe({ "tiny" }, 1, 90 * MB + 1, true),
                     R("can-come-back", canComeBack, { "tiny", "big" }, 100 * MB + 1, 190 * MB + 1, true) },
                   fewest({ "tiny" }, 1, 90 * MB + 1),
                   {} },
        PlanCase { "fewestKeepsReportOrderForEqualSizes",
                   reportWith({ F("a", Tier::rebuilds, 5 * MB), F("b", Tier::rebuilds, 5 * MB),
                                F("c", Tier::rebuilds, 9 * MB) }),
                   Goal::ofBytes(109 * MB),
                   { safe({ "a", "b", "c" }, 19 * MB, 109 * MB, true) },
                   fewest({ "c", "a", "b" }, 19 * MB, 109 * MB),
                   {} },
        PlanCase { "noReinstallFindingsSkipsThatRoute",
                   reportWith({ F("r", Tier::rebuilds, 5 * MB), F("m", Tier::personal, 7 * MB, Kind::move) }),
                   Goal::ofBytes(1000 * MB),
                   { safe({ "r" }, 5 * MB, 95 * MB, false),
                     R("with-moves", withMoves, { "r", "m" }, 12 * MB, 102 * MB, false) },
                   std::nullopt,
                   {} },
        PlanCase { "everyClassUnreachable", reportWith(everyClass()), Goal::ofBytes(1000 * MB), everyClassRoutes(false),
                   std::nullopt, everyClassNotes },
        // Only the last route reaches, through copies: the fewest route never uses them.
        PlanCase { "everyClassReachedOnlyWithCopies", reportWith(everyClass()), Goal::ofBytes(200 * MB),
                   everyClassRoutes(true), std::nullopt, everyClassNotes },
        // A personal move that is also a copy, and a moving hand-off that is also one, count once each.
        PlanCase {
            "findingsInTwoListsCountOnce",
            reportWith(
                { F("m", Tier::personal, 30 * MB, Kind::move).copyOf("/Volumes/Backup/m"),
                  F("h", Tier::personal, 40 * MB, Kind::handOff).app("Music").moves().copyOf("/Volumes/Backup/h"),
                  F("c", Tier::personal, 5 * MB, Kind::trash).copyOf("/Volumes/Backup/c") }),
            Goal::ofBytes(160 * MB),
            { safe({}, 0, 90 * MB, false), R("with-moves", withMoves, { "m" }, 30 * MB, 120 * MB, false),
              R("with-apps", "Plus what other apps can move to a drive (Music)", { "m", "h" }, 70 * MB, 160 * MB, true),
              R("with-copies", withCopies, { "m", "h", "c" }, 75 * MB, 165 * MB, true) },
            std::nullopt,
            {} },
        PlanCase { "copiesThatAreAllMovesAlready",
                   reportWith({ F("m", Tier::personal, 30 * MB, Kind::move).copyOf("/Volumes/Backup/m") }),
                   Goal::ofBytes(1000 * MB),
                   { safe({}, 0, 90 * MB, false), R("with-moves", withMoves, { "m" }, 30 * MB, 120 * MB, false),
                     R("with-copies", withCopies, { "m" }, 30 * MB, 120 * MB, false) },
                   std::nullopt,
                   {} },
        // Sums stop at the 64-bit limits instead of wrapping to the other sign.
        PlanCase {
            "sumsSaturateAtTheTop",
            reportWith({ F("s1", Tier::rebuilds, int64Max), F("s2", Tier::reinstallable, int64Max),
                         F("b1", Tier::rebuilds, int64Max).blocked(), F("b2", Tier::rebuilds, int64Max).blocked() },
                       int64Max - 5, 10 * MB),
            Goal::ofBytes(int64Max),
            { safe({ "s1" }, int64Max, int64Max, true),
              R("can-come-back", canComeBack, { "s1", "s2" }, int64Max, int64Max, true) },
            fewest({}, 0, int64Max),
            { "9223372037 GB waits for open apps to be quit." } },
        PlanCase {
            "sumsSaturateAtTheBottom",
            reportWith({ F("n1", Tier::rebuilds, int64Min), F("n2", Tier::reinstallable, -1) }, -5 * MB, int64Min),
            Goal::ofBytes(0),
            { safe({ "n1" }, int64Min, int64Min, false),
              R("can-come-back", canComeBack, { "n1", "n2" }, int64Min, int64Min, false) },
            std::nullopt,
            {} }),
    Testing::CaseNamed());

struct DriveCase {
    const char* name;
    std::vector<DriveInfo> drives;
    std::optional<std::string> wanted;
    std::optional<std::string> chosenPath;
};

void PrintTo(const DriveCase& c, std::ostream* out)
{
    *out << c.name;
}

class DriveChoice : public ::testing::TestWithParam<DriveCase> {};

TEST_P(DriveChoice, takesTheNamedDriveElseTheStartupDrive)
{
    const auto& c = GetParam();
    ScanReport report;
    report.drives = c.drives;
    auto plan = Planner::plan(report, Goal::ofBytes(1), c.wanted);
    ASSERT_EQ(plan.has_value(), c.chosenPath.has_value());
    if (plan) {
        EXPECT_EQ(plan->drive.path, *c.chosenPath);
    }
}

const DriveInfo startupDrive { "Macintosh HD", "/", true, 1000, 100, 90 };
const DriveInfo backupDrive { "Backup", "/Volumes/Backup", false, 2000, 500, 400 };
// Named like the other drive's path.
const DriveInfo trickyDrive { "/Volumes/Backup", "/Volumes/Tricky", false, 3000, 700, 700 };
const DriveInfo composedDrive { "Caf\u00E9", "/Volumes/Caf\u00E9", false, 3000, 700, 700 };

INSTANTIATE_TEST_SUITE_P(
    Table, DriveChoice,
    ::testing::Values(
        DriveCase { "noArgument", { backupDrive, startupDrive }, std::nullopt, "/" },
        DriveCase { "byPath", { startupDrive, backupDrive }, "/Volumes/Backup", "/Volumes/Backup" },
        DriveCase { "byName", { startupDrive, backupDrive }, "Backup", "/Volumes/Backup" },
        DriveCase { "caseMatters", { startupDrive, backupDrive }, "backup", "/" },
        DriveCase { "unknownGivesStartup", { startupDrive, backupDrive }, "Elsewhere", "/" },
        DriveCase { "firstMatchEitherWay", { trickyDrive, backupDrive }, "/Volumes/Backup", "/Volumes/Tricky" },
        DriveCase { "firstMatchEitherWayReversed", { backupDrive, trickyDrive }, "/Volumes/Backup", "/Volumes/Backup" },
        DriveCase { "decomposedName", { startupDrive, composedDrive }, "Cafe\u0301", "/Volumes/Caf\u00E9" },
        DriveCase { "decomposedPath", { startupDrive, composedDrive }, "/Volumes/Cafe\u0301", "/Volumes/Caf\u00E9" },
        DriveCase { "noStartupNoMatch", { backupDrive }, "Elsewhere", std::nullopt },
        DriveCase { "noDrives", {}, std::nullopt, std::nullopt }),
    Testing::CaseNamed());

TEST(Planning, countsTheTrashOnlyOnTheStartupDrive)
{
    auto report = reportWith(
        { F("r", Tier::rebuilds, 10 * MB), F("x", Tier::rebuilds, 100 * MB).on("/Volumes/Backup") });

    EXPECT_EQ(Planner::plan(report, Goal::ofBytes(95 * MB)),
              (Plan { report.drives[0],
                      "95 MB",
                      95 * MB,
                      80 * MB,
                      10 * MB,
                      { safe({ "r" }, 10 * MB, 100 * MB, true) },
                      fewest({ "r" }, 10 * MB, 100 * MB),
                      {} }));
    EXPECT_EQ(Planner::plan(report, Goal::ofShare(0.3), "/Volumes/Backup"),
              (Plan { report.drives[1],
                      "30% of the drive",
                      600 * MB,
                      500 * MB,
                      0,
                      { safe({ "x" }, 100 * MB, 600 * MB, true) },
                      fewest({ "x" }, 100 * MB, 600 * MB),
                      {} }));
}

TEST(Planning, findsTheDrivesFindingsUpToCanonicalEquivalence)
{
    ScanReport report;
    report.drives = { composedDrive };
    report.findings = { F("r", Tier::rebuilds, 10).on("/Volumes/Cafe\u0301"),
                        F("b", Tier::rebuilds, 20).on("/Volumes/Cafe\u0301").blocked() };
    auto plan = Planner::plan(report, Goal::ofBytes(1), composedDrive.path);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->routes.at(0).findingIDs, std::vector<std::string> { "r" });
    EXPECT_EQ(plan->notes, std::vector<std::string> { "0 KB waits for open apps to be quit." });
}

TEST(Planning, shareOfAHugeDriveStaysInRange)
{
    const auto plan = Planner::plan(reportWith({}, 0, 0, int64Max), Goal::ofShare(1.0));
    ASSERT_TRUE(plan);
    EXPECT_EQ(std::pair(plan->goalBytes, plan->goal), std::pair(int64Max, std::string("100% of the drive")));
}

TEST(PlanJson, writesEveryKeyInOrderAndReadsItBack)
{
    auto plan = Planner::plan(reportWith({ F("r", Tier::rebuilds, 10 * MB) }), Goal::ofBytes(95 * MB));
    ASSERT_TRUE(plan);
    const std::string expected
        = R"({"drive":{"name":"Macintosh HD","path":"/","isStartup":true,"totalBytes":1000000000,"freeBytes":80000000,)"
          R"("strictFreeBytes":80000000},"goal":"95 MB","goalBytes":95000000,"freeNow":80000000,"trashBytes":10000000,)"
          R"("routes":[{"id":"safe","title":"Only what rebuilds itself","findingIDs":["r"],"bytes":10000000,)"
          R"("freeAfter":100000000,"reachesGoal":true}],"fewest":{"id":"fewest","title":"Fewest steps to the goal",)"
          R"("findingIDs":["r"],"bytes":10000000,"freeAfter":100000000,"reachesGoal":true},"notes":[]})";
    EXPECT_EQ(Json::dump(toJson(*plan)), expected);
    EXPECT_EQ(Json::decodeAs<Plan>(Json::parse(expected)), *plan);

    plan->fewest.reset();
    const auto withoutFewest = toJson(*plan);
    EXPECT_FALSE(withoutFewest.contains("fewest"));
    EXPECT_EQ(Json::decodeAs<Plan>(withoutFewest), *plan);
}

TEST(PlanJson, refusesMissingOrMistypedKeys)
{
    auto plan = Planner::plan(reportWith({ F("r", Tier::rebuilds, 10 * MB) }), Goal::ofBytes(95 * MB));
    ASSERT_TRUE(plan);
    const auto good = toJson(*plan);
    const std::pair<const char*, const char*> cases[] = {
        { "/routes", "routes" },
        { "/notes", "notes" },
        { "/drive/strictFreeBytes", "drive.strictFreeBytes" },
        { "/routes/0/reachesGoal", "routes[0].reachesGoal" },
        { "/fewest/freeAfter", "fewest.freeAfter" },
    };
    for (const auto& [pointer, path] : cases) {
        const auto broken = good.patch(Json::parse(std::string(R"([{"op":"remove","path":")") + pointer + "\"}]"));
        SCOPED_TRACE(pointer);
        try {
            (void)Json::decodeAs<Plan>(broken);
            ADD_FAILURE() << "decoded without " << path;
        } catch (const Json::DecodeError& e) {
            EXPECT_EQ(e.path(), path);
        }
    }
    auto fractional = good;
    fractional["routes"][0]["bytes"] = 1.5;
    EXPECT_THROW((void)Json::decodeAs<Plan>(fractional), Json::DecodeError);
}

} // namespace
