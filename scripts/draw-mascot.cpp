// Draws Gorrin, the app's mascot, at the two sizes the app ships:
// Sources/QuandrilApp/Resources/mascot/gorrin-logo@1x.png (64 px) and @2x.png (128 px).
// Run scripts/draw-mascot to rebuild and redraw them.
//
// Gorrin is a small round burrowing creature: warm orange fur, a cream face, round ears, big dark
// eyes, and a sprout on its head. Everything is drawn in a 100 × 100 design square with bold shapes
// and a dark outline, so the picture still reads at 26 px on light and dark backgrounds.

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cstdio>

namespace {

const QColor outline(0x3B, 0x27, 0x1C);
const QColor fur(0xF2, 0x8C, 0x38);
const QColor furShade(0xD9, 0x6F, 0x22);
const QColor cream(0xFF, 0xE9, 0xC8);
const QColor innerEar(0xF7, 0xA6, 0x9B);
const QColor blush(0xF4, 0x6F, 0x6F, 150);
const QColor leaf(0x5C, 0xB8, 0x4A);
const QColor leafShade(0x3F, 0x93, 0x33);
const QColor eye(0x2A, 0x1B, 0x14);

constexpr qreal line = 3.2;

QPainterPath ellipse(qreal cx, qreal cy, qreal rx, qreal ry)
{
    QPainterPath path;
    path.addEllipse(QPointF(cx, cy), rx, ry);
    return path;
}

// The body: an egg, wider low down, sitting on a slightly flattened bottom.
QPainterPath body()
{
    QPainterPath path;
    path.moveTo(50, 22);
    path.cubicTo(74, 22, 88, 44, 88, 66);
    path.cubicTo(88, 84, 72, 93, 50, 93);
    path.cubicTo(28, 93, 12, 84, 12, 66);
    path.cubicTo(12, 44, 26, 22, 50, 22);
    path.closeSubpath();
    return path;
}

QPainterPath leafShape(QPointF base, QPointF tip, qreal width)
{
    const QPointF mid = (base + tip) / 2;
    const QPointF along = tip - base;
    const QPointF normal(-along.y(), along.x());
    const qreal length = std::hypot(along.x(), along.y());
    const QPointF side = normal / length * width;
    QPainterPath path;
    path.moveTo(base);
    path.quadTo(mid + side, tip);
    path.quadTo(mid - side, base);
    path.closeSubpath();
    return path;
}

void fillAndStroke(QPainter& p, const QPainterPath& path, const QColor& color, qreal width = line)
{
    p.setPen(QPen(outline, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(color);
    p.drawPath(path);
}

void draw(QPainter& p)
{
    // Sprout, behind the head.
    QPainterPath stem;
    stem.moveTo(50, 24);
    stem.quadTo(49, 16, 51, 10);
    p.setPen(QPen(outline, line + 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(stem);
    p.setPen(QPen(leafShade, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(stem);
    fillAndStroke(p, leafShape({ 51, 11 }, { 36, 5 }, 6.5), leaf, 2.6);
    fillAndStroke(p, leafShape({ 51, 11 }, { 66, 3 }, 7), leaf, 2.6);

    // Ears.
    for (const qreal x : { 29.0, 71.0 }) {
        fillAndStroke(p, ellipse(x, 31, 11, 11), fur);
        p.setPen(Qt::NoPen);
        p.setBrush(innerEar);
        p.drawEllipse(QPointF(x, 32), 5.5, 5.5);
    }

    // Feet peek out under the body.
    for (const qreal x : { 35.0, 65.0 })
        fillAndStroke(p, ellipse(x, 92, 10, 5.5), furShade);

    // Body, with a darker band low down for roundness.
    const QPainterPath shape = body();
    fillAndStroke(p, shape, fur);
    p.save();
    p.setClipPath(shape);
    p.setPen(Qt::NoPen);
    p.setBrush(furShade);
    p.drawEllipse(QPointF(50, 104), 46, 20);
    p.restore();

    // Cream face and belly.
    p.setPen(Qt::NoPen);
    p.setBrush(cream);
    p.drawPath(ellipse(50, 63, 27, 24));

    // Arms, tucked in at the sides.
    for (const auto& [x, angle] : { std::pair { 22.0, 25.0 }, std::pair { 78.0, -25.0 } }) {
        p.save();
        p.translate(x, 71);
        p.rotate(angle);
        fillAndStroke(p, ellipse(0, 0, 5.5, 9), fur, 2.6);
        p.restore();
    }

    // Eyes, with a highlight each.
    for (const qreal x : { 39.0, 61.0 }) {
        p.setPen(Qt::NoPen);
        p.setBrush(eye);
        p.drawEllipse(QPointF(x, 51), 6.2, 7.4);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(x + 2.0, 48.2), 2.3, 2.5);
        p.drawEllipse(QPointF(x - 2.2, 54.2), 1.0, 1.0);
    }

    // Cheeks.
    p.setBrush(blush);
    p.drawEllipse(QPointF(29, 61), 5.5, 3.6);
    p.drawEllipse(QPointF(71, 61), 5.5, 3.6);

    // Nose and smile.
    QPainterPath nose;
    nose.moveTo(46.5, 58.5);
    nose.quadTo(50, 56.8, 53.5, 58.5);
    nose.quadTo(52.5, 62.2, 50, 62.6);
    nose.quadTo(47.5, 62.2, 46.5, 58.5);
    p.setBrush(outline);
    p.drawPath(nose);
    QPainterPath smile;
    smile.moveTo(44, 65);
    smile.quadTo(47, 69, 50, 65.5);
    smile.quadTo(53, 69, 56, 65);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(outline, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(smile);
}

bool render(int pixels, const QString& path)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(pixels / 100.0, pixels / 100.0);
    draw(p);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32).save(path, "PNG");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const bool ok = render(64, folder + QStringLiteral("/gorrin-logo@1x.png"))
        && render(128, folder + QStringLiteral("/gorrin-logo@2x.png"));
    if (!ok)
        std::fprintf(stderr, "could not write the pictures into %s\n", argv[1]);
    return ok ? 0 : 1;
}
