#include <csignal>
#include <limits>
#include <tuple>
#include <utility>

#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

#include "QuandrilApp/Platform/LoginItem.h"
#include "Support/FakeMachine.h"
#include "Support/OrdinaryUser.h"
#include "Support/ReturnsPromptly.h"
#include "Support/TempPreferences.h"

using namespace Quandril;
using namespace Quandril::App;
using Quandril::AppTesting::returnsPromptly;
using Quandril::AppTesting::TempPreferences;

namespace {

// Every typed read of a key that finds a value, so one comparison shows which type it reads as.
QString readings(const Preferences& p, const QString& key)
{
    QStringList out { p.string(key) ? "string=" + *p.string(key) : "",
                      p.boolean(key) ? "bool=" + QString::number(*p.boolean(key)) : "",
                      p.integer(key) ? "integer=" + QString::number(*p.integer(key)) : "",
                      p.number(key) ? "number=" + QString::number(*p.number(key), 'g', 17) : "",
                      p.date(key) ? "date=" + p.date(key)->toString(Qt::ISODateWithMs) : "",
                      p.data(key) ? "data=" + QString::fromLatin1(p.data(key)->toHex()) : "" };
    out.removeAll(QString());
    return out.join(QLatin1Char(' '));
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// What stands at a path, links not followed.
QString entry(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return "link to " + QFileInfo(info.symLinkTarget()).fileName();
    if (!info.exists())
        return QStringLiteral("nothing");
    return info.isFile() ? QStringLiteral("file of %1 bytes").arg(info.size()) : QStringLiteral("pipe");
}

// Every entry of a folder with what it holds, by name: "name: text" for a file, "name/: a b" for a
// folder and its names.
QStringList listing(const QString& folder)
{
    QStringList out;
    for (const QFileInfo& entry :
         QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name))
        out << entry.fileName()
                + (entry.isDir()
                       ? "/: " + QDir(entry.filePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(' ')
                       : ": " + QString::fromUtf8(fileBytes(entry.filePath())).simplified());
    return out;
}

// The user database's home of this user, links resolved.
QString databaseHome()
{
    const passwd* entry = ::getpwuid(::getuid());
    return entry ? QFileInfo(QFile::decodeName(entry->pw_dir)).canonicalFilePath() : QString();
}

// The preferences file and the autostart folder for these HOME and XDG_CONFIG_HOME ("<unset>":
// none), with both variables put back afterwards.
QStringList appFoldersFor(const QString& home, const QString& configHome)
{
    const QByteArray savedHome = qgetenv("HOME"), savedConfig = qgetenv("XDG_CONFIG_HOME");
    const bool hadHome = qEnvironmentVariableIsSet("HOME"), hadConfig = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    for (const auto& [variable, value] : { std::pair { "HOME", home }, { "XDG_CONFIG_HOME", configHome } }) {
        if (value == "<unset>")
            qunsetenv(variable);
        else
            qputenv(variable, QFile::encodeName(value));
    }
    const QStringList paths { Preferences::standardFilePath(), AutostartLoginItem::autostartFolder() };
    for (const auto& [variable, had, saved] :
         { std::tuple { "HOME", hadHome, savedHome }, { "XDG_CONFIG_HOME", hadConfig, savedConfig } }) {
        if (had)
            qputenv(variable, saved);
        else
            qunsetenv(variable);
    }
    return paths;
}

} // namespace

class PreferencesTests : public QObject {
    Q_OBJECT

private slots:
    void valuesKeepTypeAndKeyAcrossARestart_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("expected");
        auto row = [&](const char* name, const char* key, QVariant value, QString expected) {
            QTest::newRow(name) << QString::fromUtf8(key) << value << expected;
        };
        row("text, key with slashes", "goal:/Volumes/Backup HD", QStringLiteral("20%"), "string=20%");
        row("empty text", "goal:/", QString(), "string=");
        row("non-ASCII key", "goal:/Volumes/Caf\u00e9 \u2603", QStringLiteral("1TB"), "string=1TB");
        row("false", "icloudEnabled", false, "bool=0");
        row("largest integer", "autopilotWeeklyFreeBytes", QVariant(std::numeric_limits<qint64>::max()),
            "integer=9223372036854775807 number=9.2233720368547758e+18");
        row("smallest integer", "autopilotWeeklyFreeBytes", QVariant(std::numeric_limits<qint64>::min()),
            "integer=-9223372036854775808 number=-9.2233720368547758e+18");
        row("double", "x", 0.25, "number=0.25");
        row("date", "lastUpdateCheck", QDateTime(QDate(2025, 1, 31), QTime(9, 30, 0, 123), Qt::UTC),
            "date=2025-01-31T09:30:00.123Z");
        row("data", "extraProtected", QByteArray("\x00\xff[", 3), "data=00ff5b");
        row("unsupported type", "x", QVariant(QStringList { "a" }), "");
        row("invalid date", "x", QDateTime(), "");
    }

