// The desktop services that need no bus: desktop entries and their Exec lines, the autostart entry,
// starting applications by name, and the mount watcher.

#include "QuandrilApp/Platform/AppLauncher.h"
#include "QuandrilApp/Platform/DesktopEntry.h"
#include "QuandrilApp/Platform/LoginItem.h"
#include "QuandrilApp/Platform/MountWatcher.h"

#include "Support/ReturnsPromptly.h"

#include <QFileSystemWatcher>
#include <QTemporaryDir>
#include <QtTest>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Quandril::App;

namespace {

bool write(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

struct ScopedEnv {
    ScopedEnv(const char* name, const QByteArray& value)
        : name(name)
        , old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv() { old.isNull() ? void(qunsetenv(name)) : void(qputenv(name, old)); }
    const char* name;
    QByteArray old;
};

} // namespace

class DesktopServicesTests : public QObject {
    Q_OBJECT
private slots:
    // Each line as written in the file, and the command it runs ("refused" when none).
    void execLinesSplitIntoCommands()
    {
        const QList<std::pair<QString, QString>> rows {
            { "\"/opt/My Games/steam\" -silent %U", "/opt/My Games/steam|-silent" }, // field codes go
            { "app --file=%f --name %c %i %k", "app|--file=|--name" },               // codes inside words
            { "app 100%% \"%%U\"", "app|100%|%U" },
            { "\"a \\\\\"b\\\\\" \\\\$c \\\\`d\\\\` \\\\\\\\e\" f\\g", "a \"b\" $c `d` \\e|f\\g" }, // escapes in quotes
            { "  app   \"\"   x  ", "app||x" },
            { "app \"unclosed", "refused" },
            { "app %z", "refused" },
            { "app %", "refused" },
            { " %U ", "refused" },
        };
        QStringList got, expected;
        for (const auto& [line, command] : rows) {
            const auto split = DesktopEntry::splitExec(DesktopEntry::unescapeValue(line));
            got << line + " → " + (split && !split->isEmpty() ? split->join(u'|') : QStringLiteral("refused"));
            expected << line + " → " + command;
        }
        QCOMPARE(got, expected);
    }

    void autostartEntryRunsThisVeryProgram_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("execLine");
        QTest::newRow("plain") << "/usr/bin/gorrin"
                               << "Exec=\"/usr/bin/gorrin\"";
        QTest::newRow("spaces") << "/opt/Gorrin App/gorrin"
                                << "Exec=\"/opt/Gorrin App/gorrin\"";
        QTest::newRow("quote and backslash") << "/tmp/a\"b\\c/gorrin"
                                             << "Exec=\"/tmp/a\\\\\"b\\\\\\\\c/gorrin\"";
        QTest::newRow("shell characters") << "/tmp/100% $HOME `x`/gorrin"
                                          << "Exec=\"/tmp/100%% \\\\$HOME \\\\`x\\\\`/gorrin\"";
        QTest::newRow("non-ASCII") << "/home/zoë/Über/gorrin"
                                   << "Exec=\"/home/zoë/Über/gorrin\"";
        QTest::newRow("newline and tab") << "/tmp/a\nb\tc/gorrin"
                                         << "Exec=\"/tmp/a\\nb\\tc/gorrin\"";
    }

