#pragma once

// The app's one state object: everything the views show, the user's goals and never-touch paths,
// and the engine work (scan, clean-up, put-back, iCloud scan, iCloud cleanup) run off the GUI thread.
//
// Made once at start and passed by reference to every view; the autopilot holds the same one.
// Everything here is used on the GUI thread only.
//
// Published state changes in one step per event, in a fixed order, and only then are the change
// signals emitted: the fine ones in the order the fields changed, then `changed()` once. So any
// slot, whichever signal it hears, sees the whole step applied. Views refresh from the signals and
// read the accessors; nothing derived (goals, `startupShort`, `plan`, `cloudEnabled`) is cached.
//
// Engine work: each operation returns at once and runs its engine call on the app's TaskPool with
// copies of the values it needs. Its outcome comes back as a queued call to the model (dropped if
// the model is gone), and is published together, in this order: results, busy flag, selection,
// History (newest first), drive status. A clean-up or put-back then calls `scan()`, an iCloud
// cleanup `scanCloud()`, each subject to its own guard. History and the drive status are read in
// the task right after the engine call (History with which of its entries Put Back can bring
// back), so the GUI thread never measures the Trash, reads the history file or looks into the
// Trash folders during work; a reading older than one already shown is not shown. A scan's report,
// which serves as the drive status too, counts as read when the scan ends.
//
// Preferences: the model is the one listener of `Preferences::changed`. Each change is a step of its
// own: `preferenceChanged(key)`, then `displayChanged()` for the display settings or
// `settingsChanged()` for what the model derives from (a goal, "icloudEnabled"), then `changed()`.
// Views follow these, never the preferences themselves, so one typed goal refreshes each view once.
//
// Guards: a scan, a clean-up, an iCloud scan and an iCloud cleanup each run once at a time (their
// busy flags). Put-backs run one after another: a put-back asked for while another runs waits its
// turn, and asking again for an id already waiting or running does nothing (`puttingBack()`).

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QObject>

#include "QuandrilApp/Model/EngineFacade.h"
#include "QuandrilApp/Model/StopFlag.h"
#include "QuandrilApp/Platform/AccessProbe.h"
#include "QuandrilApp/Platform/AppClock.h"
#include "QuandrilCore/Scanning/Planner.h"

namespace Quandril::App {

class Preferences;

// A drive's identity in the app is its path: two readings of one volume with different free space
// are the same drive in lists and pickers.
inline const std::string& driveID(const DriveInfo& drive)
{
    return drive.path;
}

inline bool sameDrive(const DriveInfo& a, const DriveInfo& b)
{
    return a.path == b.path;
}

struct DriveHash {
    std::size_t operator()(const DriveInfo& drive) const { return std::hash<std::string>()(drive.path); }
};

// What the model is given besides the machine and the preferences; each has a real default.
struct ModelServices {
    std::shared_ptr<EngineFacade> engine = EngineFacade::live();
    std::shared_ptr<const AccessProbe> access = AccessProbe::live();
    std::shared_ptr<const AppClock> clock = AppClock::system();
};

class Model : public QObject {
    Q_OBJECT

public:
    // Builds the model, in this order: the machine; the published state at its empty values; a
    // new stop flag; the catalog (absent when it can't be loaded; a scan then says why); the drive status;
    // the user's never-touch paths from "extraProtected" (empty when missing or unreadable; the
    // stored bytes are left as they are). History (newest first), which may be years long, is then
    // read on the TaskPool and published as after a task, so the windows show at once. The app
    // passes Mac::real(); tests pass a fake machine. `preferences` must outlive the model.
    Model(Mac mac, Preferences& preferences, ModelServices services = {}, QObject* parent = nullptr);
    // Sets the iCloud stop flag and lets go of running tasks without waiting for them: their
    // outcomes are dropped.
    ~Model() override;

    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    // ---- Constants ----