    void valuesKeepTypeAndKeyAcrossARestart()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(QString, expected);
        TempPreferences preferences;
        const bool supported = preferences->set(key, value);
        QCOMPARE(readings(*preferences, key), expected);
        QCOMPARE(readings(preferences.reopen(), key), expected);

        const QJsonObject file = QJsonDocument::fromJson(fileBytes(preferences.filePath())).object();
        QCOMPARE(file.keys(), supported ? QStringList { key } : QStringList());
    }

    // Registered defaults stand in for a missing or wrong-typed value in every read and survive a
    // reset, but not a restart. The table's fallbacks serve only the `…Value` reads: a plain read
    // of such a key says nothing is there ("autoCheckForUpdates" has no registered default).
    void defaultsStandInAndSurviveAReset()
    {
        TempPreferences preferences;
        const QString notify = QString(Keys::notificationsEnabled), shown = QStringLiteral("shown");
        const QString autoCheck = QString(Keys::autoCheckForUpdates), section = QString(Keys::mainSection);
        preferences->registerDefault(shown, true);
        for (const Keys::Default& entry : Keys::registeredAtLaunch)
            preferences->registerDefault(entry);
        const auto flag = [](std::optional<bool> value) { return value ? (*value ? "1" : "0") : "-"; };
        const auto shownDefaults = [&](Preferences& p) {
            return QStringList { flag(p.boolean(shown)),
                                 flag(p.boolean(notify)),
                                 flag(p.boolean(autoCheck)),
                                 p.boolean(autoCheck, true) ? "1" : "0",
                                 p.booleanValue(autoCheck) ? "1" : "0",
                                 p.string(section).value_or("-"),
                                 p.stringValue(section),
                                 QString::number(p.integerValue(QString(Keys::autopilotIntervalMinutes))),
                                 p.stringValue(QString(Keys::sizeUnits)) }
                .join(' ');
        };
        QCOMPARE(shownDefaults(*preferences), "1 1 - 1 0 - overview 10 decimal");
        for (const QString& key : { notify, shown, autoCheck })
            preferences->setString(key, QStringLiteral("yes")); // a wrong type
        QCOMPARE(shownDefaults(*preferences), "1 1 - 1 0 - overview 10 decimal");
        for (const QString& key : { notify, shown })
            preferences->setBoolean(key, false);
        preferences->setBoolean(autoCheck, true);
        preferences->setInteger(QString(Keys::autopilotIntervalMinutes), 30);
        preferences->setString(QStringLiteral("goal:/"), QStringLiteral("20%"));
        QCOMPARE(shownDefaults(*preferences), "0 0 1 1 1 - overview 30 decimal");

        QSignalSpy changed(&preferences.get(), &Preferences::changed);
        QVERIFY(preferences->reset());
        QCOMPARE(changed.size(), 5);
        QCOMPARE(shownDefaults(*preferences), "1 1 - 1 0 - overview 10 decimal");
        QVERIFY(!preferences->contains(QStringLiteral("goal:/")));
        QCOMPARE(QJsonDocument::fromJson(fileBytes(preferences.filePath())).object(), QJsonObject());
        // Registered defaults live in memory only.
        QCOMPARE(shownDefaults(preferences.reopen()), "- - - 1 0 - overview 10 decimal");
    }

    void everyChangeIsAnnouncedWithItsKey()
    {
        TempPreferences preferences;
        QSignalSpy changed(&preferences.get(), &Preferences::changed);
        preferences->setInteger(QStringLiteral("autopilotIntervalMinutes"), 10);
        preferences->setData(QStringLiteral("extraProtected"), "[]");
        preferences->copyStored(QStringLiteral("extraProtected"), QStringLiteral("extraProtected.unreadable"));
        preferences->remove(QStringLiteral("autopilotIntervalMinutes"));
        preferences->remove(QStringLiteral("never stored"));
        QStringList keys;
        for (const auto& call : changed)
            keys << call.at(0).toString();
        QCOMPARE(keys,
                 (QStringList { "autopilotIntervalMinutes", "extraProtected", "extraProtected.unreadable",
                                "autopilotIntervalMinutes" }));
        QCOMPARE(preferences->data(QStringLiteral("extraProtected.unreadable")), QByteArray("[]"));
    }

    void aFailedWriteLeavesTheOldFileWhole_data()
    {
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::addColumn<QString>("reason");
        QTest::newRow("the write stops half-way (file size limit)") << false << "File too large";
        QTest::newRow("read-only folder") << true << "Permission denied";
    }

    void aFailedWriteLeavesTheOldFileWhole()
    {
        QFETCH(bool, readOnlyFolder);
        QFETCH(QString, reason);
        if (readOnlyFolder && Testing::runningAsRoot()) { // root writes into read-only folders
            AppTesting::runRowAsOrdinaryUser();
            return;
        }
        TempPreferences preferences;
        preferences->setString(QStringLiteral("goal:/"), QStringLiteral("20%"));
        const QByteArray before = fileBytes(preferences.filePath());
        QSignalSpy failed(&preferences.get(), &Preferences::saveFailed);

        const QString big(100'000, QLatin1Char('x'));
        bool written = true;
        if (readOnlyFolder) {
            ::chmod(preferences.folder().toLocal8Bit().constData(), 0555);
            written = preferences->setString(QStringLiteral("availableUpdate"), big);
            preferences->setString(QStringLiteral("availableUpdate"), big); // said once, not again
            ::chmod(preferences.folder().toLocal8Bit().constData(), 0755);
        } else {
            struct rlimit saved {};
            ::getrlimit(RLIMIT_FSIZE, &saved);
            struct rlimit small = saved;
            small.rlim_cur = static_cast<rlim_t>(before.size() + 100);
            auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            ::setrlimit(RLIMIT_FSIZE, &small);
            written = preferences->setString(QStringLiteral("availableUpdate"), big);
            preferences->setString(QStringLiteral("availableUpdate"), big); // said once, not again
            ::setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
        }
        QVERIFY(!written);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), preferences.filePath() + " could not be written: " + reason);
        QCOMPARE(preferences->saveFailure(), failed.at(0).at(0).toString());
        QCOMPARE(fileBytes(preferences.filePath()), before);
        QCOMPARE(QDir(preferences.folder()).entryList(QDir::Files), QStringList { "preferences.json" });
        QCOMPARE(preferences->string(QStringLiteral("availableUpdate"), QString()), big); // the app goes on with it
        QCOMPARE(readings(preferences.reopen(), QStringLiteral("goal:/")), "string=20%");
    }

    void whatItCannotReadIsKept_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("filesAfterAWrite");
        QTest::addColumn<QStringList>("keysAfterAWrite");
        QTest::newRow("not JSON") << QByteArray("{\"goal:/\": {\"string\"")
                                  << QStringList { "preferences.json", "preferences.json.unreadable" }
                                  << QStringList { "icloudEnabled" };
        QTest::newRow("an entry of an unknown kind")
            << QByteArray("{\"later\": {\"colour\": 1}, \"goal:/\": {\"string\": \"1TB\"}}")
            << QStringList { "preferences.json" } << QStringList { "goal:/", "icloudEnabled", "later" };
    }

    void whatItCannotReadIsKept()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, filesAfterAWrite);
        QFETCH(QStringList, keysAfterAWrite);
        TempPreferences preferences;
        Testing::writeFile(preferences.filePath().toStdString(), file.toStdString());
        Preferences& reopened = preferences.reopen();
        reopened.setBoolean(QStringLiteral("icloudEnabled"), true);
        QCOMPARE(QDir(preferences.folder()).entryList(QDir::Files), filesAfterAWrite);
        QCOMPARE(QJsonDocument::fromJson(fileBytes(preferences.filePath())).object().keys(), keysAfterAWrite);
        if (filesAfterAWrite.size() == 2)
            QCOMPARE(fileBytes(preferences.filePath() + ".unreadable"), file);
    }

    // Each file that can't be read goes aside under a name of its own, and whatever stands at those
    // names (or at the file's own) never keeps the save from happening.
    void everyUnreadableFileIsKeptAndNoneBlocksASave_data()
    {
        QTest::addColumn<QStringList>("before"); // "name: text" for a file, "name/" for a folder
        QTest::addColumn<QStringList>("after");
        const QString saved = "preferences.json: { \"icloudEnabled\": { \"bool\": true } }";
        QTest::newRow("a second unreadable file")
            << QStringList { "preferences.json: A", "preferences.json.unreadable: B" }
            << QStringList { saved, "preferences.json.unreadable: B", "preferences.json.unreadable-2: A" };
        QTest::newRow("a third") << QStringList { "preferences.json: A", "preferences.json.unreadable: B",
                                                  "preferences.json.unreadable-2: C" }
                                 << QStringList { saved, "preferences.json.unreadable: B",
                                                  "preferences.json.unreadable-2: C",
                                                  "preferences.json.unreadable-3: A" };
        QTest::newRow("a folder at the aside name")
            << QStringList { "preferences.json: A", "preferences.json.unreadable/" }
            << QStringList { saved, "preferences.json.unreadable/: keep", "preferences.json.unreadable-2: A" };
        QTest::newRow("a folder at the file's name, an older file aside")
            << QStringList { "preferences.json/", "preferences.json.unreadable: B" }
            << QStringList { saved, "preferences.json.unreadable: B", "preferences.json.unreadable-2/: keep" };
    }

    void everyUnreadableFileIsKeptAndNoneBlocksASave()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QTemporaryDir dir;
        for (const QString& entry : before) {
            const QString name = entry.section(':', 0, 0);
            if (name.endsWith('/'))
                Testing::writeFile(dir.filePath(name + "keep").toStdString(), "");
            else
                Testing::writeFile(dir.filePath(name).toStdString(), entry.section(": ", 1).toStdString());
        }
        Preferences preferences(dir.filePath("preferences.json"));
        QSignalSpy failed(&preferences, &Preferences::saveFailed);
        QVERIFY(preferences.setBoolean(QStringLiteral("icloudEnabled"), true));
        QCOMPARE(listing(dir.path()), after);
        QCOMPARE(failed.size(), 0);
    }

    // The app's folders derive from the engine's home: $HOME only when it names a folder, else the
    // user database's. A save makes the config folders it needs, never the home holding them.
    void theAppsFoldersFollowTheEnginesHome_data()
    {
        QTest::addColumn<QString>("home"); // "@" is the test's folder
        QTest::addColumn<QString>("configHome");
        QTest::addColumn<QString>("expected"); // the config folder; "~" is the user database's home
        QTest::newRow("a home") << "@"
                                << "<unset>"
                                << "@/.config";
        QTest::newRow("no home") << "<unset>"
                                 << "<unset>"
                                 << "~/.config";
        QTest::newRow("an empty home") << ""
                                       << "<unset>"
                                       << "~/.config";
        QTest::newRow("a relative home") << "rel"
                                         << "<unset>"
                                         << "~/.config";
        QTest::newRow("the current folder") << "."
                                            << "<unset>"
                                            << "~/.config";
        QTest::newRow("a missing home") << "@/missing"
                                        << "<unset>"
                                        << "~/.config";
        QTest::newRow("a config home") << "@"
                                       << "@/config"
                                       << "@/config";
        QTest::newRow("a relative config home") << "@"
                                                << "config"
                                                << "@/.config";
        QTest::newRow("the root folder as config home") << "@"
                                                        << "/"
                                                        << "@/.config";
        // A ".." name may climb above the top or past a link: "/.." is "/", and so is "/tmp/../..".
        QTest::newRow("a config home above the top") << "@"
                                                     << "/.."
                                                     << "@/.config";
        QTest::newRow("a config home climbing to the top") << "@"
                                                           << "/tmp/../.."
                                                           << "@/.config";
        QTest::newRow("a config home with a \"..\" name") << "@"
                                                          << "@/config/../other"
                                                          << "@/.config";
    }

    void theAppsFoldersFollowTheEnginesHome()
    {
        QFETCH(QString, home);
        QFETCH(QString, configHome);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const auto resolved = [&](QString text) {
            return text.replace('@', QFileInfo(dir.path()).canonicalFilePath()).replace('~', databaseHome());
        };
        const auto resolvedOrUnset = [&](const QString& value) { return value == "<unset>" ? value : resolved(value); };
        const QStringList paths = appFoldersFor(resolvedOrUnset(home), resolvedOrUnset(configHome));
        QCOMPARE(paths,
                 QStringList({ resolved(expected) + "/Gorrin/preferences.json", resolved(expected) + "/autostart" }));

        // A home that isn't there stays so: the save fails and says why.
        const QString missing = dir.filePath("missing/.config/Gorrin");
        Preferences homeless(missing + "/preferences.json");
        QSignalSpy failed(&homeless, &Preferences::saveFailed);
        QVERIFY(!homeless.setBoolean(QStringLiteral("icloudEnabled"), true));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), "The folder " + missing + " could not be created");
        QVERIFY(Preferences(dir.filePath(".config/Gorrin/preferences.json"))
                    .setBoolean(QStringLiteral("icloudEnabled"), true));
        QCOMPARE(listing(dir.path()), QStringList({ ".config/: Gorrin" }));
    }

    // Root running with another user's environment (sudo -E) follows XDG_CONFIG_HOME only where the
    // nearest folder that exists on it is root's own: a folder or file of root's in the user's home
    // would shut them out of their settings and their autostart folder.
    void asRootTheConfigFolderIsNeverAnotherUsers_data()
    {
        QTest::addColumn<QString>("configHome"); // "@" is the test's folder, "@user" the other user's home
        QTest::addColumn<QString>("expected");   // "~" is root's home in the user database
        QTest::newRow("the user's config folder") << "@user/.config"
                                                  << "~/.config";
        QTest::newRow("a missing folder in the user's home") << "@user/.config/new"
                                                             << "~/.config";
        QTest::newRow("a missing folder below a link of the user's") << "@link/new"
                                                                     << "~/.config";
        QTest::newRow("unset") << "<unset>"
                               << "~/.config";
        QTest::newRow("a folder of root's") << "@mine"
                                            << "@mine";
        QTest::newRow("a missing folder in a folder of root's") << "@mine/new/config"
                                                                << "@mine/new/config";
    }

    void asRootTheConfigFolderIsNeverAnotherUsers()
    {
        QFETCH(QString, configHome);
        QFETCH(QString, expected);
        if (!Testing::runningAsRoot())
            QSKIP("only root may follow another user's environment");
        QTemporaryDir dir;
        const QString top = QFileInfo(dir.path()).canonicalFilePath();
        const auto resolved = [&](QString text) { return text.replace('@', top + '/').replace('~', databaseHome()); };
        QVERIFY(QDir(top).mkpath("user/.config") && QDir(top).mkpath("mine"));
        QVERIFY(QFile::link(top + "/user", top + "/link"));
        for (const char* path : { "user", "user/.config", "link" })
            QCOMPARE(::lchown(QFile::encodeName(top + '/' + path).constData(), 65534, 65534), 0);
        const QStringList paths = appFoldersFor(top + "/user",
                                                configHome == "<unset>" ? configHome : resolved(configHome));
        QCOMPARE(paths,
                 QStringList({ resolved(expected) + "/Gorrin/preferences.json", resolved(expected) + "/autostart" }));
    }

    // A pipe, a link or an outsized file at the path is never opened, followed or read whole: it
    // goes aside as it stands, and the save puts a file of our own in its place.
    void strangeEntriesGiveWayToAFileOfOurOwn_data()
    {
        QTest::addColumn<QString>("placed");
        QTest::addColumn<bool>("afterOpening"); // between reading the file and the next save
        QTest::addColumn<QStringList>("asideAndElsewhere");
        QTest::newRow("pipe") << "pipe" << false << QStringList { "pipe", "nothing" };
        QTest::newRow("file over the size cap")
            << "large" << false << QStringList { "file of 5242903 bytes", "nothing" };
        QTest::newRow("link") << "link" << false << QStringList { "nothing", "file of 2 bytes" };
        QTest::newRow("dangling link") << "dangling" << false << QStringList { "nothing", "nothing" };
        QTest::newRow("link to a pipe") << "link to pipe" << false << QStringList { "link to elsewhere.json", "pipe" };
        QTest::newRow("link placed before a save") << "link" << true << QStringList { "nothing", "file of 2 bytes" };
        QTest::newRow("dangling link placed before a save")
            << "dangling" << true << QStringList { "nothing", "nothing" };
    }

    void strangeEntriesGiveWayToAFileOfOurOwn()
    {
        QFETCH(QString, placed);
        QFETCH(bool, afterOpening);
        QFETCH(QStringList, asideAndElsewhere);
        QTemporaryDir dir;
        const QString path = dir.filePath("preferences.json"), elsewhere = dir.filePath("elsewhere.json");
        if (placed == "link")
            Testing::writeFile(elsewhere.toStdString(), "{}");
        if (placed == "link to pipe")
            ::mkfifo(QFile::encodeName(elsewhere).constData(), 0600);
        const auto place = [&] {
            if (placed == "pipe")
                ::mkfifo(QFile::encodeName(path).constData(), 0600);
            else if (placed == "large")
                Testing::writeFile(path.toStdString(),
                                   "{\"pad\": {\"string\": \"" + std::string(5 << 20, 'x') + "\"}}");
            else
                QFile::link(elsewhere, path);
        };
        if (!afterOpening)
            place();
        bool written = false;
        QVERIFY(returnsPromptly(path, [&] {
            Preferences preferences(path);
            if (afterOpening)
                place();
            written = preferences.setBoolean(QStringLiteral("icloudEnabled"), true);
        }));
        QVERIFY(written);
        QCOMPARE(QStringList({ entry(path + ".unreadable"), entry(elsewhere) }), asideAndElsewhere);
        QCOMPARE(Preferences(path).boolean(QStringLiteral("icloudEnabled"), false), true);
    }
};

QTEST_GUILESS_MAIN(PreferencesTests)
#include "PreferencesTests.moc"
