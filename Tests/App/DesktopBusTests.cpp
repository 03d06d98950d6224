// Desktop services over D-Bus, against services of the test's own on a private session bus
// (CTest runs this under dbus-run-session). The fakes live on the test's thread: a client that
// blocked on a call would never get its answer, so these tests also show that nothing blocks.

#include "QuandrilApp/Platform/Notifier.h"
#include "QuandrilApp/Platform/Reveal.h"
#include "QuandrilApp/Platform/WakeWatcher.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace Quandril::App;

Q_DECLARE_METATYPE(NotificationAuth)

namespace {

// A connection of its own to the private bus, serving one object under one name.
class Peer {
public:
    Peer(const QString& service, const QString& path, QObject* object)
        : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, service))
    {
        if (object)
            bus_.registerObject(path, object, QDBusConnection::ExportAllSlots);
        serving_ = object ? bus_.registerService(service) : true;
    }
    ~Peer() { QDBusConnection::disconnectFromBus(bus_.name()); }
    bool serving() const { return serving_ && bus_.isConnected(); }
    QDBusConnection& bus() { return bus_; }

private:
    QDBusConnection bus_;
    bool serving_ = false;
};

NotificationAuth readAuth(Notifier& notifier)
{
    QEventLoop loop;
    NotificationAuth auth = NotificationAuth::notDetermined;
    notifier.readAuthorization(&loop, [&](NotificationAuth answer) {
        auth = answer;
        loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    return auth;
}

} // namespace

class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList capabilities;
    QList<QVariantList> received;
signals:
    void notified();
public slots:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int timeout)
    {
        received.append({app, replaces, icon, summary, body, actions, hints, timeout});
        emit notified();
        return uint(received.size());
    }
};

class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;
signals:
    void showed();
public slots:
    void ShowItems(const QStringList& uris, const QString& startupId)
    {
        shown.append(uris + QStringList{startupId});
        emit showed();
    }
};

// Answers a call on the test's own connection: once it is heard, everything the caller sent
// before it has been handled.
class Pinger : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "test.Ping")
signals:
    void pinged();
public slots:
    void Ping() { emit pinged(); }
};

class TrayNotifier : public DesktopNotifier {
    Q_OBJECT
public:
    using DesktopNotifier::DesktopNotifier;
    bool tray = false;
    QStringList shown;

protected:
    bool trayAvailable() const override { return tray; }
    void showInTray(const QString& title, const QString& body) override { shown << title << body; }
};

class FolderReveal : public FileManagerReveal {
    Q_OBJECT
public:
    using FileManagerReveal::FileManagerReveal;
    QStringList opened;
signals:
    void folderOpened();

protected:
    void openFolder(const QString& folder) override
    {
        opened.append(folder);
        emit folderOpened();
    }
};

