#pragma once

// The autopilot: when switched on ("autopilotEnabled"), it keeps the startup drive at its goal by
// cleaning what rebuilds itself, and tells the user what it freed. Views read its last note and
// run time and hear `changed()`.
//
// Checks come from three triggers, each with a reason that ends up in the note: a mounted volume
// ("a drive mounted"), the computer waking ("the Mac woke") and a routine check at the end of
// every wait ("a routine check"). A check passes these gates in order, and the first that fails
// ends it silently, touching nothing: switched on; no run in the last six hours (wall clock); the
// model has a catalog, a startup drive, and a goal for it; and the drive's free space (by the
// chosen count) is below the goal. Then the start time is stored under "autopilotLastRunAt"
// before anything else, so any other check in the next six hours, whatever its trigger, fails.
//
// A run scans and cleans through the model's engine on the TaskPool at utility priority, with
// copies of the machine, catalog and never-touch paths, outside the model's busy flags. It cleans
// the findings that rebuild themselves, are blocked by no running app, and are deleted or cleared
// by their own command, deleting caches outright. Back on the GUI thread it writes its note,
// replaces the model's drive status, notifies what it freed and, once a week, what grew.
//
// Routine waits last "autopilotIntervalMinutes" (read before each wait; 10 when absent or not an
// integer, at least 1). The deadline is kept on a clock that counts while the computer sleeps
// and is compared with it on a short timer and on every wake, so a wait never stretches by the
// time slept.
//
// Lives on the GUI thread, as long as the app. The model, the notifier and the clocks must
// outlive it; the watchers may go first.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include <QObject>
#include <QString>

#include "QuandrilApp/Platform/AppClock.h"
#include "QuandrilApp/Platform/ContinuousClock.h"

class QTimer;

namespace Quandril::App {

class Model;
class MountWatcher;
class Notifier;
class WakeWatcher;

class Autopilot : public QObject {
    Q_OBJECT

public:
    // The reasons the triggers give.
    static const QString mountReason;
    static const QString wakeReason;
    static const QString routineReason;

    // Restores the last run time, listens to the watchers (either may be null: that trigger is
    // missing) and starts the first routine wait. `recheckEvery` is how often a wait compares its
    // deadline with `clock` while the app runs.
    Autopilot(Model& model, Notifier& notifier, MountWatcher* mounts, WakeWatcher* wakes,
              std::shared_ptr<const ContinuousClock> clock = ContinuousClock::boot(),
              std::chrono::milliseconds recheckEvery = std::chrono::seconds(15), QObject* parent = nullptr);
    ~Autopilot() override;

    Autopilot(const Autopilot&) = delete;
    Autopilot& operator=(const Autopilot&) = delete;

    // The sentence written at the end of the latest run; absent until the first run. Not stored.
    const std::optional<QString>& lastRunNote() const { return lastRunNote_; }
    // When the latest run started; restored from "autopilotLastRunAt".
    const std::optional<TimePoint>& lastRunAt() const { return lastRunAt_; }

    // When the wait under way ends, on the continuous clock; held at the end of its range.
    std::chrono::milliseconds nextRoutineCheck() const { return deadline_; }

    // Runs the gates and, when all pass, starts one run and returns at once. `reason` completes
    // the note's sentence ("a drive mounted").
    void checkNow(const QString& reason);

signals:
    // After lastRunNote or lastRunAt changed.
    void changed();

private:
    class Mailbox;
    struct Outcome;

    void observeMountAndWake(MountWatcher* mounts, WakeWatcher* wakes);
    // Starts the next routine wait.
    void startWait();
    // Sets the timer for the rest of the wait, or the re-check period when that is shorter.
    void armTimer();
    // Ends the wait when its deadline has passed, else sets the timer for the rest of it.
    void recheck();
    void finishRun(const QString& reason, Outcome outcome);
    void weeklyNoteIfDue();
    void notify(const QString& title, const QString& body);

    Model& model_;
    Notifier& notifier_;
    std::shared_ptr<const ContinuousClock> clock_;
    std::chrono::milliseconds recheckEvery_;
    std::chrono::milliseconds deadline_ {};
    QTimer* timer_ = nullptr;
    std::shared_ptr<Mailbox> mailbox_;

protected:
    std::optional<QString> lastRunNote_;
    std::optional<TimePoint> lastRunAt_;
};

} // namespace Quandril::App
