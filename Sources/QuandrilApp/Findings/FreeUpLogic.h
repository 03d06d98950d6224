#pragma once

// What the free-up view and its parts show and do, worked out without a window: the drive shown,
// the findings of each tier on it, the footer's texts and enabling, the tier header's button, a
// finding row's status icon and marks, the routes' lines and the notes.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Scanning/Planner.h"
#include "QuandrilCore/Values/Model.h"

#include "QuandrilApp/Platform/Symbols.h"

namespace Quandril::App::FreeUpLogic {

// How the app writes a byte amount (AppFormat::bytes with the units in effect).
using Bytes = std::function<QString(std::int64_t)>;

// The drive shown: the first drive of the status whose path was picked, else the status's
// startup drive, else none. A picked drive that is gone for now is remembered by the caller, so
// it shows again when it comes back.
std::optional<DriveInfo> shownDrive(const ScanReport& status, const std::optional<std::string>& picked);

// The findings of one tier on one drive, as positions in the report's findings, in report order.
struct TierBlock {
    Tier tier = Tier::rebuilds;
    std::vector<std::size_t> items;
};
// One block per tier in tier order; a tier without findings on the drive has none.
std::vector<TierBlock> tierBlocks(const ScanReport& report, const std::string& drivePath);

// The ids of the report's findings on the drive, every tier, in report order ("Select all").
std::vector<std::string> driveFindingIDs(const ScanReport& report, const std::string& drivePath);

// The chosen findings that the report holds, in report order: what a clean-up may act on. A
// choice left from an older report that this one no longer holds is not among them.
std::vector<std::string> chosenInReport(const std::optional<ScanReport>& report, const std::set<std::string>& selected);

// "Scanned <time>. Nothing is touched until you choose.", the time in the locale's short form.
QString scannedLine(TimePoint at);
// "<n> chosen, <bytes>".
QString chosenLine(std::size_t count, std::int64_t bytes, const Bytes& format);
// "Free up…" (and Return): something the current report holds is chosen and no clean-up runs.
bool freeUpEnabled(const std::optional<ScanReport>& report, const std::set<std::string>& selected, bool cleaning);

// ---- Tier header ----

// The sum of the findings' sizes, held at the 64-bit limit.
std::int64_t totalBytes(const std::vector<const Finding*>& items);

// ---- Finding row ----

// The symbol shown before the title of a finding the clean-up leaves to the user; empty for one
// it carries out itself.
QString statusSymbol(const Finding& finding);

// A line under the reason: its symbol, text and tone.
struct Mark {
    QString symbol;
    QString text;
    Tone tone = Tone::primary;
    friend bool operator==(const Mark&, const Mark&) = default;
};
// The caution, blocked, unsure and hand-off steps lines, in that order, for those that apply.
std::vector<Mark> marks(const Finding& finding);
// The app an "Open …" button starts: a hand-off's app; empty for no button.
QString openAppName(const Finding& finding);

// ---- Routes ----

// "Ways to <goal> free (<free> free now)".
QString routesHeading(const Plan& plan, const Bytes& format);
// "+<bytes> → <free after> free".
QString routeLine(const Route& route, const Bytes& format);
// "Every route counts emptying the Trash (<bytes>)."; empty without Trash bytes.
QString routesTrashLine(const Plan& plan, const Bytes& format);

// ---- Notes ----

// The lines of "Good to know": the report's notes as written, then one sentence naming the
// folders a cloud drive syncs, which the scan did not look into; empty when there is neither.
QStringList noteLines(const ScanReport& report, const Mac& mac);

} // namespace Quandril::App::FreeUpLogic
