#pragma once

// What the iCloud section shows, as plain functions of the model's values: the scan's totals, the
// two list sections under their headings, the rows' texts, the footer's case and
// choices, and the results bar's summary. The widgets only wire these to the model.
//
// Every sum shown is held at the ends of the 64-bit range instead of wrapping.

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QString>

#include "QuandrilApp/Look/ResultLines.h"
#include "QuandrilCore/ICloud/ICloud.h"

namespace Quandril::App {

class Preferences;

namespace CloudResultsLogic {

// ---- Header ----

// "<bytes> in <files> files; <on Mac> of it is stored on this Mac.": the file count grouped as the
// user's locale writes numbers (12,345), the amounts through AppFormat::bytes.
QString totalsLine(const CloudScan& scan, const Preferences& preferences);

inline const QString readingLine = QStringLiteral(
    "Reading iCloud's list of files and looking for copies on your drives. Nothing is downloaded.");
inline const QString scanName = QStringLiteral("The iCloud scan");
inline const QString nothingFound = QStringLiteral("No copies or big files found in iCloud.");

// ---- The list's sections ----

struct Section {
    QString title;
    std::vector<std::string> ids; // in list order
    std::int64_t bytes = 0;       // the most choosing all of them could free

    bool operator==(const Section&) const = default;
};

// Every offered copy, group by group; "up to" one copy's size times the copies offered, summed.
// Absent without groups.
std::optional<Section> copiesSection(const CloudScan& scan);
// The big files in their order and the sum of their sizes. Absent without big files.
std::optional<Section> biggestSection(const CloudScan& scan);

// ---- Rows ----

// "<n> × <bytes>": the copies offered (plain digits) and the size of one.
QString copiesCount(const CopyGroup& group, const Preferences& preferences);
// "Stays: <path> (in iCloud)" or "Stays: <path> (on <place>)". `roots` are the iCloud folders the
// scan walked (Model::cloudRoots): paths are shown against them, without looking at the disk.
QString staysLine(const CopyGroup& group, const std::vector<std::string>& roots, const Mac& mac);
inline const QString differentNames = QStringLiteral("Same size, different names: the byte-for-byte check decides.");
// "On this Mac" or "Only in iCloud: downloaded when its turn comes".
QString whereLine(const CloudItem& item);
// The last path component.
QString fileName(const std::string& path);
// The path as the user reads it ("iCloud Drive/…", "~/…", a drive's path whole).
QString shownPath(const std::string& path, const std::vector<std::string>& roots, const Mac& mac);

// ---- Footer ----

enum class Footer {
    working, // a cleanup runs: its progress and the stop button
    plugIn,  // no drive besides the startup drive
    choose,  // the pickers, what is chosen and the start button
};
Footer footer(bool running, const std::vector<DriveInfo>& externals);

// The cleanup's latest line, or "Working…" before the first one.
QString progressText(const std::optional<std::string>& line);
inline const QString plugInLine = QStringLiteral("Plug in a drive: files removed from iCloud wait there.");

// The chunk sizes offered, in order, and the one a new results view starts with.
inline constexpr std::array<std::int64_t, 3> chunkSizes { 2'000'000'000, 5'000'000'000, 10'000'000'000 };
inline constexpr std::int64_t defaultChunk = 5'000'000'000;

// One entry of the "Park on" picker: the drive it stands for (its path, the drive's identity) and
// "<name> (<free> free)" by the chosen free-space count.
struct ParkEntry {
    std::string path;
    QString label;

    bool operator==(const ParkEntry&) const = default;
};
std::vector<ParkEntry> parkEntries(const std::vector<DriveInfo>& externals, const Preferences& preferences);

// The drive a results view starts with when none is chosen yet: the external drive named by
// "defaultMoveToDrive" (the first of that name), else the first external drive, else none (""). A
// drive already chosen stays. Drives are given and kept by path.
std::string presetDrive(const std::string& chosen, const std::vector<DriveInfo>& externals,
                        const std::optional<QString>& defaultName);

// The chosen drive as the sheet names it and as the cleanup is asked for it. The cleanup takes a
// name or a path and goes with the first drive that answers to it, so a name that another external
// drive also answers to is passed as the path. A drive no longer plugged in is named and passed
// by its path, and the cleanup refuses it.
struct ParkTarget {
    std::string shown;
    std::string argument;

    bool operator==(const ParkTarget&) const = default;
};
ParkTarget parkTarget(const std::vector<DriveInfo>& externals, const std::string& chosenPath);

// The bytes of the chosen items the scan holds: each id counts its first item once; ids the scan
// doesn't hold, and every id without a scan, add nothing.
std::int64_t chosenBytes(const std::optional<CloudScan>& scan, const std::set<std::string>& selected);
// "<n> chosen, <bytes>", the count in plain digits.
QString chosenLine(const std::optional<CloudScan>& scan, const std::set<std::string>& selected,
                   const Preferences& preferences);
// "Download and clean up…" needs something chosen and a drive.
bool canStart(const std::set<std::string>& selected, const std::string& drive);

// ---- Results bar ----

struct RunSummary {
    int moved = 0;
    int total = 0;
    std::int64_t bytes = 0; // of the moved ones only

    bool operator==(const RunSummary&) const = default;
};
RunSummary summarize(const std::vector<CleanResult>& results);
// "Last run: <moved> of <total> out of iCloud, <bytes>".
QString summaryLine(const std::vector<CleanResult>& results, const Preferences& preferences);

// One line of the bar: "checkmark.circle" in "primary" when done, else "hand.raised" in "orange".
ResultLine resultLine(const CleanResult& result);

} // namespace CloudResultsLogic

} // namespace Quandril::App
