#include "Support/ScriptedEngine.h"

#include <chrono>

#include <QCoreApplication>
#include <QThread>

#include "Support/MiniCatalog.h"

namespace Quandril::AppTesting {

namespace {

RecordedCall callOf(EngineCall kind)
{
    RecordedCall call;
    call.kind = kind;
    return call;
}

} // namespace

class ScriptedEngine::Inside {
public:
    Inside(ScriptedEngine& engine, EngineCall kind)
        : engine_(engine)
        , kind_(kind)
    {
    }
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;
    ~Inside()
    {
        std::lock_guard guard(engine_.lock_);
        --engine_.inside_[kind_];
        engine_.changed_.notify_all();
    }

private:
    ScriptedEngine& engine_;
    EngineCall kind_;
};

ScriptedEngine::Inside ScriptedEngine::enter(RecordedCall call)
{
    const EngineCall kind = call.kind;
    QCoreApplication* app = QCoreApplication::instance();
    call.onGuiThread = app && QThread::currentThread() == app->thread();
    std::unique_lock guard(lock_);
    calls_.push_back(std::move(call));
    const int now = ++inside_[kind];
    most_[kind] = std::max(most_[kind], now);
    changed_.notify_all();
    changed_.wait(guard, [&] { return held_.count(kind) == 0; });
    return Inside(*this, kind);
}

void ScriptedEngine::hold(EngineCall kind)
{
    std::lock_guard guard(lock_);
    held_.insert(kind);
}

void ScriptedEngine::release(EngineCall kind)
{
    std::lock_guard guard(lock_);
    held_.erase(kind);
    changed_.notify_all();
}

bool ScriptedEngine::waitForCalls(EngineCall kind, int count, int timeoutMs)
{
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        return std::count_if(calls_.begin(), calls_.end(), [&](const RecordedCall& c) { return c.kind == kind; })
            >= count;
    });
}

bool ScriptedEngine::waitForIdle(EngineCall kind, int timeoutMs)
{
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return inside_[kind] == 0; });
}

std::vector<RecordedCall> ScriptedEngine::calls() const
{
    std::lock_guard guard(lock_);
    return calls_;
}

std::vector<RecordedCall> ScriptedEngine::calls(EngineCall kind) const
{
    std::vector<RecordedCall> out;
    for (auto& call : calls()) {
        if (call.kind == kind)
            out.push_back(call);
    }
    return out;
}

int ScriptedEngine::count(EngineCall kind) const
{
    return static_cast<int>(calls(kind).size());
}

int ScriptedEngine::mostAtOnce(EngineCall kind) const
{
    std::lock_guard guard(lock_);
    auto it = most_.find(kind);
    return it == most_.end() ? 0 : it->second;
}

std::vector<EngineCall> ScriptedEngine::order() const
{
    std::vector<EngineCall> out;
    for (auto& call : calls())
        out.push_back(call.kind);
    return out;
}

std::optional<Catalog> ScriptedEngine::loadCatalog()
{
    auto inside = enter(callOf(EngineCall::catalog));
    return onCatalog ? onCatalog() : std::optional<Catalog>(smallCatalog());
}

ScanReport ScriptedEngine::status(const Mac& mac)
{
    auto inside = enter(callOf(EngineCall::status));
    return onStatus ? onStatus(mac) : LiveEngine::status(mac);
}

History::Loaded ScriptedEngine::readHistory(const Mac& mac)
{
    auto inside = enter(callOf(EngineCall::history));
    return onHistory ? onHistory(mac) : LiveEngine::readHistory(mac);
}

std::vector<bool> ScriptedEngine::putBackOffers(const std::vector<HistoryEntry>& entries, const Mac& mac)
{
    auto inside = enter(callOf(EngineCall::putBackOffers));
    return onPutBackOffers ? onPutBackOffers(entries, mac) : LiveEngine::putBackOffers(entries, mac);
}

std::string ScriptedEngine::whyNoHistoryLine(const Mac& mac)
{
    auto inside = enter(callOf(EngineCall::historyLine));
    return onHistoryLine ? onHistoryLine(mac) : LiveEngine::whyNoHistoryLine(mac);
}

ScanReport ScriptedEngine::scan(const Mac& mac, const Catalog& catalog, const ScanOptions& options)
{
    RecordedCall call = callOf(EngineCall::scan);
    call.scanOptions = options;
    auto inside = enter(std::move(call));
    return onScan ? onScan(mac, catalog, options) : LiveEngine::scan(mac, catalog, options);
}

