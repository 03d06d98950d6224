// The settings window: the pane list, the stored pane it restores, and panes made anew each time
// they are shown.

#include <QtTest>

#include <QLabel>
#include <QListWidget>

#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Settings/SettingsScene.h"
#include "Support/ServicesFixture.h"

using namespace Quandril;
using namespace Quandril::App;

namespace {

const QString paneKey = QString(Keys::settingsPane);

// The list as a person reads it: each group on one line, rows as "title:symbol:tile colour", the
// selected row marked with "*".
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
        rows << (item->isSelected() ? "*" : "") + item->text() + ":" + symbol(*pane) + ":" + tileColor(*pane);
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
        QTest::newRow("nothing stored") << "-" << "General";
        QTest::newRow("rules") << "rules" << "Never Touch";
        QTest::newRow("icloud") << "icloud" << "iCloud";
        QTest::newRow("advanced") << "advanced" << "Advanced";
        QTest::newRow("iCloud, capital C") << "iCloud" << "General";
        QTest::newRow("General, capitalised") << "General" << "General";
        QTest::newRow("trailing blank") << "updates " << "General";
        QTest::newRow("empty") << "" << "General";
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
        QCOMPARE(title(scene.shownPane()), shown);
        QCOMPARE(scene.paneList()->currentItem()->text(), shown);
        QCOMPARE(scene.findChild<QLabel*>("paneTitle")->text(), shown);
        QCOMPARE(writes.count(), 0);
        QCOMPARE(services.preferences.string(paneKey), stored == "-" ? std::nullopt : std::optional(stored));
        QCOMPARE(scene.size(), QSize(720, 540));
        QCOMPARE(scene.paneList()->width(), 190);
    }

    void listsTheTenPanesInFourGroups()
    {
        AppTesting::ServicesFixture f;
        SettingsScene scene(f.services());
        scene.show();
        QCOMPARE(listed(*scene.paneList()),
                 "*General:gearshape:gray Goals:scope:blue Autopilot:wand.and.stars:purple "
                 "Notifications:bell.badge:red\n"
                 "Drives:externaldrive:blue Never Touch:shield.lefthalf.filled:green iCloud:icloud:cyan\n"
                 "Privacy:hand.raised:green Updates:arrow.triangle.2.circlepath:teal\n"
                 "Advanced:terminal:gray");
        QStringList ids;
        for (const auto pane : allSettingsPanes)
            ids << rawValue(pane);
        QCOMPARE(ids.join(' '), "general goals autopilot notifications drives rules icloud privacy updates advanced");
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
};

QTEST_MAIN(SettingsSceneTests)
#include "SettingsSceneTests.moc"
