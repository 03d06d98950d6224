#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "QuandrilApp/Look/DriveGauge.h"
#include "QuandrilApp/Look/Mascot.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Shell/AppDelegate.h"
#include "QuandrilApp/Shell/MenuView.h"
#include "Support/AccessibleTree.h"
#include "Support/ServicesFixture.h"

using namespace Quandril;
using namespace Quandril::App;
using AppTesting::EngineCall;

namespace {

const DriveInfo startupDrive { "Macintosh HD", "/", true, 500'000'000'000, 100'000'000'000, 100'000'000'000 };
const DriveInfo backupDrive { "Backup",          "/Volumes/Backup", false,
                              2'000'000'000'000, 1'000'000'000'000, 1'000'000'000'000 };
const DriveInfo cardDrive { "Card", "/Volumes/Card", false, 64'000'000'000, 60'000'000'000, 60'000'000'000 };

ScanReport statusOf(std::vector<DriveInfo> drives, std::int64_t trashBytes = 0)
{
    ScanReport status;
    status.drives = std::move(drives);
    status.trashBytes = trashBytes;
    return status;
}

QString paths(const std::vector<DriveInfo>& drives)
{
    QStringList out;
    for (const auto& drive : drives)
        out << QString::fromStdString(drive.path);
    return out.join(' ');
}

// What the menu shows, on one line.
QString describe(const MenuView& view)
{
    QStringList gauges;
    for (const DriveGauge* gauge : view.gauges())
        gauges << QString::fromStdString(gauge->drive().name) + " " + gauge->freeText();
    return QStringLiteral("%1 | %2 | %3 | %4")
        .arg(rawValue(view.mascot()->slot()), gauges.join(", "),
             view.trashLine()->isHidden() ? QStringLiteral("-") : view.trashLabel()->text(),
             view.updateButton()->isHidden() ? QStringLiteral("-") : view.updateButton()->text());
}

// A menu over a model whose every status reading is `status` (the test may change it).
struct MenuFixture {
    AppTesting::ServicesFixture f;
    std::shared_ptr<ScanReport> status = std::make_shared<ScanReport>(statusOf({ backupDrive, startupDrive }));
    QStringList opened;
    AppSignals requests;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<MenuView> view;

    MenuFixture()
    {
        f.modelFixture.engine->onStatus = [status = status](const Mac&) { return *status; };
        delegate = std::make_unique<AppDelegate>(f.services(), requests);
        view = std::make_unique<MenuView>(f.services(), *delegate,
                                          Scenes { [this] { opened << "main"; }, [this] { opened << "settings"; } });
    }
    Model& model() { return f.services().model; }
    Preferences& preferences() { return f.services().preferences; }
};

} // namespace

class MenuViewTests : public QObject {
    Q_OBJECT

private slots:
    void listsTheWatchedDrives_data()
    {
        QTest::addColumn<QString>("watched");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing watched: every drive") << ""
                                                      << "/Volumes/Backup / /Volumes/Card";
        QTest::newRow("only commas: the startup drive") << ",,"
                                                        << "/";
        QTest::newRow("one comma") << ","
                                   << "/";
        QTest::newRow("a watched drive, in the status's order") << "/Volumes/Card"
                                                                << "/ /Volumes/Card";
        QTest::newRow("both, empty pieces dropped") << "/Volumes/Card,,/Volumes/Backup,"
                                                    << "/Volumes/Backup / /Volumes/Card";
        QTest::newRow("a leading blank matches nothing") << " /Volumes/Card"
                                                         << "/";
        QTest::newRow("a drive not mounted is ignored") << "/Volumes/Gone"
                                                        << "/";
        QTest::newRow("the startup drive named again") << "/"
                                                       << "/";
    }

    void listsTheWatchedDrives()
    {
        QFETCH(QString, watched);
        QFETCH(QString, expected);
        QCOMPARE(paths(MenuView::drives(statusOf({ backupDrive, startupDrive, cardDrive }), watched)), expected);
        QCOMPARE(MenuView::drives(statusOf({}), watched).size(), std::size_t(0));
    }

    void showsTheStateOfTheModel()
    {
        MenuFixture m;
        MenuView& view = *m.view;
        QCOMPARE(describe(view),
                 QStringLiteral("idle | Backup 1000 GB free of 2000 GB, Macintosh HD 100 GB free of 500 GB | - | -"));

        m.model().setStatus(statusOf({ backupDrive, startupDrive }, 1));
        QCOMPARE(describe(view),
                 QStringLiteral("idle | Backup 1000 GB free of 2000 GB, Macintosh HD 100 GB free of 500 GB"
                                " | The Trash holds 0 KB; emptying it frees that. | -"));
        m.preferences().setString(QString(Keys::watchedDrives), QStringLiteral(","));
        m.preferences().setString(QString(Keys::availableUpdate), QStringLiteral("2.0 <b>beta</b>"));
        m.preferences().setString(Keys::goal("/"), QStringLiteral("30%"));
        m.model().announceChange();
        QCOMPARE(describe(view),
                 QStringLiteral("concerned | Macintosh HD 100 GB free of 500 GB"
                                " | The Trash holds 0 KB; emptying it frees that."
                                " | Gorrin 2.0 <b>beta</b> is available"));
        QCOMPARE(view.trashLabel()->textFormat(), Qt::PlainText);

        view.updateButton()->click();
        QCOMPARE(m.f.urls.opened, QList<QUrl>({ AppInfo::downloadUrl() }));

        m.preferences().setString(QString(Keys::availableUpdate), QString());
        m.model().setStatus(statusOf({}, 0));
        // Without a startup drive nothing is under a goal.
        QCOMPARE(describe(view), QStringLiteral("idle |  | - | -"));
    }

    void actsOnItsButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("withReport");
        QTest::addColumn<QString>("opened");
        QTest::addColumn<int>("scans");
        QTest::newRow("free up space, no report yet: a scan starts") << "freeUp" << false << "main" << 1;
        QTest::newRow("free up space with a report: no scan") << "freeUp" << true << "main" << 0;
        QTest::newRow("Return is free up space") << "Return" << false << "main" << 1;
        QTest::newRow("open Gorrin starts no scan") << "open" << false << "main" << 0;
        QTest::newRow("settings") << "settings" << false << "settings" << 0;
    }

    void actsOnItsButtons()
    {
        QFETCH(QString, button);
        QFETCH(bool, withReport);
        QFETCH(QString, opened);
        QFETCH(int, scans);
        MenuFixture m;
        if (withReport) {
            m.model().scan();
            QVERIFY(m.f.settle());
            QVERIFY(m.model().report());
        }
        const int scansBefore = m.f.modelFixture.engine->count(EngineCall::scan);
        MenuView& view = *m.view;
        view.popUp(QRect(100, 0, 22, 22));
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        if (button == "freeUp")
            view.freeUpButton()->click();
        else if (button == "Return")
            QTest::keyClick(&view, Qt::Key_Return);
        else if (button == "open")
            view.openButton()->click();
        else
            view.settingsButton()->click();
        QVERIFY(m.f.settle());

        QCOMPARE(m.opened.join(','), opened);
        QCOMPARE(m.f.modelFixture.engine->count(EngineCall::scan) - scansBefore, scans);
        // The window that opens takes over from the menu.
        QVERIFY(!view.isVisible());
        QVERIFY(!view.closedByThisClick());
    }

    // Open, the panel is among the application's windows, where a screen reader finds it; its
    // buttons read and press as they show.
    void isWithinReachOfAssistiveTools()
    {
        QAccessible::setActive(true);
        MenuFixture m;
        m.preferences().setString(QString(Keys::availableUpdate), QStringLiteral("0.9"));
        *m.status = statusOf({ startupDrive }, 7'000'000);
        MenuView& view = *m.view;
        QVERIFY(!AppTesting::applicationChild(&view));
        view.popUp(QRect(100, 0, 22, 22));
        QVERIFY(QTest::qWaitForWindowExposed(&view) && m.f.settle());

        QAccessibleInterface* panel = AppTesting::applicationChild(&view);
        QVERIFY(panel);
        const QStringList tree = AppTesting::accessibleTree(panel);
        QCOMPARE(tree.value(0), QStringLiteral("Window Gorrin menu"));
        QCOMPARE(tree.filter(QStringLiteral("[")),
                 QStringList({
                     "  Button Gorrin 0.9 is available [Press,SetFocus]",
                     "  Button Free up space… [Press,SetFocus]",
                     "  Button Open Gorrin [Press,SetFocus]",
                     "  Button Settings [Press,SetFocus]",
                     "  Button Quit Gorrin [Press,SetFocus]",
                 }));

        QAccessibleInterface* open = nullptr;
        for (int i = 0; i < panel->childCount(); ++i)
            if (panel->child(i)->text(QAccessible::Name) == QStringLiteral("Open Gorrin"))
                open = panel->child(i);
        QVERIFY(open);
        open->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        // A press is an animated click: it lands a moment later.
        QTRY_COMPARE(m.opened, QStringList({ "main" }));
        QVERIFY(!view.isVisible());
        QVERIFY(!AppTesting::applicationChild(&view));
    }

    // Each showing reads the drives anew; a click outside or Escape closes the menu.
    void readsTheStatusOnEachShowingAndClosesOnAClickOutside()
    {
        MenuFixture m;
        MenuView& view = *m.view;
        auto& engine = *m.f.modelFixture.engine;
        QVERIFY(m.f.settle());
        const int before = engine.count(EngineCall::status);

        // Space freed elsewhere shows as soon as the menu opens.
        *m.status = statusOf({ startupDrive }, 7'000'000);
        view.popUp(QRect(100, 0, 22, 22));
        QVERIFY(QTest::qWaitForWindowExposed(&view) && m.f.settle());
        QCOMPARE(engine.count(EngineCall::status), before + 1);
        QCOMPARE(view.trashLabel()->text(), QStringLiteral("The Trash holds 7 MB; emptying it frees that."));
        QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(-20, -20));
        QVERIFY(!view.isVisible());
        // The tray icon under that click must not open the menu again.
        QVERIFY(view.closedByThisClick());
        QTest::keyClick(&view, Qt::Key_Escape);

        view.popUp(QRect(100, 0, 22, 22));
        QVERIFY(view.isVisible() && m.f.settle());
        QCOMPARE(engine.count(EngineCall::status), before + 2);
        QTest::keyClick(&view, Qt::Key_Escape);
        QVERIFY(!view.isVisible());
        QCOMPARE(m.opened, QStringList());
    }

    void opensNextToTheTrayIcon_data()
    {
        QTest::addColumn<QRect>("icon");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("top panel, right end: under the icon, kept on screen")
            << QRect(1250, 0, 24, 24) << QPoint(960, 28);
        QTest::newRow("bottom panel: above the icon") << QRect(628, 776, 24, 24) << QPoint(480, 472);
        QTest::newRow("no room either way: at the top") << QRect(600, 300, 24, 200) << QPoint(452, 0);
        QTest::newRow("the pointer stands in for an icon") << QRect(700, 400, 1, 1) << QPoint(540, 405);
    }

    void opensNextToTheTrayIcon()
    {
        QFETCH(QRect, icon);
        QFETCH(QPoint, expected);
        QCOMPARE(MenuView::placement(icon, QSize(320, 300), QRect(0, 0, 1280, 800)), expected);
    }
};

QTEST_MAIN(MenuViewTests)
#include "MenuViewTests.moc"