    void autostartEntryRunsThisVeryProgram()
    {
        QFETCH(QString, executable);
        QFETCH(QString, execLine);
        QTemporaryDir root;
        const QString folder = root.filePath(QStringLiteral("config/autostart"));
        AutostartLoginItem item(folder, executable);
        QVERIFY(!item.isEnabled());

        QCOMPARE(item.register_(), std::nullopt);
        QVERIFY(item.isEnabled());
        QFile file(item.entryPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString expected = "[Desktop Entry]\nType=Application\nName=Gorrin\n" + execLine
            + "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
        QCOMPARE(QString::fromUtf8(file.readAll()), expected);
        // Read back as a desktop reads it, the command is this very program.
        QCOMPARE(DesktopEntry::splitExec(DesktopEntry::read(item.entryPath())->value(QStringLiteral("Exec"))),
                 QStringList { executable });

        QCOMPARE(item.unregister(), std::nullopt);
        QVERIFY(!item.isEnabled());
        QVERIFY(!file.exists());
        QCOMPARE(item.unregister(), std::nullopt);
    }

    // The desktop's own switches are read; switching it on makes it ours again, whatever was written.
    void autostartEntrySwitchedOffByTheDesktop()
    {
        const QByteArray head = "# written by hand\n[Desktop Entry]\nType=Application\nExec=gorrin\n";
        const QList<std::pair<QByteArray, bool>> rows {
            { head, true },
            { head + "Hidden=true\n", false },
            { head + "Hidden=false\n", true },
            { head + "X-GNOME-Autostart-enabled = false\n", false },
            { head + "X-GNOME-Autostart-enabled=true\n", true },
            { head + "[Desktop Action quit]\nHidden=true\n", true }, // hidden in another group
            { "Hidden=false\n", false },                             // not an entry
        };
        for (const auto& [content, enabled] : rows) {
            QTemporaryDir root;
            AutostartLoginItem item(root.path(), QStringLiteral("/usr/bin/gorrin"));
            QVERIFY(write(item.entryPath(), content));
            QVERIFY2(item.isEnabled() == enabled, content.constData());
            QCOMPARE(item.register_(), std::nullopt);
            QVERIFY(item.isEnabled());
        }
    }

    void autostartFailuresAreReported()
    {
        QTemporaryDir root;
        QVERIFY(write(root.filePath(QStringLiteral("file")), "x"));
        AutostartLoginItem underAFile(root.filePath(QStringLiteral("file/autostart")),
                                      QStringLiteral("/usr/bin/gorrin"));
        QCOMPARE(
            underAFile.register_().value_or(QString()),
            QStringLiteral("The folder %1 could not be created.").arg(root.filePath(QStringLiteral("file/autostart"))));
        QVERIFY(!underAFile.isEnabled());

        // A folder where the entry should be can be neither replaced nor removed.
        AutostartLoginItem blocked(root.path(), QStringLiteral("/usr/bin/gorrin"));
        QVERIFY(write(blocked.entryPath() + QStringLiteral("/inside"), "x"));
        QVERIFY(blocked.register_().value_or(QString()).startsWith(blocked.entryPath()
                                                                   + QStringLiteral(" could not be written: ")));
        QVERIFY(blocked.unregister().value_or(QString()).startsWith(blocked.entryPath()
                                                                    + QStringLiteral(" could not be removed: ")));
        QVERIFY(QFile::exists(blocked.entryPath() + QStringLiteral("/inside")));
    }

    // Whatever stands at the entry is read without waiting, and only a regular file (a link to one
    // is read through); switching on replaces the entry itself, never what a link there points at.
    void autostartEntryOfAnotherKind_data()
    {
        QTest::addColumn<QString>("placed");
        QTest::addColumn<bool>("enabledBefore");
        QTest::newRow("pipe") << "pipe" << false;
        QTest::newRow("link to an entry elsewhere") << "link" << true;
        QTest::newRow("dangling link") << "dangling" << false;
        QTest::newRow("link to a pipe") << "link to pipe" << false;
    }

    void autostartEntryOfAnotherKind()
    {
        QFETCH(QString, placed);
        QFETCH(bool, enabledBefore);
        QTemporaryDir root;
        AutostartLoginItem item(root.path(), QStringLiteral("/usr/bin/gorrin"));
        const QString elsewhere = root.filePath(QStringLiteral("elsewhere")),
                      pipe = placed == "pipe" ? item.entryPath() : elsewhere;
        if (placed == "link")
            QVERIFY(write(elsewhere, "[Desktop Entry]\nExec=other\n"));
        if (placed.endsWith("pipe"))
            QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        if (placed != "pipe")
            QVERIFY(QFile::link(elsewhere, item.entryPath()));
        const auto target = [&] { return std::pair(QFileInfo(elsewhere).exists(), QFileInfo(elsewhere).size()); };
        const auto targetBefore = target();

        bool enabled = !enabledBefore;
        std::optional<QString> failure = QStringLiteral("not run");
        QVERIFY(Quandril::AppTesting::returnsPromptly(pipe, [&] {
            enabled = item.isEnabled();
            failure = item.register_();
        }));
        QCOMPARE(enabled, enabledBefore);
        QCOMPARE(failure, std::nullopt);
        QVERIFY(!QFileInfo(item.entryPath()).isSymLink() && item.isEnabled());
        QCOMPARE(target(), targetBefore);
    }

    void applicationsAreFoundByName()
    {
        QTemporaryDir root;
        const auto entry = [&](const QString& path, const QByteArray& keys) {
            QVERIFY(write(root.filePath(path), "[Desktop Entry]\nType=Application\n" + keys));
        };
        entry("home/applications/ghost.desktop", "Name=Ghost\nExec=/bin/true\nHidden=true\n");
        entry("a/applications/steam.desktop", "Name=Steam\nExec=/bin/true -applaunch %U\n");
        entry("a/applications/ghost.desktop", "Name=Ghost\nExec=/bin/true ghost\n");
        entry("a/applications/kde/tool.desktop", "Name=Tool Box\nExec=/bin/true tool\n");
        entry("a/applications/absent.desktop", "Name=Absent\nTryExec=/nonexistent/absent\nExec=/bin/true\n");
        entry("a/applications/broken.desktop", "Name=Broken\nExec=/nonexistent/broken\n");
        entry("b/applications/org.example.Mail.desktop", "Name=Letters\nExec=/bin/true mail\n");
        entry("b/applications/steam.desktop", "Name=Steam\nExec=/bin/false\n");
        QVERIFY(write(root.filePath("b/applications/website.desktop"),
                      "[Desktop Entry]\nType=Link\nName=Website\nURL=https://gorrin.example\n"));

        ScopedEnv home("XDG_DATA_HOME", root.filePath(QStringLiteral("home")).toUtf8());
        ScopedEnv dirs(
            "XDG_DATA_DIRS",
            (root.filePath(QStringLiteral("a")) + ":relative:" + root.filePath(QStringLiteral("b"))).toUtf8());
        QCOMPARE(DesktopAppLauncher::applicationFolders(),
                 (QStringList { root.filePath("home/applications"), root.filePath("a/applications"),
                                root.filePath("b/applications") }));
        QStringList found;
        for (const char* name : { "Steam", "steam", "Mail", "kde-tool", "Ghost", "Absent", "Broken", "Website", " " }) {
            const auto app = DesktopAppLauncher().find(QString::fromUtf8(name));
            found << QString::fromUtf8(name) + " → " + (app ? app->command.join(u'|') : QStringLiteral("none"));
        }
        // By Name ignoring case, by dotted file name, by file id in a subfolder; a hidden copy hides
        // later ones; a missing TryExec or program, a link and a blank find none.
        QCOMPARE(found,
                 QStringList({ "Steam → /bin/true|-applaunch", "steam → /bin/true|-applaunch", "Mail → /bin/true|mail",
                               "kde-tool → /bin/true|tool", "Ghost → none", "Absent → none", "Broken → none",
                               "Website → none", "  → none" }));
    }

    void openingAnApplicationStartsItsCommand()
    {
        QTemporaryDir root;
        const QString out = root.filePath(QStringLiteral("out dir"));
        QVERIFY(QDir().mkpath(out));
        QVERIFY(write(root.filePath("applications/marker.desktop"),
                      "[Desktop Entry]\nType=Application\nName=Marker\nPath=" + out.toUtf8()
                          + "\nExec=touch \"it ran\" %U\n"));
        QFileSystemWatcher watcher { QStringList { out } };
        QSignalSpy changed(&watcher, &QFileSystemWatcher::directoryChanged);

        DesktopAppLauncher launcher(QStringList { root.filePath(QStringLiteral("applications")) });
        launcher.openApp(QStringLiteral("Marker"));
        QVERIFY(changed.wait());
        QCOMPARE(QDir(out).entryList(QDir::Files), QStringList { "it ran" });
    }

    void mountWatcherReportsNewMountsOnly()
    {
        const QByteArray root = "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n",
                         data = "30 22 8:17 / /data rw - ext4 /dev/sdb1 rw\n";
        const QList<std::pair<const char*, QByteArray>> rows {
            { "unchanged", root + data },
            { "reordered", data + root },
            { "unmounted", root },
            { "mounted", root + data + "41 22 8:33 / /media/USB\\040Stick rw - vfat /dev/sdc1 rw\n" },
            { "another volume in the same place", root + "42 22 8:33 / /data rw - vfat /dev/sdc1 rw\n" },
        };
        QTemporaryDir folder;
        QVERIFY(!MountInfoWatcher(folder.filePath(QStringLiteral("none"))).isWatching());
        const QString table = folder.filePath(QStringLiteral("mountinfo"));
        QStringList reports;
        for (const auto& [name, after] : rows) {
            QVERIFY(write(table, root + data));
            MountInfoWatcher watcher(table);
            QVERIFY(watcher.isWatching());
            QSignalSpy mounted(&watcher, &MountWatcher::mounted);
            QVERIFY(write(table, after));
            watcher.check();
            watcher.check();
            reports << QStringLiteral("%1: %2").arg(QLatin1String(name)).arg(mounted.count());
        }
        QCOMPARE(reports,
                 QStringList({ "unchanged: 0", "reordered: 0", "unmounted: 0", "mounted: 1",
                               "another volume in the same place: 1" }));
    }

    // Last: the test process moves into a mount namespace of its own.
    void realMountIsNoticed()
    {
        if (geteuid() != 0)
            QSKIP("mounting needs root");
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            QSKIP("no mount namespace of our own here");
        QTemporaryDir root;
        MountInfoWatcher watcher;
        QVERIFY(watcher.isWatching());
        QSignalSpy mounted(&watcher, &MountWatcher::mounted);
        QCOMPARE(mount("gorrin-test", QFile::encodeName(root.path()).constData(), "tmpfs", 0, "size=1m"), 0);
        QVERIFY(mounted.wait());
        QCOMPARE(umount(QFile::encodeName(root.path()).constData()), 0);
        QCOMPARE(mounted.count(), 1);
    }
};

QTEST_MAIN(DesktopServicesTests)
#include "DesktopServicesTests.moc"
