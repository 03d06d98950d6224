#pragma once

// An engine facade whose calls a test can script, hold and count. Every call not scripted goes to
// the real engine, so a model over a fake machine works end to end by default. Safe from any
// thread: scripts run on the calling (task) thread.
//
//     engine->onScan = [](const Mac&, const Catalog&, const ScanOptions&) { return someReport; };
//     engine->hold(EngineCall::scan);      // calls block inside the engine...
//     model.scan();
//     QVERIFY(engine->waitForCalls(EngineCall::scan, 1));
//     engine->release(EngineCall::scan);   // ...until released

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "QuandrilApp/Model/EngineFacade.h"

namespace Quandril::AppTesting {

enum class EngineCall {
    catalog,
    status,
    history,
    putBackOffers,
    scan,
    clean,
    undo,
    scanCloud,
    cleanCloud,
    historyLine
};

// What one call was given.
struct RecordedCall {
    EngineCall kind = EngineCall::scan;
    std::vector<std::string> ids;             // clean, cleanCloud; undo: the one id
    std::optional<ScanOptions> scanOptions;   // scan
    std::optional<CleanOptions> cleanOptions; // clean
    std::optional<CloudOptions> cloudOptions; // cleanCloud
    std::optional<CloudScan> cloudScan;       // cleanCloud
    std::vector<std::int64_t> cloudScanArgs;  // scanCloud: minBytes, bigBytes, sizeOnlyBytes
    bool cloudScanDrivesGiven = false;        // scanCloud
    bool dryRun = false;                      // undo
    std::function<bool()> stop;               // undo
    bool onGuiThread = false;
};

class ScriptedEngine : public App::LiveEngine {
public:
    // Scripts; set them before the calls they answer. Absent: the real engine answers, except
    // `onCatalog`, which gives `smallCatalog()` unless set.
    std::function<std::optional<Catalog>()> onCatalog;
    std::function<ScanReport(const Mac&)> onStatus;
    std::function<History::Loaded(const Mac&)> onHistory;
    std::function<std::vector<bool>(const std::vector<HistoryEntry>&, const Mac&)> onPutBackOffers;
    std::function<std::string(const Mac&)> onHistoryLine;
    std::function<ScanReport(const Mac&, const Catalog&, const ScanOptions&)> onScan;
    std::function<std::vector<CleanResult>(const std::vector<std::string>&, const CleanOptions&)> onClean;
    std::function<CleanResult(const std::string&)> onUndo;
    std::function<CloudScan(const Mac&)> onScanCloud;
    std::function<std::vector<CleanResult>(const std::vector<std::string>&, const CloudScan&, const ICloud::Progress&,
                                           const ICloud::Stop&)>
        onCleanCloud;

    // Calls of this kind wait inside the engine, after being recorded as started, until released.
    void hold(EngineCall kind);
    void release(EngineCall kind);
    // Blocks the calling thread until `count` calls of the kind have started (true) or the time
    // runs out (false). The GUI thread's events are not processed meanwhile.
    bool waitForCalls(EngineCall kind, int count, int timeoutMs = 20000);
    // Blocks until no call of the kind is inside the engine.
    bool waitForIdle(EngineCall kind, int timeoutMs = 20000);

    std::vector<RecordedCall> calls() const;
    std::vector<RecordedCall> calls(EngineCall kind) const;
    int count(EngineCall kind) const;
    // The most calls of the kind that were inside the engine at one time.
    int mostAtOnce(EngineCall kind) const;
    // The kinds of all calls in the order they started.
    std::vector<EngineCall> order() const;

    std::optional<Catalog> loadCatalog() override;
    ScanReport status(const Mac& mac) override;
    History::Loaded readHistory(const Mac& mac) override;
    std::vector<bool> putBackOffers(const std::vector<HistoryEntry>& entries, const Mac& mac) override;
    std::string whyNoHistoryLine(const Mac& mac) override;
    ScanReport scan(const Mac& mac, const Catalog& catalog, const ScanOptions& options) override;
    std::vector<CleanResult> clean(const std::vector<std::string>& ids, const Mac& mac, const Catalog& catalog,
                                   const CleanOptions& options) override;
    CleanResult undo(const std::string& id, const Mac& mac, bool dryRun, const std::function<bool()>& stop) override;
    CloudScan scanCloud(const Mac& mac, const std::optional<std::vector<DriveInfo>>& drives, std::int64_t minBytes,
                        std::int64_t bigBytes, std::int64_t sizeOnlyBytes) override;
    std::vector<CleanResult> cleanCloud(const std::vector<std::string>& ids, const CloudScan& scan, const Mac& mac,
                                        const CloudOptions& options, const ICloud::Progress& progress,
                                        const ICloud::Stop& stop) override;

private:
    // Records the call, waits while its kind is held; the returned guard marks it finished.
    class Inside;
    Inside enter(RecordedCall call);

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<RecordedCall> calls_;
    std::set<EngineCall> held_;
    std::map<EngineCall, int> inside_;
    std::map<EngineCall, int> most_;
};

// A small catalog for the fake machine: "old-caches" (~/Library/Caches/old, reinstallable, to the
// Trash) and "build-caches" (~/Library/Caches/build, rebuilds itself, deleted).
Catalog smallCatalog();

// A finding as the scanner would report it.
Finding finding(std::string id, std::int64_t bytes, Tier tier = Tier::rebuilds, std::string drive = "/");
// A result of one request.
CleanResult result(std::string id, CleanResult::Status status, std::string detail = "Done.", std::int64_t bytes = 0);
// A history entry of one trashed item.
HistoryEntry historyEntry(std::string id, TimePoint at);
// A scan report with these findings on the fake machine's drives.
ScanReport reportWith(const Mac& mac, std::vector<Finding> findings);
// An iCloud scan with one copy group holding these items, each of `bytes`.
CloudScan cloudScanWith(const std::vector<std::string>& itemIDs, std::int64_t bytes = 50'000'000);

} // namespace Quandril::AppTesting
