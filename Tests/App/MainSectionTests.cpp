#include <QtTest>

#include "QuandrilApp/MainSection.h"
#include "QuandrilApp/MainWindow.h"
#include "QuandrilApp/Settings/SettingsScene.h"
#include "Support/ServicesFixture.h"

using namespace Quandril::App;

class MainSectionTests : public QObject {
    Q_OBJECT

private slots:
    void sectionsReadTheirRawValuesExactly_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("section"); // its title, or "-" for none
        QTest::newRow("overview") << "overview" << "Overview";
        QTest::newRow("iCloud") << "iCloud" << "iCloud";
        QTest::newRow("advisor") << "advisor" << "Mac settings advisor";
        QTest::newRow("icloud in lower case") << "icloud" << "-";
        QTest::newRow("Overview capitalised") << "Overview" << "-";
        QTest::newRow("empty") << "" << "-";
        QTest::newRow("trailing blank") << "history " << "-";
    }

    void sectionsReadTheirRawValuesExactly()
    {
        QFETCH(QString, raw);
        QFETCH(QString, section);
        const auto found = mainSectionFromRaw(raw);
        QCOMPARE(found ? title(*found) : QStringLiteral("-"), section);
        if (found)
            QCOMPARE(rawValue(*found), raw);
    }

    void sidebarOrderAndSymbols()
    {
        QStringList all;
        for (const auto section : allMainSections)
            all << rawValue(section) + ":" + symbol(section);
        QCOMPARE(all.join(' '), QStringLiteral("overview:square.grid.2x2 findings:magnifyingglass drives:externaldrive "
                                               "iCloud:icloud history:clock.arrow.circlepath advisor:slider.horizontal.3"));
    }

    void windowsHaveTheirTitlesAndSizes()
    {
        Quandril::AppTesting::ServicesFixture f;
        MainWindow main(f.services());
        SettingsScene settings(f.services());
        QCOMPARE(main.windowTitle(), QStringLiteral("Gorrin"));
        QCOMPARE(main.size(), QSize(920, 660));
        QCOMPARE(settings.size(), QSize(720, 540));
    }
};

QTEST_MAIN(MainSectionTests)
#include "MainSectionTests.moc"
