// The real app, ended while it works: by the session's SIGTERM while its autopilot deletes a large
// set of caches or one large cache, by its own Quit in the middle of that large cache, and by
// SIGTERM during a Put Back.

#include <QtTest>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <set>
#include <thread>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Machine/DiskUsage.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/Trash.h"

using namespace Quandril;

namespace {

constexpr int folders = 150;
constexpr int filesEach = 120;

QString folderName(int i)
{
    return QStringLiteral("com.example.app%1").arg(i, 3, 10, QLatin1Char('0'));
}

bool write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int entries(const QString& folder)
{
    return int(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size());
}

// The shipped rules with their thresholds at one byte, so that every folder of the caches counts,
// however small.
bool writeCatalog(const QString& path)
{
    QFile shipped(QStringLiteral(QUANDRIL_SHIPPED_CATALOG));
    if (!shipped.open(QIODevice::ReadOnly))
        return false;
    QJsonObject catalog = QJsonDocument::fromJson(shipped.readAll()).object();
    QJsonObject thresholds = catalog.value("thresholds").toObject();
    thresholds.insert("appCaches", 1);
    thresholds.insert("appCacheEach", 1);
    catalog.insert("thresholds", thresholds);
    return write(path, QJsonDocument(catalog).toJson());
}

// The apps' cache folders and the space each takes; empty when they couldn't all be made.
std::map<QString, std::int64_t> fillCaches(const QString& caches)
{
    std::map<QString, std::int64_t> sizes;
    for (int i = 0; i < folders; ++i) {
        const QString folder = caches + "/" + folderName(i);
        if (!QDir().mkpath(folder))
            return {};
        for (int f = 0; f < filesEach; ++f)
            if (!write(folder + QStringLiteral("/part%1").arg(f), QByteArray(512, 'c')))
                return {};
        sizes[folderName(i)] = diskUsage(folder.toStdString()).bytes;
    }
    return sizes;
}

// A temporary home with the folders the app uses, its runtime folder private.
bool makeHome(const QString& home)
{
    for (const char* folder : { "/.config/Gorrin", "/.local/share", "/.cache", "/runtime", "/Library/Caches" })
        if (!QDir().mkpath(home + folder))
            return false;
    return QFile::setPermissions(home + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The app's preferences file holding these entries ("key": {"type": value}, …).
bool writePreferences(const QString& home, const char* entries)
{
    return write(home + "/.config/Gorrin/preferences.json", QByteArray("{") + entries + "}");
}

// The autopilot on, every minute, with the startup drive below its goal; the main window without
// its first-run sheet.
constexpr const char* autopilotEveryMinute
    = R"("autopilotEnabled": {"bool": true}, "autopilotIntervalMinutes": )"
      R"({"integer": 1}, "goal:/": {"string": "99%"}, "hasSeenFirstRun": {"bool": true})";

// Everything the app keeps or reads inside the temporary home, away from any desktop session; on
// this X display when one is named, else off screen.
QProcessEnvironment appEnvironment(const QString& home, const QString& catalog, const QString& display = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "SESSION_MANAGER", "DBUS_SESSION_BUS_ADDRESS", "GR_OPEN_SETTINGS" })
        environment.remove(name);
    environment.insert("HOME", home);
    environment.insert("XDG_CONFIG_HOME", home + "/.config");
    environment.insert("XDG_DATA_HOME", home + "/.local/share");
    environment.insert("XDG_CACHE_HOME", home + "/.cache");
    environment.insert("XDG_RUNTIME_DIR", home + "/runtime");
    environment.insert("QUANDRIL_CATALOG", catalog);
    if (!display.isEmpty()) {
        environment.insert("DISPLAY", display);
        environment.insert("QT_QPA_PLATFORM", "xcb");
    } else if (!environment.contains("QT_QPA_PLATFORM")) {
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    }
    return environment;
}

// A small file system mounted and unmounted in turn, each mount a new drive to the app. Gone with
// the test, whatever way it ends.
class Mounter {
public:
    explicit Mounter(QString at)
        : at_(std::move(at))
    {
        QDir().mkpath(at_);
    }
    ~Mounter() { release(); }

    void toggle()
    {
        if (mounted_)
            mounted_ = ::umount2(at_.toLocal8Bit().constData(), MNT_DETACH) != 0;
        else
            mounted_ = ::mount("none", at_.toLocal8Bit().constData(), "tmpfs", 0, "size=64k") == 0;
    }

