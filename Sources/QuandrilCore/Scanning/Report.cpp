#include "QuandrilCore/Scanning/Report.h"

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/Saturating.h"

#include <charconv>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace Quandril {

namespace {

std::string wholeNumber(double value)
{
    // Rounds halves away from zero; doubles this large print exactly as integers.
    double rounded = std::round(value);
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::fixed, 0);
    return std::string(buffer, result.ptr);
}

bool beginsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::string joined(const std::vector<std::string>& texts, std::string_view separator)
{
    std::string result;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i > 0)
            result += separator;
        result += texts[i];
    }
    return result;
}

// Byte amounts are plain ASCII, so eight characters are eight bytes.
std::string sizeColumn(std::int64_t count)
{
    constexpr std::size_t width = 8;
    std::string text = Report::bytes(count);
    text.resize(width, ' ');
    return text;
}

std::string bulleted(const std::vector<std::string>& notes)
{
    std::string text = "\n";
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (i > 0)
            text += "\n";
        text += "\u2022 " + notes[i];
    }
    return text + "\n";
}

const std::string subIndent(11, ' ');

} // namespace

std::string Report::bytes(std::int64_t count)
{
    double g = static_cast<double>(count) / 1e9;
    if (g >= 100)
        return wholeNumber(g) + " GB";
    if (g >= 1) {
        char buffer[64];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, g, std::chars_format::fixed, 1);
        std::string text(buffer, result.ptr);
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, ".0") == 0)
            text.resize(text.size() - 2);
        return text + " GB";
    }
    double m = static_cast<double>(count) / 1e6;
    if (m >= 1)
        return wholeNumber(m) + " MB";
    std::int64_t kilobytes = (count > 0 ? count : 0) / 1000;
    return std::to_string(kilobytes) + " KB";
}

std::string Report::drives(const ScanReport& report, const std::optional<Goal>& goal)
{
    std::vector<std::string> lines;
    for (const auto& drive : report.drives) {
        std::string line = drive.name + ": " + bytes(drive.freeBytes) + " free of " + bytes(drive.totalBytes);
        if (drive.isStartup && goal) {
            const std::int64_t target = goal->bytes(drive.totalBytes);
            line += " (goal " + goal->description() + ": ";
            if (drive.freeBytes >= target)
                line += "met)";
            else
                line += bytes(Saturating::subtract(target, drive.freeBytes)) + " short)";
        }
        lines.push_back(std::move(line));
    }
    std::string text = joined(lines, "\n");
    if (report.trashBytes > 0)
        text += "\nTrash: " + bytes(report.trashBytes) + ", freed when you empty it";
    return text;
}

std::string Report::text(const ScanReport& report, const Mac& mac, const std::optional<Goal>& goal)
{
    std::string text = drives(report, goal) + "\n";

    for (Tier tier : TierInfo::allCases) {
        std::vector<const Finding*> findings;
        std::int64_t sum = 0;
        for (const auto& finding : report.findings)
            if (finding.tier == tier) {
                findings.push_back(&finding);
                sum = Saturating::add(sum, finding.bytes);
            }
        if (findings.empty())
            continue;
        text += "\n" + std::string(title(tier)) + " (" + bytes(sum) + ")\n";
        for (const auto* finding : findings) {
            text += "  " + sizeColumn(finding->bytes) + " " + finding->title + "  [" + finding->id + "]\n";
            text += subIndent + finding->reason + "\n";
            if (finding->caution)
                text += subIndent + "\u26A0\uFE0E " + *finding->caution + "\n";
            if (finding->blockedBy)
                text += subIndent + "\u23F8 " + *finding->blockedBy + "\n";
            if (finding->action.kind == Action::Kind::handOff && finding->action.steps)
                text += subIndent + "\u2192 " + *finding->action.steps + "\n";
        }
    }
    if (report.findings.empty())
        text += "\nNothing worth freeing found.\n";

    if (!report.notes.empty())
        text += bulleted(report.notes);

    std::size_t unreadable = 0;
    std::vector<std::string> throughLinks, cloudSynced;
    for (const auto& skipped : report.skipped) {
        if (beginsWith(skipped.why, "partly unreadable"))
            ++unreadable;
        else if (beginsWith(skipped.why, "reached through a link"))
            throughLinks.push_back(mac.display(skipped.path));
        else if (beginsWith(skipped.why, "never looked into"))
            cloudSynced.push_back(mac.display(skipped.path));
    }
    if (unreadable > 0)
        text += "\n" + std::to_string(unreadable) + " place" + (unreadable == 1 ? "" : "s")
            + " couldn't be fully read (Full Disk Access would show more).\n";
    if (!throughLinks.empty())
        text += "\nLeft alone because they're reached through a link: " + joined(throughLinks, ", ") + ".\n";
    if (!cloudSynced.empty())
        text += "\nNot looked into, because a cloud drive syncs them: " + joined(cloudSynced, ", ") + ".\n";
    return text;
}

std::string Report::text(const Plan& plan, const ScanReport& report)
{
    std::string text = plan.drive.name + ": " + bytes(plan.freeNow) + " free, goal " + plan.goal + " ("
        + bytes(plan.goalBytes) + ")\n";
    if (plan.trashBytes > 0)
        text += "Every route includes emptying the Trash (" + bytes(plan.trashBytes) + ").\n";
    text += "\n";

    bool someRouteReaches = false;
    for (const auto& route : plan.routes) {
        someRouteReaches = someRouteReaches || route.reachesGoal;
        text += std::string(route.reachesGoal ? "\u2713" : "\u00B7") + " " + route.title + ": +" + bytes(route.bytes)
            + " \u2192 " + bytes(route.freeAfter) + " free\n";
    }

    if (plan.fewest) {
        text += "\nFewest steps to " + bytes(plan.goalBytes) + ":\n";
        if (plan.trashBytes > 0)
            text += "  empty the Trash (" + bytes(plan.trashBytes) + ")\n";
        // The first finding of an id wins when a report repeats one.
        std::unordered_map<std::string_view, const Finding*> byID;
        for (const auto& finding : report.findings)
            byID.emplace(finding.id, &finding);
        for (const auto& id : plan.fewest->findingIDs) {
            auto it = byID.find(id);
            if (it == byID.end())
                continue;
            const Finding& finding = *it->second;
            text += "  " + finding.title + " (" + bytes(finding.bytes) + ")  [" + finding.id + "]\n";
        }
    } else if (someRouteReaches) {
        text += "\nThe goal needs your own files moved or other apps' help: see the routes marked \u2713.\n";
    } else {
        text += "\nNo route reaches the goal; the rest is your own files to decide about.\n";
    }

    if (!plan.notes.empty())
        text += bulleted(plan.notes);
    return text;
}

std::vector<std::string> uniqued(const std::vector<std::string>& texts)
{
    std::vector<std::string> result;
    std::unordered_set<std::string> seen;
    for (const auto& text : texts)
        if (seen.insert(text).second)
            result.push_back(text);
    return result;
}

} // namespace Quandril
