#include <QtTest>

#include <QDateTime>
#include <QLocalServer>
#include <QTemporaryDir>

#include <atomic>
#include <latch>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "QuandrilApp/Shell/SingleInstance.h"
#include "Support/FakeMachine.h"
#include "Support/OrdinaryUser.h"

using namespace Quandril;
using namespace Quandril::App;

namespace {

// A listening socket of some other program at `path`: it takes callers and never says a word.
int foreignSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0)
        qFatal("can't listen on %s", name.constData());
    return fd;
}

// A meeting point no other test or Gorrin uses.
QString freshMeetingPoint()
{
    static std::atomic<int> made = 0;
    return QStringLiteral("gorrin-test-%1-%2-%3")
        .arg(::getpid())
        .arg(QDateTime::currentMSecsSinceEpoch())
        .arg(made.fetch_add(1));
}

// Two launches released together, each finding its own name; how many stay to run.
int primariesOfTwoLaunches(const std::function<QString()>& name, const QString& meetingPoint = {})
{
    std::latch start(2), claimed(2);
    std::atomic<int> count = 0;
    const auto launch = [&] {
        SingleInstance instance(name(), meetingPoint);
        start.arrive_and_wait();
        count += instance.claim() ? 1 : 0;
        claimed.arrive_and_wait(); // the first keeps listening until the other has looked
    };
    const std::unique_ptr<QThread> first(QThread::create(launch)), second(QThread::create(launch));
    first->start();
    second->start();
    first->wait();
    second->wait();
    return count.load();
}

void setEnvironment(const char* name, const QString& value)
{
    if (value == QLatin1String("<unset>"))
        qunsetenv(name);
    else
        qputenv(name, QFile::encodeName(value));
}

} // namespace

