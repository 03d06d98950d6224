#include <QtTest>

#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>

#include <csignal>

#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Shell/AppCommands.h"
#include "QuandrilApp/Shell/AppDelegate.h"
#include "QuandrilApp/Shell/AppSignals.h"
#include "QuandrilApp/Shell/MenuView.h"
#include "Support/LayoutFit.h"
#include "Support/ServicesFixture.h"

using namespace Quandril;
using namespace Quandril::App;
using Outcome = Quandril::App::UpdateFetcher::Outcome;

namespace {

QString policyName(ActivationPolicy policy)
{
    return policy == ActivationPolicy::regular ? QStringLiteral("regular") : QStringLiteral("accessory");
}

QList<QMessageBox*> alerts()
{
    QList<QMessageBox*> out;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible())
            out << box;
    return out;
}

// The menus as "Title: item Shortcut, -, item | Title: …".
QString describeMenus(const QMenuBar& bar)
{
    QStringList menus;
    for (const QAction* menuAction : bar.actions()) {
        QStringList items;
        for (const QAction* item : menuAction->menu()->actions())
            items << (item->isSeparator() ? QStringLiteral("-")
                                          : (item->text() + ' ' + item->shortcut().toString()).trimmed());
        menus << menuAction->text() + ": " + items.join(", ");
    }
    return menus.join(" | ");
}

QAction* findAction(const QMenuBar& bar, const QString& text)
{
    for (const QAction* menuAction : bar.actions())
        for (QAction* item : menuAction->menu()->actions())
            if (item->text() == text)
                return item;
    return nullptr;
}

// The handlers of the signals a logout or shutdown sends.
QList<quintptr> sessionSignalHandlers()
{
    QList<quintptr> out;
    for (const int signal : { SIGTERM, SIGHUP, SIGINT, SIGQUIT }) {
        struct sigaction action {};
        sigaction(signal, nullptr, &action);
        out << quintptr(action.sa_handler);
    }
    return out;
}

struct DelegateFixture {
    AppTesting::ServicesFixture f;
    AppSignals requests;
    std::unique_ptr<AppDelegate> delegate;

    DelegateFixture() { delegate = std::make_unique<AppDelegate>(f.services(), requests); }
    Preferences& preferences() { return f.services().preferences; }
    QDateTime now() { return toDateTime(f.modelFixture.clock->now()); }

    // Runs one update check and waits until its answer is recorded.
    void check(bool userAsked, const Outcome& outcome)
    {
        QSignalSpy finished(delegate.get(), &AppDelegate::updateCheckFinished);
        if (userAsked)
            delegate->checkForUpdates(true);
        else
            delegate->launch();
        QCOMPARE(f.updates.answer(outcome), 1);
        QTRY_COMPARE(finished.count(), 1);
    }
};

QByteArray versionFile(const char* version, const char* url = "https://gorrin.example/download",
                       const char* notes = nullptr)
{
    QJsonObject file { { "version", version }, { "url", url } };
    if (notes)
        file.insert("notes", notes);
    return QJsonDocument(file).toJson();
}

} // namespace

class AppDelegateTests : public QObject {
    Q_OBJECT

private slots:
    void launchAsksForTheWindowsHalfASecondLater_data()
    {
        QTest::addColumn<QByteArray>("openSettings"); // GR_OPEN_SETTINGS, or "-" for unset
        QTest::addColumn<QString>("expected");
        QTest::newRow("unset") << QByteArray("-") << "showWindow";
        QTest::newRow("1") << QByteArray("1") << "showWindow showSettings";
        for (const char* other : { "yes", "true", " 1", "0", "" })
            QTest::newRow(qPrintable(QStringLiteral("'%1'").arg(other))) << QByteArray(other) << "showWindow";
    }

