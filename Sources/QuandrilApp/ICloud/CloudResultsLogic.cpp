#include "QuandrilApp/ICloud/CloudResultsLogic.h"

#include <algorithm>
#include <unordered_map>

#include <QLocale>

#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Platform/Unicode.h"

namespace Quandril::App::CloudResultsLogic {

namespace {

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

// The engine's own test of whether a drive answers to a name: the same text once composed.
bool answersTo(const std::string& value, const std::string& wanted)
{
    if (value == wanted)
        return true;
    return Platform::isValidUTF8(value) && Platform::isValidUTF8(wanted) && Platform::compareNFC(value, wanted) == 0;
}

} // namespace

QString totalsLine(const CloudScan& scan, const Preferences& preferences)
{
    return AppFormat::bytes(scan.bytes, preferences) + QStringLiteral(" in ")
        + QLocale().toString(static_cast<qlonglong>(scan.files)) + QStringLiteral(" files; ")
        + AppFormat::bytes(scan.onMacBytes, preferences) + QStringLiteral(" of it is stored on this Mac.");
}

std::optional<Section> copiesSection(const CloudScan& scan)
{
    if (scan.groups.empty())
        return std::nullopt;
    Section section { QStringLiteral("Copies of the same file"), {}, 0 };
    for (const CopyGroup& group : scan.groups) {
        for (const CloudItem& item : group.items)
            section.ids.push_back(item.id);
        const auto offered = static_cast<std::int64_t>(group.items.size());
        section.bytes = Saturating::add(section.bytes, Saturating::multiply(group.bytes, offered));
    }
    return section;
}

std::optional<Section> biggestSection(const CloudScan& scan)
{
    if (scan.biggest.empty())
        return std::nullopt;
    Section section { QStringLiteral("Biggest files in iCloud (move them to your drive)"), {}, 0 };
    for (const CloudItem& item : scan.biggest) {
        section.ids.push_back(item.id);
        section.bytes = Saturating::add(section.bytes, item.bytes);
    }
    return section;
}

QString copiesCount(const CopyGroup& group, const Preferences& preferences)
{
    return QString::number(group.items.size()) + QStringLiteral(" × ") + AppFormat::bytes(group.bytes, preferences);
}

QString staysLine(const CopyGroup& group, const std::vector<std::string>& roots, const Mac& mac)
{
    const QString place = group.keepPlace == "iCloud" ? QStringLiteral(" (in iCloud)")
                                                      : QStringLiteral(" (on ") + text(group.keepPlace) + ')';
    return QStringLiteral("Stays: ") + shownPath(group.keep, roots, mac) + place;
}

QString whereLine(const CloudItem& item)
{
    return item.onMac ? QStringLiteral("On this Mac")
                      : QStringLiteral("Only in iCloud: downloaded when its turn comes");
}

QString fileName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return text(slash == std::string::npos ? path : path.substr(slash + 1));
}

QString shownPath(const std::string& path, const std::vector<std::string>& roots, const Mac& mac)
{
    return text(ICloud::display(path, roots, mac));
}

Footer footer(bool running, const std::vector<DriveInfo>& externals)
{
    if (running)
        return Footer::working;
    return externals.empty() ? Footer::plugIn : Footer::choose;
}

QString progressText(const std::optional<std::string>& line)
{
    return line ? text(*line) : QStringLiteral("Working…");
}

std::vector<ParkEntry> parkEntries(const std::vector<DriveInfo>& externals, const Preferences& preferences)
{
    std::vector<ParkEntry> entries;
    for (const DriveInfo& drive : externals) {
        entries.push_back({ drive.path,
                            text(drive.name) + QStringLiteral(" (")
                                + AppFormat::bytes(AppFormat::freeBytes(drive, preferences), preferences)
                                + QStringLiteral(" free)") });
    }
    return entries;
}

std::string presetDrive(const std::string& chosen, const std::vector<DriveInfo>& externals,
                        const std::optional<QString>& defaultName)
{
    if (!chosen.empty())
        return chosen;
    if (defaultName) {
        const std::string name = defaultName->toStdString();
        for (const DriveInfo& drive : externals) {
            if (drive.name == name)
                return drive.path;
        }
    }
    return externals.empty() ? std::string() : externals.front().path;
}

ParkTarget parkTarget(const std::vector<DriveInfo>& externals, const std::string& chosenPath)
{
    const auto chosen = std::find_if(externals.begin(), externals.end(),
                                     [&](const DriveInfo& drive) { return drive.path == chosenPath; });
    if (chosen == externals.end())
        return { chosenPath, chosenPath };
    const bool shared = std::any_of(externals.begin(), externals.end(), [&](const DriveInfo& other) {
        return other.path != chosen->path
            && (answersTo(other.name, chosen->name) || answersTo(other.path, chosen->name));
    });
    return { chosen->name, shared ? chosen->path : chosen->name };
}

std::int64_t chosenBytes(const std::optional<CloudScan>& scan, const std::set<std::string>& selected)
{
    if (!scan || selected.empty())
        return 0;
    std::unordered_map<std::string, std::int64_t> firstSize;
    for (const CloudItem& item : scan->items())
        firstSize.emplace(item.id, item.bytes);
    std::int64_t sum = 0;
    for (const auto& id : selected) {
        const auto found = firstSize.find(id);
        if (found != firstSize.end())
            sum = Saturating::add(sum, found->second);
    }
    return sum;
}

QString chosenLine(const std::optional<CloudScan>& scan, const std::set<std::string>& selected,
                   const Preferences& preferences)
{
    return QString::number(selected.size()) + QStringLiteral(" chosen, ")
        + AppFormat::bytes(chosenBytes(scan, selected), preferences);
}

bool canStart(const std::set<std::string>& selected, const std::string& drive)
{
    return !selected.empty() && !drive.empty();
}

RunSummary summarize(const std::vector<CleanResult>& results)
{
    RunSummary summary;
    summary.total = static_cast<int>(results.size());
    for (const CleanResult& result : results) {
        if (result.status != CleanResult::Status::done)
            continue;
        ++summary.moved;
        summary.bytes = Saturating::add(summary.bytes, result.bytes);
    }
    return summary;
}

QString summaryLine(const std::vector<CleanResult>& results, const Preferences& preferences)
{
    const RunSummary summary = summarize(results);
    return QStringLiteral("Last run: %1 of %2 out of iCloud, %3")
        .arg(summary.moved)
        .arg(summary.total)
        .arg(AppFormat::bytes(summary.bytes, preferences));
}

ResultLine resultLine(const CleanResult& result)
{
    const bool done = result.status == CleanResult::Status::done;
    return { text(result.title) + QStringLiteral(": ") + text(result.detail),
             done ? QStringLiteral("checkmark.circle") : QStringLiteral("hand.raised"),
             done ? Tone::primary : Tone::orange };
}

} // namespace Quandril::App::CloudResultsLogic
