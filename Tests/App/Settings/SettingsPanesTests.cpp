// The settings panes as a person sees and uses them: every pane's texts, pickers and notes in the
// states that change them; nothing written on showing or on programmatic changes; each user action
// writing its one key with its type; launch at login; the watched drives; the goal rows.

#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>

#include "QuandrilApp/Model/Autopilot.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/LoginItem.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Settings/DrivesSettings.h"
#include "QuandrilApp/Settings/GeneralSettings.h"
#include "QuandrilApp/Settings/GoalsSettings.h"
#include "QuandrilApp/Settings/NotificationsSettings.h"
#include "QuandrilApp/Settings/SettingsScene.h"
#include "Support/LayoutFit.h"
#include "Support/ServicesFixture.h"
#include "Support/WidgetTranscript.h"

using namespace Quandril;
using namespace Quandril::App;
using AppTesting::ServicesFixture;
using AppTesting::transcript;

namespace {

class NotedAutopilot : public Autopilot {
public:
    explicit NotedAutopilot(ServicesFixture& f)
        : Autopilot(f.services().model, f.notifier, nullptr, nullptr)
    {
    }
    void publish(std::optional<QString> note)
    {
        lastRunNote_ = std::move(note);
        emit changed();
    }
};

const std::int64_t GB = 1'000'000'000;

// The fake machine's drives lie under its root folder; tests write that folder as "<root>".
QString shownRoot(ServicesFixture& f, QString text)
{
    return text.replace(QString::fromStdString(f.machine().root()), "<root>");
}

// The states the panes are shown in, by name.
void prepare(const QString& setup, ServicesFixture& f)
{
    auto& machine = f.machine();
    auto& preferences = *f.preferences();
    if (setup.contains("externals")) {
        machine.drive("Backup", "/Volumes/Backup", 2000 * GB, 1200 * GB);
        machine.drive("Backup", "/Volumes/Backup 1", 500 * GB, 100 * GB);
    }
    if (setup == "stored oddities") {
        preferences.setString(QString(Keys::gaugeStyle), "Percent");
        preferences.setString(QString(Keys::sizeUnits), "binary");
        preferences.setInteger(QString(Keys::freeSpaceSource), 1);
        f.loginItem.enabled = true;
    }
    if (setup == "externals, goals") {
        // "No goal" on the startup drive leaves its note as it is.
        preferences.setString(Keys::goal(machine.root()), "");
        preferences.setString(Keys::goal(machine.root() + "/Volumes/Backup"), "20%");
    }
    if (setup == "externals, choices made") {
        preferences.setString(QString(Keys::watchedDrives),
                              QString(",,<root>, <root>/Volumes/Backup,<root>/Volumes/Backup 1,<root>/Volumes/Gone,")
                                  .replace("<root>", QString::fromStdString(machine.root())));
        preferences.setString(QString(Keys::defaultMoveToDrive), "Gone");
    }
    if (setup == "no drives")
        f.modelFixture.engine->onStatus = [](const Mac&) { return ScanReport(); };
    if (setup == "on, every 7 minutes") {
        preferences.setBoolean(QString(Keys::autopilotEnabled), true);
        preferences.setInteger(QString(Keys::autopilotIntervalMinutes), 7);
    }
    if (setup == "no catalog")
        f.modelFixture.engine->onCatalog = [] { return std::optional<Catalog>(); };
    if (setup == "catalog") {
        f.modelFixture.engine->onCatalog = [] {
            Catalog catalog = AppTesting::smallCatalog();
            catalog.protected_ = { { "/System", "macOS itself" }, { "~/.ssh", "your SSH keys" } };
            return std::optional(catalog);
        };
    }
    const QStringList auths { "not determined", "denied", "authorized", "provisional" }; // by raw value
    if (auths.contains(setup))
        f.notifier.auth = NotificationAuth(auths.indexOf(setup));
    if (setup == "catalog" || setup == "no catalog") {
        f.services().model.addProtectedPath("~/Documents/Taxes");
        f.services().model.addProtectedPath("/Volumes/Backup/Photos");
    }
}

// Shows a widget as a window of the settings detail's size and lets pending answers arrive.
void showAndSettle(QWidget& widget, ServicesFixture& f)
{
    widget.resize(530, 2000);
    widget.show();
    QVERIFY(f.settle());
    QVERIFY(AppTesting::waitForLayout(&widget));
}

QWidget* labelledControl(QWidget& pane, const QString& name)
{
    for (QLabel* label : pane.findChildren<QLabel*>())
        if (label->text() == name && label->buddy())
            return label->buddy();
    return nullptr;
}

template <typename Button>
Button* button(QWidget& pane, const QString& text)
{
    for (Button* b : pane.findChildren<Button*>())
        if (b->text() == text && b->isVisibleTo(&pane))
            return b;
    return nullptr;
}

QStringList keys(const QSignalSpy& spy)
{
    QStringList out;
    for (const auto& call : spy)
        out << call.at(0).toString();
    return out;
}

} // namespace