    const Mac& mac() const { return *mac_; }
    // The rules catalog; null while it can't be loaded (then clean-ups do nothing, and a scan loads
    // it again, ending with the reason as its `scanFailure` when it still can't).
    const Catalog* catalog() const { return catalog_.get(); }
    Preferences& preferences() const { return preferences_; }
    // For the autopilot, which runs its own engine work straight through these.
    const std::shared_ptr<EngineFacade>& engine() const { return engine_; }
    const std::shared_ptr<const AccessProbe>& accessProbe() const { return access_; }
    const std::shared_ptr<const AppClock>& clock() const { return clock_; }

    // ---- Published state ----

    // The drives and the Trash's size without a scan. Replaced by every finished operation, and
    // by anyone on the GUI thread through `setStatus` (the menu's refresh, the autopilot).
    const ScanReport& status() const { return status_; }
    void setStatus(ScanReport status);
    // Reads the status on the TaskPool and publishes it, without holding up the GUI thread.
    void refreshStatus();

    // The last full scan, and when it was published; absent until the first scan.
    const std::optional<ScanReport>& report() const { return report_; }
    const std::optional<TimePoint>& scannedAt() const { return scannedAt_; }
    bool scanning() const { return scanning_; }
    // Why the last scan ended without a report, in a sentence for the user; absent once another
    // scan starts or a scan finishes. The last report, if any, stays.
    const std::optional<std::string>& scanFailure() const { return scanFailure_; }

    // The chosen finding ids. Views replace the whole set.
    const std::set<std::string>& selected() const { return selected_; }
    void setSelected(std::set<std::string> ids);

    // The results of the last clean-up, or of the last put-back alone. The results bar's
    // "Dismiss" sets it empty.
    const std::vector<CleanResult>& lastResults() const { return lastResults_; }
    void setLastResults(std::vector<CleanResult> results);
    bool cleaning() const { return cleaning_; }

    // History, newest first; empty until it has been read.
    const std::vector<HistoryEntry>& history() const { return history_; }
    // Whether History has been read yet (the first reading, at start, comes from the TaskPool).
    bool historyRead() const { return firstHistoryShown_ || historyStamp_ != 0; }
    // Whether each entry of `history()`, index for index, has something Put Back can bring back
    // from a Trash or a drive it was parked on; read together with History.
    const std::vector<bool>& putBackOffered() const { return putBackOffered_; }
    // Why the history file gave no entries (another user's, or one others may write), as the end
    // of a sentence for the user; empty when it was used. Read together with History.
    const std::string& historyWhyNot() const { return historyWhyNot_; }
    // The ids of the put-backs running or waiting their turn (views disable their buttons).
    const std::set<std::string>& puttingBack() const { return puttingBack_; }

    // The user's never-touch paths.
    const std::vector<ProtectedPath>& extraProtected() const { return extraProtected_; }
    // Replaces the list without storing it ("Reset all settings…" empties it this way).
    void setExtraProtected(std::vector<ProtectedPath> paths);

    // iCloud cleanup.
    const std::optional<CloudScan>& cloudScan() const { return cloudScan_; }
    // The iCloud folders that scan walked, as it read them; empty without one. Its paths are
    // shown against these, so showing them never looks at the disk.
    const std::vector<std::string>& cloudRoots() const;
    bool cloudScanning() const { return cloudScanning_; }
    // Why the last iCloud scan ended without a result, as `scanFailure` says it of a scan.
    const std::optional<std::string>& cloudScanFailure() const { return cloudScanFailure_; }
    const std::set<std::string>& cloudSelected() const { return cloudSelected_; }
    void setCloudSelected(std::set<std::string> ids);
    bool cloudRunning() const { return cloudRunning_; }
    // The cleanup's latest progress line while it runs; absent otherwise.
    const std::optional<std::string>& cloudProgress() const { return cloudProgress_; }
    const std::vector<CleanResult>& cloudResults() const { return cloudResults_; }
    void setCloudResults(std::vector<CleanResult> results);
    // The stop control sets it (`cloudStop().set(true)`): the cleanup stops before its next item.
    // Cleared only when a cleanup starts.
    StopFlag& cloudStop() const { return *cloudStop_; }

