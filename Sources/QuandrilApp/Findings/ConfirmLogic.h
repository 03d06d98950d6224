#pragma once

// What the confirmation sheet of a clean-up shows and passes on, worked out without a window: the
// chosen findings largest first, split into those the app carries out itself and those it leaves
// to the user, the sentence for each, the title and heading sums, whether a drive is needed, the
// drive picker's preset, and what "Free up" hands to the model.
//
// Every sum is held at the ends of the 64-bit range instead of wrapping.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QString>

#include "QuandrilCore/Values/Model.h"

namespace Quandril::App::ConfirmLogic {

// How the app writes a byte amount (AppFormat::bytes with the units in effect).
using Bytes = std::function<QString(std::int64_t)>;

// Whether the app acts on the finding itself: it is neither unsure nor blocked, and its action is
// a delete, a move to the Trash, a command or a move; a hand-off that can be moved with a link
// left behind; or a review of a copy of another finding. Everything else is left to the user.
bool actsItself(const Finding& finding);

// The five values the sheet derives from the selection and the report, and its two sums.
struct Split {
    // The report's first finding of each chosen id, largest first; equal sizes in report order.
    // Ids the report doesn't hold, and every id without a report, are left out.
    std::vector<Finding> chosen;
    std::vector<Finding> canDo;     // acted on by the app, in the order of `chosen`
    std::vector<Finding> forYou;    // left to the user, likewise
    std::vector<Finding> cautioned; // of `canDo`, those with a caution
    bool needsDrive = false;        // something of `canDo` moves to a drive
    std::int64_t canDoBytes = 0;
    std::int64_t forYouBytes = 0;
};
Split split(const std::optional<ScanReport>& report, const std::set<std::string>& selected);

// What the clean-up will do to a finding the app acts on, by its action's kind.
QString what(const Finding& finding);
// What the user should do about a finding left to them.
QString howToDo(const Finding& finding);

// "Free up <bytes>?", or "Nothing here Gorrin can do itself" when the app can do nothing.
QString title(const Split& split, const Bytes& format);
// "For you to do (<bytes>): Gorrin leaves these alone".
QString forYouHeading(const Split& split, const Bytes& format);

inline const QString pickerLabel = QStringLiteral("Move your files to");
inline const QString agreement = QStringLiteral("I've read these and still want them done");
inline const QString trashNote = QStringLiteral(
    "Things go to the Trash, where Put Back works, and History can undo them. The space comes back when you "
    "empty the Trash; Gorrin never empties it for you.");
// The note under the list: `trashNote` while History keeps what is done; when the history file is
// refused or can't take a line now (`historyWhyNot`, the end of a sentence), says beforehand that
// History won't offer Put Back for this clean-up, and why.
QString historyNote(const std::string& historyWhyNot);

// "Free up" needs something the app can do and, when a finding moves to a drive, a chosen drive.
// The agreement and a clean-up already running play no part.
bool canFreeUp(const Split& split, const std::string& chosenDrivePath);

// The drive picker's preset when it comes into view, as a drive path: the external drive named by
// "defaultMoveToDrive" (the first of that name), else the first external drive, else none ("").
std::string presetDrive(const std::vector<DriveInfo>& externals, const std::optional<QString>& storedName);

// What "Free up" passes to the model.
struct Request {
    std::vector<std::string> ids; // the ids of `canDo`, in its order
    bool includeCautioned = false;
    // The chosen drive as the engine is to find it: its name, or its path where another external
    // drive answers to the same name; absent when nothing moves to a drive.
    std::optional<std::string> moveTo;

    bool operator==(const Request&) const = default;
};
Request request(const Split& split, bool agreed, const std::vector<DriveInfo>& externals,
                const std::string& chosenDrivePath);

} // namespace Quandril::App::ConfirmLogic