class SettingsPanesTests : public QObject {
    Q_OBJECT

private slots:
    void panesShowTheirTexts_data()
    {
        QTest::addColumn<QString>("pane");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("shown");

        const QString general
            = " Launch Gorrin at login\nheader: Menu bar gauge\nShows\n(*) A bar, filling as space is "
              "used\n( ) A percentage\n( ) Just the icon (plain until space is short)\nheader: Free "
              "space\nCount it as\npicker: [Finder's number (counts space macOS can reclaim)] | df's "
              "strict number (only what's truly empty)\nUnits\npicker: ";
        QTest::newRow("general") << "general"
                                 << ""
                                 << "[ ]" + general + "[Decimal (GB, as Finder shows them)] | Binary (GiB, 1024-based)";
        // Unknown texts (a different case, another type) show the default option.
        QTest::newRow("general, stored oddities")
            << "general"
            << "stored oddities"
            << "[x]" + general + "Decimal (GB, as Finder shows them) | [Binary (GiB, 1024-based)]";

        QTest::newRow("goals, externals with a goal")
            << "goals"
            << "externals, goals"
            << "header: Macintosh HD (this Mac)\ngoal control: <root>\ncaption/secondary: Defaults to 50 GB free.\n"
               "header: Backup\ngoal control: <root>/Volumes/Backup\nheader: Backup\ngoal control: <root>/Volumes/Backup 1";
        QTest::newRow("goals, no drives") << "goals"
                                          << "no drives"
                                          << "secondary: No drives found yet.";

        const QString autopilotNote = "caption/secondary: Only the \"rebuilds itself\" tier — developer caches, dead "
                                      "simulators and the like, from apps that aren't open. Everything else always "
                                      "waits for your click.";
        const QString checksNote
            = "caption/secondary: Also right after a drive mounts or the Mac wakes. After a run, it "
              "waits 6 hours before trying again, and a weekly note says what grew.";
        QTest::newRow("autopilot") << "autopilot"
                                   << ""
                                   << "[ ] Clean up on its own\n" + autopilotNote
                + "\nheader: Checks\nCheck every\npicker: 5 minutes | [10 minutes] | 15 minutes | 30 minutes (disabled)\n"
                + checksNote;
        QTest::newRow("autopilot, odd interval") << "autopilot"
                                                 << "on, every 7 minutes"
                                                 << "[x] Clean up on its own\n" + autopilotNote
                + "\nheader: Checks\nCheck every\npicker: 5 minutes | 10 minutes | 15 minutes | 30 minutes\n"
                + checksNote;

        const QString toggle = "[x] Let Gorrin notify me\n";
        const QString notifyNote = "caption/secondary: Used for autopilot's results, a low-space warning, and the "
                                   "weekly \"what grew\" note. Nothing else.";
        QTest::newRow("notifications, denied") << "notifications"
                                               << "denied"
                                               << toggle
                + "symbol: bell.slash/orange\ncaption/orange: macOS notifications are off for Gorrin. Turn them on in "
                  "System Settings → Notifications.\n"
                + notifyNote;
        QTest::newRow("notifications, authorized") << "notifications"
                                                   << "authorized"
                                                   << toggle
                + "symbol: bell.badge/secondary\ncaption/secondary: macOS notifications are allowed.\n" + notifyNote;
        QTest::newRow("notifications, provisional") << "notifications"
                                                    << "provisional"
                                                    << toggle
                + "symbol: bell/secondary\ncaption/secondary: Delivered quietly to Notification Center. For banners, "
                  "choose Allow in System Settings → Notifications.\n"
                + notifyNote;
        QTest::newRow("notifications, not determined") << "notifications"
                                                       << "not determined" << toggle + notifyNote;

        const QString watchNote = "caption/secondary: The Mac is always watched. Unticking a drive just leaves it out "
                                  "of the gauge and autopilot; scanning it by hand still works.";
        const QString moveNote = "caption/secondary: Pre-fills the drive picker when you free up space or move "
                                 "something; you can always change it there.";
        QTest::newRow("drives, nothing chosen")
            << "drives"
            << "externals"
            << "header: Watch\n[x] Macintosh HD (this Mac) (disabled)\n[x] Backup\n[x] Backup\n" + watchNote
                + "\nheader: Moving your files\nMove to, by default\npicker: [Ask each time] | Backup | Backup\n"
                + moveNote;
        // A path with a blank before it matches no drive; a drive not mounted names no entry.
        QTest::newRow("drives, choices made")
            << "drives"
            << "externals, choices made"
            << "header: Watch\n[x] Macintosh HD (this Mac) (disabled)\n[ ] Backup\n[x] Backup\n" + watchNote
                + "\nheader: Moving your files\nMove to, by default\npicker: Ask each time | Backup | Backup\n"
                + moveNote;

        const QString addRow
            = "header: Add a protected path\nfield: e.g. ~/Documents/Taxes or a path you drag in|\n"
              "button: Choose…\nbutton: Add (disabled)\ncaption/secondary: Gorrin will never touch it, "
              "or anything inside it. You can remove what you add here; the built-in list below can't "
              "be changed.\n";
        const QString byYou
            = "header: Protected by you\n~/Documents/Taxes\nlink: Remove\n/Volumes/Backup/Photos\nlink: Remove\n";
        QTest::newRow("never touch") << "rules"
                                     << "catalog"
                                     << addRow + byYou
                + "header: Never touched, built in (2)\n/System\nsecondary: macOS itself\n~/.ssh\nsecondary: your SSH keys\n"
                  "header: What the catalog knows (2 places)\nPlace old-caches\n"
                  "caption/secondary: Can be downloaded or installed again\nPlace build-caches\ncaption/secondary: Rebuilds itself";
        QTest::newRow("never touch, no catalog")
            << "rules"
            << "no catalog" << addRow + byYou + "header: Never touched, built in (0)";

        const QString cloud
            = "\ncaption/secondary: Off by default. On, Gorrin reads iCloud's own list of files — names, "
              "sizes, whether each is only in the cloud — without downloading anything to look. Nothing "
              "leaves iCloud except files you choose, and each is checked and parked on a drive before "
              "it's removed. See the iCloud tab for the rest.";
        QTest::newRow("icloud") << "icloud"
                                << ""
                                << "[ ] Let Gorrin look into iCloud" + cloud;

        QTest::newRow("privacy")
            << "privacy"
            << ""
            << "symbol: network.slash/primary\nheadline: No network\ncallout: Gorrin reads your drives and acts on them "
               "entirely on this Mac. Nothing it finds, and nothing you do with it, is ever sent anywhere.\n"
               "header: The one exception\n[ ] Check gorrin.example for a newer version\ncaption/secondary: Off by "
               "default. On, it asks once a day at most for a small file naming the latest version — nothing about "
               "you or your Mac is sent with that request. See Settings → Updates.";
        QTest::newRow("updates")
            << "updates"
            << ""
            << "[ ] Check for updates once a day\ncaption/secondary: Off by default, as part of Gorrin's no-network rule "
               "(Settings → Privacy). Checking only ever reads one small file; it never sends anything about you or "
               "your Mac.\nbutton: Check Now\ncaption/secondary: This version: 0.1.0";
    }