    // ---- Derived values, read afresh every time ----

    // The drive's goal from "goal:" + its path: nothing stored gives 50 GB for the startup drive
    // and no goal for any other; an empty text gives no goal; otherwise the parsed text, or no
    // goal when it doesn't parse.
    std::optional<Goal> goal(const DriveInfo& drive) const;
    // Bytes the startup drive of `status()` lacks to reach its goal, by the chosen free-space
    // count; absent when met, or without a startup drive or goal.
    std::optional<std::int64_t> startupShort() const;
    // The external drives of `status()` (DriveInfo::isExternal), in their order.
    std::vector<DriveInfo> externals() const;
    // The bytes of the chosen findings that the report holds; held at the 64-bit limit.
    std::int64_t selectedBytes() const;
    // The routes to the drive's goal from the last scan; absent without a report, a goal, or when
    // the report holds no such drive.
    std::optional<Plan> plan(const DriveInfo& drive) const;

    // Whether iCloud cleanup is on ("icloudEnabled"). Switching it off forgets the iCloud scan and
    // selection; switching on starts no scan (callers call `scanCloud()`).
    bool cloudEnabled() const;
    void setCloudEnabled(bool enabled);

    // Tells every view to read the derived values again, for a change the preferences announce
    // nothing for (a reset of nothing stored). Emits `settingsChanged()` then `changed()`.
    void announceChange();

    // ---- Never-touch paths ----

    // Adds a path: text starting with "~" or "/" is kept as it is, other text is taken as relative
    // to the home folder and expanded. Nothing happens for an empty path or one already listed
    // (exact text). Stores the list.
    void addProtectedPath(const std::string& text);
    // Removes every entry with exactly this path, then stores the list (also when none matched).
    void removeProtectedPath(const std::string& path);
    // Stores the list as compact JSON under "extraProtected". Stored bytes that could not be read
    // are first kept under "extraProtected.unreadable".
    void saveExtraProtected();

    // ---- Engine work ----

    // A full scan. Nothing while one runs. Without a catalog it first loads the rules again (they
    // may be back in place), on the TaskPool; when they are still missing it ends with the reason
    // as `scanFailure`.
    void scan();
    // Carries out the findings with these ids, in this order. Nothing while a clean-up runs or
    // without a catalog. `moveTo` names the drive for moves, absent when nothing moves to a drive.
    void clean(const std::vector<std::string>& ids, bool includeCautioned, const std::optional<std::string>& moveTo);
    // Puts back the history entry with this id; nothing when that id is already on its way. Like a
    // clean-up, the app's end stops it and waits for it; none starts once the app is ending.
    void undo(const std::string& id);
    // An iCloud scan. Nothing while iCloud cleanup is off or while one runs.
    void scanCloud();
    // Moves the chosen iCloud items off iCloud onto `drive` (a name or path) in chunks of
    // `chunkBytes`; `agreed` acknowledges cautioned items. Nothing without an iCloud scan, with
    // nothing chosen, or while one runs.
    void cleanCloud(const std::string& drive, std::int64_t chunkBytes, bool agreed);

    // The app is quitting: a running iCloud cleanup stops before its next item. Nothing waits.
    void prepareToQuit();

signals:
    // Fine signals, each after the whole step that changed its field.
    void statusChanged();
    void reportChanged(); // report, scannedAt and scanFailure
    void selectionChanged();
    void busyChanged();    // scanning, cleaning
    void resultsChanged(); // lastResults
    void historyChanged();
    void puttingBackChanged();
    void extraProtectedChanged();
    // A stored preference was written or removed (`Preferences::changed`), by its key.
    void preferenceChanged(const QString& key);
    void displayChanged();   // "gaugeStyle", "freeSpaceSource" or "sizeUnits": how amounts and gauges show
    void settingsChanged();  // a goal or "icloudEnabled": what the model derives values from
    void cloudScanChanged(); // cloudScan and cloudScanFailure
    void cloudSelectionChanged();
    void cloudBusyChanged(); // cloudScanning, cloudRunning
    void cloudProgressChanged();
    void cloudResultsChanged();
    // Once after every step, after the fine signals.
    void changed();

private:
    class Mailbox;
    struct Readings;
    struct Snapshot;

