#include <QtTest>

#include "QuandrilApp/MainWindow/MainSection.h"
#include "QuandrilApp/MainWindow/MainWindow.h"
#include "Support/ServicesFixture.h"

using namespace Quandril::App;

class MainSectionTests : public QObject {
    Q_OBJECT

private slots:
    // The sidebar's order, titles and symbols; only an exact raw value reads back as its section.
    void sectionsInOrderReadTheirRawValuesExactly()
    {
        QStringList all;
        for (const auto section : allMainSections) {
            QCOMPARE(mainSectionFromRaw(rawValue(section)), section);
            all << rawValue(section) + ":" + title(section) + ":" + symbol(section);
        }
        QCOMPARE(all,
                 QStringList({ "overview:Overview:square.grid.2x2", "findings:Findings:magnifyingglass",
                               "drives:Drives:externaldrive", "iCloud:iCloud:icloud",
                               "history:History:clock.arrow.circlepath",
                               "advisor:Mac settings advisor:slider.horizontal.3" }));
        for (const char* other : { "icloud", "Overview", "", "history " })
            QVERIFY2(!mainSectionFromRaw(QString::fromUtf8(other)), other);
    }

    void mainWindowHasItsTitleAndSize()
    {
        Quandril::AppTesting::ServicesFixture f;
        MainWindow main(f.services());
        QCOMPARE(main.windowTitle() + QStringLiteral(" %1x%2").arg(main.width()).arg(main.height()),
                 QStringLiteral("Gorrin 920x660"));
    }
};

QTEST_MAIN(MainSectionTests)
#include "MainSectionTests.moc"