    // Each pane as a person sees it; showing it writes nothing, and it leaves odd stored texts as
    // they were.
    void panesShowTheirTexts()
    {
        QFETCH(QString, pane);
        QFETCH(QString, setup);
        QFETCH(QString, shown);
        ServicesFixture f;
        prepare(setup, f);
        AppServices& services = f.services();
        const auto before = services.preferences.stored(QString(Keys::gaugeStyle));
        QSignalSpy writes(&services.preferences, &Preferences::changed);
        std::unique_ptr<QWidget> view(SettingsScene::makePane(*settingsPaneFromRaw(pane), services));
        showAndSettle(*view, f);
        QCOMPARE(shownRoot(f, transcript(view.get()).join('\n')), shown);
        QCOMPARE(keys(writes), QStringList());
        QCOMPARE(services.preferences.stored(QString(Keys::gaugeStyle)), before);
    }

    void userActionsWriteTheirKey_data()
    {
        QTest::addColumn<QString>("pane");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("action");  // "click:<text>" or "pick:<label>:<index>"
        QTest::addColumn<QString>("written"); // key=typed value

        QTest::newRow("gauge style") << "general"
                                     << ""
                                     << "click:A percentage"
                                     << "gaugeStyle=text:percent";
        QTest::newRow("free space count") << "general"
                                          << ""
                                          << "pick:Count it as:1"
                                          << "freeSpaceSource=text:strict";
        QTest::newRow("units") << "general"
                               << ""
                               << "pick:Units:1"
                               << "sizeUnits=text:binary";
        QTest::newRow("autopilot on") << "autopilot"
                                      << ""
                                      << "click:Clean up on its own"
                                      << "autopilotEnabled=bool:true";
        QTest::newRow("interval") << "autopilot"
                                  << "on, every 7 minutes"
                                  << "pick:Check every:3"
                                  << "autopilotIntervalMinutes=int:30";
        QTest::newRow("notifications off") << "notifications"
                                           << ""
                                           << "click:Let Gorrin notify me"
                                           << "notificationsEnabled=bool:false";
        QTest::newRow("move to") << "drives"
                                 << "externals"
                                 << "pick:Move to, by default:2"
                                 << "defaultMoveToDrive=text:Backup";
        // Unticking leaves the startup drive in the stored set, never the empty text.
        QTest::newRow("untick with nothing stored") << "drives"
                                                    << "externals"
                                                    << "click:Backup"
                                                    << "watchedDrives=text:<root>,<root>/Volumes/Backup 1";
        QTest::newRow("icloud on") << "icloud"
                                   << ""
                                   << "click:Let Gorrin look into iCloud"
                                   << "icloudEnabled=bool:true";
        QTest::newRow("daily check, privacy") << "privacy"
                                              << ""
                                              << "click:Check gorrin.example for a newer version"
                                              << "autoCheckForUpdates=bool:true";
    }

