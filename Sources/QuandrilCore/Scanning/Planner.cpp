#include "QuandrilCore/Scanning/Planner.h"

#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/Scanning/Report.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <unordered_set>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace Quandril {

namespace {

// Tab or a Unicode space separator; line breaks are deliberately not in the set.
bool isHorizontalSpace(UChar32 c)
{
    return c == '\t' || (c >= 0 && u_charType(c) == U_SPACE_SEPARATOR);
}

std::string_view trimmed(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t start = 0;
    while (start < length) {
        std::int32_t next = start;
        UChar32 c = 0;
        U8_NEXT(bytes, next, length, c);
        if (!isHorizontalSpace(c))
            break;
        start = next;
    }
    std::int32_t end = length;
    while (end > start) {
        std::int32_t previous = end;
        UChar32 c = 0;
        U8_PREV(bytes, start, previous, c);
        if (!isHorizontalSpace(c))
            break;
        end = previous;
    }
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Plain decimal only: sign, digits with an optional fraction, optional exponent, nothing else.
// Hexadecimal numbers, "inf" and "nan" are refused here before any conversion sees them.
bool isDecimalNumber(std::string_view text)
{
    std::size_t i = 0;
    const std::size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t digits = 0;
    for (; i < n && isDigit(text[i]); ++i)
        ++digits;
    if (i < n && text[i] == '.')
        for (++i; i < n && isDigit(text[i]); ++i)
            ++digits;
    if (digits == 0)
        return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            ++i;
        std::size_t exponentDigits = 0;
        for (; i < n && isDigit(text[i]); ++i)
            ++exponentDigits;
        if (exponentDigits == 0)
            return false;
    }
    return i == n;
}

// The number the whole text spells, read without regard to the process locale.
std::optional<double> number(std::string_view text)
{
    if (!isDecimalNumber(text))
        return std::nullopt;
    if (text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    // Out of range is either beyond every finite double or too close to zero: neither is a goal.
    if (result.ec != std::errc() || result.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool endsWith(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

struct Unit {
    std::string_view suffix;
    double multiplier;
};

// Longer suffixes first, so "gb" is never read as a number followed by "b".
constexpr std::array<Unit, 5> units { {
    { "tb", 1e12 },
    { "gb", 1e9 },
    { "mb", 1e6 },
    { "t", 1e12 },
    { "g", 1e9 },
} };

std::optional<Goal> byteGoal(std::string_view text, double multiplier)
{
    auto value = number(trimmed(text));
    if (!value || !(*value > 0))
        return std::nullopt;
    const double product = *value * multiplier;
    if (!std::isfinite(product) || product >= Saturating::doubleLimit)
        return std::nullopt;
    return Goal::ofBytes(static_cast<std::int64_t>(product));
}

std::string wholeNumber(double value)
{
    // Adding 0 turns a negative zero into a plain one.
    const double rounded = std::round(value) + 0.0;
    char buffer[400];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::fixed, 0);
    if (result.ec != std::errc())
        return "0";
    return std::string(buffer, result.ptr);
}

} // namespace

// MARK: Goal

Goal::Goal(Kind kind, std::int64_t count, double fraction)
    : kind_(kind)
    , count_(count)
    , fraction_(fraction)
{
}

Goal Goal::ofBytes(std::int64_t count)
{
    return Goal(Kind::bytes, count, 0);
}

Goal Goal::ofShare(double fraction)
{
    return Goal(Kind::share, 0, fraction);
}

std::optional<Goal> Goal::parse(std::string_view input)
{
    // The trimming indexes with 32-bit offsets, and lower-casing can lengthen a text.
    if (input.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() / 4))
        return std::nullopt;
    const std::string text = Platform::lowercased(trimmed(input));
    std::string_view rest = text;

    if (endsWith(rest, "%")) {
        rest.remove_suffix(1);
        auto value = number(trimmed(rest));
        if (!value || !(*value > 0 && *value < 100))
            return std::nullopt;
        // The tiniest positive numbers have no hundredth: their share would be 0.
        const double fraction = *value / 100;
        if (!(fraction > 0 && fraction < 1))
            return std::nullopt;
        return ofShare(fraction);
    }
    for (const auto& unit : units)
        if (endsWith(rest, unit.suffix))
            return byteGoal(rest.substr(0, rest.size() - unit.suffix.size()), unit.multiplier);
    // A bare number means gigabytes.
    return byteGoal(rest, 1e9);
}

std::int64_t Goal::bytes(std::int64_t totalBytes) const
{
    if (kind_ == Kind::bytes)
        return count_;
    return Saturating::truncated(static_cast<double>(totalBytes) * fraction_);
}

std::string Goal::description() const
{
    if (kind_ == Kind::bytes)
        return Report::bytes(count_);
    return wholeNumber(fraction_ * 100) + "% of the drive";
}

// MARK: Planner

namespace {

// Same Unicode text up to canonical equivalence; case matters.
class TextMatch {
public:
    explicit TextMatch(std::string_view text)
        : text_(text)
        , composed_(Platform::nfc(text))
    {
    }

    bool operator()(std::string_view other) const { return other == text_ || Platform::nfc(other) == composed_; }

private:
    std::string_view text_;
    std::string composed_;
};

bool isDoable(Action::Kind kind)
{
    return kind == Action::Kind::delete_ || kind == Action::Kind::command || kind == Action::Kind::trash
        || kind == Action::Kind::move;
}

bool movesToDrive(const Finding& finding)
{
    return finding.action.kind == Action::Kind::handOff && finding.action.moves == true;
}

using Picks = std::vector<const Finding*>;

std::int64_t total(const Picks& findings)
{
    std::int64_t sum = 0;
    for (const auto* finding : findings)
        sum = Saturating::add(sum, finding->bytes);
    return sum;
}

std::string appNames(const Picks& findings)
{
    std::vector<std::string> apps;
    for (const auto* finding : findings)
        if (finding->action.app)
            apps.push_back(*finding->action.app);
    std::string joined;
    for (const auto& app : uniqued(apps)) {
        if (!joined.empty())
            joined += ", ";
        joined += app;
    }
    return joined;
}

Route makeRoute(std::string id, std::string title, const Picks& findings, std::int64_t base, std::int64_t goal)
{
    Route route;
    route.id = std::move(id);
    route.title = std::move(title);
    route.findingIDs.reserve(findings.size());
    for (const auto* finding : findings)
        route.findingIDs.push_back(finding->id);
    route.bytes = total(findings);
    route.freeAfter = Saturating::add(base, route.bytes);
    route.reachesGoal = route.freeAfter >= goal;
    return route;
}

std::optional<DriveInfo> chooseDrive(const ScanReport& report, const std::optional<std::string>& wanted)
{
    if (wanted) {
        TextMatch matches(*wanted);
        for (const auto& drive : report.drives)
            if (matches(drive.path) || matches(drive.name))
                return drive;
    }
    return report.startup();
}

// The findings on one drive, sorted by the routes they may join.
struct Shelves {
    Picks rebuilds, reinstall, ownMoves, appMoves, copies, pruneInApps, waiting;
};

Shelves shelve(const ScanReport& report, const DriveInfo& drive)
{
    TextMatch onDrive(drive.path);
    Shelves shelves;
    for (const auto& finding : report.findings) {
        if (!onDrive(finding.drive))
            continue;
        if (finding.blockedBy) {
            shelves.waiting.push_back(&finding);
            continue;
        }
        if (finding.unsure)
            continue;
        const auto kind = finding.action.kind;
        if (finding.tier == Tier::rebuilds && isDoable(kind))
            shelves.rebuilds.push_back(&finding);
        if (finding.tier == Tier::reinstallable && isDoable(kind))
            shelves.reinstall.push_back(&finding);
        if (finding.tier == Tier::personal && kind == Action::Kind::move)
            shelves.ownMoves.push_back(&finding);
        if (movesToDrive(finding))
            shelves.appMoves.push_back(&finding);
        if (finding.tier == Tier::personal && finding.duplicateOf)
            shelves.copies.push_back(&finding);
        if (kind == Action::Kind::handOff && !movesToDrive(finding))
            shelves.pruneInApps.push_back(&finding);
    }
    return shelves;
}

// The cumulative routes, each adding one kind of step to those before it.
std::vector<Route> cumulativeRoutes(const Shelves& shelves, std::int64_t base, std::int64_t goal)
{
    // A finding can meet two rules (a personal move that is also a copy); each route holds it once,
    // where it first appears, so its bytes are not counted twice.
    std::vector<Route> routes;
    Picks sofar;
    std::unordered_set<const Finding*> included;
    auto add = [&](const Picks& newest, std::string id, std::string title, bool always = false) {
        for (const auto* finding : newest)
            if (included.insert(finding).second)
                sofar.push_back(finding);
        if (always || !newest.empty())
            routes.push_back(makeRoute(std::move(id), std::move(title), sofar, base, goal));
    };
    add(shelves.rebuilds, "safe", "Only what rebuilds itself", true);
    add(shelves.reinstall, "can-come-back", "Plus what can be downloaded again");
    add(shelves.ownMoves, "with-moves", "Plus moving your own files to a drive");
    add(shelves.appMoves, "with-apps", "Plus what other apps can move to a drive (" + appNames(shelves.appMoves) + ")");
    add(shelves.copies, "with-copies", "Plus removing your copies that already exist on a drive");
    return routes;
}

// Fewest steps: the largest first, but everything that rebuilds itself before anything that
// must be downloaded again.
std::optional<Route> fewestRoute(const Shelves& shelves, std::int64_t base, std::int64_t goal)
{
    auto largestFirst = [](const Finding* a, const Finding* b) { return a->bytes > b->bytes; };
    Picks candidates = shelves.rebuilds;
    std::stable_sort(candidates.begin(), candidates.end(), largestFirst);
    Picks secondClass = shelves.reinstall;
    std::stable_sort(secondClass.begin(), secondClass.end(), largestFirst);
    candidates.insert(candidates.end(), secondClass.begin(), secondClass.end());

    Picks taken;
    std::int64_t freeAfter = base;
    bool met = freeAfter >= goal;
    for (std::size_t i = 0; !met && i < candidates.size(); ++i) {
        taken.push_back(candidates[i]);
        freeAfter = Saturating::add(freeAfter, candidates[i]->bytes);
        met = freeAfter >= goal;
    }
    if (!met)
        return std::nullopt;
    return makeRoute("fewest", "Fewest steps to the goal", taken, base, goal);
}

} // namespace

std::optional<Plan> Planner::plan(const ScanReport& report, const Goal& goal,
                                  const std::optional<std::string>& driveText)
{
    auto chosen = chooseDrive(report, driveText);
    if (!chosen)
        return std::nullopt;

    Plan plan;
    plan.drive = *chosen;
    plan.goal = goal.description();
    plan.goalBytes = goal.bytes(chosen->totalBytes);
    plan.freeNow = chosen->freeBytes;
    // The Trash lives on the startup drive only.
    plan.trashBytes = chosen->isStartup ? report.trashBytes : 0;
    const std::int64_t base = Saturating::add(plan.freeNow, plan.trashBytes);

    const Shelves shelves = shelve(report, *chosen);
    plan.routes = cumulativeRoutes(shelves, base, plan.goalBytes);
    plan.fewest = fewestRoute(shelves, base, plan.goalBytes);

    if (!shelves.pruneInApps.empty())
        plan.notes.push_back("Up to " + Report::bytes(total(shelves.pruneInApps))
                             + " more is yours to prune inside other apps (" + appNames(shelves.pruneInApps) + ").");
    if (!shelves.waiting.empty())
        plan.notes.push_back(Report::bytes(total(shelves.waiting)) + " waits for open apps to be quit.");
    return plan;
}

// MARK: JSON

Json::Value toJson(const Route& route)
{
    Json::Value object = Json::Value::object();
    object["id"] = route.id;
    object["title"] = route.title;
    object["findingIDs"] = route.findingIDs;
    object["bytes"] = route.bytes;
    object["freeAfter"] = route.freeAfter;
    object["reachesGoal"] = route.reachesGoal;
    return object;
}

Json::Value toJson(const Plan& plan)
{
    Json::Value object = Json::Value::object();
    object["drive"] = toJson(plan.drive);
    object["goal"] = plan.goal;
    object["goalBytes"] = plan.goalBytes;
    object["freeNow"] = plan.freeNow;
    object["trashBytes"] = plan.trashBytes;
    object["routes"] = Json::arrayOf(plan.routes);
    if (plan.fewest)
        object["fewest"] = toJson(*plan.fewest);
    object["notes"] = plan.notes;
    return object;
}

void decode(const Json::Value& value, Route& out)
{
    Json::expectObject(value);
    Route route;
    route.id = Json::required<std::string>(value, "id");
    route.title = Json::required<std::string>(value, "title");
    route.findingIDs = Json::required<std::vector<std::string>>(value, "findingIDs");
    route.bytes = Json::required<std::int64_t>(value, "bytes");
    route.freeAfter = Json::required<std::int64_t>(value, "freeAfter");
    route.reachesGoal = Json::required<bool>(value, "reachesGoal");
    out = std::move(route);
}

void decode(const Json::Value& value, Plan& out)
{
    Json::expectObject(value);
    Plan plan;
    plan.drive = Json::required<DriveInfo>(value, "drive");
    plan.goal = Json::required<std::string>(value, "goal");
    plan.goalBytes = Json::required<std::int64_t>(value, "goalBytes");
    plan.freeNow = Json::required<std::int64_t>(value, "freeNow");
    plan.trashBytes = Json::required<std::int64_t>(value, "trashBytes");
    plan.routes = Json::required<std::vector<Route>>(value, "routes");
    plan.fewest = Json::optional<Route>(value, "fewest");
    plan.notes = Json::required<std::vector<std::string>>(value, "notes");
    out = std::move(plan);
}

} // namespace Quandril
