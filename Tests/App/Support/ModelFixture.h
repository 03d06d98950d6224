#pragma once

// A model over a fake machine, ready for tests: the machine (one startup drive "Macintosh HD" of
// 500 GB with 100 GB free, as FakeMachine makes it), preferences on a temporary file, a scripted
// engine that answers through the real engine unless told otherwise (catalog: smallCatalog()),
// a Full Disk Access probe the test can switch, and a clock the test can set.
//
//     ModelFixture f;
//     f.machine.file("~/Library/Caches/old/a.bin", 4000);
//     App::Model& model = f.make();
//     model.scan();
//     QVERIFY(f.settle());

#include <atomic>
#include <functional>
#include <memory>

#include <QString>

#include "QuandrilApp/Model/Model.h"
#include "Support/FakeMachine.h"
#include "Support/ScriptedEngine.h"
#include "Support/TempPreferences.h"

namespace Quandril::AppTesting {

class SwitchableAccess final : public App::AccessProbe {
public:
    bool hasFullDiskAccess() const override { return granted.load(); }
    std::atomic<bool> granted { true };
};

class SettableClock final : public App::AppClock {
public:
    TimePoint now() const override { return TimePoint(TimePoint::duration(ticks.load())); }
    void set(TimePoint at) { ticks.store(at.time_since_epoch().count()); }
    std::atomic<TimePoint::rep> ticks { TimePoint(std::chrono::seconds(1'700'000'000)).time_since_epoch().count() };
};

class ModelFixture {
public:
    ModelFixture();
    ~ModelFixture();

    Testing::FakeMachine machine;
    TempPreferences preferences;
    std::shared_ptr<ScriptedEngine> engine = std::make_shared<ScriptedEngine>();
    std::shared_ptr<SwitchableAccess> access = std::make_shared<SwitchableAccess>();
    std::shared_ptr<SettableClock> clock = std::make_shared<SettableClock>();
    std::unique_ptr<App::Model> model;

    // Builds the model over the machine as it is now (call once the machine and the preferences
    // are set up) and waits until it has read History. Replaces an earlier one.
    App::Model& make();
    // The same without waiting: History may still be being read.
    App::Model& start();

    // Processes events until no operation of the model is busy and nothing is waiting (true), or
    // the time runs out (false).
    bool settle(int timeoutMs = 20000);
};

// Processes events until `done` holds (true) or the time runs out (false).
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000);

// The model's published state on one line, for whole-state comparisons and signal snapshots:
// "report=2 status=1000 scanning=0 selected=a,b results=a:done cleaning=0 history=x,y putting=
// cloudScan=3 cloudScanning=0 cloudSelected= cloudRunning=0 progress=- cloudResults=". `report`
// and `cloudScan` count findings and items ("-" when absent); `status` is its Trash size; `history`
// ends with "(refused)" when the engine wouldn't use the history file.
QString publishedState(const App::Model& model);

// A value as its JSON text, for whole-value comparisons in QCOMPARE.
template <typename T>
QString jsonText(const T& value)
{
    return QString::fromStdString(Json::dump(toJson(value)));
}

template <typename T>
QString jsonText(const std::vector<T>& values)
{
    return QString::fromStdString(Json::dump(Json::arrayOf(values)));
}

} // namespace Quandril::AppTesting
