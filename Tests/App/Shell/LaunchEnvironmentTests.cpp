#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilApp/Platform/LaunchEnvironment.h"
#include "QuandrilApp/Shell/SingleInstance.h"
#include "Support/FakeMachine.h"

using namespace Quandril;
using namespace Quandril::App;

namespace {

// The variables under test, set for one test and put back after it.
class SavedEnvironment {
public:
    SavedEnvironment()
        : runtime_(qgetenv("XDG_RUNTIME_DIR"))
        , temporary_(qgetenv("TMPDIR"))
    {
    }
    ~SavedEnvironment()
    {
        restore("XDG_RUNTIME_DIR", runtime_);
        restore("TMPDIR", temporary_);
    }
    SavedEnvironment(const SavedEnvironment&) = delete;
    SavedEnvironment& operator=(const SavedEnvironment&) = delete;

private:
    static void restore(const char* name, const QByteArray& value)
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

    QByteArray runtime_, temporary_;
};

// Folders of every kind the environment may name, in `top`.
void makeFolders(const QString& top)
{
    for (const auto& [name, mode] : { std::pair { "run", 0700 },
                                      { "group", 0770 },
                                      { "shared", 0777 },
                                      { "sticky", 01777 },
                                      { "theirs", 0700 } }) {
        QDir(top).mkdir(name);
        ::chmod(QFile::encodeName(top + '/' + name).constData(), mode);
    }
    QFile::link(top + "/run", top + "/link");
    if (Testing::runningAsRoot())
        ::chown(QFile::encodeName(top + "/theirs").constData(), 65534, 65534);
}

} // namespace

