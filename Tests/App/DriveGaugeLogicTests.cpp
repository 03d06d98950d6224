#include "QuandrilApp/DriveGaugeLogic.h"

#include <QtTest>

#include <cmath>
#include <limits>

using Quandril::DriveInfo;
using Quandril::Goal;
using namespace Quandril::DriveGaugeLogic;

Q_DECLARE_METATYPE(Reading)
Q_DECLARE_METATYPE(std::optional<Goal>)

namespace Quandril::DriveGaugeLogic {
char* toString(const Reading& r)
{
    return qstrdup(QStringLiteral("free=%1 target=%2 short=%3 used=%4 mark=%5 tone=%6")
                       .arg(r.free)
                       .arg(r.target ? QString::number(*r.target) : QStringLiteral("-"))
                       .arg(r.shortBy)
                       .arg(r.used)
                       .arg(r.goalMark ? QString::number(*r.goalMark) : QStringLiteral("-"))
                       .arg(int(r.tone))
                       .toUtf8()
                       .constData());
}
} // namespace Quandril::DriveGaugeLogic

namespace {

constexpr std::int64_t GB = 1'000'000'000;

DriveInfo drive(std::int64_t total)
{
    DriveInfo d;
    d.name = "Macintosh HD";
    d.path = "/";
    d.isStartup = true;
    d.totalBytes = total;
    return d;
}

Reading reading(std::int64_t free, std::optional<std::int64_t> target, std::int64_t shortBy, double used,
    std::optional<double> mark, Tone tone)
{
    return {free, target, shortBy, used, mark, tone};
}

// Shares are compared to the nearest millionth.
Reading toMillionths(Reading r)
{
    r.used = std::round(r.used * 1e6) / 1e6;
    if (r.goalMark)
        r.goalMark = std::round(*r.goalMark * 1e6) / 1e6;
    return r;
}

} // namespace

class DriveGaugeLogicTests : public QObject {
    Q_OBJECT
private slots:
    void readsOneDrive_data()
    {
        QTest::addColumn<std::int64_t>("total");
        QTest::addColumn<std::int64_t>("free");
        QTest::addColumn<std::optional<Goal>>("goal");
        QTest::addColumn<Reading>("expected");
        const auto add = [](const char* name, std::int64_t total, std::int64_t free, std::optional<Goal> goal,
                             Reading expected) { QTest::newRow(name) << total << free << goal << expected; };

        add("just under 10 GB free is red, goal met or not", 100 * GB, 10 * GB - 1, Goal::ofBytes(5 * GB),
            reading(10 * GB - 1, 5 * GB, 0, 0.9, 0.95, Tone::red));
        add("10 GB free exactly at the goal", 100 * GB, 10 * GB, Goal::ofBytes(10 * GB),
            reading(10 * GB, 10 * GB, 0, 0.9, 0.9, Tone::accent));
        add("short of the goal", 100 * GB, 20 * GB, Goal::ofBytes(50 * GB),
            reading(20 * GB, 50 * GB, 30 * GB, 0.8, 0.5, Tone::orange));
        add("no goal", 100 * GB, 20 * GB, std::nullopt, reading(20 * GB, std::nullopt, 0, 0.8, std::nullopt, Tone::secondary));
        add("no goal and little free", 100 * GB, 1 * GB, std::nullopt,
            reading(1 * GB, std::nullopt, 0, 0.99, std::nullopt, Tone::red));
        add("a share goal drops the fraction of a byte", 999, 500, Goal::ofShare(0.2),
            reading(500, 199, 0, 0.499499, 0.800801, Tone::red));
        add("a goal above the drive's size puts the mark at the start", 100 * GB, 50 * GB, Goal::ofBytes(200 * GB),
            reading(50 * GB, 200 * GB, 150 * GB, 0.5, 0.0, Tone::orange));
        add("more free than the drive holds", 100 * GB, 150 * GB, Goal::ofBytes(20 * GB),
            reading(150 * GB, 20 * GB, 0, 0.0, 0.8, Tone::accent));
        add("negative free", 100 * GB, -5, std::nullopt, reading(-5, std::nullopt, 0, 1.0, std::nullopt, Tone::red));
        add("a size of 0", 0, 50 * GB, Goal::ofShare(0.2), reading(50 * GB, 0, 0, 0.0, 1.0, Tone::accent));
        add("a shortfall too big to count", 100 * GB, std::numeric_limits<std::int64_t>::min(),
            Goal::ofBytes(std::numeric_limits<std::int64_t>::max()),
            reading(std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(),
                std::numeric_limits<std::int64_t>::max(), 1.0, 0.0, Tone::red));
    }
    void readsOneDrive()
    {
        QFETCH(std::int64_t, total);
        QFETCH(std::int64_t, free);
        QFETCH(std::optional<Goal>, goal);
        QFETCH(Reading, expected);
        QCOMPARE(toMillionths(read(drive(total), goal, free)), toMillionths(expected));
    }

    void placesTheGoalMarkInsideTheBar_data()
    {
        QTest::addColumn<double>("mark");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("offset");
        QTest::newRow("centred on the mark") << 0.5 << 200.0 << 99.0;
        QTest::newRow("never left of the start") << 0.0 << 200.0 << 0.0;
        QTest::newRow("never past the end") << 1.0 << 200.0 << 198.0;
        QTest::newRow("a bar narrower than the mark") << 0.5 << 1.0 << 0.0;
    }
    void placesTheGoalMarkInsideTheBar()
    {
        QFETCH(double, mark);
        QFETCH(double, width);
        QFETCH(double, offset);
        QCOMPARE(goalMarkOffset(mark, width), offset);
    }

    void verdicts_data()
    {
        QTest::addColumn<std::optional<Goal>>("goal");
        QTest::addColumn<std::int64_t>("shortBy");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no goal") << std::optional<Goal>() << std::int64_t(0) << QStringLiteral("No goal set.");
        QTest::newRow("short") << std::optional(Goal::ofBytes(50 * GB)) << 30 * GB
                               << QStringLiteral("[30000000000] short of the goal (50 GB free).");
        QTest::newRow("met") << std::optional(Goal::ofShare(0.2)) << std::int64_t(0)
                             << QStringLiteral("Goal met: 20% of the drive free.");
    }
    void verdicts()
    {
        QFETCH(std::optional<Goal>, goal);
        QFETCH(std::int64_t, shortBy);
        QFETCH(QString, expected);
        QCOMPARE(verdict(goal, shortBy, [](std::int64_t n) { return QStringLiteral("[%1]").arg(n); }), expected);
    }
};

QTEST_GUILESS_MAIN(DriveGaugeLogicTests)
#include "DriveGaugeLogicTests.moc"
