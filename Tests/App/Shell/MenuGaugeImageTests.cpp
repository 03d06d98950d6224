#include "QuandrilApp/Shell/MenuGaugeImage.h"

#include <QtTest>

#include <cmath>
#include <limits>

namespace Gauge = Quandril::App::MenuGaugeImage;

namespace {

// One line of pixels from `from` in steps of `step`: '#' covered, '.' clear, '+' partly covered
// (an edge that falls inside a pixel).
QString pixels(const QImage& image, QPoint from, QPoint step)
{
    QString out;
    for (QPoint p = from; image.rect().contains(p); p += step) {
        const int alpha = qAlpha(image.pixel(p));
        out += alpha > 200 ? u'#' : alpha < 55 ? u'.' : u'+';
    }
    return out;
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
        const auto add = [](const char* name, double used, bool warning, const char* row) {
            QTest::newRow(name) << used << warning << QString::fromLatin1(row);
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
        QCOMPARE(pixels(image, { 0, 4 }, { 1, 0 }), middleRow);
        QCOMPARE(pixels(image, { 0, 5 }, { 1, 0 }), middleRow);
        QCOMPARE(image.text(QLatin1String(Gauge::descriptionKey)),
                 warning ? QStringLiteral("Free space, under your goal") : QStringLiteral("Free space"));

        // The notch clears x 16 to 18 from top to bottom, through outline and fill alike, and
        // nothing else; without it the outline runs across there.
        const QImage plain = Gauge::make(used, false);
        for (int x = 0; x < 22; ++x) {
            if (warning && (x == 16 || x == 17))
                QCOMPARE(pixels(image, { x, 0 }, { 0, 1 }), QStringLiteral(".........."));
            else
                QCOMPARE(pixels(image, { x, 0 }, { 0, 1 }), pixels(plain, { x, 0 }, { 0, 1 }));
        }
        const QString outlineOnly = pixels(plain, { 16, 0 }, { 0, 1 });
        QVERIFY(outlineOnly.startsWith(u'#') && outlineOnly.endsWith(u'#'));
        // Only the coverage counts: every pixel is black at some opacity.
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 22; ++x)
                QCOMPARE(qGray(image.pixel(x, y)), 0);
    }

    void tintingKeepsTheCoverage()
    {
        const QImage image = Gauge::make(0.5, true, 2.0);
        const QImage tinted = Gauge::tinted(image, QColor(250, 240, 230));
        QCOMPARE(QStringLiteral("%1x%2 @%3x, %4, %5")
                     .arg(tinted.width())
                     .arg(tinted.height())
                     .arg(tinted.devicePixelRatio())
                     .arg(tinted.text(QLatin1String(Gauge::descriptionKey)),
                          tinted.pixelColor(10, 10).name(QColor::HexArgb)),
                 QStringLiteral("44x20 @2x, Free space, under your goal, #fffaf0e6"));
        QCOMPARE(tinted.convertToFormat(QImage::Format_Alpha8), image.convertToFormat(QImage::Format_Alpha8));
    }
};

QTEST_GUILESS_MAIN(MenuGaugeImageTests)
#include "MenuGaugeImageTests.moc"
