#include "QuandrilApp/Model/Autopilot.h"

#include <algorithm>
#include <limits>
#include <mutex>

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Model/TaskPool.h"
#include "QuandrilApp/Platform/MountWatcher.h"
#include "QuandrilApp/Platform/Notifier.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Platform/WakeWatcher.h"
#include "QuandrilCore/Platform/Saturating.h"

namespace Quandril::App {

const QString Autopilot::mountReason = QStringLiteral("a drive mounted");
const QString Autopilot::wakeReason = QStringLiteral("the Mac woke");
const QString Autopilot::routineReason = QStringLiteral("a routine check");

namespace {

constexpr std::int64_t runSpacingSeconds = 6 * 60 * 60;
constexpr std::int64_t weekSeconds = 7 * 24 * 60 * 60;
constexpr std::int64_t weeklyGrowthBytes = 1'000'000'000;

const QString appTitle = QStringLiteral("Gorrin");
const QString weeklyTitle = QStringLiteral("Gorrin: what grew this week");

// A stored date as a time point, held within the time point's range (about ±292 years around
// 1970), so a far-off stored date still compares the way it reads.
TimePoint timePointOf(const QDateTime& date)
{
    using Ms = std::chrono::milliseconds;
    const auto lowest = std::chrono::duration_cast<Ms>(TimePoint::min().time_since_epoch()).count() + 1;
    const auto highest = std::chrono::duration_cast<Ms>(TimePoint::max().time_since_epoch()).count() - 1;
    return toTimePoint(
        QDateTime::fromMSecsSinceEpoch(std::clamp<qint64>(date.toMSecsSinceEpoch(), lowest, highest), Qt::UTC));
}

// Seconds between routine checks: the stored minutes (or their default), at least 1.
std::int64_t intervalSeconds(const Preferences& preferences)
{
    const std::int64_t minutes = preferences.integerValue(Keys::autopilotIntervalMinutes);
    return Saturating::multiply(std::max<std::int64_t>(minutes, 1), 60);
}

std::int64_t secondsBetween(TimePoint earlier, TimePoint later)
{
    const auto ticks = Saturating::subtract(later.time_since_epoch().count(), earlier.time_since_epoch().count());
    return ticks / TimePoint::period::den * TimePoint::period::num;
}

ScanOptions runScanOptions(const AppClock& clock, const AccessProbe& access, std::vector<ProtectedPath> extraProtected)
{
    return ScanOptions { .now = clock.now(),
                         .extraProtected = std::move(extraProtected),
                         .avoidPrivacyPrompts = !access.hasFullDiskAccess() };
}

// The findings the autopilot may clean without help, in report order: those that rebuild
// themselves, that no running app blocks, and that are deleted or cleared by their own command.
std::vector<std::string> cleanable(const ScanReport& report)
{
    std::vector<std::string> ids;
    for (const Finding& finding : report.findings) {
        const bool kind = finding.action.kind == Action::Kind::delete_ || finding.action.kind == Action::Kind::command;
        if (finding.tier == Tier::rebuilds && !finding.blockedBy && kind)
            ids.push_back(finding.id);
    }
    return ids;
}

std::int64_t freedBytes(const std::vector<CleanResult>& results)
{
    std::int64_t freed = 0;
    for (const CleanResult& result : results) {
        if (result.status == CleanResult::Status::done)
            freed = Saturating::add(freed, result.bytes);
    }
    return freed;
}

} // namespace

// How a run reaches the autopilot: a queued call on its thread, which Qt drops once the
// autopilot is gone; after that nothing more is posted.
class Autopilot::Mailbox {
public:
    explicit Mailbox(Autopilot* autopilot)
        : autopilot_(autopilot)
    {
    }

    void post(std::function<void(Autopilot&)> step)
    {
        std::lock_guard guard(lock_);
        if (!autopilot_)
            return;
        Autopilot* autopilot = autopilot_;
        QMetaObject::invokeMethod(
            autopilot, [autopilot, step = std::move(step)] { step(*autopilot); }, Qt::QueuedConnection);
    }