std::vector<CleanResult> ScriptedEngine::clean(const std::vector<std::string>& ids, const Mac& mac,
                                               const Catalog& catalog, const CleanOptions& options)
{
    RecordedCall call = callOf(EngineCall::clean);
    call.ids = ids;
    call.cleanOptions = options;
    auto inside = enter(std::move(call));
    return onClean ? onClean(ids, options) : LiveEngine::clean(ids, mac, catalog, options);
}

CleanResult ScriptedEngine::undo(const std::string& id, const Mac& mac, bool dryRun, const std::function<bool()>& stop)
{
    RecordedCall call = callOf(EngineCall::undo);
    call.ids = { id };
    call.dryRun = dryRun;
    call.stop = stop;
    auto inside = enter(std::move(call));
    return onUndo ? onUndo(id) : LiveEngine::undo(id, mac, dryRun, stop);
}

CloudScan ScriptedEngine::scanCloud(const Mac& mac, const std::optional<std::vector<DriveInfo>>& drives,
                                    std::int64_t minBytes, std::int64_t bigBytes, std::int64_t sizeOnlyBytes)
{
    RecordedCall call = callOf(EngineCall::scanCloud);
    call.cloudScanArgs = { minBytes, bigBytes, sizeOnlyBytes };
    call.cloudScanDrivesGiven = drives.has_value();
    auto inside = enter(std::move(call));
    return onScanCloud ? onScanCloud(mac) : LiveEngine::scanCloud(mac, drives, minBytes, bigBytes, sizeOnlyBytes);
}

std::vector<CleanResult> ScriptedEngine::cleanCloud(const std::vector<std::string>& ids, const CloudScan& scan,
                                                    const Mac& mac, const CloudOptions& options,
                                                    const ICloud::Progress& progress, const ICloud::Stop& stop)
{
    RecordedCall call = callOf(EngineCall::cleanCloud);
    call.ids = ids;
    call.cloudOptions = options;
    call.cloudScan = scan;
    auto inside = enter(std::move(call));
    return onCleanCloud ? onCleanCloud(ids, scan, progress, stop)
                        : LiveEngine::cleanCloud(ids, scan, mac, options, progress, stop);
}

Catalog smallCatalog()
{
    Catalog catalog = Testing::miniCatalog();
    auto old = Testing::place("old-caches", "~/Library/Caches/old");
    old.tier = Tier::reinstallable;
    old.action = Action::trash();
    auto build = Testing::place("build-caches", "~/Library/Caches/build");
    catalog.places = { old, build };
    return catalog;
}

Finding finding(std::string id, std::int64_t bytes, Tier tier, std::string drive)
{
    Finding out;
    out.id = std::move(id);
    out.finder = "places";
    out.title = "Title of " + out.id;
    out.reason = "A reason.";
    out.getBack = "A way back.";
    out.tier = tier;
    out.bytes = bytes;
    out.paths = { "~/Library/Caches/" + out.id };
    out.drive = std::move(drive);
    out.action = Action::trash();
    return out;
}

CleanResult result(std::string id, CleanResult::Status status, std::string detail, std::int64_t bytes)
{
    CleanResult out;
    out.title = "Title of " + id;
    out.id = std::move(id);
    out.status = status;
    out.detail = std::move(detail);
    out.bytes = bytes;
    return out;
}

HistoryEntry historyEntry(std::string id, TimePoint at)
{
    HistoryEntry entry;
    entry.at = at;
    entry.title = "Title of " + id;
    entry.id = std::move(id);
    entry.action = Action::Kind::trash;
    entry.bytes = 1000;
    return entry;
}

ScanReport reportWith(const Mac& mac, std::vector<Finding> findings)
{
    ScanReport report;
    report.engine = engineName();
    report.drives = mac.drives();
    report.findings = std::move(findings);
    return report;
}

CloudScan cloudScanWith(const std::vector<std::string>& itemIDs, std::int64_t bytes)
{
    CloudScan scan;
    CopyGroup group;
    group.name = "Report.pdf";
    group.bytes = bytes;
    group.keep = "/Users/me/Documents/Report.pdf";
    group.keepPlace = "this Mac";
    group.sameName = true;
    for (const std::string& id : itemIDs) {
        CloudItem item;
        item.id = id;
        item.path = "/Users/me/Library/Mobile Documents/com~apple~CloudDocs/" + id + ".pdf";
        item.bytes = bytes;
        item.onMac = true;
        group.items.push_back(item);
    }
    scan.groups = { group };
    scan.files = static_cast<std::int64_t>(itemIDs.size()) + 1;
    return scan;
}

} // namespace Quandril::AppTesting
