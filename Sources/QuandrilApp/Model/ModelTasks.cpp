// The model's engine work: each operation starts on the GUI thread, runs its engine call on the
// TaskPool with copies of what it needs, and publishes the outcome back on the GUI thread in one
// step. Tasks capture shared_ptrs to immutable values, the engine facade and the stop flag, never
// the model itself.

#include <algorithm>
#include <exception>

#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Model/ModelInternals.h"
#include "QuandrilApp/Model/TaskPool.h"
#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::App {

namespace {

constexpr std::int64_t cloudMarginBytes = 5'000'000'000;
constexpr std::int64_t cloudMinBytes = 20'000'000;
constexpr std::int64_t cloudBigBytes = 1'000'000'000;
constexpr std::int64_t cloudSizeOnlyBytes = 100'000'000;

// Options of a scan, and of the scan inside a clean-up, made in the task at every run.
ScanOptions scanOptions(const AppClock& clock, const AccessProbe& access, std::vector<ProtectedPath> extraProtected)
{
    return ScanOptions { .now = clock.now(),
                         .extraProtected = std::move(extraProtected),
                         .avoidPrivacyPrompts = !access.hasFullDiskAccess() };
}

std::string describeCurrent()
{
    try {
        throw;
    } catch (const std::exception& error) {
        return Cleaner::describe(error);
    } catch (...) {
        return "Something unexpected stopped it.";
    }
}

// The engine promises not to throw; should it, every request still gets its answer.
std::vector<CleanResult> failedResults(const std::vector<std::string>& ids, const std::string& detail)
{
    std::vector<CleanResult> results;
    for (const std::string& id : ids) {
        CleanResult result;
        result.id = id;
        result.title = id;
        result.status = CleanResult::Status::failed;
        result.detail = detail;
        results.push_back(std::move(result));
    }
    return results;
}

// `ids` without those of the results that were done.
std::set<std::string> withoutDone(std::set<std::string> ids, const std::vector<CleanResult>& results)
{
    for (const CleanResult& result : results) {
        if (result.status == CleanResult::Status::done)
            ids.erase(result.id);
    }
    return ids;
}

} // namespace

struct Model::TaskInputs {
    std::shared_ptr<EngineFacade> engine;
    std::shared_ptr<const Mac> mac;
    std::shared_ptr<const Catalog> catalog;
    std::shared_ptr<const AccessProbe> access;
    std::shared_ptr<const AppClock> clock;
    std::shared_ptr<Readings> readings;
    std::shared_ptr<Mailbox> mailbox;
    std::vector<ProtectedPath> extraProtected;

    ScanOptions scanOptions() const { return App::scanOptions(*clock, *access, extraProtected); }
    Snapshot snapshot() const { return Snapshot::take(*readings, *engine, *mac); }
};

Model::TaskInputs Model::taskInputs() const
{
    return { engine_, mac_, catalog_, access_, clock_, readings_, mailbox_, extraProtected_ };
}

// ---- Status ----

void Model::refreshStatus()
{
    TaskPool::start([in = taskInputs()] {
        std::uint64_t stamp = 0;
        ScanReport status;
        try {
            std::lock_guard guard(in.readings->lock);
            status = in.engine->status(*in.mac);
            stamp = ++in.readings->issued;
        } catch (...) {
            return;
        }
        in.mailbox->post([stamp, status = std::move(status)](Model& model) mutable {
            model.finishStatus(stamp, std::move(status));
        });
    });
}

void Model::finishStatus(std::uint64_t stamp, ScanReport status)
{
    if (!applyStatus(stamp, status))
        return;
    emit statusChanged();
    emit changed();
}

bool Model::applyStatus(std::uint64_t stamp, ScanReport& status)
{
    if (stamp == 0 || stamp <= statusStamp_)
        return false;
    status_ = std::move(status);
    statusStamp_ = stamp;
    return true;
}

bool Model::applyHistory(Snapshot& snapshot)
{
    if (snapshot.stamp == 0 || snapshot.stamp <= historyStamp_)
        return false;
    history_ = std::move(snapshot.history);
    putBackOffered_ = std::move(snapshot.offers);
    historyWhyNot_ = std::move(snapshot.historyWhyNot);
    historyStamp_ = snapshot.stamp;
    return true;
}

Model::Shown Model::applySnapshot(Snapshot& snapshot)
{
    const bool history = applyHistory(snapshot);
    const bool status = applyStatus(snapshot.stamp, snapshot.status);
    return { history, status };
}

void Model::emitShown(Shown shown)
{
    if (shown.history)
        emit historyChanged();
    if (shown.status)
        emit statusChanged();
}

// ---- Scan ----

