// The app's end with a clean-up, an iCloud cleanup and a Put Back under way: each is asked to stop,
// the end waits until each has ended and handed back what it did, and nothing queued starts
// afterwards. An
// executable of its own: the stop, once asked, is never undone.

#include <atomic>
#include <chrono>
#include <thread>

#include <QtTest>

#include "QuandrilApp/Model/TaskPool.h"
#include "Support/ModelFixture.h"

using namespace Quandril;
using namespace Quandril::App;
using namespace Quandril::AppTesting;
using namespace std::chrono_literals;

namespace {

// A large item in hand: it goes on until asked to stop (true), or gives up unasked (false, so a
// stop never passed fails the test rather than hangs it), and then still takes a few seconds to
// end and record what it did.
bool runUntilStopped(const std::function<bool()>& stop)
{
    const auto giveUp = std::chrono::steady_clock::now() + 30s;
    while (!(stop && stop())) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(3s);
    return true;
}

} // namespace

class AppEndTests : public QObject {
    Q_OBJECT

private slots:
    void theEndStopsCleanUpsAndPutBacksAndWaitsForWhatTheyDid()
    {
        ModelFixture f;
        ScriptedEngine* engine = f.engine.get();
        std::atomic<bool> cleanStopped { false };
        std::atomic<bool> putBackStopped { false };
        std::atomic<bool> cloudStopped { false };
        engine->onScan = [](const Mac& mac, const Catalog&, const ScanOptions&) { return reportWith(mac, {}); };
        engine->onClean = [&](const std::vector<std::string>& ids, const CleanOptions& options) {
            cleanStopped = runUntilStopped(options.stop);
            return std::vector { result(ids.at(0), CleanResult::Status::done, "Stopped after 2 of 5.", 200) };
        };
        engine->onUndo = [&, engine](const std::string& id) {
            putBackStopped = runUntilStopped(engine->calls(EngineCall::undo).back().stop);
            return result(id, CleanResult::Status::done, "Put back 6 of 40.", 60);
        };
        engine->onScanCloud = [](const Mac&) { return cloudScanWith({ "i1" }); };
        engine->onCleanCloud = [&](const std::vector<std::string>& ids, const CloudScan&, const ICloud::Progress&,
                                   const ICloud::Stop& stop) {
            cloudStopped = runUntilStopped(stop);
            return std::vector { result(ids.at(0), CleanResult::Status::done, "Parked 1 of 3.", 30) };
        };
        Model& model = f.make();
        model.setCloudEnabled(true);
        model.scanCloud();
        QVERIFY(waitUntil([&] { return engine->count(EngineCall::scanCloud) == 1 && !model.cloudScanning(); }));
        model.setCloudSelected({ "i1" });
        bool cloudPublished = false;
        connect(&model, &Model::cloudResultsChanged, this, [&] {
            cloudPublished = model.cloudResults().size() == 1 && model.cloudResults()[0].detail == "Parked 1 of 3.";
        });
        QStringList published;
        connect(&model, &Model::resultsChanged, this, [&] {
            for (const CleanResult& done : model.lastResults())
                published << QString::fromStdString(done.id + ": " + done.detail);
        });
        model.clean({ "big" }, false, std::nullopt);
        model.undo("h1");
        model.undo("h2"); // waits its turn
        model.cleanCloud("Backup", 5'000'000'000, true);
        QVERIFY(engine->waitForCalls(EngineCall::clean, 1) && engine->waitForCalls(EngineCall::undo, 1)
                && engine->waitForCalls(EngineCall::cleanCloud, 1));

        QVERIFY(TaskPool::stopAndWait());
        // Both ended, and through the stop they were given, before the wait did.
        QVERIFY(engine->waitForIdle(EngineCall::clean, 0) && engine->waitForIdle(EngineCall::undo, 0)
                && engine->waitForIdle(EngineCall::cleanCloud, 0));
        QVERIFY(cleanStopped);
        QVERIFY(putBackStopped);
        QVERIFY(cloudStopped);

        // What each did still reaches the model; the Put Back still queued never starts.
        QVERIFY(waitUntil([&] {
            return published.size() == 2 && cloudPublished && model.puttingBack() == std::set<std::string> { "h2" }
            && !TaskPool::busy();
        }));
        published.sort();
        QCOMPARE(published, (QStringList { "big: Stopped after 2 of 5.", "h1: Put back 6 of 40." }));
        QCOMPARE(engine->count(EngineCall::undo), 1);
    }
};

QTEST_MAIN(AppEndTests)
#include "AppEndTests.moc"
