// Desktop services over D-Bus, against services of the test's own on a private session bus
// (CTest runs this under dbus-run-session). The fakes live on the test's thread: a client that
// blocked on a call would never get its answer, so these tests also show that nothing blocks.

#include "QuandrilApp/Platform/Notifier.h"
#include "QuandrilApp/Platform/Reveal.h"
#include "QuandrilApp/Platform/WakeWatcher.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "Support/PrivateBus.h"

using namespace Quandril::App;
using Quandril::AppTesting::FakeNotificationServer;
using Quandril::AppTesting::Peer;

Q_DECLARE_METATYPE(NotificationAuth)

namespace {

NotificationAuth readAuth(Notifier& notifier)
{
    QEventLoop loop;
    NotificationAuth auth = NotificationAuth::notDetermined;
    notifier.readAuthorization(&loop, [&](NotificationAuth answer) { auth = answer, loop.quit(); });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    return auth;
}

const QDBusConnection noBus(QStringLiteral("none"));
const QString noticeTitle = QStringLiteral("Gorrin: what grew this week");
const QString noticeBody = QStringLiteral("About <1 GB> & more used than a week ago.");

} // namespace

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
        shown.append(uris + QStringList { startupId }), emit showed();
    }
};

// Answers a call on the test's own connection: once it is heard, everything its caller sent
// before has been handled.
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
    void openFolder(const QString& folder) override { opened.append(folder), emit folderOpened(); }
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
        QTest::addColumn<QStringList>("server"); // its capabilities; absent: no server
        QTest::addColumn<bool>("tray");
        QTest::addColumn<QString>("received"); // the body the server got
        QTest::addColumn<NotificationAuth>("auth");

        const auto A = NotificationAuth::authorized;
        const auto D = NotificationAuth::denied;
        QTest::newRow("server") << true << QStringList { "body" } << true << noticeBody << A;
        QTest::newRow("server reading markup") << true << QStringList { "body", "body-markup" } << false
                                               << "About &lt;1 GB&gt; &amp; more used than a week ago." << A;
        QTest::newRow("no server, tray") << true << QStringList() << true << QString() << A;
        QTest::newRow("no server, no tray") << true << QStringList() << false << QString() << D;
        QTest::newRow("no bus, tray") << false << QStringList() << true << QString() << A;
        QTest::newRow("no bus, no tray") << false << QStringList() << false << QString() << D;
    }

    void notificationsGoToTheServerOrTheTray()
    {
        QFETCH(bool, bus);
        QFETCH(QStringList, server);
        QFETCH(bool, tray);
        QFETCH(QString, received);
        QFETCH(NotificationAuth, auth);

        FakeNotificationServer fake;
        fake.capabilities = server;
        Peer peer(QStringLiteral("org.freedesktop.Notifications"), server.isEmpty() ? nullptr : &fake,
                  QStringLiteral("/org/freedesktop/Notifications"));
        QSignalSpy notified(&fake, &FakeNotificationServer::notified);
        TrayNotifier notifier(bus ? QDBusConnection::sessionBus() : noBus);
        notifier.tray = tray;

        notifier.notify(noticeTitle, noticeBody);
        bool lateAnswer = false;
        auto* closedPane = new QObject;
        notifier.readAuthorization(closedPane, [&](NotificationAuth) { lateAnswer = true; });
        delete closedPane;
        // Answers come in the order asked, so the fallback is settled once the state is read.
        QCOMPARE(readAuth(notifier), auth);
        QVERIFY(!lateAnswer);
        QCOMPARE(notifier.shown, server.isEmpty() && tray ? QStringList({ noticeTitle, noticeBody }) : QStringList());
        if (server.isEmpty())
            return;
        QVERIFY(notified.count() > 0 || notified.wait());
        const QVariantList expected {
            "Gorrin", 0u, QString(), noticeTitle, received, QStringList(), QVariantMap { { "suppress-sound", true } },
            -1
        };
        QCOMPARE(fake.received, QList<QVariantList> { expected });
    }

    void revealShowsTheItemAndRefusesRelativePaths()
    {
        FakeFileManager fake;
        Peer peer(QStringLiteral("org.freedesktop.FileManager1"), &fake,
                  QStringLiteral("/org/freedesktop/FileManager1"));
        QVERIFY(peer.serving());
        FolderReveal reveal;
        QSignalSpy showed(&fake, &FakeFileManager::showed);

        for (const char* refused : { "", "notes.txt", "./notes.txt", "~/notes.txt", "../etc/passwd" })
            QVERIFY2(!reveal.reveal(QString::fromUtf8(refused)), refused);
        QVERIFY(reveal.reveal(QStringLiteral("/tmp/Gorrin test/ü #%.txt")));
        QVERIFY(reveal.reveal(QStringLiteral("/tmp/a/../b/")));
        while (showed.count() < 2)
            QVERIFY(showed.wait());
        const QList<QStringList> expected { { "file:///tmp/Gorrin%20test/%C3%BC%20%23%25.txt", "" },
                                            { "file:///tmp/b", "" } };
        QCOMPARE(fake.shown, expected);
        QCOMPARE(reveal.opened, QStringList());
    }

    void revealWithoutAFileManagerOpensTheEnclosingFolder_data()
    {
        QTest::addColumn<bool>("bus");
        QTest::addColumn<QString>("item");
        QTest::newRow("file") << true << "docs/report.pdf";
        QTest::newRow("a folder is not opened itself") << true << "docs/sub";
        QTest::newRow("gone, with its folders") << true << "docs/gone/deeper/x.txt";
        QTest::newRow("no bus") << false << "docs/report.pdf";
    }

    void revealWithoutAFileManagerOpensTheEnclosingFolder()
    {
        QFETCH(bool, bus);
        QFETCH(QString, item);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("docs/sub")));
        QVERIFY(QFile(root.filePath(QStringLiteral("docs/report.pdf"))).open(QIODevice::WriteOnly));

        FolderReveal reveal(bus ? QDBusConnection::sessionBus() : noBus);
        QSignalSpy opened(&reveal, &FolderReveal::folderOpened);
        QVERIFY(reveal.reveal(root.filePath(item)));
        QVERIFY(opened.count() > 0 || opened.wait());
        QCOMPARE(reveal.opened, QStringList { root.filePath(QStringLiteral("docs")) });
    }

    void wakeIsHeardFromTheLoginManagerOnly()
    {
        LogindWakeWatcher watcher(QDBusConnection::sessionBus());
        QVERIFY(watcher.isWatching());
        QVERIFY(!LogindWakeWatcher(noBus).isWatching());
        QSignalSpy woke(&watcher, &WakeWatcher::woke);
        Pinger ping;
        QVERIFY(QDBusConnection::sessionBus().registerObject(QStringLiteral("/ping"), &ping,
                                                             QDBusConnection::ExportAllSlots));
        QSignalSpy pinged(&ping, &Pinger::pinged);
        const auto sleeping = [](bool sleeping) {
            return QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                              QStringLiteral("org.freedesktop.login1.Manager"),
                                              QStringLiteral("PrepareForSleep"))
                << sleeping;
        };

        // One connection speaks first without owning the login manager's name, then owns it,
        // sleeps and wakes; its messages arrive in the order sent, the ping last.
        Peer login(QStringLiteral("fake-login"));
        QVERIFY(login.bus().send(sleeping(false)));
        QVERIFY(login.bus().registerService(QStringLiteral("org.freedesktop.login1")));
        QVERIFY(login.bus().send(sleeping(true)));
        QVERIFY(login.bus().send(sleeping(false)));
        login.bus().asyncCall(QDBusMessage::createMethodCall(QDBusConnection::sessionBus().baseService(),
                                                             QStringLiteral("/ping"), QStringLiteral("test.Ping"),
                                                             QStringLiteral("Ping")));
        QVERIFY(pinged.wait());
        QCOMPARE(woke.count(), 1);
    }
};

QTEST_MAIN(DesktopBusTests)
#include "DesktopBusTests.moc"
