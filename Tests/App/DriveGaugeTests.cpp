#include <QtTest>

#include "QuandrilApp/DriveGauge.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "Support/ServicesFixture.h"

using namespace Quandril;
using namespace Quandril::App;

class DriveGaugeTests : public QObject {
    Q_OBJECT

private slots:
    void showsTheDriveAgainstItsGoal_data()
    {
        QTest::addColumn<QString>("goal"); // stored text, or "-" for nothing stored
        QTest::addColumn<qint64>("free");
        QTest::addColumn<QString>("shown"); // free text | tone | verdict
        QTest::newRow("default goal met") << "-" << qint64(60'000'000'000)
            << "60 GB free of 500 GB | accent | Goal met: 50 GB free.";
        QTest::newRow("short of the default goal") << "-" << qint64(20'000'000'000)
            << "20 GB free of 500 GB | orange | 30 GB short of the goal (50 GB free).";
        QTest::newRow("just under 10 GB is red whatever the goal") << "" << qint64(9'999'999'999)
            << "10 GB free of 500 GB | red | No goal set.";
        QTest::newRow("10 GB without a goal") << "" << qint64(10'000'000'000)
            << "10 GB free of 500 GB | secondary | No goal set.";
        QTest::newRow("share goal exactly met") << "20%" << qint64(100'000'000'000)
            << "100 GB free of 500 GB | accent | Goal met: 20% of the drive free.";
        QTest::newRow("more free than the drive holds") << "" << qint64(900'000'000'000)
            << "900 GB free of 500 GB | secondary | No goal set.";
    }

    void showsTheDriveAgainstItsGoal()
    {
        QFETCH(QString, goal);
        QFETCH(qint64, free);
        QFETCH(QString, shown);
        AppTesting::ServicesFixture f;
        auto& model = f.services().model;
        DriveInfo drive {"Macintosh HD", "/", true, 500'000'000'000, free, free};
        if (goal != "-")
            model.preferences().setString(Keys::goal("/"), goal);
        DriveGauge gauge(model, drive);
        QCOMPARE(gauge.freeText() + " | " + toneName(gauge.reading().tone) + " | " + gauge.verdictText(), shown);
        QVERIFY(gauge.reading().used >= 0.0 && gauge.reading().used <= 1.0);
        QCOMPARE(gauge.reading().goalMark.has_value(), goal != "");
    }

    void followsTheFreeSpaceCount()
    {
        AppTesting::ServicesFixture f;
        auto& model = f.services().model;
        DriveGauge gauge(model, DriveInfo {"Data", "/data", false, 100'000'000'000, 60'000'000'000, 5'000'000'000});
        QCOMPARE(gauge.freeText(), QStringLiteral("60 GB free of 100 GB"));
        model.preferences().setString(QString(Keys::freeSpaceSource), QStringLiteral("strict"));
        QCOMPARE(gauge.freeText(), QStringLiteral("5 GB free of 100 GB"));
        QCOMPARE(toneName(gauge.reading().tone), QStringLiteral("red"));
    }
};

QTEST_MAIN(DriveGaugeTests)
#include "DriveGaugeTests.moc"
