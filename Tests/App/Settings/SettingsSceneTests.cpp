// The settings window: the pane list, the stored pane it restores, and panes made anew each time
// they are shown.

#include <QtTest>

#include <QLabel>
#include <QListWidget>

#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Settings/SettingsScene.h"
#include "Support/LayoutFit.h"
#include "Support/ServicesFixture.h"

using namespace Quandril;
using namespace Quandril::App;

namespace {

const QString paneKey = QString(Keys::settingsPane);

// The list as a person reads it: each group on one line, rows as "title:symbol:tile colour:stored
// id", the selected row marked with "*".
QString listed(const QListWidget& list)
{
    QStringList groups;
    QStringList rows;
    for (int i = 0; i < list.count(); ++i) {
        const QListWidgetItem* item = list.item(i);
        if (item->flags() == Qt::NoItemFlags) {
            if (!rows.isEmpty())
                groups << rows.join(' ');
            rows.clear();
            continue;
        }
        const auto pane = settingsPaneFromRaw(item->data(Qt::UserRole).toString());
        rows << (item->isSelected() ? "*" : "") + item->text() + ":" + symbol(*pane) + ":" + tileColor(*pane) + ":"
                + rawValue(*pane);
    }
    groups << rows.join(' ');
    return groups.join('\n');
}

} // namespace

class SettingsSceneTests : public QObject {
    Q_OBJECT

private slots:
    void panesReadTheirIdsExactly_data()
    {
        QTest::addColumn<QString>("stored"); // "-": nothing stored
        QTest::addColumn<QString>("shown");
        for (const auto& [stored, shown] : QList<std::pair<const char*, const char*>> { { "-", "General" },
                                                                                        { "rules", "Never Touch" },
                                                                                        { "icloud", "iCloud" },
                                                                                        { "advanced", "Advanced" },
                                                                                        { "iCloud", "General" },
                                                                                        { "General", "General" },
                                                                                        { "updates ", "General" },
                                                                                        { "", "General" } })
            QTest::addRow("\"%s\"", stored) << stored << shown;
    }