void Model::scan()
{
    if (scanning_)
        return;
    scanning_ = true;
    const bool failureShown = scanFailure_.has_value();
    scanFailure_.reset(); // the new scan speaks for itself
    if (failureShown)
        emit reportChanged();
    emit busyChanged();
    emit changed();

    TaskPool::start([in = taskInputs()] {
        std::optional<ScanReport> report;
        std::string failure;
        // Rules that couldn't be loaded are looked for again: the user may have put them back.
        LoadedCatalog rules { in.catalog, {} };
        if (!rules.catalog)
            rules = LoadedCatalog::load(*in.engine);
        failure = rules.failure;
        try {
            if (rules.catalog)
                report = in.engine->scan(*in.mac, *rules.catalog, in.scanOptions());
        } catch (...) {
            failure = describeCurrent();
        }
        // Stamped as it ends: a reading of the drives that ended while it ran is older than its
        // report, and only one that ends after it is newer.
        const std::uint64_t stamp = in.readings->next();
        in.mailbox->post([stamp, report = std::move(report), failure = std::move(failure),
                          rules = std::move(rules)](Model& model) mutable {
            if (!model.catalog_) {
                model.catalog_ = std::move(rules.catalog);
                model.catalogFailure_ = std::move(rules.failure);
            }
            if (report)
                model.finishScan(stamp, std::move(*report));
            else
                model.failScan(std::move(failure));
        });
    });
}

void Model::failScan(std::string reason)
{
    scanFailure_ = std::move(reason);
    scanning_ = false;
    emit reportChanged();
    emit busyChanged();
    emit changed();
}

void Model::finishScan(std::uint64_t stamp, ScanReport report)
{
    report_ = report;
    scanFailure_.reset();
    ScanReport status = std::move(report); // the full report serves as the drive status too
    const bool statusShown = applyStatus(stamp, status);
    scannedAt_ = clock_->now();
    scanning_ = false;
    std::set<std::string> kept;
    for (const Finding& finding : report_->findings) {
        if (selected_.count(finding.id))
            kept.insert(finding.id);
    }
    selected_ = std::move(kept);

    emit reportChanged();
    if (statusShown)
        emit statusChanged();
    emit busyChanged();
    emit selectionChanged();
    emit changed();
}

// ---- Clean-up ----

void Model::clean(const std::vector<std::string>& ids, bool includeCautioned, const std::optional<std::string>& moveTo)
{
    if (cleaning_ || !catalog_)
        return;
    cleaning_ = true;
    emit busyChanged();
    emit changed();

    // The app's end stops it and waits until what it did is in History.
    auto stoppable = std::make_shared<TaskPool::Stoppable>();
    TaskPool::start([in = taskInputs(), ids, includeCautioned, moveTo, stoppable]() mutable {
        std::vector<CleanResult> results;
        try {
            CleanOptions options { .includeCautioned = includeCautioned,
                                   .moveTo = moveTo,
                                   .linkMove = true,
                                   .scan = in.scanOptions(),
                                   .stop = TaskPool::stopRequested };
            results = in.engine->clean(ids, *in.mac, *in.catalog, options);
        } catch (...) {
            results = failedResults(ids, describeCurrent());
        }
        stoppable.reset();
        Snapshot snapshot = in.snapshot();
        in.mailbox->post([results = std::move(results), snapshot = std::move(snapshot)](Model& model) mutable {
            model.finishClean(std::move(results), std::move(snapshot));
        });
    });
}

void Model::finishClean(std::vector<CleanResult> results, Snapshot snapshot)
{
    lastResults_ = std::move(results);
    cleaning_ = false;
    selected_ = withoutDone(std::move(selected_), lastResults_);
    const Shown shown = applySnapshot(snapshot);

    emit resultsChanged();
    emit busyChanged();
    emit selectionChanged();
    emitShown(shown);
    emit changed();

    scan();
}

// ---- Put-back ----

void Model::undo(const std::string& id)
{
    // Two presses on one entry would race for the same item in the Trash.
    if (puttingBack_.count(id))
        return;
    puttingBack_.insert(id);
    undoQueue_.push_back(id);
    emit puttingBackChanged();
    emit changed();
    if (!undoRunning_)
        startNextUndo();
}

void Model::startNextUndo()
{
    // The app is ending: what is still queued stays in the Trash, offered again next time.
    if (undoQueue_.empty() || TaskPool::stopRequested())
        return;
    const std::string id = undoQueue_.front();
    undoQueue_.pop_front();
    undoRunning_ = true;

    // Like a clean-up, the app's end stops it and waits until what came back is in History.
    auto stoppable = std::make_shared<TaskPool::Stoppable>();
    TaskPool::start([in = taskInputs(), id, stoppable]() mutable {
        CleanResult result;
        try {
            result = in.engine->undo(id, *in.mac, false, TaskPool::stopRequested);
        } catch (...) {
            result = failedResults({ id }, describeCurrent()).front();
        }
        stoppable.reset();
        Snapshot snapshot = in.snapshot();
        in.mailbox->post([id, result = std::move(result), snapshot = std::move(snapshot)](Model& model) mutable {
            model.finishUndo(id, std::move(result), std::move(snapshot));
        });
    });
}

