#include "QuandrilApp/Settings/SettingsSymbols.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPalette>
#include <QTransform>
#include <QtMath>

#include <array>

#include "QuandrilApp/Platform/Symbols.h"

namespace Quandril::App::SettingsSymbols {

namespace {

// Shapes are drawn in a 1 × 1 square, y downwards.

QPainterPath stroked(const QPainterPath& line, qreal width)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(line).simplified();
}

QPainterPath circle(QPointF centre, qreal radius)
{
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

QPainterPath ring(QPointF centre, qreal radius, qreal width)
{
    return circle(centre, radius).subtracted(circle(centre, radius - width));
}

QPainterPath line(QPointF from, QPointF to, qreal width)
{
    QPainterPath path(from);
    path.lineTo(to);
    return stroked(path, width);
}

QPainterPath polyline(std::initializer_list<QPointF> points, qreal width)
{
    QPainterPath path;
    for (const QPointF& p : points)
        path.elementCount() == 0 ? path.moveTo(p) : path.lineTo(p);
    return stroked(path, width);
}

// A four-pointed sparkle around `centre`.
QPainterPath sparkle(QPointF centre, qreal radius)
{
    QPolygonF star;
    for (int i = 0; i < 8; ++i) {
        const qreal angle = M_PI * i / 4 - M_PI / 2;
        const qreal r = i % 2 == 0 ? radius : radius * 0.28;
        star << centre + QPointF(r * qCos(angle), r * qSin(angle));
    }
    QPainterPath path;
    path.addPolygon(star);
    path.closeSubpath();
    return path;
}

// A bell whose axis stands at `x`.
QPainterPath bellAt(qreal x)
{
    QPainterPath bell;
    bell.moveTo(x - 0.36, 0.74);
    bell.lineTo(x - 0.27, 0.6);
    bell.lineTo(x - 0.27, 0.42);
    bell.cubicTo(x - 0.27, 0.22, x - 0.15, 0.1, x, 0.1);
    bell.cubicTo(x + 0.15, 0.1, x + 0.27, 0.22, x + 0.27, 0.42);
    bell.lineTo(x + 0.27, 0.6);
    bell.lineTo(x + 0.36, 0.74);
    bell.closeSubpath();
    return bell.united(circle({x, 0.84}, 0.09)).united(circle({x, 0.08}, 0.06));
}

QPainterPath gearshape()
{
    QPainterPath gear = circle({0.5, 0.5}, 0.34);
    for (int i = 0; i < 8; ++i) {
        QPainterPath tooth;
        tooth.addRoundedRect(QRectF(0.42, 0.04, 0.16, 0.2), 0.03, 0.03);
        QTransform turn;
        turn.translate(0.5, 0.5);
        turn.rotate(45.0 * i);
        turn.translate(-0.5, -0.5);
        gear = gear.united(turn.map(tooth));
    }
    return gear.subtracted(circle({0.5, 0.5}, 0.14));
}

QPainterPath scope()
{
    QPainterPath path = ring({0.5, 0.5}, 0.38, 0.08).united(circle({0.5, 0.5}, 0.09));
    for (const auto& [from, to] : std::array<std::pair<QPointF, QPointF>, 4> {{
             {{0.5, 0.03}, {0.5, 0.22}}, {{0.5, 0.78}, {0.5, 0.97}}, {{0.03, 0.5}, {0.22, 0.5}}, {{0.78, 0.5}, {0.97, 0.5}}}})
        path = path.united(line(from, to, 0.08));
    return path;
}

QPainterPath wandAndStars()
{
    return line({0.12, 0.9}, {0.58, 0.44}, 0.11)
        .united(sparkle({0.74, 0.26}, 0.2))
        .united(sparkle({0.32, 0.18}, 0.12))
        .united(sparkle({0.84, 0.66}, 0.1));
}

QPainterPath bellBadge()
{
    return bellAt(0.42).subtracted(circle({0.8, 0.2}, 0.2)).united(circle({0.8, 0.2}, 0.14));
}

QPainterPath bellSlash()
{
    return bellAt(0.5).subtracted(line({0.08, 0.08}, {0.92, 0.92}, 0.17)).united(line({0.1, 0.1}, {0.9, 0.9}, 0.07));
}

QPainterPath externalDrive()
{
    QPainterPath body;
    body.addRoundedRect(QRectF(0.06, 0.3, 0.88, 0.42), 0.1, 0.1);
    return body.subtracted(circle({0.78, 0.51}, 0.055)).subtracted(line({0.18, 0.51}, {0.5, 0.51}, 0.05));
}

QPainterPath shieldLeftHalfFilled()
{
    QPainterPath shield;
    shield.moveTo(0.5, 0.05);
    shield.lineTo(0.86, 0.19);
    shield.lineTo(0.86, 0.46);
    shield.cubicTo(0.86, 0.72, 0.68, 0.88, 0.5, 0.96);
    shield.cubicTo(0.32, 0.88, 0.14, 0.72, 0.14, 0.46);
    shield.lineTo(0.14, 0.19);
    shield.closeSubpath();
    QPainterPath leftHalf;
    leftHalf.addRect(QRectF(0, 0, 0.5, 1));
    return stroked(shield, 0.08).united(shield.intersected(leftHalf));
}

QPainterPath cloud()
{
    QPainterPath base;
    base.addRoundedRect(QRectF(0.1, 0.5, 0.8, 0.28), 0.14, 0.14);
    return base.united(circle({0.36, 0.54}, 0.18)).united(circle({0.58, 0.44}, 0.23)).united(circle({0.76, 0.6}, 0.15));
}

QPainterPath icloud()
{
    return stroked(cloud(), 0.08);
}

QPainterPath handRaised()
{
    QPainterPath palm;
    palm.addRoundedRect(QRectF(0.26, 0.44, 0.52, 0.5), 0.2, 0.2);
    const std::array<std::pair<qreal, qreal>, 4> fingers {{{0.33, 0.24}, {0.46, 0.1}, {0.59, 0.12}, {0.71, 0.26}}};
    for (const auto& [x, top] : fingers)
        palm = palm.united(line({x, 0.56}, {x, top}, 0.11));
    return palm.united(line({0.3, 0.74}, {0.14, 0.52}, 0.11));
}

QPainterPath circlePath()
{
    QPainterPath arrows;
    const QRectF round(0.16, 0.16, 0.68, 0.68);
    for (const qreal start : {20.0, 200.0}) {
        QPainterPath arc;
        arc.arcMoveTo(round, start);
        arc.arcTo(round, start, 130);
        arrows = arrows.united(stroked(arc, 0.09));
        // The head sits where the arc ends, pointing along it.
        const qreal end = qDegreesToRadians(start + 130);
        const QPointF tip(0.5 + 0.34 * qCos(end), 0.5 - 0.34 * qSin(end));
        const QPointF along(-qSin(end), -qCos(end));
        const QPointF across(qCos(end), -qSin(end));
        QPolygonF head;
        head << tip + along * 0.14 << tip + across * 0.13 << tip - across * 0.13;
        QPainterPath headPath;
        headPath.addPolygon(head);
        headPath.closeSubpath();
        arrows = arrows.united(headPath);
    }
    return arrows;
}

QPainterPath terminal()
{
    QPainterPath frame;
    frame.addRoundedRect(QRectF(0.06, 0.14, 0.88, 0.72), 0.12, 0.12);
    return stroked(frame, 0.08)
        .united(polyline({{0.22, 0.36}, {0.36, 0.5}, {0.22, 0.64}}, 0.08))
        .united(line({0.44, 0.64}, {0.64, 0.64}, 0.08));
}

QPainterPath checkmarkCircle()
{
    return ring({0.5, 0.5}, 0.46, 0.08).united(polyline({{0.3, 0.52}, {0.44, 0.66}, {0.7, 0.36}}, 0.09));
}

QPainterPath arrowUpCircleFill()
{
    return circle({0.5, 0.5}, 0.48)
        .subtracted(line({0.5, 0.74}, {0.5, 0.28}, 0.1))
        .subtracted(polyline({{0.31, 0.46}, {0.5, 0.27}, {0.69, 0.46}}, 0.1));
}

QPainterPath exclamationTriangle()
{
    QPainterPath triangle;
    triangle.moveTo(0.5, 0.1);
    triangle.lineTo(0.93, 0.86);
    triangle.lineTo(0.07, 0.86);
    triangle.closeSubpath();
    return stroked(triangle, 0.08).united(line({0.5, 0.38}, {0.5, 0.6}, 0.09)).united(circle({0.5, 0.73}, 0.05));
}

QPainterPath networkSlash()
{
    QPainterPath meridian;
    meridian.addEllipse(QPointF(0.5, 0.5), 0.17, 0.42);
    const QPainterPath globe = ring({0.5, 0.5}, 0.44, 0.07)
                                   .united(stroked(meridian, 0.06))
                                   .united(line({0.08, 0.5}, {0.92, 0.5}, 0.06));
    return globe.subtracted(line({0.08, 0.08}, {0.92, 0.92}, 0.17)).united(line({0.1, 0.1}, {0.9, 0.9}, 0.07));
}

struct Drawing {
    QStringView name;
    QPainterPath (*draw)();
};

const std::array<Drawing, 16> drawings {{
    {u"gearshape", gearshape},
    {u"scope", scope},
    {u"wand.and.stars", wandAndStars},
    {u"bell.badge", bellBadge},
    {u"bell", [] { return bellAt(0.5); }},
    {u"bell.slash", bellSlash},
    {u"externaldrive", externalDrive},
    {u"shield.lefthalf.filled", shieldLeftHalfFilled},
    {u"icloud", icloud},
    {u"hand.raised", handRaised},
    {u"arrow.triangle.2.circlepath", circlePath},
    {u"terminal", terminal},
    {u"checkmark.circle", checkmarkCircle},
    {u"arrow.up.circle.fill", arrowUpCircleFill},
    {u"exclamationmark.triangle", exclamationTriangle},
    {u"network.slash", networkSlash},
}};

const Drawing* lookup(QStringView name)
{
    for (const Drawing& drawing : drawings)
        if (drawing.name == name)
            return &drawing;
    return nullptr;
}

} // namespace

bool hasDrawing(QStringView symbol)
{
    return lookup(symbol) != nullptr;
}

void paint(QPainter& painter, const QRectF& box, QStringView symbol, const QColor& color)
{
    const Drawing* drawing = lookup(symbol);
    if (!drawing) {
        Symbols::paint(painter, box, symbol, color);
        return;
    }
    const qreal side = qMin(box.width(), box.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.center() - QPointF(side / 2, side / 2));
    painter.scale(side, side);
    painter.fillPath(drawing->draw(), color);
    painter.restore();
}

QColor tileColor(QStringView name)
{
    static constexpr std::array<std::pair<QStringView, QRgb>, 7> colors {{
        {u"gray", qRgb(0x8E, 0x8E, 0x93)},
        {u"blue", qRgb(0x0A, 0x84, 0xFF)},
        {u"purple", qRgb(0xAF, 0x52, 0xDE)},
        {u"red", qRgb(0xFF, 0x3B, 0x30)},
        {u"green", qRgb(0x34, 0xC7, 0x59)},
        {u"cyan", qRgb(0x32, 0xAD, 0xE6)},
        {u"teal", qRgb(0x30, 0xB0, 0xC7)},
    }};
    for (const auto& [known, rgb] : colors)
        if (known == name)
            return QColor(rgb);
    return QColor(colors[0].second);
}

QColor toneColor(QStringView tone, const QPalette& palette)
{
    if (tone == u"accent")
        return palette.color(QPalette::Highlight);
    return Symbols::toneColor(tone, palette);
}

QPixmap tile(QStringView symbol, QStringView color, qreal devicePixelRatio)
{
    constexpr int side = 20;
    QPixmap pixmap(QSize(side, side) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor base = tileColor(color);
    QLinearGradient gradient(0, 0, 0, side);
    gradient.setColorAt(0, base.lighter(118));
    gradient.setColorAt(1, base);
    QPainterPath square;
    square.addRoundedRect(QRectF(0, 0, side, side), 5, 5);
    painter.fillPath(square, gradient);
    // The symbol at about the size of an 11-point glyph.
    paint(painter, QRectF(4, 4, 12, 12), symbol, Qt::white);
    return pixmap;
}

SymbolView::SymbolView(const QString& symbol, const QString& tone, int side, QWidget* parent)
    : QWidget(parent)
{
    setProperty("symbol", symbol);
    setProperty("tone", tone);
    setFixedSize(side, side);
}

void SymbolView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QString tone = property("tone").toString();
    paint(painter, QRectF(rect()).adjusted(1, 1, -1, -1), property("symbol").toString(), toneColor(tone, palette()));
}

} // namespace Quandril::App::SettingsSymbols