    // The window opens on the stored pane; a text that names none shows General, selected in the
    // list, and stays stored as it was. Showing writes nothing.
    void panesReadTheirIdsExactly()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        AppTesting::ServicesFixture f;
        AppServices& services = f.services();
        if (stored != "-")
            services.preferences.setString(paneKey, stored);
        QSignalSpy writes(&services.preferences, &Preferences::changed);
        SettingsScene scene(services);
        scene.show();
        QVERIFY(f.settle());
        QCOMPARE(QStringList({ title(scene.shownPane()), scene.paneList()->currentItem()->text(),
                               scene.findChild<QLabel*>("paneTitle")->text() }),
                 QStringList({ shown, shown, shown }));
        QCOMPARE(writes.count(), 0);
        // Never stored, it reads as its default: an empty text.
        QCOMPARE(services.preferences.stringValue(paneKey), stored == "-" ? QString() : stored);
    }

    void listsTheTenPanesInFourGroups()
    {
        AppTesting::ServicesFixture f;
        SettingsScene scene(f.services());
        scene.show();
        QCOMPARE(
            listed(*scene.paneList()),
            "*General:gearshape:gray:general Goals:scope:blue:goals Autopilot:wand.and.stars:purple:autopilot "
            "Notifications:bell.badge:red:notifications\n"
            "Drives:externaldrive:blue:drives Never Touch:shield.lefthalf.filled:green:rules iCloud:icloud:cyan:icloud\n"
            "Privacy:hand.raised:green:privacy Updates:arrow.triangle.2.circlepath:teal:updates\n"
            "Advanced:terminal:gray:advanced");
        QCOMPARE(scene.size(), QSize(720, 540));
        QCOMPARE(scene.paneList()->width(), 190);
    }

    // A click stores the pane and shows it; the window reopens on it with a new view of it, and
    // the view it showed before is gone.
    void aChosenPaneIsStoredAndShownAnew()
    {
        AppTesting::ServicesFixture f;
        AppServices& services = f.services();
        services.preferences.setString(paneKey, "iCloud");
        SettingsScene scene(services);
        scene.show();
        QPointer<QWidget> first = scene.paneView();

        QListWidget& list = *scene.paneList();
        const auto click = [&list](const QString& row) {
            const auto item = list.findItems(row, Qt::MatchExactly).front();
            QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(item).center());
        };
        click("General");
        QCOMPARE(services.preferences.string(paneKey), QString("general"));
        click("Advanced");
        QCOMPARE(services.preferences.string(paneKey), QString("advanced"));
        QVERIFY(AppTesting::waitUntil([&] { return scene.shownPane() == SettingsPane::advanced && !first; }));
        QCOMPARE(scene.findChild<QLabel*>("paneTitle")->text(), QString("Advanced"));

        QPointer<QWidget> before = scene.paneView();
        scene.close();
        QVERIFY(AppTesting::waitUntil([&] { return !before; }));
        QCOMPARE(scene.paneView(), nullptr);
        scene.show();
        QCOMPARE(scene.shownPane(), SettingsPane::advanced);
        QVERIFY(scene.paneView());

        // A reset removes the stored pane: the window goes back to General.
        services.preferences.reset();
        QVERIFY(AppTesting::waitUntil([&] { return scene.shownPane() == SettingsPane::general; }));
        QCOMPARE(scene.paneList()->currentItem()->text(), QString("General"));
        QVERIFY(!services.preferences.contains(paneKey));
    }

    void panesFitTheWindow_data()
    {
        QTest::addColumn<int>("points");
        QTest::addColumn<QString>("pane");
        for (const int points : { 9, 11, 13 })
            for (const SettingsPane pane : allSettingsPanes)
                QTest::addRow("%s, %d pt", qPrintable(rawValue(pane)), points) << points << rawValue(pane);
    }

    // At common font sizes each pane shows whole beside the 190-wide list: explanatory texts wrap,
    // the window stays 720 × 540 where the pane fits and grows to the width it needs otherwise,
    // and no control or text passes its edge.
    void panesFitTheWindow()
    {
        QFETCH(int, points);
        QFETCH(QString, pane);
        AppTesting::AppFontSize font(points);
        AppTesting::ServicesFixture f;
        f.machine().drive("Backup", "/Volumes/Backup", 2'000'000'000'000, 1'200'000'000'000);
        f.modelFixture.engine->onCatalog = [] {
            Catalog catalog = AppTesting::smallCatalog();
            catalog.protected_ = { { "/System", "macOS itself" }, { "~/.ssh", "your SSH keys" } };
            return std::optional(catalog);
        };
        AppServices& services = f.services();
        services.model.addProtectedPath("~/Documents/Taxes");
        services.preferences.setString(paneKey, pane);
        SettingsScene scene(services);
        scene.show();
        QVERIFY(f.settle());
        QVERIFY(AppTesting::waitForLayout(&scene));

        QCOMPARE(AppTesting::cutOff(&scene).join('\n'), QString());
        QCOMPARE(scene.paneList()->width(), 190);
        const int needed = scene.paneList()->width() + scene.paneView()->minimumSizeHint().width();
        QCOMPARE(scene.size(), QSize(qMax(720, needed), 540));

        // Another pane never narrows the window on screen; the next opening fits its pane afresh.
        const int width = scene.width();
        const int other = scene.paneList()->currentRow() == 0 ? 2 : 0;
        QTest::mouseClick(scene.paneList()->viewport(), Qt::LeftButton, {},
                          scene.paneList()->visualItemRect(scene.paneList()->item(other)).center());
        QVERIFY(f.settle());
        QCOMPARE(AppTesting::cutOff(&scene).join('\n'), QString());
        QCOMPARE(scene.width(), qMax(width, scene.paneList()->width() + scene.paneView()->minimumSizeHint().width()));
        scene.hide();
        scene.show();
        QVERIFY(f.settle());
        QCOMPARE(scene.width(), qMax(720, scene.paneList()->width() + scene.paneView()->minimumSizeHint().width()));
    }
};

QTEST_MAIN(SettingsSceneTests)
#include "SettingsSceneTests.moc"
