// The real app, ended by the session's SIGTERM while its autopilot deletes a large set of caches.

#include <QtTest>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <sys/mount.h>

#include "QuandrilCore/Cleaner.h"
#include "QuandrilCore/DiskUsage.h"

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

} // namespace

class EndOfSessionTests : public QObject {
    Q_OBJECT

private slots:
    void aSigtermStopsTheCleanUpBetweenItemsAndEndsTheApp()
    {
        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString home = work.filePath("home");
        const QString caches = home + "/Library/Caches";
        for (const char* folder : { "/.config/Gorrin", "/.local/share", "/.cache", "/runtime", "/Library/Caches" })
            QVERIFY(QDir().mkpath(home + folder));
        QFile::setPermissions(home + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // Every folder of the home's caches counts, however small: the shipped rules with their
        // thresholds at one byte.
        QFile shipped(QStringLiteral(QUANDRIL_SHIPPED_CATALOG));
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QJsonObject catalog = QJsonDocument::fromJson(shipped.readAll()).object();
        QJsonObject thresholds = catalog.value("thresholds").toObject();
        thresholds.insert("appCaches", 1);
        thresholds.insert("appCacheEach", 1);
        catalog.insert("thresholds", thresholds);
        QVERIFY(write(work.filePath("catalog.json"), QJsonDocument(catalog).toJson()));

        std::map<QString, std::int64_t> sizes;
        for (int i = 0; i < folders; ++i) {
            const QString folder = caches + "/" + folderName(i);
            QVERIFY(QDir().mkpath(folder));
            for (int f = 0; f < filesEach; ++f)
                QVERIFY(write(folder + QStringLiteral("/part%1").arg(f), QByteArray(512, 'c')));
            sizes[folderName(i)] = diskUsage(folder.toStdString()).bytes;
        }
        // The autopilot on, every minute, with the startup drive below its goal.
        QVERIFY(write(home + "/.config/Gorrin/preferences.json",
                      R"({"autopilotEnabled": {"bool": true}, "autopilotIntervalMinutes": {"integer": 1},)"
                      R"( "goal:/": {"string": "99%"}})"));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "SESSION_MANAGER", "DBUS_SESSION_BUS_ADDRESS", "GR_OPEN_SETTINGS" })
            environment.remove(name);
        environment.insert("HOME", home);
        environment.insert("XDG_CONFIG_HOME", home + "/.config");
        environment.insert("XDG_DATA_HOME", home + "/.local/share");
        environment.insert("XDG_CACHE_HOME", home + "/.cache");
        environment.insert("XDG_RUNTIME_DIR", home + "/runtime");
        environment.insert("QUANDRIL_CATALOG", work.filePath("catalog.json"));
        QProcess app;
        app.setProcessEnvironment(environment);
        app.setWorkingDirectory(home);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(QStringLiteral(GORRIN_EXECUTABLE), {});
        QVERIFY(app.waitForStarted());

        // A drive mounting makes the autopilot check at once; without the right to mount, its
        // routine check comes within a minute.
        const QString mountPoint = work.filePath("mount");
        QVERIFY(QDir().mkpath(mountPoint));
        bool mounted = false;
        QTimer mounter;
        connect(&mounter, &QTimer::timeout, this, [&] {
            if (mounted)
                mounted = ::umount2(mountPoint.toLocal8Bit().constData(), MNT_DETACH) != 0;
            else
                mounted = ::mount("none", mountPoint.toLocal8Bit().constData(), "tmpfs", 0, "size=64k") == 0;
        });
        mounter.start(1000);

        const QString first = caches + "/" + folderName(0);
        QTRY_VERIFY_WITH_TIMEOUT(entries(caches) < folders || entries(first) < filesEach, 150'000);
        app.terminate();
        mounter.stop();
        if (mounted)
            ::umount2(mountPoint.toLocal8Bit().constData(), MNT_DETACH);

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
