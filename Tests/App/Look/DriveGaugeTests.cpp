#include <QtTest>

#include "QuandrilApp/Look/DriveGauge.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "Support/ServicesFixture.h"

using namespace Quandril;
using namespace Quandril::App;

class DriveGaugeTests : public QObject {
    Q_OBJECT

private slots:
    // The free text, tone and verdict of a 500 GB startup drive; "-": no goal stored (the default).
    void showsTheDriveAgainstItsGoal()
    {
        const QList<std::tuple<QString, qint64, QString>> rows {
            { "-", 60'000'000'000, "60 GB free of 500 GB | accent | Goal met: 50 GB free." },
            { "-", 20'000'000'000, "20 GB free of 500 GB | orange | 30 GB short of the goal (50 GB free)." },
            // Just under 10 GB is red whatever the goal.
            { "", 9'999'999'999, "10 GB free of 500 GB | red | No goal set." },
            { "", 10'000'000'000, "10 GB free of 500 GB | secondary | No goal set." },
            { "20%", 100'000'000'000, "100 GB free of 500 GB | accent | Goal met: 20% of the drive free." },
            { "", 900'000'000'000, "900 GB free of 500 GB | secondary | No goal set." },
        };
        AppTesting::ServicesFixture f;
        auto& model = f.services().model;
        QStringList got, expected;
        for (const auto& [goal, free, shown] : rows) {
            if (goal == "-")
                model.preferences().remove(Keys::goal("/"));
            else
                model.preferences().setString(Keys::goal("/"), goal);
            DriveGauge gauge(model, DriveInfo { "Macintosh HD", "/", true, 500'000'000'000, free, free });
            const DriveGaugeLogic::Reading& r = gauge.reading();
            got << goal + ": " + gauge.freeText() + " | " + toneName(r.tone) + " | " + gauge.verdictText()
                    + (r.used >= 0.0 && r.used <= 1.0 ? "" : " (used out of range)")
                    + (r.goalMark.has_value() == (goal != "") ? "" : " (goal mark wrong)");
            expected << goal + ": " + shown;
        }
        QCOMPARE(got, expected);
    }

    void followsTheFreeSpaceCount()
    {
        AppTesting::ServicesFixture f;
        auto& model = f.services().model;
        DriveGauge gauge(model, DriveInfo { "Data", "/data", false, 100'000'000'000, 60'000'000'000, 5'000'000'000 });
        QCOMPARE(gauge.freeText(), QStringLiteral("60 GB free of 100 GB"));
        model.preferences().setString(QString(Keys::freeSpaceSource), QStringLiteral("strict"));
        QCOMPARE(gauge.freeText() + " | " + toneName(gauge.reading().tone),
                 QStringLiteral("5 GB free of 100 GB | red"));
    }
};

QTEST_MAIN(DriveGaugeTests)
#include "DriveGaugeTests.moc"
