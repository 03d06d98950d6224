#include "Support/EndScenarios.h"

#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <set>

#include <sys/mount.h>
#include <unistd.h>

#include "QuandrilCore/Machine/DiskUsage.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/Trash.h"
#include "Support/RealGorrin.h"

namespace Quandril::AppTesting {

namespace {

const char* describe(Ending ending)
{
    switch (ending) {
    case Ending::sigterm:
        return "SIGTERM";
    case Ending::sigint:
        return "SIGINT";
    case Ending::quit:
        return "Quit";
    case Ending::displayGone:
        return "the display gone";
    case Ending::displayGoneWithSigterm:
        return "the display gone with SIGTERM";
    }
    return "";
}

// Ends the app as `ending` says; false when that couldn't be done.
bool end(Ending ending, QProcess& app, VirtualDisplay& display)
{
    switch (ending) {
    case Ending::sigterm:
        app.terminate();
        return true;
    case Ending::sigint:
        return ::kill(pid_t(app.processId()), SIGINT) == 0;
    case Ending::quit:
        return QTest::qWaitFor([&] { return display.focusMainWindow(); }, 60'000) && display.press("ctrl+q");
    case Ending::displayGone:
        return display.end();
    case Ending::displayGoneWithSigterm:
        return display.end([&] { app.terminate(); });
    }
    return false;
}

// Waits until History holds what `recorded` looks for, or the app ends: once the app has done
// its duty, a slowed app may run to its end at full pace.
void waitUntilRecorded(QProcess& app, const std::function<bool()>& recorded)
{
    [[maybe_unused]] const bool done
        = QTest::qWaitFor([&] { return app.state() == QProcess::NotRunning || recorded(); }, endBoundMs());
}

// The app ended by itself, not by a signal, and not as a crash.
void checkEndedSound(QProcess& app)
{
    QVERIFY2(waitForEnd(app), "gorrin didn't end");
    QVERIFY2(app.exitStatus() == QProcess::NormalExit,
             qPrintable(QStringLiteral("gorrin ended by signal %1").arg(app.exitCode())));
}

struct Scene {
    QTemporaryDir work;
    QString home = work.filePath("home");
    QString catalog = work.filePath("catalog.json");
};

// A drive mounting makes the autopilot check at once; without the right to mount, its routine
// check comes within a minute.
struct DriveToggling {
    Mounter mounter;
    QTimer timer;
    explicit DriveToggling(const QString& at)
        : mounter(at)
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { mounter.toggle(); });
        timer.start(1000);
    }
    void stop()
    {
        timer.stop();
        mounter.release();
    }
};

// Waits at most this long for the autopilot to start its clean-up.
constexpr int cleanUpStartMs = 120'000;

} // namespace

bool needsDisplay(Ending ending)
{
    return ending == Ending::quit || ending == Ending::displayGone || ending == Ending::displayGoneWithSigterm;
}

void endCleanUpBetweenItems(Ending ending)
{
    constexpr int folders = 150;
    constexpr int filesEach = 120;
    VirtualDisplay display;
    if (needsDisplay(ending) && !display.running())
        QSKIP("this end comes on a private X server, and Xvfb or xdotool is missing");
    Scene scene;
    QVERIFY(scene.work.isValid());
    const QString caches = scene.home + "/Library/Caches";
    QVERIFY(makeHome(scene.home) && writeCatalog(scene.catalog));
    const std::map<QString, std::int64_t> sizes = fillCaches(caches, folders, filesEach);
    QVERIFY(!sizes.empty());
    QVERIFY(writePreferences(scene.home, autopilotEveryMinute));

    TiedProcess app;
    const QString screen = needsDisplay(ending) ? display.name() : QString();
    QVERIFY(startGorrin(app, scene.home, appEnvironment(scene.home, scene.catalog, screen)));
    DriveToggling drive(scene.work.filePath("mount"));
    const QString first = caches + "/" + cacheFolderName(0);
    QVERIFY(QTest::qWaitFor(
        [&] { return entries(caches) < folders || entries(first) < filesEach || app.state() == QProcess::NotRunning; },
        cleanUpStartMs));
    QVERIFY2(app.state() == QProcess::Running, "gorrin ended before its clean-up");
    QVERIFY(end(ending, app, display));
    drive.stop();
    checkEndedSound(app);
    if (QTest::currentTestFailed())
        return;

    // The clean-up stopped between folders: each is whole or gone, and History holds exactly the
    // bytes of those gone, on one line.
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
    QFile historyFile(historyPath(scene.home));
    QVERIFY(historyFile.open(QIODevice::ReadOnly));
    const auto history = History::parse(historyFile.readAll().toStdString());
    QCOMPARE(history.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(history[0].id), QStringLiteral("app-caches"));
    QCOMPARE(history[0].bytes, goneBytes);
    qInfo("%s: stopped after %d of %d folders", describe(ending), gone, folders);
}

