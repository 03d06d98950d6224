#include <QtTest>

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include "QuandrilApp/Look/GoalPicker.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "Support/AccessibleTree.h"
#include "Support/ServicesFixture.h"

using namespace Quandril;
using namespace Quandril::App;
using namespace Quandril::AppTesting;

namespace {

// What the user does with the picker: "pick:<option>", "none", or "type:<text>".
void act(GoalPicker& picker, const QString& action)
{
    if (action == "none") {
        picker.menu()->actions().constLast()->trigger();
    } else if (action.startsWith("pick:")) {
        for (QAction* item : picker.menu()->actions())
            if (item->data().toString() == action.mid(5))
                item->trigger();
    } else {
        picker.customField()->setText(action.mid(5));
        QTest::keyClick(picker.customField(), Qt::Key_Return);
    }
}

} // namespace

class GoalPickerTests : public QObject {
    Q_OBJECT

private slots:
    void menuListsThePresets()
    {
        ServicesFixture f;
        GoalPicker picker(f.services().model, f.services().model.status().drives.front());
        QStringList items;
        for (const QAction* action : picker.menu()->actions())
            items << (action->isSeparator() ? "[" + action->text() + "]" : action->text());
        QCOMPARE(items.join(" | "),
                 QStringLiteral("[Keep this much free] | 25 GB | 50 GB | 75 GB | 100 GB | "
                                "[Or a share of the drive] | 10% of the drive | 20% of the drive | "
                                "30% of the drive | [] | No goal"));
        const QLineEdit& field = *picker.customField();
        QCOMPARE(QStringLiteral("%1, %2 to %3 wide")
                     .arg(field.placeholderText())
                     .arg(field.minimumWidth())
                     .arg(field.maximumWidth()),
                 QStringLiteral("Custom, e.g. 60GB, 90 to 150 wide"));
    }

