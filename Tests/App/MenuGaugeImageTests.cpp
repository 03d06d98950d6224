#include "QuandrilApp/MenuGaugeImage.h"

#include <QtTest>

#include <cmath>
#include <limits>

namespace Gauge = Quandril::MenuGaugeImage;

namespace {

// '#' covered, '.' clear, '+' partly covered (an edge that falls inside a pixel).
QChar mark(QRgb pixel)
{
    const int alpha = qAlpha(pixel);
    return alpha > 200 ? u'#' : alpha < 55 ? u'.' : u'+';
}

QString row(const QImage& image, int y)
{
    QString pixels;
    for (int x = 0; x < image.width(); ++x)
        pixels += mark(image.pixel(x, y));
    return pixels;
}

QString column(const QImage& image, int x)
{
    QString pixels;
    for (int y = 0; y < image.height(); ++y)
        pixels += mark(image.pixel(x, y));
    return pixels;
}

} // namespace

class MenuGaugeImageTests : public QObject {
    Q_OBJECT
private slots:
    // Pixels of the middle row at a ratio of 1: outline, gap, fill up to its end, gap, outline.
    void fillIsHeldWithinTheBar_data()
    {
        QTest::addColumn<double>("used");
        QTest::addColumn<bool>("warning");
        QTest::addColumn<QString>("middleRow");
        const auto add = [](const char* name, double used, bool warning, const char* pixels) {
            QTest::newRow(name) << used << warning << QString::fromLatin1(pixels);
        };
        add("empty: a 2-point sliver", 0, false, "#+##................+#");
        add("three quarters: 13.5 points", 0.75, false, "#+#############+....+#");
        add("half, under the goal: 9 points", 0.5, true, "#+#########.........+#");
        add("full: 18 points", 1, false, "#+##################+#");
        add("full, under the goal", 1, true, "#+##############..##+#");
        add("more free than the drive holds", -0.5, false, "#+##................+#");
        add("less than nothing free", 1.7, false, "#+##################+#");
        add("far past full", std::numeric_limits<double>::infinity(), false, "#+##################+#");
        add("not a number", std::nan(""), false, "#+##................+#");
    }
    void fillIsHeldWithinTheBar()
    {
        QFETCH(double, used);
        QFETCH(bool, warning);
        QFETCH(QString, middleRow);
        const QImage image = Gauge::make(used, warning);
        QCOMPARE(image.size(), QSize(22, 10));
        QCOMPARE(row(image, 4), middleRow);
        QCOMPARE(row(image, 5), middleRow);
        QCOMPARE(image.text(QLatin1String(Gauge::descriptionKey)),
            warning ? QStringLiteral("Free space, under your goal") : QStringLiteral("Free space"));

        // The notch clears x 16 to 18 from top to bottom, through outline and fill alike, and
        // nothing else; without it the outline runs across there.
        const QImage plain = Gauge::make(used, false);
        for (int x = 0; x < 22; ++x) {
            if (warning && (x == 16 || x == 17))
                QCOMPARE(column(image, x), QStringLiteral(".........."));
            else
                QCOMPARE(column(image, x), column(plain, x));
        }
        QVERIFY(column(plain, 16).startsWith(u'#') && column(plain, 16).endsWith(u'#'));
        // Only the coverage counts: every pixel is black at some opacity.
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 22; ++x)
                QCOMPARE(qGray(image.pixel(x, y)), 0);
    }

    void tintingKeepsTheCoverage()
    {
        const QImage image = Gauge::make(0.5, true, 2.0);
        QCOMPARE(image.size(), QSize(44, 20));
        const QImage tinted = Gauge::tinted(image, QColor(250, 240, 230));
        QCOMPARE(tinted.devicePixelRatio(), 2.0);
        QCOMPARE(tinted.text(QLatin1String(Gauge::descriptionKey)), QStringLiteral("Free space, under your goal"));
        for (int y = 0; y < tinted.height(); ++y) {
            for (int x = 0; x < tinted.width(); ++x) {
                const QColor before = image.pixelColor(x, y);
                const QColor after = tinted.pixelColor(x, y);
                QCOMPARE(after.alpha(), before.alpha());
                if (after.alpha() == 255)
                    QCOMPARE(after, QColor(250, 240, 230));
            }
        }
    }
};

QTEST_GUILESS_MAIN(MenuGaugeImageTests)
#include "MenuGaugeImageTests.moc"
