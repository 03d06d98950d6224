#include <QtTest>

#include <QDateTime>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QTemporaryDir>

#include <atomic>
#include <latch>

#include <csignal>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
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

// How long these launches wait for a Gorrin of ours that doesn't answer: long enough for one that
// is merely starting on a loaded machine, short enough for the tests of a frozen one.
constexpr int testPatienceMs = 3000;

// Two launches released together, each finding its own name; how many stay to run.
int primariesOfTwoLaunches(const std::function<QString()>& name, const QString& meetingPoint = {})
{
    std::latch start(2), claimed(2);
    std::atomic<int> count = 0;
    const auto launch = [&] {
        SingleInstance instance(name(), meetingPoint);
        instance.setPatience(testPatienceMs);
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

// The abstract socket name `name`, bound, and listening when `listens`, by this process or, `foreign`,
// by a child that has become another user. Held until the value goes.
class HeldName {
public:
    HeldName(const QString& name, bool listens, bool foreign)
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray bytes = QFile::encodeName(name);
        std::memcpy(address.sun_path + 1, bytes.constData(), static_cast<std::size_t>(bytes.size()));
        const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + std::size_t(bytes.size()));
        const auto hold = [&] {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const bool held = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0
                && (!listens || ::listen(fd, 4) == 0);
            return held ? fd : -1;
        };
        if (!foreign) {
            fd_ = hold();
            return;
        }
        int ready[2], done[2];
        if (::pipe(ready) != 0 || ::pipe(done) != 0)
            return;
        child_ = ::fork();
        if (child_ == 0) {
            ::close(ready[0]);
            ::close(done[1]);
            const bool held = ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0
                && hold() >= 0;
            (void)!::write(ready[1], held ? "y" : "n", 1);
            char byte;
            (void)!::read(done[0], &byte, 1); // until the parent lets go
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(done[0]);
        release_ = done[1];
        char byte = 'n';
        fd_ = child_ > 0 && ::read(ready[0], &byte, 1) == 1 && byte == 'y' ? 0 : -1;
        ::close(ready[0]);
    }
    ~HeldName()
    {
        if (child_ > 0) {
            ::close(release_);
            ::waitpid(child_, nullptr, 0);
        } else if (fd_ > 0) {
            ::close(fd_);
        }
    }
    HeldName(const HeldName&) = delete;
    HeldName& operator=(const HeldName&) = delete;

    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    pid_t child_ = -1;
    int release_ = -1;
};

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
    // followed, and what stood at the name that holds anything is kept. A silent listener of ours
    // is a Gorrin that doesn't answer (stopped, frozen): both leave, and its socket stays.
    void twoLaunchesLeaveOneWhateverStandsAtTheName_data()
    {
        QTest::addColumn<QString>("placed");
        QTest::addColumn<int>("primaries");
        QTest::addColumn<QStringList>("keptAfter"); // what stands beside ours afterwards, and what it holds
        QTest::newRow("nothing") << "nothing" << 1 << QStringList {};
        QTest::newRow("a socket left by a crash") << "dead socket" << 1 << QStringList {};
        QTest::newRow("a file left over") << "file" << 1 << QStringList { "gorrin-instance.stale: file" };
        QTest::newRow("a folder") << "folder" << 1 << QStringList { "gorrin-instance.stale: folder holding keep" };
        QTest::newRow("a folder at the lock's name")
            << "lock folder" << 1 << QStringList { "gorrin-instance.lock.stale: folder holding keep" };
        QTest::newRow("a dangling link") << "dangling link" << 1 << QStringList {};
        QTest::newRow("a link to another program's listening socket") << "link to foreign" << 1 << QStringList {};
        QTest::newRow("a listener of ours, silent") << "silent" << 0 << QStringList { "gorrin-instance: file" };
    }

    void twoLaunchesLeaveOneWhateverStandsAtTheName()
    {
        QFETCH(QString, placed);
        QFETCH(int, primaries);
        QFETCH(QStringList, keptAfter);
        QTemporaryDir dir, elsewhere;
        QLocalServer foreign;
        QVERIFY(foreign.listen(elsewhere.filePath("foreign")));
        QList<int> stayed, sockets;
        QStringList kept;
        for (int round = 0; round < 3; ++round) {
            const QString folder = dir.filePath(QString::number(round)), name = folder + "/gorrin-instance";
            QVERIFY(QDir().mkpath(folder));
            if (placed == "dead socket")
                ::close(foreignSocket(name));
            if (placed == "silent")
                sockets << foreignSocket(name);
            if (placed == "file")
                Testing::writeFile(name.toStdString(), "");
            if (placed == "folder" || placed == "lock folder")
                Testing::writeFile(QString(name + (placed == "folder" ? "" : ".lock") + "/keep").toStdString(), "");
            if (placed == "dangling link")
                QFile::link(dir.filePath("nowhere"), name);
            if (placed == "link to foreign")
                QFile::link(foreign.fullServerName(), name);
            stayed << primariesOfTwoLaunches([&] { return name; });
            kept.clear();
            const auto filter = QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot;
            for (const QFileInfo& entry : QDir(folder).entryInfoList(filter, QDir::Name)) {
                if (entry.fileName() == "gorrin-instance.lock")
                    continue;
                const QStringList inside = QDir(entry.filePath()).entryList(filter);
                kept << entry.fileName() + ": " + (entry.isDir() ? "folder holding " + inside.join(' ') : "file");
            }
        }
        // The silent one still has its callers: nobody took its socket away.
        QStringList stillListening;
        for (int fd : sockets) {
            pollfd waiting { fd, POLLIN, 0 };
            stillListening << (::poll(&waiting, 1, 0) == 1 ? "called" : "not called");
            ::close(fd);
        }
        QCOMPARE(stayed, QList<int>(3, primaries));
        QCOMPARE(kept, keptAfter);
        QCOMPARE(stillListening, QStringList(sockets.size(), "called"));
        // The other program's socket is left alone, and nobody knocked on it.
        QVERIFY(foreign.isListening() && QFileInfo(foreign.fullServerName()).exists());
        QVERIFY(!foreign.waitForNewConnection(0));
    }

    // Launches whose folders differ, and so whose socket names differ, meet at the meeting point:
    // one after another, or at once, one stays and the other hands over without making a socket.
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
    }

    // Someone else holding the meeting point, listening or merely bound, can't make a launch hand
    // over or wait: it runs at its own name, where a later launch still finds it. A silent listener
    // of ours there is a Gorrin that doesn't answer: the launch waits for it, then leaves it be.
    void aMeetingPointHeldBySomeoneElse_data()
    {
        QTest::addColumn<bool>("listens");
        QTest::addColumn<bool>("foreign");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("another user listens, silent") << true << true << "first runs, quick; second hands over";
        QTest::newRow("another user binds it, no more") << false << true << "first runs, quick; second hands over";
        QTest::newRow("a Gorrin of ours, silent") << true << false << "first leaves; no socket";
    }

    void aMeetingPointHeldBySomeoneElse()
    {
        QFETCH(bool, listens);
        QFETCH(bool, foreign);
        QFETCH(QString, outcome);
        if (foreign && !Testing::runningAsRoot())
            QSKIP("only root can hold a name as another user");
        QTemporaryDir dir;
        const QString squatted = freshMeetingPoint();
        const HeldName held(squatted, listens, foreign);
        QVERIFY(held.held());
        const QString name = dir.filePath("d");
        SingleInstance first(name, squatted);
        first.setPatience(testPatienceMs);
        QElapsedTimer took;
        took.start();
        const bool runs = first.claim();
        // An empty meeting point would take a launch 9 s: far past this even on a loaded machine.
        const QString speed = took.elapsed() < 4500 ? "quick" : "slow";
        if (!runs) {
            QCOMPARE(QString(QFileInfo::exists(name) ? "first leaves; a socket" : "first leaves; no socket"), outcome);
            return;
        }
        QSignalSpy reopened(&first, &SingleInstance::reopened);
        SingleInstance second(name, squatted);
        const QString handed = second.claim() ? "second runs too" : "second hands over";
        if (handed == "second hands over")
            QTRY_COMPARE(reopened.count(), 1);
        QCOMPARE("first runs, " + speed + "; " + handed, outcome);
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