    void release()
    {
        if (mounted_)
            toggle();
    }

private:
    QString at_;
    bool mounted_ = false;
};

// The app slowed to three per cent of one core from now on, so that the item in hand outlasts any
// short wait of its end; nothing when this system lets no control group be made (the item is then
// as long as the disk makes it). The group goes with the test.
class Throttle {
public:
    explicit Throttle(qint64 pid)
        : pid_(pid)
    {
        // Held still while it moves, so that it makes no headway meanwhile.
        ::kill(pid_t(pid), SIGSTOP);
        const auto resume = qScopeGuard([pid] { ::kill(pid_t(pid), SIGCONT); });
        const QString name = QStringLiteral("gorrin-test-%1").arg(pid);
        // cgroup v2 (cpu.max), or v1's cpu hierarchy (cpu.cfs_quota_us, period 100 ms).
        const std::pair<QString, QString> kinds[] = { { "/sys/fs/cgroup/" + name, "cpu.max" },
                                                      { "/sys/fs/cgroup/cpu/" + name, "cpu.cfs_quota_us" } };
        for (const auto& [folder, limit] : kinds) {
            if (!QDir().mkdir(folder))
                continue;
            // Only a control group comes with these files; a plain folder (a v1 system's
            // /sys/fs/cgroup is a tmpfs) would take them as new files and slow nothing.
            const bool group = QFileInfo(folder + "/cgroup.procs").exists() && QFileInfo(folder + "/" + limit).exists();
            const QByteArray quota = limit == "cpu.max" ? "3000 100000" : "3000";
            if (group && write(folder + "/" + limit, quota)
                && write(folder + "/cgroup.procs", QByteArray::number(pid))) {
                folder_ = folder;
                return;
            }
            if (group)
                QDir().rmdir(folder);
            else
                QDir(folder).removeRecursively();
        }
    }
    ~Throttle()
    {
        if (folder_.isEmpty())
            return;
        // The app back in the group it came from, should it still run (a check failed).
        write(QFileInfo(folder_).path() + "/cgroup.procs", QByteArray::number(pid_));
        QDir().rmdir(folder_);
    }
    bool active() const { return !folder_.isEmpty(); }

private:
    qint64 pid_;
    QString folder_;
};

// Waits until the folder's listing changes (a file in it goes), looking far more often than the
// app can remove a file; false when `timeoutMs` passes or `giveUp` says so first.
bool waitForChange(const QString& folder, int timeoutMs, const std::function<bool()>& giveUp)
{
    const QByteArray path = folder.toLocal8Bit();
    struct stat before {};
    if (::stat(path.constData(), &before) != 0)
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        struct stat now {};
        if (::stat(path.constData(), &now) != 0 || now.st_mtim.tv_sec != before.st_mtim.tv_sec
            || now.st_mtim.tv_nsec != before.st_mtim.tv_nsec)
            return true;
        if (giveUp())
            return false;
        QCoreApplication::processEvents(); // the drive mounting and unmounting
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

// A private X server, so that the test can press the app's own keys as a person would; not
// running when Xvfb or xdotool is missing. Ends with the test.
class VirtualDisplay {
public:
    VirtualDisplay()
    {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty())
            return;
        // Xvfb picks a free display and writes its number once it takes connections.
        server_.start("Xvfb", { "-displayfd", "1", "-screen", "0", "1440x900x24", "-nolisten", "tcp" });
        if (!server_.waitForStarted())
            return;
        QByteArray number;
        while (!number.endsWith('\n') && server_.waitForReadyRead(60'000))
            number += server_.readAllStandardOutput();
        if (number.trimmed().isEmpty())
            return;
        name_ = ":" + QString::fromLatin1(number.trimmed());
    }
    ~VirtualDisplay()
    {
        if (server_.state() == QProcess::NotRunning)
            return;
        server_.terminate();
        if (!server_.waitForFinished(10'000))
            server_.kill();
        server_.waitForFinished();
    }
    bool running() const { return !name_.isEmpty(); }
    const QString& name() const { return name_; }

    // xdotool on this display: what it printed, or nothing when it failed.
    std::optional<QString> xdotool(const QStringList& arguments) const
    {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", name_);
        tool.setProcessEnvironment(environment);
        tool.start("xdotool", arguments);
        if (!tool.waitForFinished(30'000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
            return std::nullopt;
        return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    }

    // The app's main window given the keyboard, as a click on it would; false until it shows.
    bool focusMainWindow() const
    {
        const auto found = xdotool({ "search", "--onlyvisible", "--name", "^Gorrin$" });
        const QString window = found ? found->section('\n', 0, 0) : QString();
        return !window.isEmpty() && xdotool({ "windowfocus", "--sync", window });
    }

    // Keys pressed as on a keyboard, into whatever has the keyboard.
    bool press(const QString& keys) const { return xdotool({ "key", "--clearmodifiers", keys }).has_value(); }

private:
    QProcess server_;
    QString name_;
};

std::int64_t historyBytes(const QString& home, const std::string& id)
{
    QFile file(home + "/Library/Application Support/Quandril/history.jsonl");
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    std::int64_t bytes = 0;
    for (const HistoryEntry& entry : History::parse(file.readAll().toStdString()))
        if (entry.id == id)
            bytes += entry.bytes;
    return bytes;
}

// The real gorrin in `home`, its errors in the test's own output.
bool startGorrin(QProcess& app, const QString& home, const QProcessEnvironment& environment)
{
    app.setProcessEnvironment(environment);
    app.setWorkingDirectory(home);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QStringLiteral(GORRIN_EXECUTABLE), {});
    return app.waitForStarted();
}

} // namespace

class EndOfSessionTests : public QObject {
    Q_OBJECT

private slots:
    // The drive the test mounts stays in a mount namespace of its own, which the app inherits, so
    // no other test running beside it sees drives come and go.
    void initTestCase()
    {
        if (geteuid() == 0
            && (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0))
            QSKIP("no mount namespace of our own here, and mounting in the shared one would disturb other tests");
    }

    void aSigtermStopsTheCleanUpBetweenItemsAndEndsTheApp()
    {
        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString home = work.filePath("home");
        const QString caches = home + "/Library/Caches";
        QVERIFY(makeHome(home));

        QVERIFY(writeCatalog(work.filePath("catalog.json")));
        const std::map<QString, std::int64_t> sizes = fillCaches(caches);
        QVERIFY(!sizes.empty());
        QVERIFY(writePreferences(home, autopilotEveryMinute));

        QProcess app;
        QVERIFY(startGorrin(app, home, appEnvironment(home, work.filePath("catalog.json"))));

        // A drive mounting makes the autopilot check at once; without the right to mount, its
        // routine check comes within a minute.
        Mounter mounter(work.filePath("mount"));
        QTimer toggle;
        connect(&toggle, &QTimer::timeout, this, [&] { mounter.toggle(); });
        toggle.start(1000);

        const QString first = caches + "/" + folderName(0);
        QTRY_VERIFY_WITH_TIMEOUT(entries(caches) < folders || entries(first) < filesEach
                                     || app.state() == QProcess::NotRunning,
                                 150'000);
        QVERIFY2(app.state() == QProcess::Running, "gorrin ended before its clean-up");
        app.terminate();
        toggle.stop();
        mounter.release();

        // It ends, by itself rather than by the signal, long before anyone would have to kill it.
        QVERIFY(app.waitForFinished(10'000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);

        // The clean-up stopped between folders: each is whole or gone, and History holds exactly
        // the bytes of those gone.
        std::int64_t goneBytes = 0;
        int gone = 0;
        for (const auto& [name, bytes] : sizes) {
            const QString folder = caches + "/" + name;
            if (!QFileInfo::exists(folder)) {
                goneBytes += bytes;
                ++gone;
            } else {
                QCOMPARE(entries(folder), filesEach);
            }
        }
        QVERIFY(gone > 0);
        QFile historyFile(home + "/Library/Application Support/Quandril/history.jsonl");
        QVERIFY(historyFile.open(QIODevice::ReadOnly));
        const auto history = History::parse(historyFile.readAll().toStdString());
        QCOMPARE(history.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(history[0].id), QStringLiteral("app-caches"));
        QCOMPARE(history[0].bytes, goneBytes);
        qInfo("stopped after %d of %d folders", gone, folders);
    }

    // A cache too large to go in a moment, mid-way when the session ends or the user quits: the
    // app waits until its clean-up stops and records what it did, so History holds exactly what
    // left the disk.
    void anEndMidItemLeavesHistoryTrueToTheDisk_data()
    {
        QTest::addColumn<bool>("quit");
        QTest::newRow("SIGTERM") << false;
        QTest::newRow("Quit Gorrin") << true;
    }

    void anEndMidItemLeavesHistoryTrueToTheDisk()
    {
        QFETCH(bool, quit);
        VirtualDisplay display;
        if (quit && !display.running())
            QSKIP("Quit is pressed on a private X server, and Xvfb or xdotool is missing");
        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString home = work.filePath("home");
        QVERIFY(makeHome(home));
        QVERIFY(writeCatalog(work.filePath("catalog.json")));
        const QString big = home + "/Library/Caches/com.example.big";
        constexpr int bigFiles = 12'000;
        QVERIFY(QDir().mkpath(big));
        for (int f = 0; f < bigFiles; ++f)
            QVERIFY(write(big + QStringLiteral("/part%1").arg(f), QByteArray(512, 'c')));
        const std::int64_t before = diskUsage(big.toStdString()).bytes;
        // The folder's own blocks, which stay while any of it does.
        const std::int64_t ownBytes = before - bigFiles * diskUsage((big + "/part0").toStdString()).bytes;
        QVERIFY(writePreferences(home, autopilotEveryMinute));

        QProcess app;
        QVERIFY(startGorrin(app, home, appEnvironment(home, work.filePath("catalog.json"), display.name())));
        Mounter mounter(work.filePath("mount"));
        QTimer toggle;
        connect(&toggle, &QTimer::timeout, this, [&] { mounter.toggle(); });
        toggle.start(1000);

        // Caught at its first file and slowed from there on.
        QVERIFY2(waitForChange(big, 150'000, [&] { return app.state() == QProcess::NotRunning; }),
                 "gorrin ended before its clean-up");
        const Throttle throttle(app.processId());
        QVERIFY2(app.state() == QProcess::Running, "gorrin ended before its clean-up");
        QElapsedTimer asked;
        asked.start();
        if (quit) {
            QTRY_VERIFY_WITH_TIMEOUT(display.focusMainWindow(), 60'000);
            QVERIFY(display.press("ctrl+q"));
        } else {
            app.terminate();
        }
        toggle.stop();
        mounter.release();
        QVERIFY(app.waitForFinished(120'000));
        const qint64 took = asked.elapsed();
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);

        // Whole or in part, what went is what History says went.
        const bool whole = !QFileInfo::exists(big);
        const std::int64_t gone = before - (whole ? 0 : diskUsage(big.toStdString()).bytes);
        const std::int64_t recorded = historyBytes(home, "app-caches");
        if (whole)
            QCOMPARE(recorded, before);
        else
            QVERIFY2(std::abs(recorded - gone) <= ownBytes,
                     qPrintable(QStringLiteral("History says %1 bytes, %2 left the disk").arg(recorded).arg(gone)));
        qInfo("%s, %s, ended %lld ms after it was asked", whole ? "the cache went whole" : "the cache stopped part-way",
              throttle.active() ? "the app slowed" : "at the disk's own pace", static_cast<long long>(took));
    }

    // Files put back from a Trash on another file system, each a copy, when the session ends: the
    // app waits until the Put Back stops and notes it, so whatever came back is whole and History
    // knows it, and the rest stays in the Trash.
    void aSigtermDuringAPutBackWaitsForIt()
    {
        VirtualDisplay display;
        if (!display.running())
            QSKIP("Put Back is pressed on a private X server, and Xvfb or xdotool is missing");
        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString home = work.filePath("home");
        QVERIFY(makeHome(home));
        QVERIFY(writeCatalog(work.filePath("catalog.json")));
        // The Trash on a file system of its own, mounted only inside this test's mount namespace
        // (which the app inherits): each file comes back as a copy.
        const QString trash = home + "/.local/share/Trash";
        QVERIFY(QDir().mkpath(trash));
        const bool acrossMounts = geteuid() == 0
            && ::mount("none", trash.toLocal8Bit().constData(), "tmpfs", 0, "size=400m,mode=0700") == 0;
        const auto unmount = qScopeGuard([&] {
            if (acrossMounts)
                ::umount2(trash.toLocal8Bit().constData(), MNT_DETACH);
        });
        QVERIFY(QDir().mkpath(trash + "/files") && QDir().mkpath(trash + "/info"));

        // Forty files of 4 MB in the Trash, as a Trash client leaves them, and History's line for them.
        const QString folder = home + "/Documents/Old";
        QVERIFY(QDir().mkpath(folder));
        constexpr int files = 40;
        const QByteArray content(4 << 20, 'p');
        const Mac mac("", home.toStdString(), std::nullopt);
        HistoryEntry entry { .at = std::chrono::time_point_cast<std::chrono::seconds>(Clock::now()),
                             .id = "old-files",
                             .title = "Old files",
                             .action = Action::Kind::trash,
                             .bytes = std::int64_t(files) * content.size(),
                             .relocated = {},
                             .undone = std::nullopt };
        for (int f = 0; f < files; ++f) {
            const QString name = QStringLiteral("file%1.bin").arg(f, 2, 10, QLatin1Char('0'));
            const std::string from = (folder + "/" + name).toStdString();
            QVERIFY(write(trash + "/files/" + name, content));
            QFile info(trash + "/info/" + name + ".trashinfo");
            QVERIFY(info.open(QIODevice::WriteOnly));
            info.write(QByteArray("[Trash Info]\nPath=") + Platform::trashInfoPath(from).c_str()
                       + "\nDeletionDate=2026-01-02T03:04:05\n");
            info.close();
            QVERIFY(info.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
            entry.relocated.push_back({ from, (trash + "/files/" + name).toStdString(), std::nullopt, std::nullopt });
        }
        QVERIFY(History::append(entry, mac));
        QCOMPARE(entries(folder), 0);
        QVERIFY(writePreferences(home, R"("hasSeenFirstRun": {"bool": true}, "mainSection": {"string": "history"})"));

        QProcess app;
        QVERIFY(startGorrin(app, home, appEnvironment(home, work.filePath("catalog.json"), display.name())));
        QTRY_VERIFY_WITH_TIMEOUT(display.focusMainWindow(), 60'000);

        // History's one Put Back button, reached from the keyboard: the focus moves on until a
        // press starts it, which the first file coming back shows.
        bool started = false;
        for (int tries = 0; tries < 12 && !started && app.state() == QProcess::Running; ++tries) {
            QVERIFY(display.press("Tab") && display.press("space"));
            started = QTest::qWaitFor([&] { return entries(folder) > 0; }, 5'000);
        }
        QVERIFY2(started, "the Put Back didn't start");
        // The end comes once a file is whole at its place and the next is under way: a stop within
        // the first copy rightly brings nothing back, which would leave nothing to check.
        const auto wholeFiles = [&] {
            int whole = 0;
            for (const QFileInfo& file : QDir(folder).entryInfoList({ "file??.bin" }, QDir::Files))
                whole += file.size() == content.size();
            return whole;
        };
        QVERIFY2(QTest::qWaitFor([&] { return wholeFiles() >= 2; }, 60'000), "no file came back whole");
        const Throttle throttle(app.processId());
        app.terminate();
        QVERIFY(app.waitForFinished(120'000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);

        // History notes the Put Back, and every file back is whole and named there; no part of a
        // copy is left beside them, and the rest are still in the Trash. A finished Put Back marks
        // the line undone; one stopped part way may instead write a line whose "back" lists what
        // came back (each to its old place).
        QFile historyFile(home + "/Library/Application Support/Quandril/history.jsonl");
        QVERIFY(historyFile.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = historyFile.readAll().split('\n');
        std::set<std::string> noted;
        for (qsizetype n = 1; n < lines.size(); ++n) {
            const QJsonObject line = QJsonDocument::fromJson(lines[n]).object();
            if (line.value("undone").toBool())
                for (const QJsonValue item : line.value("relocated").toArray())
                    noted.insert(item.toObject().value("from").toString().toStdString());
            for (const QJsonValue item : line.value("back").toArray())
                noted.insert(item.toObject().value("to").toString().toStdString());
        }
        QVERIFY2(!noted.empty(), "History doesn't know of the Put Back");
        int back = 0;
        for (const Relocation& item : entry.relocated) {
            const QString from = QString::fromStdString(item.from);
            if (QFileInfo::exists(from)) {
                ++back;
                QVERIFY2(noted.count(item.from), qPrintable(from + " came back unnoted"));
                QFile file(from);
                QVERIFY(file.open(QIODevice::ReadOnly));
                QVERIFY2(file.readAll() == content, qPrintable(from + " came back cut"));
            } else {
                QVERIFY2(QFileInfo::exists(QString::fromStdString(item.to)), qPrintable(from + " is lost"));
            }
        }
        QCOMPARE(entries(folder), back);
        qInfo("%d of %d files back, %s, %s", back, files, acrossMounts ? "across mounts" : "on one file system",
              throttle.active() ? "the app slowed" : "at the disk's own pace");
    }
};

QTEST_GUILESS_MAIN(EndOfSessionTests)
#include "EndOfSessionTests.moc"