    // Setting a control from code writes nothing; the user's click or pick writes exactly its key.
    void userActionsWriteTheirKey()
    {
        QFETCH(QString, pane);
        QFETCH(QString, setup);
        QFETCH(QString, action);
        QFETCH(QString, written);
        ServicesFixture f;
        prepare(setup, f);
        AppServices& services = f.services();
        std::unique_ptr<QWidget> view(SettingsScene::makePane(*settingsPaneFromRaw(pane), services));
        showAndSettle(*view, f);
        QSignalSpy writes(&services.preferences, &Preferences::changed);

        const QStringList parts = action.split(':');
        if (parts[0] == "click") {
            QAbstractButton* target = button<QAbstractButton>(*view, parts[1]);
            QVERIFY(target);
            if (target->isCheckable()) {
                const bool was = target->isChecked();
                target->setChecked(!was);
                target->setChecked(was);
                QCOMPARE(keys(writes), QStringList());
            }
            QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(8, target->height() / 2));
        } else {
            auto* picker = qobject_cast<QComboBox*>(labelledControl(*view, parts[1]));
            QVERIFY(picker);
            const int index = parts[2].toInt();
            picker->setCurrentIndex(index);
            QCOMPARE(keys(writes), QStringList());
            emit picker->activated(index);
        }
        const QString key = written.section('=', 0, 0);
        QCOMPARE(keys(writes), QStringList { key });
        QCOMPARE(shownRoot(f, key + "=" + AppTesting::storedValue(services.preferences, key)), written);
        // Switching iCloud on also starts its scan.
        QVERIFY(f.settle());
        QCOMPARE(f.modelFixture.engine->count(AppTesting::EngineCall::scanCloud), pane == "icloud" ? 1 : 0);
    }

    // The autopilot's interval can be picked only while it is on; its last note shows as it comes.
    void autopilotFollowsItsSwitchAndNote()
    {
        ServicesFixture f;
        NotedAutopilot autopilot(f);
        f.services().autopilot = &autopilot;
        std::unique_ptr<QWidget> view(SettingsScene::makePane(SettingsPane::autopilot, f.services()));
        showAndSettle(*view, f);
        auto* picker = qobject_cast<QComboBox*>(labelledControl(*view, "Check every"));
        button<QCheckBox>(*view, "Clean up on its own")->click();
        QVERIFY(picker->isEnabled());
        QVERIFY(!transcript(view.get()).join('\n').contains("Last check"));
        autopilot.publish("Freed 3 GB automatically (a routine check).");
        QVERIFY(transcript(view.get())
                    .join('\n')
                    .endsWith("header: Last check\ncallout: Freed 3 GB automatically (a routine check)."));
        button<QCheckBox>(*view, "Clean up on its own")->click();
        QVERIFY(!picker->isEnabled());
        QCOMPARE(AppTesting::storedValue(f.services().preferences, QString(Keys::autopilotIntervalMinutes)), "-");
    }

    // Switching notifications on asks for alerts and sounds, then shows what is now allowed;
    // switching off asks nothing. An answer after the pane has gone is dropped.
    void notificationsAskWhenSwitchedOn()
    {
        ServicesFixture f;
        f.services().preferences.setBoolean(QString(Keys::notificationsEnabled), false);
        f.notifier.auth = NotificationAuth::notDetermined;
        auto view = std::make_unique<NotificationsSettings>(f.services());
        showAndSettle(*view, f);
        QCOMPARE(view->authStatus(), std::optional(NotificationAuth::notDetermined));
        QVERIFY(f.notifier.requests.isEmpty());

        f.notifier.auth = NotificationAuth::denied;
        button<QCheckBox>(*view, "Let Gorrin notify me")->click();
        QCOMPARE(f.notifier.requests, QList<Notifier::Options> { Notifier::Option::alert | Notifier::Option::sound });
        QVERIFY(AppTesting::waitUntil([&] { return view->authStatus() == NotificationAuth::denied; }));
        QVERIFY(transcript(view.get()).contains("symbol: bell.slash/orange"));

        button<QCheckBox>(*view, "Let Gorrin notify me")->click();
        QCOMPARE(f.notifier.requests.size(), 1);
        button<QCheckBox>(*view, "Let Gorrin notify me")->click();
        view.reset();
        QCoreApplication::processEvents();
        QCOMPARE(f.notifier.requests.size(), 2);
    }

    // The autostart entry through the pane: written with its program quoted, read back when the
    // pane is made again, removed. A change that fails shows why, the toggle shows what is really
    // registered, and that revert asks for no second change.
    void launchAtLogin()
    {
        ServicesFixture f;
        QTemporaryDir root;
        AutostartLoginItem item(root.filePath("autostart"), "/opt/My Apps/gorrin");
        AppServices& s = f.services();
        AppServices services { s.model, s.preferences, f.urls, f.reveal, f.apps, f.notifier, item, f.updates };
        QSignalSpy writes(&s.preferences, &Preferences::changed);
        const auto click = [&f](GeneralSettings& view) {
            QCheckBox* toggle = button<QCheckBox>(view, "Launch Gorrin at login");
            QTest::mouseClick(toggle, Qt::LeftButton, {}, QPoint(8, toggle->height() / 2));
            if (!AppTesting::waitForLayout(&view))
                return QStringLiteral("(never came to rest)");
            return transcript(&view).mid(0, 2).join('\n');
        };

        click(*std::make_unique<GeneralSettings>(services));
        QFile entry(item.entryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains("\nExec=\"/opt/My Apps/gorrin\"\n"));
        GeneralSettings again(services);
        showAndSettle(again, f);
        QCOMPARE(transcript(&again).front(), "[x] Launch Gorrin at login");
        QCOMPARE(click(again), "[ ] Launch Gorrin at login\nheader: Menu bar gauge");
        QVERIFY(!QFile::exists(item.entryPath()));

        f.loginItem.enabled = true;
        f.loginItem.failure = "Permission denied.";
        GeneralSettings failing(s);
        showAndSettle(failing, f);
        QCOMPARE(click(failing),
                 "[x] Launch Gorrin at login\ncaption/orange: Couldn't change that: Permission denied.");
        QCOMPARE(f.loginItem.changes, QList<bool> { false });
        f.loginItem.failure.reset();
        QCOMPARE(click(failing), "[ ] Launch Gorrin at login\nheader: Menu bar gauge");
        QCOMPARE(f.loginItem.changes, QList<bool>({ false, false }));
        QCOMPARE(keys(writes), QStringList());
    }

    void watchedDrivesKeepTheStartupDrive_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("change"); // "+path" ticks, "-path" unticks
        QTest::addColumn<QString>("written");
        QTest::newRow("first untick") << ""
                                      << "-/Volumes/A"
                                      << "/,/Volumes/B";
        QTest::newRow("last external, startup not stored") << "/Volumes/A"
                                                           << "-/Volumes/A"
                                                           << "/";
        QTest::newRow("tick keeps what is not mounted") << "/Volumes/Gone"
                                                        << "+/Volumes/A"
                                                        << "/,/Volumes/Gone,/Volumes/A";
        QTest::newRow("empty texts and repeats drop") << ",/,,/Volumes/A,/Volumes/A,"
                                                      << "-/Volumes/B"
                                                      << "/,/Volumes/A";
        QTest::newRow("a blank before a path stays") << " /Volumes/A"
                                                     << "+/Volumes/A"
                                                     << "/, /Volumes/A,/Volumes/A";
        QTest::newRow("ticking twice adds once") << "/,/Volumes/A"
                                                 << "+/Volumes/A"
                                                 << "/,/Volumes/A";
    }

    void watchedDrivesKeepTheStartupDrive()
    {
        QFETCH(QString, stored);
        QFETCH(QString, change);
        QFETCH(QString, written);
        const std::vector<DriveInfo> drives { { "Mac", "/", true, 100, 10, 10 },
                                              { "A", "/Volumes/A", false, 100, 10, 10 },
                                              { "B", "/Volumes/B", false, 100, 10, 10 } };
        QCOMPARE(DrivesSettings::toggled(stored, drives, change.mid(1), change[0] == '+'), written);
    }

    // The goal rows follow the drives: a status that lists the same drives keeps the rows (and
    // whatever is typed in them); a drive mounted meanwhile gets its row.
    void goalRowsFollowTheDrives()
    {
        ServicesFixture f;
        std::vector<DriveInfo> drives { { "Macintosh HD", "/", true, 500 * GB, 100 * GB, 100 * GB } };
        f.modelFixture.engine->onStatus = [&drives](const Mac&) {
            ScanReport status;
            status.drives = drives;
            return status;
        };
        Model& model = f.services().model;
        GoalsSettings view(f.services());
        showAndSettle(view, f);
        QPointer<QWidget> control;
        for (QWidget* widget : view.findChildren<QWidget*>())
            if (widget->property("goalDrive").isValid())
                control = widget;
        model.refreshStatus();
        QVERIFY(f.settle());
        QVERIFY(control);
        QCOMPARE(transcript(&view).size(), 3);

        drives.push_back({ "Stick", "/media/stick", false, 32 * GB, 30 * GB, 30 * GB });
        model.refreshStatus();
        QVERIFY(AppTesting::waitUntil([&] { return transcript(&view).size() == 5; }));
        QCOMPARE(transcript(&view).mid(3), QStringList({ "header: Stick", "goal control: /media/stick" }));
    }
};

QTEST_MAIN(SettingsPanesTests)
#include "SettingsPanesTests.moc"
