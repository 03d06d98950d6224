// The autopilot end to end over a private session bus (CTest runs this under dbus-run-session):
// the login manager announces a wake, the autopilot cleans, and the notification server of the
// test receives what it freed.

#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QtTest>

#include "QuandrilApp/Model/Autopilot.h"
#include "QuandrilApp/Platform/Notifier.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Platform/WakeWatcher.h"
#include "Support/ModelFixture.h"
#include "Support/PrivateBus.h"

using namespace Quandril;
using namespace Quandril::App;
using namespace Quandril::AppTesting;

class AutopilotBusTests : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("needs a private session bus: run under dbus-run-session");
    }

    void aWakeEndsInARealNotification()
    {
        FakeNotificationServer server;
        server.capabilities = QStringList { QStringLiteral("body") };
        Peer notifications(QStringLiteral("org.freedesktop.Notifications"), &server,
                           QStringLiteral("/org/freedesktop/Notifications"));
        QVERIFY(notifications.serving());
        QSignalSpy notified(&server, &FakeNotificationServer::notified);

        ModelFixture f;
        f.engine->onScan = [](const Mac& mac, const Catalog&, const ScanOptions&) {
            Finding cache = finding("cache", 2'000'000'000);
            cache.action = Action(Action::Kind::delete_);
            return reportWith(mac, { cache });
        };
        f.engine->onClean = [](const std::vector<std::string>& ids, const CleanOptions&) {
            return std::vector { result(ids.at(0), CleanResult::Status::done, "Done.", 2'000'000'000) };
        };
        Preferences& preferences = *f.preferences;
        preferences.setBoolean(Keys::autopilotEnabled, true);
        Model& model = f.make();
        preferences.setString(Keys::goal(model.status().startup()->path), QStringLiteral("200GB"));
        DesktopNotifier notifier(QDBusConnection::sessionBus());
        LogindWakeWatcher wakes(QDBusConnection::sessionBus());
        QVERIFY(wakes.isWatching());
        Autopilot pilot(model, notifier, nullptr, &wakes);

        // The watcher follows the login manager's name: it must have seen the name taken before
        // the signal counts as the login manager's.
        QDBusServiceWatcher owner(QStringLiteral("org.freedesktop.login1"), QDBusConnection::sessionBus(),
                                  QDBusServiceWatcher::WatchForRegistration);
        QSignalSpy registered(&owner, &QDBusServiceWatcher::serviceRegistered);
        Peer login(QStringLiteral("fake-login"));
        QVERIFY(login.bus().registerService(QStringLiteral("org.freedesktop.login1")));
        QVERIFY(registered.count() > 0 || registered.wait(20000));
        QVERIFY(login.bus().send(QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                            QStringLiteral("org.freedesktop.login1.Manager"),
                                                            QStringLiteral("PrepareForSleep"))
                                 << false));

        QVERIFY(notified.count() > 0 || notified.wait(20000));
        QVERIFY(f.settle());
        QCOMPARE(pilot.lastRunNote().value_or(QString()), QStringLiteral("Freed 2 GB automatically (the Mac woke)."));
        QCOMPARE(server.received.size(), 1);
        const QVariantList& got = server.received.first();
        QCOMPARE((QStringList { got[0].toString(), got[3].toString(), got[4].toString() }),
                 (QStringList { "Gorrin", "Gorrin", "Freed 2 GB automatically (the Mac woke)." }));
    }
};

QTEST_MAIN(AutopilotBusTests)
#include "AutopilotBusTests.moc"