    void close()
    {
        std::lock_guard guard(lock_);
        autopilot_ = nullptr;
    }

private:
    std::mutex lock_;
    Autopilot* autopilot_;
};

struct Autopilot::Outcome {
    bool cleaned = false; // there was something to clean (or the engine failed trying)
    std::int64_t freed = 0;
    std::optional<ScanReport> status; // the drives after the clean-up
};

Autopilot::Autopilot(Model& model, Notifier& notifier, MountWatcher* mounts, WakeWatcher* wakes,
                     std::shared_ptr<const ContinuousClock> clock, std::chrono::milliseconds recheckEvery,
                     QObject* parent)
    : QObject(parent)
    , model_(model)
    , notifier_(notifier)
    , clock_(std::move(clock))
    , recheckEvery_(std::clamp<std::chrono::milliseconds>(recheckEvery, std::chrono::milliseconds(1),
                                                          std::chrono::milliseconds(std::numeric_limits<int>::max())))
    , timer_(new QTimer(this))
    , mailbox_(std::make_shared<Mailbox>(this))
{
    if (const auto stored = model_.preferences().date(Keys::autopilotLastRunAt))
        lastRunAt_ = timePointOf(*stored);

    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &Autopilot::recheck);

    observeMountAndWake(mounts, wakes);
    startWait();
}

Autopilot::~Autopilot()
{
    mailbox_->close();
}

// ---- Triggers ----

void Autopilot::observeMountAndWake(MountWatcher* mounts, WakeWatcher* wakes)
{
    // Each event checks once, from the event loop; with the autopilot as the context, an event
    // that comes after it is gone is dropped.
    if (mounts)
        connect(
            mounts, &MountWatcher::mounted, this, [this] { checkNow(mountReason); }, Qt::QueuedConnection);
    if (wakes) {
        connect(
            wakes, &WakeWatcher::woke, this, [this] { checkNow(wakeReason); }, Qt::QueuedConnection);
        // The timer stood still while the computer slept: see whether the wait ended meanwhile.
        connect(wakes, &WakeWatcher::woke, this, &Autopilot::recheck, Qt::QueuedConnection);
    }
}

void Autopilot::startWait()
{
    const std::int64_t waitMs = Saturating::multiply(intervalSeconds(model_.preferences()), 1000);
    deadline_ = std::chrono::milliseconds(Saturating::add(clock_->now().count(), waitMs));
    armTimer();
}

void Autopilot::armTimer()
{
    // Never longer than the re-check period, so a timer stopped by sleep is late by at most that.
    const std::int64_t left = Saturating::subtract(deadline_.count(), clock_->now().count());
    timer_->start(static_cast<int>(std::clamp<std::int64_t>(left, 1, recheckEvery_.count())));
}

void Autopilot::recheck()
{
    if (clock_->now() < deadline_) {
        armTimer();
        return;
    }
    checkNow(routineReason);
    startWait();
}

// ---- Checks and runs ----

