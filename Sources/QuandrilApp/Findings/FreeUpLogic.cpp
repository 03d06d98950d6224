#include "QuandrilApp/Findings/FreeUpLogic.h"

#include <algorithm>
#include <unordered_set>

#include <QDateTime>
#include <QLocale>

#include "QuandrilCore/Platform/Saturating.h"

namespace Quandril::App::FreeUpLogic {

namespace {

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

} // namespace

std::optional<DriveInfo> shownDrive(const ScanReport& status, const std::optional<std::string>& picked)
{
    if (picked) {
        for (const DriveInfo& drive : status.drives)
            if (drive.path == *picked)
                return drive;
    }
    return status.startup();
}

std::vector<TierBlock> tierBlocks(const ScanReport& report, const std::string& drivePath)
{
    std::vector<TierBlock> blocks;
    for (const Tier tier : TierInfo::allCases) {
        TierBlock block { tier, {} };
        for (std::size_t i = 0; i < report.findings.size(); ++i) {
            const Finding& finding = report.findings[i];
            if (finding.tier == tier && finding.drive == drivePath)
                block.items.push_back(i);
        }
        if (!block.items.empty())
            blocks.push_back(std::move(block));
    }
    return blocks;
}

std::vector<std::string> driveFindingIDs(const ScanReport& report, const std::string& drivePath)
{
    std::vector<std::string> ids;
    for (const Finding& finding : report.findings)
        if (finding.drive == drivePath)
            ids.push_back(finding.id);
    return ids;
}

std::vector<std::string> chosenInReport(const std::optional<ScanReport>& report, const std::set<std::string>& selected)
{
    std::vector<std::string> out;
    if (!report || selected.empty())
        return out;
    std::unordered_set<std::string_view> seen;
    for (const Finding& finding : report->findings)
        if (selected.count(finding.id) && seen.insert(finding.id).second)
            out.push_back(finding.id);
    return out;
}

QString scannedLine(TimePoint at)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
    const QTime time = QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().time();
    return QStringLiteral("Scanned ") + QLocale().toString(time, QLocale::ShortFormat)
        + QStringLiteral(". Nothing is touched until you choose.");
}

QString chosenLine(std::size_t count, std::int64_t bytes, const Bytes& format)
{
    return QString::number(qulonglong(count)) + QStringLiteral(" chosen, ") + format(bytes);
}

bool freeUpEnabled(const std::optional<ScanReport>& report, const std::set<std::string>& selected, bool cleaning)
{
    if (cleaning || !report || selected.empty())
        return false;
    return std::any_of(report->findings.begin(), report->findings.end(),
                       [&](const Finding& finding) { return selected.count(finding.id) > 0; });
}

std::int64_t totalBytes(const std::vector<const Finding*>& items)
{
    std::int64_t total = 0;
    for (const Finding* finding : items)
        total = Saturating::add(total, finding->bytes);
    return total;
}

QString statusSymbol(const Finding& finding)
{
    if (finding.blockedBy)
        return QStringLiteral("pause.circle");
    if (finding.unsure)
        return QStringLiteral("questionmark.circle");
    if (finding.action.kind == Action::Kind::handOff && finding.action.linkable != true)
        return QStringLiteral("arrow.right.circle");
    if (finding.action.kind == Action::Kind::review && !finding.duplicateOf)
        return QStringLiteral("eye");
    return {};
}

std::vector<Mark> marks(const Finding& finding)
{
    std::vector<Mark> out;
    const Tone orange = Tone::orange;
    const Tone secondary = Tone::secondary;
    if (finding.caution)
        out.push_back({ QStringLiteral("exclamationmark.triangle"), text(*finding.caution), orange });
    if (finding.blockedBy)
        out.push_back({ QStringLiteral("pause.circle"), text(*finding.blockedBy), orange });
    if (finding.unsure)
        out.push_back({ QStringLiteral("questionmark.circle"),
                        QStringLiteral("Whose this is isn't certain, so Gorrin won't touch it. Look inside first."),
                        secondary });
    if (finding.action.kind == Action::Kind::handOff && finding.action.steps)
        out.push_back({ QStringLiteral("arrow.right.circle"), text(*finding.action.steps), secondary });
    return out;
}

QString openAppName(const Finding& finding)
{
    if (finding.action.kind == Action::Kind::handOff && finding.action.app)
        return text(*finding.action.app);
    return {};
}

QString routesHeading(const Plan& plan, const Bytes& format)
{
    return QStringLiteral("Ways to ") + text(plan.goal) + QStringLiteral(" free (") + format(plan.freeNow)
        + QStringLiteral(" free now)");
}

QString routeLine(const Route& route, const Bytes& format)
{
    return QStringLiteral("+") + format(route.bytes) + QStringLiteral(" → ") + format(route.freeAfter)
        + QStringLiteral(" free");
}

QString routesTrashLine(const Plan& plan, const Bytes& format)
{
    if (plan.trashBytes <= 0)
        return {};
    return QStringLiteral("Every route counts emptying the Trash (") + format(plan.trashBytes) + QStringLiteral(").");
}

QStringList noteLines(const ScanReport& report, const Mac& mac)
{
    QStringList lines;
    for (const std::string& note : report.notes)
        lines << text(note);
    QStringList unlooked;
    for (const Skipped& skipped : report.skipped)
        if (skipped.why.rfind("never looked into", 0) == 0)
            unlooked << text(mac.display(skipped.path));
    if (!unlooked.isEmpty())
        lines << QStringLiteral("Not looked into, because iCloud or another cloud drive syncs them: ")
                + unlooked.join(QStringLiteral(", ")) + QStringLiteral(".");
    return lines;
}

} // namespace Quandril::App::FreeUpLogic
