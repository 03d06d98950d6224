#include "QuandrilApp/Look/Mascot.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

using namespace Quandril::App;

Q_DECLARE_METATYPE(GorrinSlot)

namespace {

// The smallest rectangle holding every pixel more opaque than `alpha`.
QRect opaqueBounds(const QImage& image, int alpha)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > alpha)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

QImage rendered(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

class PictureFolder {
public:
    explicit PictureFolder(const QString& folder)
        : old_(GorrinImage::pictureFolder())
    {
        GorrinImage::setPictureFolder(folder);
    }
    ~PictureFolder() { GorrinImage::setPictureFolder(old_); }

private:
    QString old_;
};

} // namespace

class MascotTests : public QObject {
    Q_OBJECT
private slots:
    void slotsKeepTheirNamesAndSymbols()
    {
        const QList<std::tuple<GorrinSlot, QString, QString>> table {
            { GorrinSlot::idle, "idle", "person.fill" },
            { GorrinSlot::scanning, "scanning", "magnifyingglass" },
            { GorrinSlot::presenting, "presenting", "hand.point.up.left.fill" },
            { GorrinSlot::moving, "moving", "shippingbox.fill" },
            { GorrinSlot::done, "done", "checkmark.seal.fill" },
            { GorrinSlot::concerned, "concerned", "exclamationmark.bubble.fill" },
            { GorrinSlot::stop, "stop", "lock.fill" },
            { GorrinSlot::asleep, "asleep", "moon.zzz.fill" },
        };
        QList<std::tuple<GorrinSlot, QString, QString>> actual;
        for (GorrinSlot slot : allGorrinSlots) {
            QCOMPARE(gorrinSlotFromRaw(rawValue(slot)), slot);
            actual.append({ slot, rawValue(slot), fallbackSymbol(slot) });
        }
        QCOMPARE(actual, table);
        for (const char* other : { "Idle", "IDLE", " idle", "idle ", "", "sleeping", "asleep\n" })
            QVERIFY2(!gorrinSlotFromRaw(QString::fromUtf8(other)), other);
    }

    void pictureLookup_data()
    {
        QTest::addColumn<QStringList>("files"); // written into a picture folder; empty: the app's own
        QTest::addColumn<int>("width");         // 0: no picture
        QTest::newRow("shipped") << QStringList() << 128;
        QTest::newRow("only @1x") << QStringList { "gorrin-logo@1x.png" } << 64;
        QTest::newRow("none") << QStringList { "gorrin-logo.png", "mascot/gorrin-logo@2x.png" } << 0;
        QTest::newRow("@2x not an image") << QStringList { "gorrin-logo@2x.png:broken", "gorrin-logo@1x.png" } << 0;
    }

    void pictureLookup()
    {
        QFETCH(QStringList, files);
        QFETCH(int, width);
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("mascot")));
        for (const QString& entry : files) {
            const QString name = entry.section(u':', 0, 0);
            const QString shipped = ":/mascot/" + QFileInfo(name).fileName();
            if (entry.endsWith(":broken") || !QFile::copy(shipped, folder.filePath(name)))
                QVERIFY(QFile(folder.filePath(name)).open(QIODevice::WriteOnly));
        }
        PictureFolder scoped(files.isEmpty() ? GorrinImage::pictureFolder() : folder.path());
        const QImage picture = GorrinImage::image(GorrinSlot::idle, false);
        QCOMPARE(picture.size(), QSize(width, width));
        GorrinImage view(GorrinSlot::scanning, 26);
        QCOMPARE(view.showsPicture(), width > 0);
        QCOMPARE(view.size(), QSize(26, 26));
    }

    void fallbackIsACircleWithThePoseSymbol_data()
    {
        QTest::addColumn<GorrinSlot>("slot");
        QTest::addColumn<int>("size");
        for (GorrinSlot slot : allGorrinSlots)
            QTest::addRow("%s at 40", qPrintable(rawValue(slot))) << slot << 40;
        QTest::newRow("idle at 26") << GorrinSlot::idle << 26;
        QTest::newRow("stop at 120") << GorrinSlot::stop << 120;
    }

    void fallbackIsACircleWithThePoseSymbol()
    {
        QFETCH(GorrinSlot, slot);
        QFETCH(int, size);
        QTemporaryDir empty;
        PictureFolder scoped(empty.path());
        GorrinImage view(slot, size);
        QCOMPARE(QStringList({ view.showsPicture() ? "picture" : "drawn", view.property("symbol").toString(),
                               view.property("tone").toString(),
                               QStringLiteral("%1x%2").arg(view.width()).arg(view.height()) }),
                 QStringList({ "drawn", fallbackSymbol(slot), "secondary", QStringLiteral("%1x%1").arg(size) }));

        // The faint circle fills the square; the symbol, drawn stronger, keeps to its own square.
        const qreal symbol = size * 0.45;
        const qreal inset = (size - symbol) / 2;
        const QImage image = rendered(view);
        const QRect circle = opaqueBounds(image, 0);
        QVERIFY(qAbs(circle.width() - size) <= 1 && qAbs(circle.height() - size) <= 1);
        const QRect drawn = opaqueBounds(image, 80);
        QVERIFY2(QRectF(inset - 1, inset - 1, symbol + 2, symbol + 2).contains(QRectF(drawn)),
                 qPrintable(rawValue(slot)));
        QVERIFY(qMax(drawn.width(), drawn.height()) >= symbol * 0.75);
    }

    void lineWrapsBesideTheMascot()
    {
        const QString text = QStringLiteral("I looked. <b>Nothing</b> here is yours to lose, and everything "
                                            "I'd take comes back on its own when the apps need it again.");
        for (const Qt::Alignment alignment : { Qt::AlignTop, Qt::AlignVCenter }) {
            GorrinLine line(GorrinSlot::presenting, text, alignment);
            QFont font = line.font();
            font.setPointSize(17);
            line.setFont(font);
            line.resize(260, line.heightForWidth(260));
            line.show();
            QVERIFY(QTest::qWaitForWindowExposed(&line));

            const QRect picture = line.image()->geometry();
            const QRect label = line.label()->geometry();
            QCOMPARE(line.label()->text(), text);
            QCOMPARE(line.label()->textFormat(), Qt::PlainText);
            QCOMPARE(line.label()->font().pointSize(), 17);
            QCOMPARE(picture.size(), QSize(40, 40));
            QCOMPARE(label.left() - picture.right() - 1, 10);
            QVERIFY(label.height() >= line.label()->heightForWidth(label.width()));
            QVERIFY(label.height() > 3 * QFontMetrics(font).lineSpacing());
            const bool top = alignment == Qt::AlignTop;
            QVERIFY(qAbs(top ? picture.top() - label.top() : picture.center().y() - label.center().y())
                    <= (top ? 0 : 1));
        }
    }
};

QTEST_MAIN(MascotTests)
#include "MascotTests.moc"