void Autopilot::checkNow(const QString& reason)
{
    Q_ASSERT(QThread::currentThread() == thread());
    Preferences& preferences = model_.preferences();
    if (!preferences.booleanValue(Keys::autopilotEnabled))
        return;
    const TimePoint now = model_.clock()->now();
    if (lastRunAt_ && secondsBetween(*lastRunAt_, now) < runSpacingSeconds)
        return;
    if (!model_.catalog())
        return;
    const auto startup = model_.status().startup();
    if (!startup)
        return;
    const auto goal = model_.goal(*startup);
    if (!goal)
        return;
    if (AppFormat::freeBytes(*startup, preferences) >= goal->bytes(startup->totalBytes))
        return;

    // Stored before any work, so that every other check in the next six hours fails the gate.
    lastRunAt_ = now;
    preferences.setDate(Keys::autopilotLastRunAt, toDateTime(now));
    emit changed();

    auto engine = model_.engine();
    auto access = model_.accessProbe();
    auto clock = model_.clock();
    auto mac = std::make_shared<const Mac>(model_.mac());
    auto catalog = std::make_shared<const Catalog>(*model_.catalog());
    auto extraProtected = model_.extraProtected();
    auto mailbox = mailbox_;
    TaskPool::start(
        [=] {
            Outcome outcome;
            try {
                const ScanReport report = engine->scan(*mac, *catalog, runScanOptions(*clock, *access, extraProtected));
                const std::vector<std::string> ids = cleanable(report);
                if (!ids.empty()) {
                    outcome.cleaned = true;
                    // The app's end stops it after the item in hand, and waits for that.
                    const TaskPool::Stoppable stoppable;
                    const CleanOptions options { .permanentCaches = true,
                                                 .scan = runScanOptions(*clock, *access, extraProtected),
                                                 .stop = TaskPool::stopRequested };
                    outcome.freed = freedBytes(engine->clean(ids, *mac, *catalog, options));
                }
            } catch (...) {
                // The engine promises not to throw; should it, the run freed nothing.
                outcome.cleaned = true;
            }
            // The drives are measured here, with the Trash, so the GUI thread never waits on it.
            if (outcome.cleaned) {
                try {
                    outcome.status = engine->status(*mac);
                } catch (...) {
                }
            }
            mailbox->post([reason, outcome = std::move(outcome)](Autopilot& autopilot) mutable {
                autopilot.finishRun(reason, std::move(outcome));
            });
        },
        TaskPool::Priority::utility);
}

void Autopilot::finishRun(const QString& reason, Outcome outcome)
{
    Preferences& preferences = model_.preferences();
    if (!outcome.cleaned) {
        lastRunNote_ = QStringLiteral("Nothing in \"rebuilds itself\" to clean (") + reason + QStringLiteral(").");
        emit changed();
        return;
    }
    lastRunNote_ = outcome.freed > 0 ? QStringLiteral("Freed ") + AppFormat::bytes(outcome.freed, preferences)
            + QStringLiteral(" automatically (") + reason + QStringLiteral(").")
                                     : QStringLiteral("Tried, but nothing came free (") + reason + QStringLiteral(").");
    emit changed();
    if (outcome.status)
        model_.setStatus(std::move(*outcome.status));
    if (outcome.freed > 0)
        notify(appTitle, *lastRunNote_);
    weeklyNoteIfDue();
}

void Autopilot::weeklyNoteIfDue()
{
    Preferences& preferences = model_.preferences();
    const qint64 nowMs = toDateTime(model_.clock()->now()).toMSecsSinceEpoch();
    if (const auto last = preferences.date(Keys::autopilotWeeklyNoteAt)) {
        if (Saturating::subtract(nowMs, last->toMSecsSinceEpoch()) <= weekSeconds * 1000)
            return;
    }
    const auto startup = model_.status().startup();
    if (!startup)
        return;
    const auto previous = preferences.integer(Keys::autopilotWeeklyFreeBytes);
    const std::int64_t free = AppFormat::freeBytes(*startup, preferences);
    preferences.setDate(Keys::autopilotWeeklyNoteAt, QDateTime::fromMSecsSinceEpoch(nowMs, Qt::UTC));
    preferences.setInteger(Keys::autopilotWeeklyFreeBytes, free);
    if (!previous)
        return;
    const std::int64_t grew = Saturating::subtract(*previous, free);
    if (grew > weeklyGrowthBytes)
        notify(weeklyTitle,
               QStringLiteral("About ") + AppFormat::bytes(grew, preferences)
                   + QStringLiteral(" more used than a week ago."));
}

void Autopilot::notify(const QString& title, const QString& body)
{
    if (model_.preferences().booleanValue(Keys::notificationsEnabled))
        notifier_.notify(title, body);
}

} // namespace Quandril::App
