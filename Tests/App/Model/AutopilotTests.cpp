// The autopilot: routine waits (interval rules, huge intervals, sleep), triggers, gates, what it
// cleans and how, notes and notifications, the weekly comparison, and events that outlive it.

#include <atomic>
#include <limits>
#include <stdexcept>

#include <QTimer>
#include <QtTest>

#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Autopilot.h"
#include "QuandrilApp/Platform/MountWatcher.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Platform/WakeWatcher.h"
#include "Support/FakeDesktopServices.h"
#include "Support/ModelFixture.h"

using namespace Quandril;
using namespace Quandril::App;
using namespace Quandril::AppTesting;
using namespace std::chrono_literals;
using S = CleanResult::Status;
using Posts = QList<QPair<QString, QString>>;

namespace {

constexpr qint64 GB = 1'000'000'000;
constexpr qint64 most = std::numeric_limits<qint64>::max();
const QDateTime now = toDateTime(TimePoint(1'700'000'000s));

Finding acting(std::string id, Action::Kind kind, Tier tier = Tier::rebuilds)
{
    Finding out = finding(std::move(id), 1000, tier);
    out.action = Action(kind);
    return out;
}

// Moved by hand, as sleep moves the real one while nothing runs; counts its readings.
class FakeContinuousClock final : public ContinuousClock {
public:
    std::chrono::milliseconds now() const override { return ++reads, std::chrono::milliseconds(ms.load()); }
    std::atomic<std::int64_t> ms { 1'000'000 };
    mutable std::atomic<int> reads { 0 };
};

// The autopilot over a model of one startup drive of 500 GB, 100 GB free (90 GB strictly; the
// test sets both), each reading of the drives finding one more byte in the Trash. Switched on,
// notifications on, goal 200 GB; scans find nothing.
class Rig {
public:
    std::atomic<qint64> free { 100 * GB }, strict { 90 * GB };
    std::atomic<bool> startup { true };
    std::atomic<int> statusReads { 0 };
    ModelFixture f;
    FakeNotifier notifier;
    MountWatcher mounts;
    WakeWatcher wakes;
    std::shared_ptr<FakeContinuousClock> continuous = std::make_shared<FakeContinuousClock>();
    std::unique_ptr<Autopilot> pilot;

    Rig()
    {
        f.clock->set(toTimePoint(now));
        f.engine->onStatus = [this](const Mac&) {
            ScanReport status;
            status.drives = { DriveInfo { "Macintosh HD", "/", startup, 500 * GB, free, strict } };
            status.trashBytes = ++statusReads;
            return status;
        };
        scanFinds({});
        prefs().setBoolean(Keys::autopilotEnabled, true);
        prefs().setBoolean(Keys::notificationsEnabled, true);
        prefs().setString(Keys::goal("/"), QStringLiteral("200GB"));
    }

    Preferences& prefs() { return *f.preferences; }

    Autopilot& make(std::chrono::milliseconds recheck = 1h)
    {
        pilot.reset();
        pilot = std::make_unique<Autopilot>(f.model ? *f.model : f.make(), notifier, &mounts, &wakes, continuous,
                                            recheck);
        return *pilot;
    }

    void scanFinds(std::vector<Finding> findings)
    {
        f.engine->onScan = [findings](const Mac& mac, const Catalog&, const ScanOptions&) {
            return reportWith(mac, findings);
        };
    }

    void cleanGives(std::vector<CleanResult> results)
    {
        scanFinds({ acting("a", Action::Kind::delete_) });
        f.engine->onClean = [results](const std::vector<std::string>&, const CleanOptions&) { return results; };
    }

    bool noted()
    {
        return waitUntil([this] { return pilot->lastRunNote().has_value(); }) && f.settle();
    }
    QString note() const { return pilot->lastRunNote().value_or(QStringLiteral("-")); }
};

using Step = std::function<void(Rig&)>;

Step set(const QString& key, const QVariant& value)
{
    return [=](Rig& rig) { value.isValid() ? void(rig.prefs().set(key, value)) : void(rig.prefs().remove(key)); };
}

Step then(Step first, Step second)
{
    return [=](Rig& rig) { first(rig), second(rig); };
}

QString describe(const ScanOptions& o)
{
    QStringList paths;
    for (const ProtectedPath& path : o.extraProtected)
        paths << QString::fromStdString(path.path + "|" + path.why);
    return QStringLiteral("min=%1 now=%2 protected=%3 privacy=%4")
        .arg(o.minimumBytes ? QString::number(*o.minimumBytes) : "-", toDateTime(o.now).toString(Qt::ISODate),
             paths.join(','), QString::number(o.avoidPrivacyPrompts));
}

} // namespace

Q_DECLARE_METATYPE(Step)

class AutopilotTests : public QObject {
    Q_OBJECT
private slots:
    void routineWaitFollowsTheInterval_data()
    {
        QTest::addColumn<QVariant>("stored"); // invalid: nothing stored
        QTest::addColumn<qint64>("waitMs");   // `most`: held at the clock's end
        QTest::newRow("absent") << QVariant() << 600'000ll;
        QTest::newRow("text \"15\"") << QVariant("15") << 600'000ll;
        QTest::newRow("2.5") << QVariant(2.5) << 600'000ll;
        QTest::newRow("0") << QVariant(0) << 60'000ll;
        QTest::newRow("1") << QVariant(1) << 60'000ll;
        QTest::newRow("-5") << QVariant(-5) << 60'000ll;
        QTest::newRow("lowest") << QVariant(std::numeric_limits<qint64>::min()) << 60'000ll;
        QTest::newRow("2") << QVariant(2) << 120'000ll;
        QTest::newRow("seconds fit, milliseconds don't") << QVariant(most / 60) << most;
        QTest::newRow("seconds don't fit") << QVariant(most / 60 + 1) << most;
        QTest::newRow("largest") << QVariant(most) << most;
    }

    void routineWaitFollowsTheInterval()
    {
        QFETCH(QVariant, stored);
        QFETCH(qint64, waitMs);
        Rig rig;
        rig.prefs().setBoolean(Keys::autopilotEnabled, false);
        set(Keys::autopilotIntervalMinutes, stored)(rig);
        const std::int64_t deadline = waitMs == most ? most : rig.continuous->ms + waitMs;
        Autopilot& pilot = rig.make(5ms);
        QCOMPARE(pilot.nextRoutineCheck().count(), deadline);
        auto* timer = pilot.findChild<QTimer*>();
        QVERIFY(timer && timer->isActive() && timer->interval() > 0 && timer->interval() <= 5);

        // Time passes while the timer stands still, as in sleep, to just before the deadline.
        rig.continuous->ms = deadline - 1;
        const int reads = rig.continuous->reads + 3;
        QVERIFY(waitUntil([&] { return rig.continuous->reads >= reads; }));
        QCOMPARE(pilot.nextRoutineCheck().count(), deadline);
        if (deadline == most)
            return;
        rig.continuous->ms = deadline;
        QVERIFY(waitUntil([&] { return pilot.nextRoutineCheck().count() != deadline; }));
        QCOMPARE(pilot.nextRoutineCheck().count(), deadline + waitMs);
    }

    void theDeadlineSurvivesSleepAndIsCheckedOnWake()
    {
        Rig rig;
        const std::int64_t start = rig.continuous->ms;
        Autopilot& pilot = rig.make(1h); // the timer alone would not come back within the test
        // A new interval applies from the next wait on.
        rig.prefs().setInteger(Keys::autopilotIntervalMinutes, 3);
        QCOMPARE(pilot.nextRoutineCheck().count(), start + 600'000);
        rig.continuous->ms += 601'000; // sleeps through the end of the wait
        emit rig.wakes.woke();
        QVERIFY(rig.noted());
        QCOMPARE(rig.note(), QStringLiteral("Nothing in \"rebuilds itself\" to clean (the Mac woke)."));
        QCOMPARE(pilot.nextRoutineCheck().count(), start + 601'000 + 180'000);
        QCOMPARE(rig.f.engine->count(EngineCall::scan), 1); // the routine check after it found the run begun
    }

    void twoTriggersInOneTurnStartOneRun()
    {
        Rig rig;
        rig.make();
        rig.f.engine->hold(EngineCall::scan);
        emit rig.mounts.mounted();
        emit rig.wakes.woke();
        QVERIFY(waitUntil([&] { return rig.f.engine->count(EngineCall::scan) == 1; }));
        // Stored while the run's scan is still under way.
        QCOMPARE(rig.prefs().date(Keys::autopilotLastRunAt).value_or(QDateTime()), now);
        rig.f.engine->release(EngineCall::scan);
        QVERIFY(rig.noted());
        QCOMPARE(rig.note(), QStringLiteral("Nothing in \"rebuilds itself\" to clean (a drive mounted)."));
        QCOMPARE(rig.f.engine->count(EngineCall::scan), 1);
    }

    void gatesStopAChecksSilently_data()
    {
        QTest::addColumn<Step>("setup");
        QTest::addColumn<bool>("runs");
        const QString last = Keys::autopilotLastRunAt, goal = Keys::goal("/");
        QTest::newRow("never switched on") << set(Keys::autopilotEnabled, {}) << false;
        QTest::newRow("switched off") << set(Keys::autopilotEnabled, false) << false;
        QTest::newRow("switched on as text") << set(Keys::autopilotEnabled, "true") << false;
        QTest::newRow("never ran") << Step([](Rig&) {}) << true;
        QTest::newRow("ran 5 h 59 min ago") << set(last, now.addSecs(-6 * 3600 + 60)) << false;
        QTest::newRow("ran 6 h ago") << set(last, now.addSecs(-6 * 3600)) << true;
        QTest::newRow("runs in an hour") << set(last, now.addSecs(3600)) << false;
        QTest::newRow("last run not a date") << set(last, "yesterday") << true;
        QTest::newRow("last run in 9999") << set(last, QDateTime(QDate(9999, 1, 1), QTime(0, 0), Qt::UTC)) << false;
        QTest::newRow("no catalog") << Step([](Rig& rig) { rig.f.engine->onCatalog = [] { return std::nullopt; }; })
                                    << false;
        QTest::newRow("no startup drive") << Step([](Rig& rig) { rig.startup = false; }) << false;
        QTest::newRow("no goal") << set(goal, "") << false;
        QTest::newRow("goal unreadable") << set(goal, "lots") << false;
        QTest::newRow("default goal met") << set(goal, {}) << false;
        QTest::newRow("default goal missed by a byte")
            << then(set(goal, {}), [](Rig& rig) { rig.free = 50 * GB - 1; }) << true;
        QTest::newRow("exactly at the goal") << set(goal, "100GB") << false;
        QTest::newRow("exactly at a share goal") << set(goal, "20%") << false;
        QTest::newRow("below by the strict count")
            << then(set(goal, "100GB"), set(Keys::freeSpaceSource, "strict")) << true;
    }

    void gatesStopAChecksSilently()
    {
        QFETCH(Step, setup);
        QFETCH(bool, runs);
        Rig rig;
        setup(rig);
        Autopilot& pilot = rig.make();
        QFile file(rig.f.preferences.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray stored = file.readAll();
        QSignalSpy changed(&pilot, &Autopilot::changed);

        pilot.checkNow(Autopilot::mountReason);
        QCOMPARE(changed.count(), runs ? 1 : 0); // the start time, before any work
        QVERIFY(rig.f.settle());
        QCOMPARE(rig.f.engine->count(EngineCall::scan), runs ? 1 : 0);
        if (!runs) {
            QVERIFY(file.seek(0));
            QCOMPARE(file.readAll(), stored);
            QVERIFY(!pilot.lastRunNote() && changed.count() == 0);
            return;
        }
        QCOMPARE(pilot.lastRunAt(), std::optional(toTimePoint(now)));
        QCOMPARE(rig.prefs().date(Keys::autopilotLastRunAt).value_or(QDateTime()), now);
        QVERIFY(rig.noted());
    }

    void cleansWhatRebuildsItselfWithoutHelp()
    {
        Rig rig;
        rig.f.access->granted = false;
        std::vector<Finding> findings { acting("a", Action::Kind::delete_),
                                        acting("t", Action::Kind::trash),
                                        acting("b", Action::Kind::command),
                                        acting("m", Action::Kind::move),
                                        acting("h", Action::Kind::handOff),
                                        acting("r", Action::Kind::review),
                                        acting("i", Action::Kind::delete_, Tier::reinstallable),
                                        acting("p", Action::Kind::command, Tier::personal),
                                        acting("blocked", Action::Kind::delete_),
                                        acting("c", Action::Kind::delete_) };
        findings[0].caution = "The clean-up's options decide.";
        findings[8].blockedBy = "Xcode";
        rig.scanFinds(findings);
        Model& model = rig.f.make();
        model.addProtectedPath("Documents/Taxes");
        QString before = publishedState(model);
        rig.make().checkNow(Autopilot::routineReason);
        QVERIFY(rig.noted());
        QCOMPARE(rig.note(), QStringLiteral("Tried, but nothing came free (a routine check)."));

        QStringList calls;
        for (const RecordedCall& call : rig.f.engine->calls()) {
            const QString gui = " gui=" + QString::number(call.onGuiThread);
            if (const auto& o = call.cleanOptions)
                calls << QStringLiteral("clean %1 dry=%2 cautioned=%3 permanent=%4 moveTo=%5 link=%6 ")
                             .arg(QString::fromStdString(Json::dump(Json::Value(call.ids))))
                             .arg(o->dryRun)
                             .arg(o->includeCautioned)
                             .arg(o->permanentCaches)
                             .arg(o->moveTo.has_value())
                             .arg(o->linkMove)
                        + describe(o->scan) + gui;
            else if (call.scanOptions)
                calls << "scan " + describe(*call.scanOptions) + gui;
        }
        const QString options = "min=- now=2023-11-14T22:13:20Z protected="
            + QString::fromStdString(rig.f.machine.home()) + "/Documents/Taxes|a path you added privacy=1 gui=0";
        const QString clean = R"(clean ["a","b","c"] dry=0 cautioned=0 permanent=1 moveTo=0 link=0 )";
        QCOMPARE(calls, (QStringList { "scan " + options, clean + options }));
        // Of the model's own state, only the drive status changed.
        QCOMPARE(publishedState(model), before.replace("status=1", "status=2"));
    }

    void notesAndNotifications_data()
    {
        QTest::addColumn<Step>("setup");
        QTest::addColumn<QString>("reason"); // also the trigger
        QTest::addColumn<QString>("note");
        QTest::addColumn<bool>("posted");    // "Gorrin" and the note
        QTest::addColumn<bool>("refreshed"); // drive status and weekly comparison

        const Step freed = [](Rig& rig) {
            rig.cleanGives({ result("a", S::done, "Done.", 1'500'000'000), result("b", S::refused, "No.", 7 * GB),
                             result("c", S::failed, "Failed.", 3 * GB) });
        };
        const QString mounted = Autopilot::mountReason, freedNote = "Freed 1.5 GB automatically (a drive mounted).";
        QTest::newRow("nothing to clean") << Step([](Rig& rig) {
            rig.scanFinds({ acting("t", Action::Kind::trash), acting("h", Action::Kind::handOff) });
        }) << Autopilot::routineReason << "Nothing in \"rebuilds itself\" to clean (a routine check)."
                                          << false << false;
        QTest::newRow("all refused") << Step([](Rig& rig) { rig.cleanGives({ result("a", S::refused, "No.", GB) }); })
                                     << Autopilot::wakeReason << "Tried, but nothing came free (the Mac woke)." << false
                                     << true;
        QTest::newRow("engine failed") << Step([](Rig& rig) {
            rig.cleanGives({});
            rig.f.engine->onClean = [](auto&, auto&) -> std::vector<CleanResult> { throw std::runtime_error("no"); };
        }) << mounted << "Tried, but nothing came free (a drive mounted)."
                                       << false << true;
        QTest::newRow("freed") << freed << mounted << freedNote << true << true;
        QTest::newRow("notifications off")
            << then(freed, set(Keys::notificationsEnabled, false)) << mounted << freedNote << false << true;
        QTest::newRow("notifications never set: on by default")
            << then(freed, set(Keys::notificationsEnabled, {})) << mounted << freedNote << true << true;
        QTest::newRow("freed beyond 64 bits") << Step([](Rig& rig) {
            rig.cleanGives({ result("a", S::done, "Done.", most), result("b", S::done, "Done.", most) });
        }) << mounted << "Freed " + AppFormat::bytes(most, SizeUnits::decimal) + " automatically (a drive mounted)."
                                              << true << true;
    }

    void notesAndNotifications()
    {
        QFETCH(Step, setup);
        QFETCH(QString, reason);
        QFETCH(QString, note);
        QFETCH(bool, posted);
        QFETCH(bool, refreshed);
        Rig rig;
        setup(rig);
        QSignalSpy changed(&rig.make(5ms), &Autopilot::changed);
        if (reason == Autopilot::mountReason)
            emit rig.mounts.mounted();
        else if (reason == Autopilot::wakeReason)
            emit rig.wakes.woke();
        else
            rig.continuous->ms += 600'000;
        QVERIFY(rig.noted());
        QCOMPARE(rig.note(), note);
        QCOMPARE(changed.count(), 2); // the start time, then the note
        QCOMPARE(rig.notifier.posted, (posted ? Posts { { "Gorrin", note } } : Posts()));
        QCOMPARE(rig.f.model->status().trashBytes, refreshed ? 2 : 1);
        QCOMPARE(rig.prefs().contains(Keys::autopilotWeeklyNoteAt), refreshed);
    }

    void cachesAreDeletedForGood()
    {
        Rig rig;
        rig.f.engine->onScan = nullptr; // the real engine, on the fake machine
        rig.f.machine.file("~/Library/Caches/build/a.bin", 40'000).file("~/Library/Caches/old/b.bin", 40'000);
        rig.make().checkNow(Autopilot::mountReason);
        QVERIFY(rig.noted());

        const auto history = History::load(rig.f.model->mac());
        QVERIFY(history.size() == 1 && history[0].action == Action::Kind::delete_ && history[0].bytes > 0);
        const QString freed = AppFormat::bytes(history[0].bytes, SizeUnits::decimal);
        QCOMPARE(rig.note(), "Freed " + freed + " automatically (a drive mounted).");
        const auto at = [&](const char* path) { return QString::fromStdString(rig.f.machine.at(path)); };
        QVERIFY(!QFile::exists(at("~/Library/Caches/build/a.bin")) && QFile::exists(at("~/Library/Caches/old/b.bin")));
        QCOMPARE(QDir(at("~/.Trash")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    void weeklyComparison_data()
    {
        QTest::addColumn<QVariant>("at");       // "autopilotWeeklyNoteAt"; invalid: nothing stored
        QTest::addColumn<QVariant>("previous"); // "autopilotWeeklyFreeBytes"
        QTest::addColumn<qint64>("freeNow");
        QTest::addColumn<QString>("body"); // empty: no notification
        QTest::addColumn<bool>("stored");  // now and freeNow stored anew

        const QDateTime due = now.addSecs(-604'801);
        const qint64 free = 100 * GB;
        QTest::newRow("first time records") << QVariant() << QVariant() << free << "" << true;
        QTest::newRow("grew by more than 1 GB")
            << QVariant(due) << QVariant(free + GB + 1) << free << "About 1 GB more used than a week ago." << true;
        QTest::newRow("grew by exactly 1 GB") << QVariant(due) << QVariant(free + GB) << free << "" << true;
        QTest::newRow("exactly a week") << QVariant(now.addSecs(-604'800)) << QVariant(free + 5 * GB) << free << ""
                                        << false;
        QTest::newRow("shrank") << QVariant(due) << QVariant(free - 5 * GB) << free << "" << true;
        QTest::newRow("count not an integer") << QVariant(due) << QVariant("lots") << free << "" << true;
        QTest::newRow("date not a date") << QVariant("last week") << QVariant(free + 2 * GB) << free
                                         << "About 2 GB more used than a week ago." << true;
        QTest::newRow("growth beyond 64 bits")
            << QVariant(due) << QVariant(most) << -free
            << "About " + AppFormat::bytes(most, SizeUnits::decimal) + " more used than a week ago." << true;
        QTest::newRow("shrink beyond 64 bits")
            << QVariant(due) << QVariant(std::numeric_limits<qint64>::min()) << free << "" << true;
    }

    void weeklyComparison()
    {
        QFETCH(QVariant, at);
        QFETCH(QVariant, previous);
        QFETCH(qint64, freeNow);
        QFETCH(QString, body);
        QFETCH(bool, stored);
        Rig rig;
        rig.cleanGives({ result("a", S::refused) });
        set(Keys::autopilotWeeklyNoteAt, at)(rig);
        set(Keys::autopilotWeeklyFreeBytes, previous)(rig);
        Autopilot& pilot = rig.make();
        rig.free = freeNow; // the drives after the clean-up
        pilot.checkNow(Autopilot::wakeReason);
        QVERIFY(rig.noted());
        QCOMPARE(rig.notifier.posted, (body.isEmpty() ? Posts() : Posts { { "Gorrin: what grew this week", body } }));
        QCOMPARE(rig.prefs().stored(Keys::autopilotWeeklyNoteAt).value_or(QVariant()), stored ? QVariant(now) : at);
        QCOMPARE(rig.prefs().stored(Keys::autopilotWeeklyFreeBytes).value_or(QVariant()),
                 stored ? QVariant(freeNow) : previous);
    }

    void eventsAfterTheAutopilotIsGoneAreDropped()
    {
        Rig rig;
        rig.cleanGives({ result("a", S::done, "Done.", GB) });
        rig.make();
        emit rig.mounts.mounted(); // queued, not yet delivered
        rig.pilot.reset();
        QVERIFY(rig.f.settle());
        QCOMPARE(rig.f.engine->count(EngineCall::scan), 0);

        rig.f.engine->hold(EngineCall::clean);
        rig.make().checkNow(Autopilot::mountReason);
        QVERIFY(waitUntil([&] { return rig.f.engine->count(EngineCall::clean) == 1; }));
        rig.pilot.reset(); // while its run works
        rig.f.engine->release(EngineCall::clean);
        QVERIFY(rig.f.settle());
        QVERIFY(rig.f.model->status().trashBytes == 1 && rig.notifier.posted.isEmpty());
    }
};

QTEST_MAIN(AutopilotTests)
#include "AutopilotTests.moc"