void endCleanUpMidItem(Ending ending)
{
    VirtualDisplay display;
    if (needsDisplay(ending) && !display.running())
        QSKIP("this end comes on a private X server, and Xvfb or xdotool is missing");
    Scene scene;
    QVERIFY(scene.work.isValid());
    QVERIFY(makeHome(scene.home) && writeCatalog(scene.catalog));
    const QString big = scene.home + "/Library/Caches/com.example.big";
    constexpr int bigFiles = 12'000;
    QVERIFY(QDir().mkpath(big));
    for (int f = 0; f < bigFiles; ++f)
        QVERIFY(writeFile(big + QStringLiteral("/part%1").arg(f), QByteArray(512, 'c')));
    const std::int64_t before = diskUsage(big.toStdString()).bytes;
    // The folder's own blocks, which stay while any of it does.
    const std::int64_t ownBytes = before - bigFiles * diskUsage((big + "/part0").toStdString()).bytes;
    QVERIFY(writePreferences(scene.home, autopilotEveryMinute));

    TiedProcess app;
    const QString screen = needsDisplay(ending) ? display.name() : QString();
    QVERIFY(startGorrin(app, scene.home, appEnvironment(scene.home, scene.catalog, screen)));
    DriveToggling drive(scene.work.filePath("mount"));

    // Caught at its first file and slowed from there on.
    QVERIFY2(waitForChange(big, cleanUpStartMs, [&] { return app.state() == QProcess::NotRunning; }),
             "gorrin ended before its clean-up");
    Throttle throttle(app.processId());
    const bool slowed = throttle.active();
    QVERIFY2(app.state() == QProcess::Running, "gorrin ended before its clean-up");
    QVERIFY(end(ending, app, display));
    drive.stop();
    waitUntilRecorded(app, [&] { return historyBytes(scene.home, "app-caches") > 0; });
    throttle.release();
    checkEndedSound(app);
    if (QTest::currentTestFailed())
        return;

    // Whole or in part, what went is what History says went.
    const bool whole = !QFileInfo::exists(big);
    const std::int64_t gone = before - (whole ? 0 : diskUsage(big.toStdString()).bytes);
    const std::int64_t recorded = historyBytes(scene.home, "app-caches");
    if (whole)
        QCOMPARE(recorded, before);
    else
        QVERIFY2(std::abs(recorded - gone) <= ownBytes,
                 qPrintable(QStringLiteral("History says %1 bytes, %2 left the disk").arg(recorded).arg(gone)));
    qInfo("%s: %s, %s", describe(ending), whole ? "the cache went whole" : "the cache stopped part-way",
          slowed ? "the app slowed" : "at the disk's own pace");
}

namespace {

// What History says of the Put Back: the places of what came back. A finished Put Back marks the
// line undone; one stopped part way may instead write a line whose "back" lists what came back
// (each to its old place).
std::set<std::string> notedBack(const QString& home)
{
    QFile historyFile(historyPath(home));
    if (!historyFile.open(QIODevice::ReadOnly))
        return {};
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
    return noted;
}

} // namespace

void endPutBack(Ending ending)
{
    VirtualDisplay display;
    if (!display.running())
        QSKIP("Put Back is pressed on a private X server, and Xvfb or xdotool is missing");
    Scene scene;
    QVERIFY(scene.work.isValid());
    const QString& home = scene.home;
    QVERIFY(makeHome(home) && writeCatalog(scene.catalog));
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
        QVERIFY(writeFile(trash + "/files/" + name, content));
        QVERIFY(writeFile(trash + "/info/" + name + ".trashinfo",
                          QByteArray("[Trash Info]\nPath=") + Platform::trashInfoPath(from).c_str()
                              + "\nDeletionDate=2026-01-02T03:04:05\n"));
        QVERIFY(QFile::setPermissions(trash + "/info/" + name + ".trashinfo", QFile::ReadOwner | QFile::WriteOwner));
        entry.relocated.push_back({ from, (trash + "/files/" + name).toStdString(), std::nullopt, std::nullopt });
    }
    QVERIFY(History::append(entry, mac));
    QVERIFY(writePreferences(home, R"("hasSeenFirstRun": {"bool": true}, "mainSection": {"string": "history"})"));

    TiedProcess app;
    QVERIFY(startGorrin(app, home, appEnvironment(home, scene.catalog, display.name())));
    QVERIFY(QTest::qWaitFor([&] { return display.focusMainWindow(); }, 60'000));

    // History's one Put Back button, reached from the keyboard: the focus moves on until a press
    // starts it, which the first file coming back shows.
    bool started = false;
    for (int tries = 0; tries < 12 && !started && app.state() == QProcess::Running; ++tries) {
        QVERIFY(display.press("Tab") && display.press("space"));
        started = QTest::qWaitFor([&] { return entries(folder) > 0; }, 5'000);
    }
    QVERIFY2(started, "the Put Back didn't start");
    // The end comes once a file is whole at its place and the next is under way: a stop within the
    // first copy rightly brings nothing back, which would leave nothing to check.
    const auto wholeFiles = [&] {
        int whole = 0;
        for (const QFileInfo& file : QDir(folder).entryInfoList({ "file??.bin" }, QDir::Files))
            whole += file.size() == content.size();
        return whole;
    };
    QVERIFY2(QTest::qWaitFor([&] { return wholeFiles() >= 2; }, 60'000), "no file came back whole");
    Throttle throttle(app.processId());
    const bool slowed = throttle.active();
    QVERIFY(end(ending, app, display));
    waitUntilRecorded(app, [&] { return !notedBack(home).empty(); });
    throttle.release();
    checkEndedSound(app);
    if (QTest::currentTestFailed())
        return;

    // Every file back is whole and named in History; no part of a copy is left beside them, and
    // the rest are still in the Trash, where History's first line still names them.
    const std::set<std::string> noted = notedBack(home);
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
    qInfo("%s: %d of %d files back, %s, %s", describe(ending), back, files,
          acrossMounts ? "across mounts" : "on one file system", slowed ? "the app slowed" : "at the disk's own pace");
}

} // namespace Quandril::AppTesting