class DesktopBusTests : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("needs a private session bus: run under dbus-run-session");
    }

    void notificationsGoToTheServerOrTheTray_data()
    {
        QTest::addColumn<bool>("bus");
        QTest::addColumn<bool>("server");
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<bool>("tray");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("bodyReceived");
        QTest::addColumn<NotificationAuth>("auth");
        QTest::addColumn<QStringList>("inTray");

        const QString note = QStringLiteral("Freed 2 GB automatically (a drive mounted).");
        const QString marked = QStringLiteral("About <1 GB> & more used than a week ago.");
        const auto A = NotificationAuth::authorized;
        const auto D = NotificationAuth::denied;
        QTest::newRow("plain server") << true << true << QStringList{"body"} << true << marked << marked << A << QStringList();
        QTest::newRow("server reading markup")
            << true << true << QStringList{"body", "body-markup"} << false << marked
            << QStringLiteral("About &lt;1 GB&gt; &amp; more used than a week ago.") << A << QStringList();
        QTest::newRow("no server, tray") << true << false << QStringList() << true << note << QString() << A << QStringList{"Gorrin", note};
        QTest::newRow("no server, no tray") << true << false << QStringList() << false << note << QString() << D << QStringList();
        QTest::newRow("no bus, tray") << false << false << QStringList() << true << note << QString() << A << QStringList{"Gorrin", note};
        QTest::newRow("no bus, no tray") << false << false << QStringList() << false << note << QString() << D << QStringList();
    }

    void notificationsGoToTheServerOrTheTray()
    {
        QFETCH(bool, bus);
        QFETCH(bool, server);
        QFETCH(QStringList, capabilities);
        QFETCH(bool, tray);
        QFETCH(QString, body);
        QFETCH(QString, bodyReceived);
        QFETCH(NotificationAuth, auth);
        QFETCH(QStringList, inTray);

        FakeNotificationServer fake;
        fake.capabilities = capabilities;
        Peer peer(QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
                  server ? &fake : nullptr);
        QVERIFY(peer.serving());
        QSignalSpy notified(&fake, &FakeNotificationServer::notified);

        TrayNotifier notifier(bus ? QDBusConnection::sessionBus() : QDBusConnection(QStringLiteral("none")));
        notifier.tray = tray;
        notifier.notify(QStringLiteral("Gorrin"), body);
        // Answers come in the order asked, so the fallback is settled once the state is read.
        QCOMPARE(readAuth(notifier), auth);
        QCOMPARE(notifier.shown, inTray);
        if (!server)
            return;
        QVERIFY(notified.count() > 0 || notified.wait());
        const QVariantList expected{QStringLiteral("Gorrin"), 0u, QString(), QStringLiteral("Gorrin"), bodyReceived,
                                    QStringList(), QVariantMap{{"suppress-sound", true}}, -1};
        QCOMPARE(fake.received, QList<QVariantList>{expected});
    }

    void answersReachOnlyLiveCallers()
    {
        FakeNotificationServer fake;
        Peer peer(QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"), &fake);
        DesktopNotifier notifier;
        bool goneCalled = false;
        auto* gone = new QObject;
        notifier.readAuthorization(gone, [&](NotificationAuth) { goneCalled = true; });
        delete gone;

        QEventLoop loop;
        notifier.requestAuthorization(Notifier::Option::alert | Notifier::Option::sound, &loop, [&] { loop.quit(); });
        QTimer::singleShot(20000, &loop, [&] { loop.exit(1); });
        QCOMPARE(loop.exec(), 0);
        QCOMPARE(readAuth(notifier), NotificationAuth::authorized);
        QVERIFY(!goneCalled);
    }

    void revealShowsTheItemAndRefusesRelativePaths()
    {
        FakeFileManager fake;
        Peer peer(QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"), &fake);
        QVERIFY(peer.serving());
        FolderReveal reveal;
        QSignalSpy showed(&fake, &FakeFileManager::showed);

        const QStringList refused{"", "notes.txt", "./notes.txt", "~/notes.txt", "../etc/passwd"};
        for (const QString& path : refused)
            QVERIFY2(!reveal.reveal(path), qPrintable(path));
        QVERIFY(reveal.reveal(QStringLiteral("/tmp/Gorrin test/ü #%.txt")));
        QVERIFY(reveal.reveal(QStringLiteral("/tmp/a/../b/")));
        while (showed.count() < 2)
            QVERIFY(showed.wait());
        const QList<QStringList> expected{{"file:///tmp/Gorrin%20test/%C3%BC%20%23%25.txt", ""}, {"file:///tmp/b", ""}};
        QCOMPARE(fake.shown, expected);
        QCOMPARE(reveal.opened, QStringList());
    }

    void revealWithoutAFileManagerOpensTheEnclosingFolder_data()
    {
        QTest::addColumn<bool>("bus");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("folder");
        QTest::newRow("file") << true << "docs/report.pdf" << "docs";
        QTest::newRow("folder itself") << true << "docs/sub" << "docs";
        QTest::newRow("gone, with its folders") << true << "docs/gone/deeper/x.txt" << "docs";
        QTest::newRow("no bus") << false << "docs/report.pdf" << "docs";
    }

    void revealWithoutAFileManagerOpensTheEnclosingFolder()
    {
        QFETCH(bool, bus);
        QFETCH(QString, item);
        QFETCH(QString, folder);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("docs/sub")));
        QFile file(root.filePath(QStringLiteral("docs/report.pdf")));
        QVERIFY(file.open(QIODevice::WriteOnly));

        FolderReveal reveal(bus ? QDBusConnection::sessionBus() : QDBusConnection(QStringLiteral("none")));
        QSignalSpy opened(&reveal, &FolderReveal::folderOpened);
        QVERIFY(reveal.reveal(root.filePath(item)));
        QVERIFY(opened.count() > 0 || opened.wait());
        QCOMPARE(reveal.opened, QStringList{root.filePath(folder)});
    }

    void wakeIsHeardFromTheLoginManagerOnly()
    {
        LogindWakeWatcher watcher(QDBusConnection::sessionBus());
        QVERIFY(watcher.isWatching());
        QSignalSpy woke(&watcher, &WakeWatcher::woke);
        const auto sleepSignal = [](bool sleeping) {
            QDBusMessage signal = QDBusMessage::createSignal(
                QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
                QStringLiteral("PrepareForSleep"));
            return signal << sleeping;
        };

        Pinger ping;
        QVERIFY(QDBusConnection::sessionBus().registerObject(QStringLiteral("/ping"), &ping, QDBusConnection::ExportAllSlots));
        QSignalSpy pinged(&ping, &Pinger::pinged);

        // One connection speaks first without owning the login manager's name, then owns it and
        // sleeps and wakes; its messages arrive in the order sent, the ping last.
        Peer login(QStringLiteral("fake-login"), QString(), nullptr);
        QVERIFY(login.bus().send(sleepSignal(false)));
        QVERIFY(login.bus().registerService(QStringLiteral("org.freedesktop.login1")));
        QVERIFY(login.bus().send(sleepSignal(true)));
        QVERIFY(login.bus().send(sleepSignal(false)));
        login.bus().asyncCall(QDBusMessage::createMethodCall(QDBusConnection::sessionBus().baseService(),
                                                             QStringLiteral("/ping"), QStringLiteral("test.Ping"),
                                                             QStringLiteral("Ping")));
        QVERIFY(pinged.wait());
        QCOMPARE(woke.count(), 1);

        LogindWakeWatcher busless(QDBusConnection(QStringLiteral("none")));
        QVERIFY(!busless.isWatching());
    }
};

QTEST_MAIN(DesktopBusTests)
#include "DesktopBusTests.moc"
