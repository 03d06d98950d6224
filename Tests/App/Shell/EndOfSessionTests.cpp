// The real app, ended by the session's SIGTERM while its autopilot deletes a large set of caches.

#include <QtTest>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Machine/DiskUsage.h"

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

// Everything the app keeps or reads inside the temporary home, away from any desktop session.
QProcessEnvironment appEnvironment(const QString& home, const QString& catalog)
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
    if (!environment.contains("QT_QPA_PLATFORM"))
        environment.insert("QT_QPA_PLATFORM", "offscreen");
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
        for (const char* folder : { "/.config/Gorrin", "/.local/share", "/.cache", "/runtime", "/Library/Caches" })
            QVERIFY(QDir().mkpath(home + folder));
        QFile::setPermissions(home + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QVERIFY(writeCatalog(work.filePath("catalog.json")));
        const std::map<QString, std::int64_t> sizes = fillCaches(caches);
        QVERIFY(!sizes.empty());
        // The autopilot on, every minute, with the startup drive below its goal.
        QVERIFY(write(home + "/.config/Gorrin/preferences.json",
                      R"({"autopilotEnabled": {"bool": true}, "autopilotIntervalMinutes": {"integer": 1},)"
                      R"( "goal:/": {"string": "99%"}})"));

        QProcess app;
        app.setProcessEnvironment(appEnvironment(home, work.filePath("catalog.json")));
        app.setWorkingDirectory(home);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(QStringLiteral(GORRIN_EXECUTABLE), {});
        QVERIFY(app.waitForStarted());

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
};

QTEST_GUILESS_MAIN(EndOfSessionTests)
#include "EndOfSessionTests.moc"