    void launchAsksForTheWindowsHalfASecondLater()
    {
        QFETCH(QByteArray, openSettings);
        QFETCH(QString, expected);
        if (openSettings == "-")
            qunsetenv("GR_OPEN_SETTINGS");
        else
            qputenv("GR_OPEN_SETTINGS", openSettings);
        const auto handlers = sessionSignalHandlers();
        DelegateFixture d;
        QStringList posted;
        QElapsedTimer sinceLaunch;
        qint64 firstPostMs = -1;
        connect(&d.requests, &AppSignals::showWindow, this, [&] {
            firstPostMs = sinceLaunch.elapsed();
            posted << "showWindow";
        });
        connect(&d.requests, &AppSignals::showSettings, this, [&] { posted << "showSettings"; });

        sinceLaunch.start();
        d.delegate->launch();
        QVERIFY(posted.isEmpty());
        QCOMPARE(d.f.notifier.requests,
                 QList<Notifier::Options>(
                     { Notifier::Option::alert | Notifier::Option::sound | Notifier::Option::provisional }));
        QCOMPARE(d.preferences().boolean(QString(Keys::notificationsEnabled)), std::optional<bool>(true));
        QVERIFY(!d.preferences().contains(QString(Keys::notificationsEnabled)));
        // The one default registered: the update check's switch reads false only as a fallback.
        QCOMPARE(d.preferences().boolean(QString(Keys::autoCheckForUpdates)), std::nullopt);
        QCOMPARE(d.preferences().boolean(QString(Keys::autoCheckForUpdates), true), true);
        // "autoCheckForUpdates" was never set: nothing goes to the network.
        QVERIFY(d.f.updates.requested.isEmpty());

        QTRY_COMPARE(posted.join(' '), expected);
        QVERIFY2(firstPostMs >= 500, qPrintable(QString::number(firstPostMs)));

        posted.clear();
        d.delegate->reopen();
        QCOMPARE(posted, QStringList({ "showWindow" }));
        // A SIGTERM or SIGHUP at logout ends the app as if it had no guard: no handler is installed
        // (the test runner's own stay as they were).
        QCOMPARE(sessionSignalHandlers(), handlers);
        qunsetenv("GR_OPEN_SETTINGS");
    }

