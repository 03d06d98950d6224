#include "QuandrilApp/Findings/ConfirmLogic.h"

#include <algorithm>
#include <unordered_set>

#include <QStringList>

#include "QuandrilApp/ICloud/CloudResultsLogic.h"
#include "QuandrilCore/Platform/Saturating.h"

namespace Quandril::App::ConfirmLogic {

namespace {

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

} // namespace

bool actsItself(const Finding& finding)
{
    if (finding.unsure || finding.blockedBy)
        return false;
    switch (finding.action.kind) {
    case Action::Kind::delete_:
    case Action::Kind::trash:
    case Action::Kind::command:
    case Action::Kind::move:
        return true;
    case Action::Kind::handOff:
        return finding.action.linkable.value_or(false);
    case Action::Kind::review:
        return finding.duplicateOf.has_value();
    }
    return false;
}

Split split(const std::optional<ScanReport>& report, const std::set<std::string>& selected)
{
    Split out;
    if (!report || selected.empty())
        return out;
    std::unordered_set<std::string_view> taken;
    for (const Finding& finding : report->findings)
        if (selected.count(finding.id) && taken.insert(finding.id).second)
            out.chosen.push_back(finding);
    std::stable_sort(out.chosen.begin(), out.chosen.end(),
                     [](const Finding& a, const Finding& b) { return a.bytes > b.bytes; });

    for (const Finding& finding : out.chosen) {
        if (actsItself(finding)) {
            out.canDo.push_back(finding);
            out.canDoBytes = Saturating::add(out.canDoBytes, finding.bytes);
            if (finding.caution)
                out.cautioned.push_back(finding);
            // A hand-off the app acts on is always one moved with a link left behind.
            if (finding.action.kind == Action::Kind::move || finding.action.linkable.value_or(false))
                out.needsDrive = true;
        } else {
            out.forYou.push_back(finding);
            out.forYouBytes = Saturating::add(out.forYouBytes, finding.bytes);
        }
    }
    return out;
}

QString what(const Finding& finding)
{
    switch (finding.action.kind) {
    case Action::Kind::delete_:
    case Action::Kind::trash:
        return QStringLiteral("Moved to the Trash.");
    case Action::Kind::command: {
        QStringList words;
        for (const auto& word : finding.action.command.value_or(std::vector<std::string> {}))
            words << text(word);
        return QStringLiteral("Cleared with its own tool: ") + words.join(' ');
    }
    case Action::Kind::move:
        return QStringLiteral("Copied to the drive, checked file by file, then the Mac's copy goes to the Trash.");
    case Action::Kind::handOff:
        return QStringLiteral("Copied to the drive and checked file by file; the original goes to the Trash and a "
                              "link takes its place, so ")
            + (finding.owner ? text(*finding.owner) : QStringLiteral("its apps"))
            + QStringLiteral(" still find the sounds while the drive is plugged in. Quit Logic first. If macOS asks "
                             "for your password, that's for a folder it protects.");
    case Action::Kind::review:
        return QStringLiteral("The copy on the drive stays; this one goes to the Trash after a byte-for-byte check.");
    }
    return {};
}

QString howToDo(const Finding& finding)
{
    if (finding.blockedBy)
        return text(*finding.blockedBy) + QStringLiteral(" Quit it, scan again, and it can go.");
    if (finding.unsure)
        return QStringLiteral("Whose this is isn't certain. Look inside (Show in Finder) before deciding; if it's "
                              "yours to drop, move it to the Trash yourself.");
    if (finding.action.kind == Action::Kind::handOff)
        return finding.action.steps ? text(*finding.action.steps) : QStringLiteral("Its own app moves or prunes it.");
    if (finding.getBack.starts_with("Still in use"))
        return QStringLiteral("You're working in it this month, so leave it where it is: moving a folder you work "
                              "in breaks the apps and projects that point into it.");
    return QStringLiteral("Yours to decide: Show in Finder, then move or keep it.");
}

QString title(const Split& split, const Bytes& format)
{
    if (split.canDo.empty())
        return QStringLiteral("Nothing here Gorrin can do itself");
    return QStringLiteral("Free up ") + format(split.canDoBytes) + QStringLiteral("?");
}

QString forYouHeading(const Split& split, const Bytes& format)
{
    return QStringLiteral("For you to do (") + format(split.forYouBytes)
        + QStringLiteral("): Gorrin leaves these alone");
}

QString historyNote(const std::string& historyWhyNot)
{
    if (historyWhyNot.empty())
        return trashNote;
    return QStringLiteral("Things go to the Trash, where Put Back works. History won't list them or offer Put Back "
                          "for them: ")
        + text(historyWhyNot)
        + QStringLiteral(". The space comes back when you empty the Trash; Gorrin never empties it for you.");
}

bool canFreeUp(const Split& split, const std::string& chosenDrivePath)
{
    return !split.canDo.empty() && !(split.needsDrive && chosenDrivePath.empty());
}

std::string presetDrive(const std::vector<DriveInfo>& externals, const std::optional<QString>& storedName)
{
    // An empty stored name is no choice, even when a drive has no name.
    const auto name = storedName && !storedName->isEmpty() ? storedName : std::nullopt;
    return CloudResultsLogic::presetDrive({}, externals, name);
}

Request request(const Split& split, bool agreed, const std::vector<DriveInfo>& externals,
                const std::string& chosenDrivePath)
{
    Request out;
    for (const Finding& finding : split.canDo)
        out.ids.push_back(finding.id);
    out.includeCautioned = agreed;
    if (split.needsDrive)
        out.moveTo = CloudResultsLogic::parkTarget(externals, chosenDrivePath).argument;
    return out;
}

} // namespace Quandril::App::ConfirmLogic
