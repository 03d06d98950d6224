// The model's engine work: guards, what each task is given, the order of publication, the
// iCloud cleanup's progress and stop, put-backs one at a time, quitting, and engine failures.

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <system_error>

#include <QSemaphore>
#include <QtTest>

#include "QuandrilApp/Model/TaskPool.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "Support/ModelFixture.h"
#include "Support/SignalRecorder.h"

using namespace Quandril;
using namespace Quandril::App;
using namespace Quandril::AppTesting;

using Step = std::function<void(ModelFixture&)>;
Q_DECLARE_METATYPE(Step)

namespace {

// Answers for every engine call: a scan finds a, b and c (Trash: 5000 bytes); a clean-up does a,
// refuses b and fails c; put-backs are done; an iCloud scan finds i1 and i2, an iCloud cleanup
// reports one line, moves i1 and refuses i2; each reading of History holds one more entry (h1,
// h2, …) and each reading of the drives finds 1000 bytes more in the Trash.
void script(ModelFixture& f)
{
    auto histories = std::make_shared<std::atomic<int>>(0);
    auto statuses = std::make_shared<std::atomic<int>>(0);
    f.engine->onHistory = [histories](const Mac&) {
        std::vector<HistoryEntry> entries;
        for (int i = 1, n = ++*histories; i <= n; ++i)
            entries.push_back(historyEntry("h" + std::to_string(i), {}));
        return History::Loaded { std::move(entries), {} };
    };
    f.engine->onStatus = [statuses](const Mac&) {
        ScanReport status;
        status.trashBytes = 1000 * ++*statuses;
        return status;
    };
    f.engine->onScan = [](const Mac& mac, const Catalog&, const ScanOptions&) {
        auto report = reportWith(mac, { finding("a", 10), finding("b", 20), finding("c", 30) });
        report.trashBytes = 5000;
        return report;
    };
    f.engine->onClean = [](const std::vector<std::string>&, const CleanOptions&) {
        return std::vector { result("a", CleanResult::Status::done), result("b", CleanResult::Status::refused),
                             result("c", CleanResult::Status::failed) };
    };
    f.engine->onUndo = [](const std::string& id) { return result(id, CleanResult::Status::done); };
    f.engine->onScanCloud = [](const Mac&) { return cloudScanWith({ "i1", "i2" }); };
    f.engine->onCleanCloud = [](const std::vector<std::string>&, const CloudScan&, const ICloud::Progress& progress,
                                const ICloud::Stop&) {
        progress("Parking:i1");
        return std::vector { result("i1", CleanResult::Status::done), result("i2", CleanResult::Status::refused) };
    };
}

Model& scriptedModel(ModelFixture& f)
{
    script(f);
    return f.make();
}

void cloudScanned(ModelFixture& f)
{
    f.model->setCloudEnabled(true);
    f.model->scanCloud();
    QVERIFY(f.settle());
}

QString callCounts(const ScriptedEngine& e)
{
    return QStringLiteral("scan=%1 clean=%2 undo=%3 scanCloud=%4 cleanCloud=%5")
        .arg(e.count(EngineCall::scan))
        .arg(e.count(EngineCall::clean))
        .arg(e.count(EngineCall::undo))
        .arg(e.count(EngineCall::scanCloud))
        .arg(e.count(EngineCall::cleanCloud));
}

// The published fields named, as publishedState writes them.
QString fieldsOf(const Model& model, const QStringList& fields)
{
    QStringList out = publishedState(model).split(QLatin1Char(' '));
    out.removeIf([&](const QString& field) { return !fields.contains(field.section(QLatin1Char('='), 0, 0)); });
    return out.join(QLatin1Char(' '));
}

// Runs of signals that saw the same state, as "signal,signal,…: state".
QStringList steps(const SignalRecorder& recorder)
{
    QStringList out;
    QString state;
    for (const QString& entry : recorder.entries()) {
        const QString name = entry.section(QLatin1Char(' '), 0, 0), seen = entry.section(QLatin1Char(' '), 1);
        if (!out.isEmpty() && seen == state)
            out.last().insert(out.last().indexOf(QLatin1Char(':')), "," + name);
        else
            out << name + ": " + seen;
        state = seen;
    }
    return out;
}

[[noreturn]] void fail()
{
    throw std::runtime_error("The disk went away.");
}

std::string joined(const std::vector<std::string>& ids)
{
    std::string out;
    for (const auto& id : ids)
        out += (out.empty() ? "" : ",") + id;
    return out;
}

std::string scanText(const ScanOptions& o)
{
    std::string extra;
    for (const auto& p : o.extraProtected)
        extra += p.path + ";";
    return "minimum=" + (o.minimumBytes ? std::to_string(*o.minimumBytes) : "-")
        + " now=" + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(o.now.time_since_epoch()).count())
        + " extra=" + extra + " avoidPrompts=" + std::to_string(o.avoidPrivacyPrompts);
}