    void quitsOnlyThroughItsOwnQuit_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<bool>("ends");
        QTest::newRow("a Quit event from elsewhere") << "posted Quit" << false;
        QTest::newRow("a quit() from elsewhere") << "quit()" << false;
        QTest::newRow("the last window closed") << "close" << false;
        QTest::newRow("the session ends") << "session" << true;
        QTest::newRow("the menu's power button") << "power" << true;
        QTest::newRow("the Quit Gorrin command") << "command" << true;
    }

    void quitsOnlyThroughItsOwnQuit()
    {
        QFETCH(QString, request);
        QFETCH(bool, ends);
        DelegateFixture d;
        AppDelegate& delegate = *d.delegate;
        QMainWindow window;
        QWidget settingsWindow;
        AppCommands::install(window, settingsWindow, delegate, d.f.urls, [] {});
        MenuView menu(d.f.services(), delegate, { [] {}, [] {} });
        window.show();

        // Pending calls die with this object, whichever way the loop ended.
        QObject context;
        bool ranOn = false;
        QMetaObject::invokeMethod(
            &context,
            [&] {
                if (request == "posted Quit")
                    QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit));
                else if (request == "quit()")
                    QCoreApplication::quit();
                else if (request == "close")
                    window.close();
                else if (request == "session") {
                    delegate.sessionEnding();
                    QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit));
                } else if (request == "power")
                    menu.quitButton()->click();
                else
                    findAction(*window.menuBar(), "Quit Gorrin")->trigger();
                // Runs after everything the request queued.
                QMetaObject::invokeMethod(
                    &context,
                    [&] {
                        QMetaObject::invokeMethod(
                            &context,
                            [&] {
                                ranOn = true;
                                delegate.quit();
                            },
                            Qt::QueuedConnection);
                    },
                    Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
        QTimer::singleShot(20000, &context, [] { QCoreApplication::exit(2); });

        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(ranOn, !ends);
        QVERIFY(delegate.quitRequested() || request == "session");
    }

    void activationPolicyFollowsTheWindows()
    {
        DelegateFixture d;
        AppDelegate& delegate = *d.delegate;
        QWidget main;
        main.setWindowTitle("Gorrin");
        QWidget settings;
        settings.setWindowTitle("Settings");
        QWidget popup(nullptr, Qt::Popup);
        QStringList seen;
        const auto step = [&](const char* what, const std::function<void()>& action) {
            action();
            // The policy follows once the window system's answers and the queued update are in.
            QVERIFY(AppTesting::waitForLayout(&main));
            seen << QStringLiteral("%1: %2").arg(what, policyName(delegate.activationPolicy()));
        };
        step("main shown", [&] { main.show(); });
        step("main minimised", [&] { main.showMinimized(); });
        step("brought forward", [&] { delegate.bringWindowsForward(); });
        QVERIFY(!main.isMinimized());
        step("main closed", [&] { main.close(); });
        step("a popup alone", [&] { popup.show(); });
        step("settings alone", [&] {
            popup.close();
            settings.show();
        });
        step("settings minimised", [&] { settings.showMinimized(); });
        step("brought forward again", [&] { delegate.bringWindowsForward(); });
        QCOMPARE(seen,
                 QStringList({ "main shown: regular", "main minimised: accessory", "brought forward: regular",
                               "main closed: accessory", "a popup alone: accessory", "settings alone: regular",
                               "settings minimised: accessory", "brought forward again: regular" }));
        // Only windows called "Gorrin" are raised: Settings stays minimised, the main window opens.
        QVERIFY(settings.isMinimized());
        QVERIFY(main.isVisible());
    }

    void dailyGateOfUnattendedChecks_data()
    {
        QTest::addColumn<QString>("autoCheck"); // "-" unset
        QTest::addColumn<QString>("last");      // "-" absent, "text", or seconds before now (negative: after)
        QTest::addColumn<bool>("due");
        QTest::newRow("automatic checks never set") << "-"
                                                    << "-" << false;
        QTest::newRow("automatic checks off") << "false"
                                              << "-" << false;
        QTest::newRow("never checked") << "true"
                                       << "-" << true;
        QTest::newRow("checked 86,399 s ago") << "true"
                                              << "86399" << false;
        QTest::newRow("checked 86,399.999 s ago") << "true"
                                                  << "86399.999" << false;
        QTest::newRow("checked 86,400 s ago") << "true"
                                              << "86400" << true;
        QTest::newRow("checked a week ago") << "true"
                                            << "604800" << true;
        QTest::newRow("a date stored as text") << "true"
                                               << "text" << true;
        QTest::newRow("an hour ahead: wait") << "true"
                                             << "-3600" << false;
        QTest::newRow("exactly a day ahead: wait") << "true"
                                                   << "-86400" << false;
        QTest::newRow("more than a day ahead: as if never") << "true"
                                                            << "-86400.001" << true;
        QTest::newRow("a year ahead: as if never") << "true"
                                                   << "-31536000" << true;
        QTest::newRow("off, a year ahead") << "false"
                                           << "-31536000" << false;
    }

    void dailyGateOfUnattendedChecks()
    {
        QFETCH(QString, autoCheck);
        QFETCH(QString, last);
        QFETCH(bool, due);
        AppTesting::TempPreferences preferences;
        const QDateTime now = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
        if (autoCheck != "-")
            preferences->setBoolean(QString(Keys::autoCheckForUpdates), autoCheck == "true");
        if (last == "text")
            preferences->setString(QString(Keys::lastUpdateCheck), now.addYears(-1).toString(Qt::ISODate));
        else if (last != "-")
            preferences->setDate(QString(Keys::lastUpdateCheck), now.addMSecs(-qint64(last.toDouble() * 1000)));
        QCOMPARE(AppDelegate::updateCheckDue(*preferences, now), due);
    }

    // Each answer, first to an unattended check and then to one the user asked for.
    void updateCheckAnswers_data()
    {
        QTest::addColumn<bool>("fetched");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("available"); // the notice in the menu afterwards ("0.5" before)
        QTest::addColumn<QStringList>("alert"); // text, informative text, buttons
        QTest::addColumn<QString>("opens");     // by the alert's default button
        const QString get = "https://gorrin.example/get", version = AppInfo::version();
        const char* notes = "<a href=\"file:///etc/passwd\">Read me</a> & <b>more</b>";
        const QString failed = "Couldn't check for updates.";
        QTest::newRow("newer, notes in markup")
            << true << versionFile("9.1", "https://gorrin.example/get", notes) << "9.1"
            << QStringList({ "Gorrin 9.1 is available.", notes, "Download,Later" }) << get;
        QTest::newRow("newer, empty notes") << true << versionFile("9.2", "https://gorrin.example/get", "") << "9.2"
                                            << QStringList({ "Gorrin 9.2 is available.", "", "Download,Later" }) << get;
        QTest::newRow("newer, no notes") << true << versionFile("9.3") << "9.3"
                                         << QStringList({ "Gorrin 9.3 is available.", "You have " + version + ".",
                                                          "Download,Later" })
                                         << "https://gorrin.example/download";
        QTest::newRow("up to date: the notice goes away")
            << true << versionFile("0.0.1") << ""
            << QStringList({ "You're up to date.", "Gorrin " + version + " is the newest version.", "OK" }) << "";
        QTest::newRow("a link that is no web page")
            << true << versionFile("9.1", "javascript:alert(1)") << "0.5"
            << QStringList({ failed, "The version file didn't have a usable link.", "OK" }) << "";
        QTest::newRow("no answer") << false << QByteArray() << "0.5"
                                   << QStringList({ failed, "Couldn't check: The network is down.", "OK" }) << "";
    }

    void updateCheckAnswers()
    {
        QFETCH(bool, fetched);
        QFETCH(QByteArray, body);
        QFETCH(QString, available);
        QFETCH(QStringList, alert);
        QFETCH(QString, opens);
        const Outcome outcome = fetched ? Outcome::received(body) : Outcome::failed("The network is down.");
        DelegateFixture d;
        Preferences& preferences = d.preferences();
        preferences.setBoolean(QString(Keys::autoCheckForUpdates), true);
        const auto recorded = [&] {
            return QStringList(
                { preferences.string(QString(Keys::availableUpdate), "-"),
                  preferences.date(QString(Keys::lastUpdateCheck)) == d.now() ? "checked now" : "not recorded" });
        };

        preferences.setString(QString(Keys::availableUpdate), "0.5");
        d.check(false, outcome);
        QCOMPARE(d.f.updates.requested, QList<QUrl>({ AppInfo::updateUrl() }));
        QCOMPARE(recorded(), QStringList({ available, "checked now" }));
        QVERIFY(!d.delegate->alert() && alerts().isEmpty());
        // The next unattended check waits a day; one the user asks for runs whatever the schedule says.
        d.delegate->checkForUpdates(false);
        QCOMPARE(d.f.updates.requested.size(), 1);

        preferences.setString(QString(Keys::availableUpdate), "0.5");
        preferences.setDate(QString(Keys::lastUpdateCheck), d.now().addSecs(-60));
        d.check(true, outcome);
        QCOMPARE(d.f.updates.requested.size(), 2);
        QCOMPARE(recorded(), QStringList({ available, "checked now" }));
        QMessageBox* box = d.delegate->alert();
        QVERIFY(box && alerts() == QList<QMessageBox*>({ box }));
        QStringList buttons;
        for (const QAbstractButton* button : box->buttons())
            buttons << button->text();
        buttons.sort();
        QCOMPARE(QStringList({ box->text(), box->informativeText(), buttons.join(',') }), alert);
        // Remote text is shown as written: no label of the alert reads markup or follows links.
        for (const QLabel* label : box->findChildren<QLabel*>())
            QVERIFY(label->textFormat() == Qt::PlainText && !label->openExternalLinks());
        (box->defaultButton() ? box->defaultButton() : box->buttons().at(0))->click();
        QTRY_VERIFY(alerts().isEmpty());
        QCOMPARE(d.f.urls.opened, opens.isEmpty() ? QList<QUrl>() : QList<QUrl>({ QUrl(opens) }));
    }

    void menusHoldTheAppsCommands()
    {
        DelegateFixture d;
        QMainWindow window;
        QWidget settingsWindow;
        int settingsOpened = 0;
        AppCommands::install(window, settingsWindow, *d.delegate, d.f.urls, [&] { ++settingsOpened; });
        const QMenuBar& bar = *window.menuBar();
        QCOMPARE(describeMenus(bar),
                 QStringLiteral("Gorrin: Check for Updates…, -, Settings… Ctrl+,, -, Quit Gorrin Ctrl+Q"
                                " | Help: Gorrin Help, What's New"));
        findAction(bar, "Gorrin Help")->trigger();
        findAction(bar, "What's New")->trigger();
        QCOMPARE(d.f.urls.opened, QList<QUrl>({ AppInfo::faqUrl(), AppInfo::changelogUrl() }));
        findAction(bar, "Settings…")->trigger();
        QCOMPARE(settingsOpened, 1);
        // Checks at once, though automatic checks are off.
        findAction(bar, "Check for Updates…")->trigger();
        QCOMPARE(d.f.updates.requested.size(), 1);
        // Ctrl+Q works in the settings window too.
        QVERIFY(settingsWindow.actions().contains(findAction(bar, "Quit Gorrin")));
    }

    // Settings opens centred on the screen under the pointer each time it comes on screen, also
    // after the user moved it away before closing it, and when it widens itself as it comes on.
    void settingsOpensCentred()
    {
        DelegateFixture d;
        QMainWindow window;
        QWidget settingsWindow;
        settingsWindow.resize(400, 300);
        AppCommands::install(window, settingsWindow, *d.delegate, d.f.urls, [] {});
        struct Widening : QObject {
            bool eventFilter(QObject* watched, QEvent* event) override
            {
                if (event->type() == QEvent::Show)
                    static_cast<QWidget*>(watched)->resize(static_cast<QWidget*>(watched)->width() + 50, 300);
                return false;
            }
        } widening;
        settingsWindow.installEventFilter(&widening);
        const QPoint middle = QGuiApplication::screenAt(QCursor::pos())->availableGeometry().center();
        QList<QPoint> centres;
        for (int opening = 0; opening < 2; ++opening) {
            settingsWindow.show();
            QVERIFY(QTest::qWaitForWindowExposed(&settingsWindow));
            centres << settingsWindow.frameGeometry().center();
            settingsWindow.move(5, 5);
            settingsWindow.close();
        }
        QCOMPARE(centres, QList<QPoint>({ middle, middle }));
    }

    // A save that fails is told once per session, where the user sees it, whether it failed before
    // the launch or after.
    void aFailedSaveIsToldOnce_data()
    {
        QTest::addColumn<bool>("beforeLaunch");
        QTest::newRow("before the launch") << true;
        QTest::newRow("after the launch") << false;
    }

    void aFailedSaveIsToldOnce()
    {
        QFETCH(bool, beforeLaunch);
        DelegateFixture d;
        const QString path = d.f.preferences().filePath();
        QFile::remove(path);
        QVERIFY(QDir().mkdir(path)); // a folder in the file's place can't be replaced
        const auto failTwice = [&] {
            d.preferences().setString(QString(Keys::availableUpdate), QStringLiteral("2.0"));
            d.preferences().setString(QString(Keys::availableUpdate), QStringLiteral("2.1"));
        };
        if (beforeLaunch)
            failTwice();
        d.delegate->launch();
        if (!beforeLaunch)
            failTwice();
        failTwice();
        QCOMPARE(d.f.notifier.posted,
                 (QList<QPair<QString, QString>> { { "Gorrin couldn't save your settings",
                                                     path
                                                         + " could not be written: Is a directory. Changes made now "
                                                           "last only until Gorrin quits." } }));
    }
};

QTEST_MAIN(AppDelegateTests)
#include "AppDelegateTests.moc"