    // Open, the preset menu is among the application's windows, where a screen reader finds it;
    // its items read as they show and pressing one chooses it.
    void presetMenuIsWithinReachOfAssistiveTools()
    {
        QAccessible::setActive(true);
        ServicesFixture f;
        Model& model = f.services().model;
        const DriveInfo drive = model.status().drives.front();
        GoalPicker picker(model, drive);
        picker.show();
        QVERIFY(QTest::qWaitForWindowExposed(&picker));
        QMenu& menu = *picker.menu();
        QVERIFY(!AppTesting::applicationChild(&menu));
        menu.popup(picker.menuButton()->mapToGlobal(QPoint(0, picker.menuButton()->height())));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));

        QAccessibleInterface* presets = AppTesting::applicationChild(&menu);
        QVERIFY(presets);
        QCOMPARE(AppTesting::accessibleTree(presets),
                 QStringList({
                     "PopupMenu Keep free",
                     "  Separator Keep this much free",
                     "  MenuItem 25 GB [Press]",
                     "  MenuItem 50 GB [Press]",
                     "  MenuItem 75 GB [Press]",
                     "  MenuItem 100 GB [Press]",
                     "  Separator Or a share of the drive",
                     "  MenuItem 10% of the drive [Press]",
                     "  MenuItem 20% of the drive [Press]",
                     "  MenuItem 30% of the drive [Press]",
                     "  Separator ",
                     "  MenuItem No goal [Press]",
                 }));
        presets->child(3)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(model.preferences().string(Keys::goal(drive.path)).value_or("-"), QStringLiteral("75GB"));
        QCOMPARE(picker.title(), QStringLiteral("75 GB"));
        menu.close();
        QVERIFY(!AppTesting::applicationChild(&menu));
    }

    // An assistive tool pressing the preset button gets its answer at once, the menu opening after;
    // a menu still open inside the press (a nested event loop) is closed and counted as a failure.
    void pressingThePresetButtonAnswersAtOnce()
    {
        QAccessible::setActive(true);
        ServicesFixture f;
        GoalPicker picker(f.services().model, f.services().model.status().drives.front());
        picker.show();
        QVERIFY(QTest::qWaitForWindowExposed(&picker));
        QMenu& menu = *picker.menu();
        QAccessibleInterface* button = QAccessible::queryAccessibleInterface(picker.menuButton());
        QVERIFY(button && button->actionInterface());
        // The tool asks for the button's first action: "Press" (or "ShowMenu" on a button that
        // opens its menu itself).
        const QString action = button->actionInterface()->actionNames().value(0);
        QVERIFY(action == QAccessibleActionInterface::pressAction()
                || action == QAccessibleActionInterface::showMenuAction());

        bool pressing = true;
        bool heldOpenWhilePressing = false;
        QTimer watch;
        watch.setInterval(10);
        connect(&watch, &QTimer::timeout, &menu, [&] {
            if (pressing && menu.isVisible()) {
                heldOpenWhilePressing = true;
                menu.close();
            }
        });
        watch.start();
        button->actionInterface()->doAction(action);
        pressing = false;
        watch.stop();
        QVERIFY(!heldOpenWhilePressing);
        QTRY_VERIFY(menu.isVisible());
        QVERIFY(AppTesting::applicationChild(&menu));
        menu.close();
        QTRY_VERIFY(!menu.isVisible());
    }

    // Each choice writes the key "goal:" + the drive's path (the option's text, "" for no goal,
    // or the text as typed) and announces the change; text that is no goal writes nothing and
    // stays in the field.
    void choicesWriteTheGoal_data()
    {
        QTest::addColumn<bool>("startup");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("before"); // the title before
        QTest::addColumn<QString>("stored"); // "-": nothing stored
        QTest::addColumn<QString>("after");  // title | field
        QTest::newRow("startup: no goal") << true << "none"
                                          << "50 GB"
                                          << ""
                                          << "No goal | ";
        QTest::newRow("startup: 20%") << true << "pick:20%"
                                      << "50 GB"
                                      << "20%"
                                      << "20% of the drive | ";
        QTest::newRow("external: 100GB") << false << "pick:100GB"
                                         << "No goal"
                                         << "100GB"
                                         << "100 GB | ";
        QTest::newRow("typed as written") << false << "type: 60 gb "
                                          << "No goal"
                                          << " 60 gb "
                                          << "60 GB | ";
        QTest::newRow("bare number") << true << "type:60"
                                     << "50 GB"
                                     << "60"
                                     << "60 GB | ";
        QTest::newRow("no amount") << true << "type:plenty"
                                   << "50 GB"
                                   << "-"
                                   << "50 GB | plenty";
        QTest::newRow("a share of all of it") << false << "type:100%"
                                              << "No goal"
                                              << "-"
                                              << "No goal | 100%";
        QTest::newRow("empty field") << false << "type:"
                                     << "No goal"
                                     << "-"
                                     << "No goal | ";
    }

    void choicesWriteTheGoal()
    {
        QFETCH(bool, startup);
        QFETCH(QString, action);
        QFETCH(QString, before);
        QFETCH(QString, stored);
        QFETCH(QString, after);
        ServicesFixture f;
        f.machine().drive("Backup", "/Volumes/Backup", 2'000'000'000'000, 1'500'000'000'000);
        Model& model = f.services().model;
        const DriveInfo drive = model.status().drives.at(startup ? 0 : 1);
        QCOMPARE(drive.isStartup, startup);
        GoalPicker picker(model, drive);
        GoalPicker twin(model, drive);
        QCOMPARE(picker.title(), before);

        QSignalSpy writes(&model.preferences(), &Preferences::changed);
        QSignalSpy announced(&model, &Model::settingsChanged);
        act(picker, action);
        QCOMPARE(QList<qsizetype>({ writes.size(), announced.size() }), QList<qsizetype>(2, stored == "-" ? 0 : 1));
        if (stored != "-")
            QCOMPARE(writes.front().front().toString(), Keys::goal(drive.path));
        QCOMPARE(model.preferences().string(Keys::goal(drive.path)).value_or("-"), stored);
        QCOMPARE(picker.title() + " | " + picker.customField()->text(), after);
        QCOMPARE(twin.title(), picker.title());
    }

    // Showing, refreshing and moving to another drive never write a goal.
    void showingWritesNothing()
    {
        ServicesFixture f;
        f.machine().drive("Backup", "/Volumes/Backup", 2'000'000'000'000, 1'500'000'000'000);
        Model& model = f.services().model;
        QSignalSpy writes(&model.preferences(), &Preferences::changed);
        GoalPicker picker(model, model.status().drives.at(0));
        picker.customField()->setText("70GB");
        model.announceChange();
        model.setStatus(model.status());
        picker.setDrive(model.status().drives.at(1));
        QCOMPARE(picker.title() + " | " + picker.customField()->text(), QStringLiteral("No goal | "));
        QCOMPARE(writes.size(), 0);
    }
};

QTEST_MAIN(GoalPickerTests)
#include "GoalPickerTests.moc"