// What an engine call was given, on one line; readings of the catalog, drives and History are "reading".
QString callText(const RecordedCall& c)
{
    using std::to_string;
    std::string out = "reading";
    if (c.kind == EngineCall::scan)
        out = "scan " + scanText(*c.scanOptions);
    else if (const auto& o = c.cleanOptions)
        out = "clean " + joined(c.ids) + " dryRun=" + to_string(o->dryRun)
            + " cautioned=" + to_string(o->includeCautioned) + " permanent=" + to_string(o->permanentCaches)
            + " moveTo=" + o->moveTo.value_or("-") + " linkMove=" + to_string(o->linkMove) + " " + scanText(o->scan);
    else if (c.kind == EngineCall::undo)
        out = "undo " + joined(c.ids) + " dryRun=" + to_string(c.dryRun);
    else if (c.kind == EngineCall::scanCloud)
        out = "scanCloud drives=" + std::string(c.cloudScanDrivesGiven ? "given" : "-") + " sizes="
            + to_string(c.cloudScanArgs[0]) + "," + to_string(c.cloudScanArgs[1]) + "," + to_string(c.cloudScanArgs[2]);
    else if (const auto& o = c.cloudOptions)
        out = "cleanCloud " + joined(c.ids) + " drive=" + o->drive + " chunk=" + to_string(o->chunkBytes)
            + " margin=" + to_string(o->marginBytes) + " agreed=" + to_string(o->agreed)
            + " dryRun=" + to_string(o->dryRun) + " items=" + to_string(c.cloudScan->items().size());
    return QString::fromStdString(out) + (c.onGuiThread ? " (GUI thread)" : "");
}

} // namespace