void Model::finishUndo(const std::string& id, CleanResult result, Snapshot snapshot)
{
    lastResults_ = { std::move(result) };
    puttingBack_.erase(id);
    undoRunning_ = false;
    const Shown shown = applySnapshot(snapshot);

    emit resultsChanged();
    emit puttingBackChanged();
    emitShown(shown);
    emit changed();

    scan();
    startNextUndo();
}

// ---- iCloud scan ----

void Model::scanCloud()
{
    if (!cloudEnabled() || cloudScanning_)
        return;
    cloudScanning_ = true;
    const bool failureShown = cloudScanFailure_.has_value();
    cloudScanFailure_.reset();
    if (failureShown)
        emit cloudScanChanged();
    emit cloudBusyChanged();
    emit changed();

    TaskPool::start([in = taskInputs()] {
        std::optional<CloudScan> scan;
        std::string failure;
        try {
            scan = in.engine->scanCloud(*in.mac, std::nullopt, cloudMinBytes, cloudBigBytes, cloudSizeOnlyBytes);
        } catch (...) {
            failure = describeCurrent();
        }
        in.mailbox->post([scan = std::move(scan), failure = std::move(failure)](Model& model) mutable {
            if (scan)
                model.finishCloudScan(std::move(*scan));
            else
                model.failCloudScan(std::move(failure));
        });
    });
}

void Model::failCloudScan(std::string reason)
{
    cloudScanFailure_ = std::move(reason);
    cloudScanning_ = false;
    emit cloudScanChanged();
    emit cloudBusyChanged();
    emit changed();
}

void Model::finishCloudScan(CloudScan scan)
{
    // Published whatever the switch says by now.
    cloudScan_ = std::move(scan);
    cloudScanFailure_.reset();
    cloudScanning_ = false;
    std::set<std::string> kept;
    for (const CloudItem& item : cloudScan_->items()) {
        if (cloudSelected_.count(item.id))
            kept.insert(item.id);
    }
    cloudSelected_ = std::move(kept);

    emit cloudScanChanged();
    emit cloudBusyChanged();
    emit cloudSelectionChanged();
    emit changed();
}

// ---- iCloud cleanup ----

void Model::cleanCloud(const std::string& drive, std::int64_t chunkBytes, bool agreed)
{
    if (!cloudScan_ || cloudRunning_ || cloudSelected_.empty())
        return;
    cloudRunning_ = true;
    cloudStop_->set(false); // a stop asked for while nothing ran is forgotten
    const std::uint64_t run = ++cloudRun_;
    emit cloudBusyChanged();
    emit changed();

    const std::vector<std::string> ids(cloudSelected_.begin(), cloudSelected_.end());
    auto scan = std::make_shared<const CloudScan>(*cloudScan_);
    // Stopped by its own Stop, and like any clean-up by the app's end, which waits for it.
    auto stoppable = std::make_shared<TaskPool::Stoppable>();
    TaskPool::start(
        [in = taskInputs(), stopFlag = cloudStop_, ids, scan, run, drive, chunkBytes, agreed, stoppable]() mutable {
            const CloudOptions options {
                .drive = drive, .chunkBytes = chunkBytes, .marginBytes = cloudMarginBytes, .agreed = agreed
            };
            const ICloud::Progress progress = [mailbox = in.mailbox, run](const std::string& line) {
                mailbox->post([run, line](Model& model) { model.showCloudProgress(run, line); });
            };
            const ICloud::Stop stop = [stopFlag] { return stopFlag->isOn() || TaskPool::stopRequested(); };
            std::vector<CleanResult> results;
            try {
                results = in.engine->cleanCloud(ids, *scan, *in.mac, options, progress, stop);
            } catch (...) {
                results = failedResults(ids, describeCurrent());
            }
            stoppable.reset();
            Snapshot snapshot = in.snapshot();
            in.mailbox->post([results = std::move(results), snapshot = std::move(snapshot)](Model& model) mutable {
                model.finishCloudClean(std::move(results), std::move(snapshot));
            });
        });
}

void Model::showCloudProgress(std::uint64_t run, std::string line)
{
    // A line that arrives after its cleanup was published belongs to nothing shown any more.
    if (!cloudRunning_ || run != cloudRun_)
        return;
    cloudProgress_ = std::move(line);
    emit cloudProgressChanged();
    emit changed();
}

void Model::finishCloudClean(std::vector<CleanResult> results, Snapshot snapshot)
{
    cloudResults_ = std::move(results);
    cloudRunning_ = false;
    cloudProgress_.reset();
    cloudSelected_ = withoutDone(std::move(cloudSelected_), cloudResults_);
    const Shown shown = applySnapshot(snapshot);

    emit cloudResultsChanged();
    emit cloudBusyChanged();
    emit cloudProgressChanged();
    emit cloudSelectionChanged();
    emitShown(shown);
    emit changed();

    scanCloud();
}

} // namespace Quandril::App
