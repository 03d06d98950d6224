#include "QuandrilApp/Look/DriveGaugeLogic.h"

#include <QtTest>

#include <limits>

using Quandril::Goal;
using namespace Quandril::App::DriveGaugeLogic;

namespace {

constexpr std::int64_t GB = 1'000'000'000;
constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();

// Shares to six significant digits; the tone by name.
QString describe(const Reading& r)
{
    return QStringLiteral("target %1, short %2, used %3, mark %4, %5")
        .arg(r.target ? QString::number(*r.target) : QStringLiteral("none"))
        .arg(r.shortBy)
        .arg(r.used)
        .arg(r.goalMark ? QString::number(*r.goalMark) : QStringLiteral("none"))
        .arg(Quandril::App::toneName(r.tone));
}

} // namespace

class DriveGaugeLogicTests : public QObject {
    Q_OBJECT
private slots:
    void readsOneDrive()
    {
        struct Row {
            const char* name;
            std::int64_t total, free;
            std::optional<Goal> goal;
            const char* expected;
        };
        const Row rows[] = {
            { "just under 10 GB free is red, goal met or not", 100 * GB, 10 * GB - 1, Goal::ofBytes(5 * GB),
              "target 5000000000, short 0, used 0.9, mark 0.95, red" },
            { "10 GB free, exactly at the goal", 100 * GB, 10 * GB, Goal::ofBytes(10 * GB),
              "target 10000000000, short 0, used 0.9, mark 0.9, accent" },
            { "short of the goal", 100 * GB, 20 * GB, Goal::ofBytes(50 * GB),
              "target 50000000000, short 30000000000, used 0.8, mark 0.5, orange" },
            { "no goal", 100 * GB, 20 * GB, std::nullopt, "target none, short 0, used 0.8, mark none, secondary" },
            { "a share goal drops the fraction of a byte", 999, 500, Goal::ofShare(0.2),
              "target 199, short 0, used 0.499499, mark 0.800801, red" },
            { "a goal above the drive's size", 100 * GB, 50 * GB, Goal::ofBytes(200 * GB),
              "target 200000000000, short 150000000000, used 0.5, mark 0, orange" },
            { "more free than the drive holds", 100 * GB, 150 * GB, Goal::ofBytes(20 * GB),
              "target 20000000000, short 0, used 0, mark 0.8, accent" },
            { "negative free", 100 * GB, -5, std::nullopt, "target none, short 0, used 1, mark none, red" },
            { "a size of 0", 0, 50 * GB, Goal::ofShare(0.2), "target 0, short 0, used 0, mark 1, accent" },
            { "a shortfall too big to count", 100 * GB, -most - 1, Goal::ofBytes(most),
              "target 9223372036854775807, short 9223372036854775807, used 1, mark 0, red" },
        };
        QStringList got, expected;
        for (const Row& row : rows) {
            Quandril::DriveInfo drive;
            drive.totalBytes = row.total;
            const Reading reading = read(drive, row.goal, row.free);
            QVERIFY2(reading.free == row.free, row.name);
            got << QString::fromUtf8(row.name) + ": " + describe(reading);
            expected << QString::fromUtf8(row.name) + ": " + QString::fromUtf8(row.expected);
        }
        QCOMPARE(got, expected);
    }

    void marksAndVerdicts()
    {
        const auto bytes = [](std::int64_t n) { return QStringLiteral("[%1]").arg(n); };
        QCOMPARE((QList<double> { goalMarkOffset(0.5, 200), goalMarkOffset(1.0, 200), goalMarkOffset(0.5, 1) }),
                 (QList<double> { 99, 198, 0 }));
        QCOMPARE((QStringList { verdict(std::nullopt, 0, bytes), verdict(Goal::ofBytes(50 * GB), 30, bytes),
                                verdict(Goal::ofShare(0.2), 0, bytes) }),
                 (QStringList { "No goal set.", "[30] short of the goal (50 GB free).",
                                "Goal met: 20% of the drive free." }));
    }
};

QTEST_GUILESS_MAIN(DriveGaugeLogicTests)
#include "DriveGaugeLogicTests.moc"