class LaunchEnvironmentTests : public QObject {
    Q_OBJECT

private slots:
    // The runtime folder is kept only when it is a private folder of ours, the temporary folder
    // only when it is ours or root's and, when others may write there, sticky; a path that isn't
    // absolute or has a ".." name never counts. What is dropped falls back to the default.
    void onlyFoldersFitForUsAreKept_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QString>("value"); // "@" is the test's folder, which is also the current one
        QTest::addColumn<bool>("kept");
        const QByteArray runtime = "XDG_RUNTIME_DIR", temporary = "TMPDIR";
        QTest::newRow("runtime: a private folder of ours") << runtime << "@run" << true;
        QTest::newRow("runtime: empty") << runtime << "" << false;
        QTest::newRow("runtime: relative") << runtime << "run" << false;
        QTest::newRow("runtime: missing") << runtime << "@missing" << false;
        QTest::newRow("runtime: above the top") << runtime << "/.." << false;
        QTest::newRow("runtime: climbing to the top") << runtime << "/tmp/../.." << false;
        QTest::newRow("runtime: with a \"..\" name") << runtime << "@run/../run" << false;
        QTest::newRow("runtime: open to the group") << runtime << "@group" << false;
        QTest::newRow("runtime: open to all") << runtime << "@shared" << false;
        QTest::newRow("runtime: a link to a private folder") << runtime << "@link" << false;
        QTest::newRow("runtime: another user's") << runtime << "@theirs" << false;
        QTest::newRow("temporary: the system's") << temporary << "/tmp" << true;
        QTest::newRow("temporary: sticky and open to all") << temporary << "@sticky" << true;
        QTest::newRow("temporary: a private folder of ours") << temporary << "@run" << true;
        QTest::newRow("temporary: relative") << temporary << "run" << false;
        QTest::newRow("temporary: missing") << temporary << "@missing" << false;
        QTest::newRow("temporary: the top") << temporary << "/" << false;
        QTest::newRow("temporary: above the top") << temporary << "/.." << false;
        QTest::newRow("temporary: climbing to the top") << temporary << "/tmp/../.." << false;
        QTest::newRow("temporary: open to all, not sticky") << temporary << "@shared" << false;
        QTest::newRow("temporary: another user's") << temporary << "@theirs" << false;
    }

    void onlyFoldersFitForUsAreKept()
    {
        QFETCH(QByteArray, variable);
        QFETCH(QString, value);
        QFETCH(bool, kept);
        if (value == "@theirs" && !Testing::runningAsRoot())
            QSKIP("only root can give a folder to another user");
        QTemporaryDir dir;
        makeFolders(dir.path());
        const QByteArray set = QFile::encodeName(value.replace('@', dir.path() + '/'));
        const SavedEnvironment saved;
        const QString savedCurrent = QDir::currentPath();
        QDir::setCurrent(dir.path());
        qputenv(variable.constData(), set);
        LaunchEnvironment::makeSafe();
        const QByteArray after = qgetenv(variable.constData());
        QDir::setCurrent(savedCurrent);
        QCOMPARE(after, kept ? set : QByteArray());
        QCOMPARE(after.isNull(), !kept);
    }

    // Started with an environment pointing into the current folder, at a runtime folder that is
    // missing or at the top of the disk, the app and Qt beneath it make nothing there: a later
    // launch finds the running Gorrin in the fallback folder, hands over and leaves.
    void aLaunchMakesNothingWhereTheEnvironmentPoints_data()
    {
        QTest::addColumn<QString>("runtime"); // "@" is the test's folder
        QTest::addColumn<QString>("temporary");
        QTest::addColumn<QString>("socketFolder");  // where the launch looks for the running Gorrin
        QTest::addColumn<QStringList>("neverMade"); // besides anything in the current folder
        const QString uid = QString::number(::geteuid());
        const passwd* user = ::getpwuid(::geteuid());
        const QString qtFallback = "/runtime-" + QString::fromLocal8Bit(user ? user->pw_name : "");
        QTest::newRow("a relative runtime folder") << "rel"
                                                   << "@tmp"
                                                   << "@tmp/gorrin-" + uid << QStringList {};
        QTest::newRow("a missing runtime folder") << "@newrun"
                                                  << "@tmp"
                                                  << "@tmp/gorrin-" + uid << QStringList { "@newrun" };
        QTest::newRow("both above the top") << "/.."
                                            << "/.."
                                            << "/tmp/gorrin-" + uid << QStringList { qtFallback, "/gorrin-" + uid };
        QTest::newRow("both climbing to the top")
            << "/tmp/../.."
            << "/tmp/../.."
            << "/tmp/gorrin-" + uid << QStringList { qtFallback, "/gorrin-" + uid };
    }

    void aLaunchMakesNothingWhereTheEnvironmentPoints()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, temporary);
        QFETCH(QString, socketFolder);
        QFETCH(QStringList, neverMade);
        QTemporaryDir dir, work;
        const auto resolved = [&](QString text) { return text.replace('@', dir.path() + '/'); };
        QVERIFY(QDir(dir.path()).mkdir("tmp") && QDir(dir.path()).mkdir("home"));
        ::chmod(QFile::encodeName(dir.filePath("tmp")).constData(), 01777);
        for (const QString& path : neverMade) {
            if (QFileInfo::exists(resolved(path)))
                QSKIP(qPrintable(resolved(path) + " is there already"));
        }
        const QString folder = resolved(socketFolder);
        QCOMPARE(SingleInstance::privateFolder({ { folder } }, "gorrin-instance"), folder);
        SingleInstance running(folder + "/gorrin-instance");
        if (!running.claim())
            QSKIP("another Gorrin of this user runs there");
        QSignalSpy reopened(&running, &SingleInstance::reopened);

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", dir.filePath("home"));
        environment.remove("XDG_CONFIG_HOME");
        environment.insert("XDG_RUNTIME_DIR", resolved(runtime));
        environment.insert("TMPDIR", resolved(temporary));
        if (!environment.contains("QT_QPA_PLATFORM"))
            environment.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess app;
        app.setProcessEnvironment(environment);
        app.setWorkingDirectory(work.path());
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.start(QStringLiteral(QUANDRIL_GORRIN_EXECUTABLE), {});
        QVERIFY(app.waitForFinished(120000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QTRY_COMPARE(reopened.count(), 1);

        QCOMPARE(QDir(work.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        for (const QString& path : neverMade)
            QVERIFY2(!QFileInfo::exists(resolved(path)) && !QFileInfo(resolved(path)).isSymLink(),
                     qPrintable(resolved(path)));
    }

    // Two launches of one user whose runtime and temporary folders differ (the desktop's, then
    // `sudo -u`, cron, ssh without logind or pam_tmpdir): the second finds the running Gorrin
    // anyway, asks it to open again and leaves, making no socket of its own.
    void launchesFromAnyEnvironmentFindTheRunningGorrin_data()
    {
        QTest::addColumn<QString>("firstRuntime"); // "@" is the test's folder; "<unset>" unsets
        QTest::addColumn<QString>("firstTemporary");
        QTest::addColumn<QString>("secondRuntime");
        QTest::addColumn<QString>("secondTemporary");
        QTest::newRow("the desktop's, then one without a runtime folder") << "@run1"
                                                                          << "@tmp1"
                                                                          << "<unset>"
                                                                          << "@tmp2";
        QTest::newRow("one without a runtime folder, then the desktop's") << "<unset>"
                                                                          << "@tmp1"
                                                                          << "@run1"
                                                                          << "@tmp2";
        QTest::newRow("two runtime folders") << "@run1"
                                             << "@tmp1"
                                             << "@run2"
                                             << "@tmp1";
        QTest::newRow("each its own temporary folder") << "<unset>"
                                                       << "@tmp1"
                                                       << "<unset>"
                                                       << "@tmp2";
    }

    void launchesFromAnyEnvironmentFindTheRunningGorrin()
    {
        QFETCH(QString, firstRuntime);
        QFETCH(QString, firstTemporary);
        QFETCH(QString, secondRuntime);
        QFETCH(QString, secondTemporary);
        QTemporaryDir dir;
        const auto resolved = [&](QString text) { return text.replace('@', dir.path() + '/'); };
        for (const char* folder : { "home", "run1", "run2", "tmp1", "tmp2" }) {
            QVERIFY(QDir(dir.path()).mkdir(folder));
            ::chmod(QFile::encodeName(dir.filePath(folder)).constData(), 0700);
        }
        const auto launch = [&](QProcess& app, const QString& runtime, const QString& temporary) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            for (const char* name : { "SESSION_MANAGER", "DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME" })
                environment.remove(name);
            environment.insert("HOME", dir.filePath("home"));
            if (runtime == "<unset>")
                environment.remove("XDG_RUNTIME_DIR");
            else
                environment.insert("XDG_RUNTIME_DIR", resolved(runtime));
            environment.insert("TMPDIR", resolved(temporary));
            if (!environment.contains("QT_QPA_PLATFORM"))
                environment.insert("QT_QPA_PLATFORM", "offscreen");
            app.setProcessEnvironment(environment);
            app.setWorkingDirectory(dir.filePath("home"));
            app.setProcessChannelMode(QProcess::ForwardedChannels);
            app.start(QStringLiteral(QUANDRIL_GORRIN_EXECUTABLE), {});
        };
        // Where each launch keeps its own socket.
        const auto socket = [&](const QString& runtime, const QString& temporary) {
            return runtime == "<unset>"
                ? resolved(temporary) + "/gorrin-" + QString::number(::geteuid()) + "/gorrin-instance"
                : resolved(runtime) + "/gorrin-instance";
        };
        const QString firstSocket = socket(firstRuntime, firstTemporary);
        const QString secondSocket = socket(secondRuntime, secondTemporary);
        QVERIFY(firstSocket != secondSocket);

        QProcess first;
        launch(first, firstRuntime, firstTemporary);
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(firstSocket).exists() || first.state() == QProcess::NotRunning, 120000);
        QCOMPARE(first.state(), QProcess::Running);

        QProcess second;
        launch(second, secondRuntime, secondTemporary);
        // It leaves, or shows it stays by listening on a socket of its own.
        QVERIFY(second.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning || QFileInfo(secondSocket).exists(), 120000);
        const bool secondMadeASocket = QFileInfo(secondSocket).exists();
        const bool secondEnded = second.state() == QProcess::NotRunning
            || (!secondMadeASocket && second.waitForFinished(30000));
        const bool firstRuns = first.state() == QProcess::Running;
        if (!secondEnded) {
            second.terminate();
            second.waitForFinished(30000);
        }
        first.terminate();
        QVERIFY(first.waitForFinished(30000));
        QVERIFY2(secondEnded, "the second launch runs beside the first");
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(firstRuns);
        QVERIFY(!secondMadeASocket);
    }

    // A first Gorrin that doesn't answer (stopped, or frozen by swap or a debugger) is still the one
    // running: the next launch waits for it, then leaves saying so, without taking its socket; once
    // it runs again it answers the launch after.
    void aFrozenGorrinIsLeftBeNotJoined()
    {
        QTemporaryDir dir;
        for (const char* folder : { "home", "run", "tmp" }) {
            QVERIFY(QDir(dir.path()).mkdir(folder));
            ::chmod(QFile::encodeName(dir.filePath(folder)).constData(), 0700);
        }
        const auto launch = [&](QProcess& app) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            for (const char* name : { "SESSION_MANAGER", "DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME" })
                environment.remove(name);
            environment.insert("HOME", dir.filePath("home"));
            environment.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
            environment.insert("TMPDIR", dir.filePath("tmp"));
            if (!environment.contains("QT_QPA_PLATFORM"))
                environment.insert("QT_QPA_PLATFORM", "offscreen");
            app.setProcessEnvironment(environment);
            app.setWorkingDirectory(dir.filePath("home"));
            app.setProcessChannelMode(QProcess::MergedChannels);
            app.start(QStringLiteral(QUANDRIL_GORRIN_EXECUTABLE), {});
        };
        const QByteArray socket = QFile::encodeName(dir.filePath("run/gorrin-instance"));
        const auto socketInode = [&]() -> ino_t {
            struct stat info {};
            return ::lstat(socket.constData(), &info) == 0 ? info.st_ino : 0;
        };

        QProcess first;
        launch(first);
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(socketInode() != 0 || first.state() == QProcess::NotRunning, 120000);
        QCOMPARE(first.state(), QProcess::Running);
        const ino_t listening = socketInode();
        const auto pid = static_cast<pid_t>(first.processId());
        QVERIFY(::kill(pid, SIGSTOP) == 0);
        const auto resume = qScopeGuard([&] {
            ::kill(pid, SIGCONT);
            first.terminate();
            first.waitForFinished(30000);
        });

        QProcess second;
        launch(second);
        QVERIFY(second.waitForStarted());
        // It leaves, or runs beside the first at a socket of its own.
        QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning || socketInode() != listening, 120000);
        const ino_t afterSecond = socketInode();
        if (second.state() != QProcess::NotRunning) {
            second.terminate();
            second.waitForFinished(30000);
        }
        const QString told = QString::fromLocal8Bit(second.readAll());
        QVERIFY(::kill(pid, SIGCONT) == 0);

        QProcess third;
        launch(third);
        QVERIFY(third.waitForStarted());
        QVERIFY(third.waitForFinished(120000));

        QCOMPARE(afterSecond, listening);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(told.contains("already running") && told.contains("isn't answering"), qPrintable(told));
        QCOMPARE(third.exitCode(), 0);
        QCOMPARE(socketInode(), listening);
        QCOMPARE(first.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(LaunchEnvironmentTests)
#include "LaunchEnvironmentTests.moc"