class ModelWorkTests : public QObject {
    Q_OBJECT

private slots:
    void eachOperationRunsOnceAtATime_data()
    {
        QTest::addColumn<Step>("act");
        QTest::addColumn<QString>("calls");
        QTest::newRow("scan while scanning") << Step([](ModelFixture& f) {
            f.engine->hold(EngineCall::scan);
            f.model->scan();
            QVERIFY(f.engine->waitForCalls(EngineCall::scan, 1));
            f.model->scan();
        }) << "scan=1 clean=0 undo=0 scanCloud=0 cleanCloud=0";
        QTest::newRow("clean-up while cleaning") << Step([](ModelFixture& f) {
            f.engine->hold(EngineCall::clean);
            f.model->clean({ "a" }, false, std::nullopt);
            QVERIFY(f.engine->waitForCalls(EngineCall::clean, 1));
            f.model->clean({ "b" }, false, std::nullopt);
        }) << "scan=1 clean=1 undo=0 scanCloud=0 cleanCloud=0";
        QTest::newRow("a clean-up ending during a scan starts no second scan") << Step([](ModelFixture& f) {
            f.engine->hold(EngineCall::scan);
            f.model->scan();
            QVERIFY(f.engine->waitForCalls(EngineCall::scan, 1));
            f.model->clean({ "a" }, false, std::nullopt);
            QVERIFY(waitUntil([&] { return !f.model->cleaning(); }));
        }) << "scan=1 clean=1 undo=0 scanCloud=0 cleanCloud=0";
        QTest::newRow("iCloud scan switched off") << Step([](ModelFixture& f) {
            f.model->scanCloud();
            QVERIFY(!f.model->cloudScanning());
        }) << "scan=0 clean=0 undo=0 scanCloud=0 cleanCloud=0";
        QTest::newRow("iCloud scan while one runs") << Step([](ModelFixture& f) {
            f.model->setCloudEnabled(true);
            f.engine->hold(EngineCall::scanCloud);
            f.model->scanCloud();
            QVERIFY(f.engine->waitForCalls(EngineCall::scanCloud, 1));
            f.model->scanCloud();
        }) << "scan=0 clean=0 undo=0 scanCloud=1 cleanCloud=0";
        QTest::newRow("iCloud cleanup without a scan") << Step([](ModelFixture& f) {
            f.model->setCloudSelected({ "i1" });
            f.model->cleanCloud("Backup", 5'000'000'000, true);
        }) << "scan=0 clean=0 undo=0 scanCloud=0 cleanCloud=0";
        QTest::newRow("iCloud cleanup with nothing chosen") << Step([](ModelFixture& f) {
            cloudScanned(f);
            f.model->cleanCloud("Backup", 5'000'000'000, true);
            QVERIFY(!f.model->cloudRunning());
        }) << "scan=0 clean=0 undo=0 scanCloud=1 cleanCloud=0";
        QTest::newRow("iCloud cleanup while one runs") << Step([](ModelFixture& f) {
            cloudScanned(f);
            f.model->setCloudSelected({ "i1" });
            f.engine->hold(EngineCall::cleanCloud);
            f.model->cleanCloud("Backup", 5'000'000'000, true);
            QVERIFY(f.engine->waitForCalls(EngineCall::cleanCloud, 1));
            f.model->cleanCloud("Backup", 5'000'000'000, true);
        }) << "scan=0 clean=0 undo=0 scanCloud=2 cleanCloud=1";
        QTest::newRow("no catalog: no scan, no clean-up") << Step([](ModelFixture& f) {
            f.engine->onCatalog = [] { return std::nullopt; };
            f.make();
            f.model->scan();
            QVERIFY(waitUntil([&] { return !f.model->scanning(); }));
            f.model->clean({ "a" }, false, std::nullopt);
            QVERIFY(!f.model->cleaning() && !f.model->catalog());
            QCOMPARE(QString::fromStdString(f.model->scanFailure().value_or("-")),
                     QString::fromUtf8(CatalogError::notFound().what()));
        }) << "scan=0 clean=0 undo=0 scanCloud=0 cleanCloud=0";
        QTest::newRow("an unreadable catalog: the scan says why") << Step([](ModelFixture& f) {
            f.engine->onCatalog = []() -> std::optional<Catalog> {
                throw std::system_error(EACCES, std::generic_category(), "Couldn't read the rules at /rules.json");
            };
            f.make();
            f.model->scan();
            QVERIFY(waitUntil([&] { return !f.model->scanning(); }));
            QVERIFY(!f.model->catalog());
            QCOMPARE(QString::fromStdString(f.model->scanFailure().value_or("-")),
                     QStringLiteral("Couldn't read the rules at /rules.json: Permission denied"));
        }) << "scan=0 clean=0 undo=0 scanCloud=0 cleanCloud=0";
        QTest::newRow("rules put back: the next scan loads them, off the GUI thread") << Step([](ModelFixture& f) {
            f.engine->onCatalog = [] { return std::nullopt; };
            f.make();
            f.model->scan();
            QVERIFY(waitUntil([&] { return !f.model->scanning(); }));
            QVERIFY(f.model->scanFailure() && !f.model->catalog());
            f.engine->onCatalog = [] { return smallCatalog(); };
            f.model->scan();
            QVERIFY(waitUntil([&] { return !f.model->scanning(); }));
            QVERIFY(f.model->report() && !f.model->scanFailure() && f.model->catalog());
            f.model->clean({ "a" }, false, std::nullopt);
            QVERIFY(waitUntil([&] { return !f.model->cleaning(); }));
            QStringList loads;
            for (const RecordedCall& call : f.engine->calls(EngineCall::catalog))
                loads << (call.onGuiThread ? "GUI thread" : "pool");
            QCOMPARE(loads, (QStringList { "GUI thread", "GUI thread", "pool", "pool" }));
        }) << "scan=2 clean=1 undo=0 scanCloud=0 cleanCloud=0";
    }

    void eachOperationRunsOnceAtATime()
    {
        QFETCH(Step, act);
        QFETCH(QString, calls);
        ModelFixture f;
        scriptedModel(f);
        act(f);
        for (EngineCall kind :
             { EngineCall::scan, EngineCall::clean, EngineCall::undo, EngineCall::scanCloud, EngineCall::cleanCloud })
            f.engine->release(kind);
        QVERIFY(f.settle());
        QCOMPARE(callCounts(*f.engine), calls);
    }

    void tasksGetTheirOptionsOffTheGuiThread()
    {
        ModelFixture f;
        Model& model = scriptedModel(f);
        model.addProtectedPath("~/Keep");
        model.scan();
        QVERIFY(f.settle());
        f.access->granted = false; // Full Disk Access taken away between two scans
        f.clock->set(TimePoint(std::chrono::seconds(1'800'000'000)));
        model.clean({ "b", "a" }, true, "Backup");
        QVERIFY(f.settle());
        model.undo("h1");
        QVERIFY(f.settle());
        cloudScanned(f);
        model.setCloudSelected({ "i2", "i1" });
        model.cleanCloud("Backup", 2'000'000'000, false);
        QVERIFY(f.settle());

        QStringList seen;
        for (const RecordedCall& call : f.engine->calls())
            seen << callText(call);
        const QString scanned = "minimum=- now=1800000000 extra=~/Keep; avoidPrompts=1";
        // Start-up reads the catalog and the drives on the GUI thread; History and what it can put
        // back on the pool.
        QCOMPARE(seen,
                 (QStringList {
                     "reading (GUI thread)",
                     "reading (GUI thread)",
                     "reading",
                     "reading",
                     "scan minimum=- now=1700000000 extra=~/Keep; avoidPrompts=0",
                     "clean b,a dryRun=0 cautioned=1 permanent=0 moveTo=Backup linkMove=1 " + scanned,
                     "reading",
                     "reading",
                     "reading",
                     "scan " + scanned,
                     "undo h1 dryRun=0",
                     "reading",
                     "reading",
                     "reading",
                     "scan " + scanned,
                     "scanCloud drives=- sizes=20000000,1000000000,100000000",
                     "cleanCloud i1,i2 drive=Backup chunk=2000000000 margin=5000000000 agreed=0 dryRun=0 items=2",
                     "reading",
                     "reading",
                     "reading",
                     "scanCloud drives=- sizes=20000000,1000000000,100000000" }));
    }

    // Each outcome is published in one step, in a fixed order; then comes the follow-up.
    void publicationOrder_data()
    {
        QTest::addColumn<Step>("prepare");
        QTest::addColumn<Step>("act");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QStringList>("expected");
        const Step none = [](ModelFixture&) {};
        QTest::newRow("scan") << Step([](ModelFixture& f) {
            f.model->setSelected({ "a", "gone" });
        }) << Step([](ModelFixture& f) { f.model->scan(); })
                              << QStringList { "report", "status", "scanning", "selected" }
                              << QStringList { "busyChanged,changed: report=- status=1000 scanning=1 selected=a,gone",
                                               "reportChanged,statusChanged,busyChanged,selectionChanged,changed: "
                                               "report=3 status=5000 scanning=0 selected=a" };
        QTest::newRow("clean-up")
            << Step([](ModelFixture& f) {
                   f.model->scan();
                   QVERIFY(f.settle());
                   f.model->setSelected({ "a", "b", "c" });
               })
            << Step([](ModelFixture& f) {
                   f.model->clean({ "a", "b", "c" }, false, std::nullopt);
               })
            << QStringList { "status", "scanning", "selected", "results", "cleaning", "history" }
            << QStringList {
                   "busyChanged,changed: status=5000 scanning=0 selected=a,b,c results= cleaning=1 history=h1",
                   "resultsChanged,busyChanged,selectionChanged,historyChanged,statusChanged,changed: "
                   "status=2000 scanning=0 selected=b,c results=a:done,b:refused,c:failed cleaning=0 history=h2,h1",
                   "busyChanged,changed: status=2000 scanning=1 selected=b,c results=a:done,b:refused,c:failed cleaning=0 history=h2,h1",
                   "reportChanged,statusChanged,busyChanged,selectionChanged,changed: "
                   "status=5000 scanning=0 selected=b,c results=a:done,b:refused,c:failed cleaning=0 history=h2,h1"
               };
        QTest::newRow("put-back")
            << none << Step([](ModelFixture& f) { f.model->undo("h1"); })
            << QStringList { "status", "scanning", "results", "history", "putting" }
            << QStringList { "puttingBackChanged,changed: status=1000 scanning=0 results= history=h1 putting=h1",
                             "resultsChanged,puttingBackChanged,historyChanged,statusChanged,changed: "
                             "status=2000 scanning=0 results=h1:done history=h2,h1 putting=",
                             "busyChanged,changed: status=2000 scanning=1 results=h1:done history=h2,h1 putting=",
                             "reportChanged,statusChanged,busyChanged,selectionChanged,changed: "
                             "status=5000 scanning=0 results=h1:done history=h2,h1 putting=" };
        QTest::newRow("put-back, History then refused")
            << Step([](ModelFixture& f) {
                   f.engine->onHistory = [](const Mac&) {
                       return History::Loaded { {},
                                                "the History file may be written by others, so Gorrin won't use it" };
                   };
               })
            << Step([](ModelFixture& f) { f.model->undo("h1"); }) << QStringList { "scanning", "results", "history" }
            << QStringList { "puttingBackChanged,changed: scanning=0 results= history=h1",
                             "resultsChanged,puttingBackChanged,historyChanged,statusChanged,changed: "
                             "scanning=0 results=h1:done history=(refused)",
                             "busyChanged,changed: scanning=1 results=h1:done history=(refused)",
                             "reportChanged,statusChanged,busyChanged,selectionChanged,changed: "
                             "scanning=0 results=h1:done history=(refused)" };
        QTest::newRow("iCloud scan")
            << Step([](ModelFixture& f) {
                   f.model->setCloudEnabled(true);
                   f.model->setCloudSelected({ "i2", "gone" });
               })
            << Step([](ModelFixture& f) { f.model->scanCloud(); })
            << QStringList { "cloudScan", "cloudScanning", "cloudSelected" }
            << QStringList { "cloudBusyChanged,changed: cloudScan=- cloudScanning=1 cloudSelected=gone,i2",
                             "cloudScanChanged,cloudBusyChanged,cloudSelectionChanged,changed: "
                             "cloudScan=2 cloudScanning=0 cloudSelected=i2" };
        QTest::newRow("iCloud cleanup")
            << Step([](ModelFixture& f) {
                   cloudScanned(f);
                   f.model->setCloudSelected({ "i1", "i2" });
               })
            << Step([](ModelFixture& f) { f.model->cleanCloud("Backup", 5'000'000'000, true); })
            << QStringList { "status",       "history",  "cloudScanning", "cloudSelected",
                             "cloudRunning", "progress", "cloudResults" }
            << QStringList {
                   "cloudBusyChanged,changed: status=1000 history=h1 cloudScanning=0 cloudSelected=i1,i2 cloudRunning=1 progress=- cloudResults=",
                   "cloudProgressChanged,changed: status=1000 history=h1 cloudScanning=0 cloudSelected=i1,i2 cloudRunning=1 progress=Parking:i1 cloudResults=",
                   "cloudResultsChanged,cloudBusyChanged,cloudProgressChanged,cloudSelectionChanged,historyChanged,statusChanged,changed: "
                   "status=2000 history=h2,h1 cloudScanning=0 cloudSelected=i2 cloudRunning=0 progress=- cloudResults=i1:done,i2:refused",
                   "cloudBusyChanged,changed: status=2000 history=h2,h1 cloudScanning=1 cloudSelected=i2 cloudRunning=0 progress=- cloudResults=i1:done,i2:refused",
                   "cloudScanChanged,cloudBusyChanged,cloudSelectionChanged,changed: "
                   "status=2000 history=h2,h1 cloudScanning=0 cloudSelected=i2 cloudRunning=0 progress=- cloudResults=i1:done,i2:refused"
               };
    }

    void publicationOrder()
    {
        QFETCH(Step, prepare);
        QFETCH(Step, act);
        QFETCH(QStringList, fields);
        QFETCH(QStringList, expected);
        ModelFixture f;
        Model& model = scriptedModel(f);
        prepare(f);
        SignalRecorder recorder(&model, [&] { return fieldsOf(model, fields); });
        act(f);
        QVERIFY(f.settle());
        QCOMPARE(steps(recorder), expected);
    }

    void aReadingOlderThanTheShownStatusIsNotShown()
    {
        ModelFixture f;
        script(f);
        f.engine->onCatalog = [] { return std::nullopt; }; // no follow-up scan
        Model& model = f.make();
        model.undo("h1");
        QVERIFY(TaskPool::shared().waitForDone(20000)); // its reading is taken and on its way
        ScanReport fresh;
        fresh.trashBytes = 42;
        model.setStatus(fresh);
        QVERIFY(f.settle());
        QCOMPARE(fieldsOf(model, { "status", "history", "results" }), "status=42 results=h1:done history=h2,h1");
    }

    // A reading of the drives that ends while a scan runs is older than the scan's report.
    void aScanShowsItsStatusOverAReadingThatEndedWhileItRan()
    {
        ModelFixture f;
        Model& model = scriptedModel(f);
        f.engine->hold(EngineCall::scan);
        model.scan();
        QVERIFY(f.engine->waitForCalls(EngineCall::scan, 1));
        f.engine->hold(EngineCall::status);
        model.refreshStatus();
        QVERIFY(f.engine->waitForCalls(EngineCall::status, 2)); // the first was the model's start
        f.engine->release(EngineCall::status);
        QVERIFY(waitUntil([&] { return model.status().trashBytes == 2000; }));
        f.engine->release(EngineCall::scan);
        QVERIFY(f.settle());
        QCOMPARE(fieldsOf(model, { "report", "status" }), "report=3 status=5000");
    }

    void cloudProgressStopsWithItsCleanupAndAStopTakesEffectBeforeTheNextItem()
    {
        ModelFixture f;
        Model& model = scriptedModel(f);
        QSemaphore firstDone, stopAsked;
        ICloud::Progress kept;
        std::vector<bool> stops;
        f.engine->onCleanCloud = [&](const std::vector<std::string>& ids, const CloudScan&,
                                     const ICloud::Progress& progress, const ICloud::Stop& stop) {
            kept = progress;
            std::vector<CleanResult> results;
            for (const std::string& id : ids) {
                stops.push_back(stop());
                if (stops.back())
                    break;
                progress("Parking:" + id);
                results.push_back(result(id, CleanResult::Status::done));
                firstDone.release();
                stopAsked.acquire();
            }
            return results;
        };
        cloudScanned(f);
        model.cloudStop().set(true); // asked while nothing runs: forgotten at the next start
        model.setCloudSelected({ "i1", "i2" });
        SignalRecorder recorder(&model, [&] { return fieldsOf(model, { "progress", "cloudRunning" }); });
        model.cleanCloud("Backup", 5'000'000'000, true);
        firstDone.acquire();
        model.cloudStop().set(true);
        stopAsked.release();
        QVERIFY(f.settle());

        QCOMPARE(stops, (std::vector { false, true }));
        QCOMPARE(fieldsOf(model, { "cloudSelected", "cloudResults", "progress" }),
                 "cloudSelected=i2 progress=- cloudResults=i1:done");
        recorder.clear();
        kept("A line after the end");
        QVERIFY(f.settle());
        QCOMPARE(recorder.entries(), QStringList());
        QCOMPARE(model.cloudStop().isOn(), true); // cleared only when a cleanup starts
    }

    void putBacksRunOneAfterAnother()
    {
        ModelFixture f;
        Model& model = scriptedModel(f);
        f.engine->hold(EngineCall::undo);
        model.undo("x");
        model.undo("y");
        model.undo("x");
        QVERIFY(f.engine->waitForCalls(EngineCall::undo, 1));
        QCOMPARE(model.puttingBack(), (std::set<std::string> { "x", "y" }));
        f.engine->release(EngineCall::undo);
        QVERIFY(f.settle());
        std::vector<std::string> ids;
        for (const auto& call : f.engine->calls(EngineCall::undo))
            ids.push_back(call.ids.at(0));
        QCOMPARE(ids, (std::vector<std::string> { "x", "y" }));
        QCOMPARE(f.engine->mostAtOnce(EngineCall::undo), 1);
        QCOMPARE(fieldsOf(model, { "results", "putting" }), "results=y:done putting=");
    }

    void quittingWaitsForNoTaskAndStopsTheICloudCleanup()
    {
        ModelFixture f;
        Model& model = scriptedModel(f);
        std::atomic<bool> stopSeen { false };
        f.engine->onCleanCloud = [&](const std::vector<std::string>&, const CloudScan&, const ICloud::Progress&,
                                     const ICloud::Stop& stop) {
            stopSeen = stop();
            return std::vector<CleanResult>();
        };
        cloudScanned(f);
        model.setCloudSelected({ "i1" });
        f.engine->hold(EngineCall::scan);
        f.engine->hold(EngineCall::cleanCloud);
        model.scan();
        model.cleanCloud("Backup", 5'000'000'000, true);
        QVERIFY(f.engine->waitForCalls(EngineCall::cleanCloud, 1) && f.engine->waitForCalls(EngineCall::scan, 1));

        f.model.reset();
        QVERIFY(!f.engine->waitForIdle(EngineCall::scan, 0)); // both tasks still inside the engine
        QVERIFY(!f.engine->waitForIdle(EngineCall::cleanCloud, 0));
        f.engine->release(EngineCall::scan);
        f.engine->release(EngineCall::cleanCloud);
        QVERIFY(TaskPool::shared().waitForDone(20000));
        QCoreApplication::processEvents(); // their outcomes go nowhere
        QVERIFY(stopSeen);
    }

    // An engine call that throws ends its work like any other: the busy flag comes down and the
    // reason reaches the user, in the scan's failure or in each request's result.
    void aThrowingEngineCallEndsItsWorkWithTheReason_data()
    {
        QTest::addColumn<Step>("act");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("state");
        QTest::newRow("scan") << Step([](ModelFixture& f) {
            f.engine->onScan = [](const Mac&, const Catalog&, const ScanOptions&) -> ScanReport { fail(); };
            f.model->scan();
        }) << QStringList { "report", "scanning" }
                              << "report=- scanning=0 failed=The disk went away./-";
        QTest::newRow("clean-up") << Step([](ModelFixture& f) {
            f.engine->onClean = [](const std::vector<std::string>&, const CleanOptions&) -> std::vector<CleanResult> {
                fail();
            };
            f.model->setSelected({ "a" });
            f.model->clean({ "a" }, false, std::nullopt);
        }) << QStringList { "results", "cleaning", "selected" }
                                  << "selected=a results=a:failed cleaning=0 failed=-/-";
        QTest::newRow("put-back") << Step([](ModelFixture& f) {
            f.engine->onUndo = [](const std::string&) -> CleanResult { fail(); };
            f.model->undo("h1");
        }) << QStringList { "results", "putting" }
                                  << "results=h1:failed putting= failed=-/-";
        QTest::newRow("iCloud scan") << Step([](ModelFixture& f) {
            f.engine->onScanCloud = [](const Mac&) -> CloudScan { fail(); };
            f.model->setCloudEnabled(true);
            f.model->scanCloud();
        }) << QStringList { "cloudScan", "cloudScanning" }
                                     << "cloudScan=- cloudScanning=0 failed=-/The disk went away.";
        QTest::newRow("iCloud cleanup") << Step([](ModelFixture& f) {
            cloudScanned(f);
            f.engine->onCleanCloud = [](const std::vector<std::string>&, const CloudScan&, const ICloud::Progress&,
                                        const ICloud::Stop&) -> std::vector<CleanResult> { fail(); };
            f.model->setCloudSelected({ "i1" });
            f.model->cleanCloud("Backup", 5'000'000'000, true);
        }) << QStringList { "cloudRunning", "cloudResults", "cloudSelected" }
                                        << "cloudSelected=i1 cloudRunning=0 cloudResults=i1:failed failed=-/-";
    }

    void aThrowingEngineCallEndsItsWorkWithTheReason()
    {
        QFETCH(Step, act);
        QFETCH(QStringList, fields);
        QFETCH(QString, state);
        ModelFixture f;
        Model& model = scriptedModel(f);
        act(f);
        QVERIFY(f.settle());
        // Why each kind of scan failed, "-" for none.
        const auto failed = [&] {
            return QStringLiteral(" failed=%1/%2")
                .arg(QString::fromStdString(model.scanFailure().value_or("-")),
                     QString::fromStdString(model.cloudScanFailure().value_or("-")));
        };
        QCOMPARE(fieldsOf(model, fields) + failed(), state);
        for (const auto* results : { &model.lastResults(), &model.cloudResults() }) {
            for (const CleanResult& result : *results)
                QCOMPARE(result.detail, "The disk went away.");
        }
        // Scanning again forgets a failure as it starts, and publishes what it finds.
        script(f);
        f.engine->hold(EngineCall::scan);
        f.engine->hold(EngineCall::scanCloud);
        model.scan();
        model.scanCloud();
        QCOMPARE(failed(), " failed=-/-");
        f.engine->release(EngineCall::scan);
        f.engine->release(EngineCall::scanCloud);
        QVERIFY(f.settle());
        QCOMPARE(fieldsOf(model, { "report", "scanning" }), "report=3 scanning=0");
    }

    // The real engine on a fake machine: a clean-up, then two presses of Put Back.
    void cleansAndPutsBackForReal()
    {
        ModelFixture f;
        f.machine.file("~/Library/Caches/old/a.bin", 40'000);
        Model& model = f.make();
        model.scan();
        QVERIFY(f.settle());
        QCOMPARE(model.report()->findings.size(), std::size_t(1));
        const std::string id = model.report()->findings[0].id;
        model.setSelected({ id });
        model.clean({ id }, false, std::nullopt);
        QVERIFY(f.settle());
        auto reported = [&] {
            const auto& findings = model.report()->findings;
            return std::any_of(findings.begin(), findings.end(), [&](const Finding& x) { return x.id == id; });
        };
        QVERIFY(!reported()); // the follow-up scan ran
        QCOMPARE(fieldsOf(model, { "selected", "results", "history" }),
                 QString::fromStdString("selected= results=" + id + ":done history=" + id));
        QVERIFY(!QFile::exists(QString::fromStdString(f.machine.at("~/Library/Caches/old"))));
        QVERIFY(model.status().trashBytes >= 40'000);

        model.undo(id);
        model.undo(id);
        QVERIFY(f.settle());
        QCOMPARE(f.engine->count(EngineCall::undo), 1);
        QVERIFY(reported());
        QCOMPARE(fieldsOf(model, { "results" }), QString::fromStdString("results=" + id + ":done"));
        QVERIFY(QFile::exists(QString::fromStdString(f.machine.at("~/Library/Caches/old/a.bin"))));
        QCOMPARE(model.history().size(), std::size_t(2));
    }
};

QTEST_GUILESS_MAIN(ModelWorkTests)
#include "ModelWorkTests.moc"