class SingleInstanceTests : public QObject {
    Q_OBJECT

private slots:
    void laterLaunchesHandOverAndAskForTheWindow()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath("instance");
        SingleInstance first(name);
        QVERIFY(first.claim());
        QSignalSpy reopened(&first, &SingleInstance::reopened);
        SingleInstance second(name);
        QVERIFY(!second.claim());
        QTRY_COMPARE(reopened.count(), 1);
    }

    // Launches that start together leave one running, whatever was left at the socket's name: the
    // other finds it and hands over. Only a Gorrin of ours is handed over to; a link is never
    // followed, and what stood at the name that holds anything is kept.
    void twoLaunchesLeaveOneWhateverStandsAtTheName_data()
    {
        QTest::addColumn<QString>("placed");
        QTest::addColumn<QStringList>("keptAfter"); // what stands beside ours afterwards, and what it holds
        QTest::newRow("nothing") << "nothing" << QStringList {};
        QTest::newRow("a socket left by a crash") << "dead socket" << QStringList {};
        QTest::newRow("a file left over") << "file" << QStringList { "gorrin-instance.stale: file" };
        QTest::newRow("a folder") << "folder" << QStringList { "gorrin-instance.stale: folder holding keep" };
        QTest::newRow("a folder at the lock's name")
            << "lock folder" << QStringList { "gorrin-instance.lock.stale: folder holding keep" };
        QTest::newRow("a dangling link") << "dangling link" << QStringList {};
        QTest::newRow("a link to another program's listening socket") << "link to foreign" << QStringList {};
        QTest::newRow("another program's listening socket, silent") << "foreign" << QStringList {};
    }

    void twoLaunchesLeaveOneWhateverStandsAtTheName()
    {
        QFETCH(QString, placed);
        QFETCH(QStringList, keptAfter);
        QTemporaryDir dir, elsewhere;
        QLocalServer foreign;
        QVERIFY(foreign.listen(elsewhere.filePath("foreign")));
        QList<int> primaries, sockets;
        QStringList kept;
        for (int round = 0; round < 3; ++round) {
            const QString folder = dir.filePath(QString::number(round)), name = folder + "/gorrin-instance";
            QVERIFY(QDir().mkpath(folder));
            if (placed == "dead socket")
                ::close(foreignSocket(name));
            if (placed == "foreign")
                sockets << foreignSocket(name);
            if (placed == "file")
                Testing::writeFile(name.toStdString(), "");
            if (placed == "folder" || placed == "lock folder")
                Testing::writeFile(QString(name + (placed == "folder" ? "" : ".lock") + "/keep").toStdString(), "");
            if (placed == "dangling link")
                QFile::link(dir.filePath("nowhere"), name);
            if (placed == "link to foreign")
                QFile::link(foreign.fullServerName(), name);
            primaries << primariesOfTwoLaunches([&] { return name; });
            kept.clear();
            const auto filter = QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot;
            for (const QFileInfo& entry : QDir(folder).entryInfoList(filter, QDir::Name)) {
                if (entry.fileName() == "gorrin-instance.lock")
                    continue;
                const QStringList inside = QDir(entry.filePath()).entryList(filter);
                kept << entry.fileName() + ": " + (entry.isDir() ? "folder holding " + inside.join(' ') : "file");
            }
        }
        for (int fd : sockets)
            ::close(fd);
        QCOMPARE(primaries, QList<int>(3, 1));
        QCOMPARE(kept, keptAfter);
        // The other program's socket is left alone, and nobody knocked on it.
        QVERIFY(foreign.isListening() && QFileInfo(foreign.fullServerName()).exists());
        QVERIFY(!foreign.waitForNewConnection(0));
    }

    // Launches whose folders differ, and so whose socket names differ, meet at the meeting point:
    // one after another, or at once, one stays and the other hands over without making a socket.
    // A silent listener already there (another user's, or a stuck one) can't make a launch hand
    // over; it only leaves it to its own name, where a later launch still finds it.
    void launchesWithOtherNamesMeet()
    {
        QTemporaryDir dir;
        const QString meeting = freshMeetingPoint();
        {
            SingleInstance first(dir.filePath("a"), meeting);
            QVERIFY(first.claim());
            QSignalSpy reopened(&first, &SingleInstance::reopened);
            SingleInstance second(dir.filePath("b"), meeting);
            QVERIFY(!second.claim());
            QTRY_COMPARE(reopened.count(), 1);
            QVERIFY(QFileInfo::exists(dir.filePath("a")) && !QFileInfo::exists(dir.filePath("b")));
        }
        std::atomic<int> launches = 0;
        for (int round = 0; round < 3; ++round) {
            const QString together = freshMeetingPoint();
            QCOMPARE(primariesOfTwoLaunches([&] { return dir.filePath("c" + QString::number(launches++)); }, together),
                     1);
        }

        const QString squatted = freshMeetingPoint();
        const int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(squatted);
        std::memcpy(address.sun_path + 1, name.constData(), static_cast<std::size_t>(name.size()));
        const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + std::size_t(name.size()));
        QVERIFY(::bind(silent, reinterpret_cast<const sockaddr*>(&address), size) == 0 && ::listen(silent, 4) == 0);
        SingleInstance first(dir.filePath("d"), squatted);
        QVERIFY(first.claim());
        QVERIFY(QFileInfo::exists(dir.filePath("d")));
        QSignalSpy reopened(&first, &SingleInstance::reopened);
        SingleInstance second(dir.filePath("d"), squatted);
        QVERIFY(!second.claim());
        QTRY_COMPARE(reopened.count(), 1);
        ::close(silent);
    }

    // The socket lives in a private folder of ours: the runtime folder when it is one, else one of
    // our own. Never in "/", the current folder or a folder we can't write; the runtime folder is
    // the system's to make, never ours; a folder too deep for a socket's name is passed over.
    void theSocketLivesInAPrivateFolderOfOurs_data()
    {
        QTest::addColumn<QString>("runtime"); // relative to the test's folder when it starts with "@"
        QTest::addColumn<QString>("temporary");
        QTest::addColumn<QString>("expected");
        QTest::newRow("the runtime folder") << "@run"
                                            << "@tmp"
                                            << "@run";
        QTest::newRow("unset") << "<unset>"
                               << "@tmp"
                               << "@tmp/gorrin-UID";
        QTest::newRow("empty") << ""
                               << "@tmp"
                               << "@tmp/gorrin-UID";
        QTest::newRow("relative") << "rt"
                                  << "@tmp"
                                  << "@tmp/gorrin-UID";
        QTest::newRow("the root folder") << "/"
                                         << "@tmp"
                                         << "@tmp/gorrin-UID";
        QTest::newRow("above the top") << "/.."
                                       << "@tmp"
                                       << "@tmp/gorrin-UID";
        QTest::newRow("missing") << "@missing"
                                 << "@tmp"
                                 << "@tmp/gorrin-UID";
        QTest::newRow("read-only") << "@read-only"
                                   << "@tmp"
                                   << "@tmp/gorrin-UID";
        QTest::newRow("open to others") << "@shared"
                                        << "@tmp"
                                        << "@tmp/gorrin-UID";
        QTest::newRow("a link to a private folder") << "@link"
                                                    << "@tmp"
                                                    << "@tmp/gorrin-UID";
        QTest::newRow("too deep for a socket's name") << "@" + QString(100, 'd') << "@tmp"
                                                      << "@tmp/gorrin-UID";
        QTest::newRow("a temporary folder above the top") << "/"
                                                          << "/tmp/../.."
                                                          << "/tmp/gorrin-UID";
    }

    void theSocketLivesInAPrivateFolderOfOurs()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, temporary);
        QFETCH(QString, expected);
        if (runtime == "@read-only" && Testing::runningAsRoot()) { // root writes into read-only folders
            AppTesting::runRowAsOrdinaryUser();
            return;
        }
        QTemporaryDir dir, work;
        const auto resolved = [&](QString text) {
            text.replace("UID", QString::number(::geteuid()));
            return text.startsWith('@') ? dir.filePath(text.mid(1)) : text;
        };
        const QString deep(100, 'd');
        for (const auto& [folder, mode] : { std::pair { QStringLiteral("run"), 0700 },
                                            { QStringLiteral("read-only"), 0500 },
                                            { QStringLiteral("shared"), 0777 },
                                            { QStringLiteral("tmp"), 01777 },
                                            { deep, 0700 } }) {
            QDir(dir.path()).mkdir(folder);
            ::chmod(QFile::encodeName(dir.filePath(folder)).constData(), mode);
        }
        QFile::link(dir.filePath("run"), dir.filePath("link"));
        const QString savedCurrent = QDir::currentPath();
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR"), savedTemp = qgetenv("TMPDIR");
        QDir::setCurrent(work.path());
        setEnvironment("XDG_RUNTIME_DIR", resolved(runtime));
        setEnvironment("TMPDIR", resolved(temporary));

        const QString name = SingleInstance::standardName();
        // The shared /tmp is no test's to claim: another Gorrin may run there.
        const int primaries = name.startsWith(dir.path()) ? primariesOfTwoLaunches(&SingleInstance::standardName) : 1;
        const QStringList madeHere = QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        QDir::setCurrent(savedCurrent);
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        qputenv("TMPDIR", savedTemp);

        QCOMPARE(name, resolved(expected) + "/gorrin-instance");
        QCOMPARE(primaries, 1);
        QCOMPARE(madeHere, QStringList());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
                 QStringList({ deep, "link", "read-only", "run", "shared", "tmp" }));
        struct stat folder {};
        QVERIFY(::lstat(QFile::encodeName(QFileInfo(name).path()).constData(), &folder) == 0);
        QCOMPARE(folder.st_mode & 077, 0u);
        ::chmod(QFile::encodeName(dir.filePath("read-only")).constData(), 0700);
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTests)
#include "SingleInstanceTests.moc"