    // The step for a preference someone changed; nothing while the model writes one itself.
    void followPreference(const QString& key);
    // Starts the first reading of History, on the TaskPool.
    void readFirstHistory();

    // Publication steps (ModelTasks.cpp), each on the GUI thread.
    void finishScan(std::uint64_t stamp, ScanReport report);
    void failScan(std::string reason);
    void finishClean(std::vector<CleanResult> results, Snapshot snapshot);
    void finishUndo(const std::string& id, CleanResult result, Snapshot snapshot);
    void finishCloudScan(CloudScan scan);
    void failCloudScan(std::string reason);
    void finishCloudClean(std::vector<CleanResult> results, Snapshot snapshot);
    void showCloudProgress(std::uint64_t run, std::string line);
    void finishStatus(std::uint64_t stamp, ScanReport status);
    void startNextUndo();
    // What a task takes along: copies of the shared engine values, never the model itself.
    struct TaskInputs;
    TaskInputs taskInputs() const;
    // History and status of a snapshot, when newer than what is shown; true for each applied.
    bool applyHistory(Snapshot& snapshot);
    bool applyStatus(std::uint64_t stamp, ScanReport& status);
    // Both of a snapshot at once; emitShown then says which were shown.
    struct Shown {
        bool history = false;
        bool status = false;
    };
    Shown applySnapshot(Snapshot& snapshot);
    void emitShown(Shown shown);

    // Engine values, fixed at creation and shared read-only with tasks.
    std::shared_ptr<const Mac> mac_;
    Preferences& preferences_;
    std::shared_ptr<EngineFacade> engine_;
    std::shared_ptr<const AccessProbe> access_;
    std::shared_ptr<const AppClock> clock_;
    std::shared_ptr<const Catalog> catalog_;
    std::string catalogFailure_; // why there is no catalog
    std::shared_ptr<StopFlag> cloudStop_;
    std::shared_ptr<Mailbox> mailbox_;
    std::shared_ptr<Readings> readings_;

    // Published state.
    ScanReport status_;
    std::optional<ScanReport> report_;
    bool scanning_ = false;
    std::optional<TimePoint> scannedAt_;
    std::optional<std::string> scanFailure_;
    std::set<std::string> selected_;
    std::vector<CleanResult> lastResults_;
    bool cleaning_ = false;
    std::vector<HistoryEntry> history_;
    std::vector<bool> putBackOffered_;
    std::string historyWhyNot_;
    std::vector<ProtectedPath> extraProtected_;
    std::optional<CloudScan> cloudScan_;
    bool cloudScanning_ = false;
    std::optional<std::string> cloudScanFailure_;
    std::set<std::string> cloudSelected_;
    bool cloudRunning_ = false;
    std::optional<std::string> cloudProgress_;
    std::vector<CleanResult> cloudResults_;
    std::set<std::string> puttingBack_;

    // Bookkeeping.
    bool writingPreferences_ = false; // the model's own writes announce themselves
    std::deque<std::string> undoQueue_;
    bool undoRunning_ = false;
    std::uint64_t cloudRun_ = 0;     // which cleanup progress lines belong to
    std::uint64_t historyStamp_ = 0; // the reading shown last
    bool firstHistoryShown_ = false; // the reading taken at start, which any later one replaces
    std::uint64_t statusStamp_ = 0;
};

} // namespace Quandril::App
