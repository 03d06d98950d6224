#include "QuandrilApp/Platform/SymbolDrawings.h"

#include <QPainterPathStroker>
#include <QPolygonF>
#include <QTransform>
#include <QtMath>

#include <array>
#include <utility>

namespace Quandril::App::Symbols::Drawings {

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

QPainterPath roundedRect(QRectF rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPainterPath polyline(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    for (const QPointF& p : points)
        path.elementCount() == 0 ? path.moveTo(p) : path.lineTo(p);
    return path;
}

QPainterPath ring(QPointF centre, qreal radius, qreal width)
{
    return circle(centre, radius).subtracted(circle(centre, radius - width));
}

QPainterPath line(QPointF from, QPointF to, qreal width)
{
    return stroked(polyline({ from, to }), width);
}

// ---- The main window's marks and buttons ----

QPainterPath checkmarkCircleFilled()
{
    return circle({ 0.5, 0.5 }, 0.46)
        .subtracted(stroked(polyline({ { 0.3, 0.52 }, { 0.44, 0.66 }, { 0.7, 0.36 } }), 0.1));
}

QPainterPath plainCircle()
{
    return ring({ 0.5, 0.5 }, 0.44, 0.08);
}

QPainterPath pauseCircle()
{
    return plainCircle()
        .united(roundedRect(QRectF(0.35, 0.3, 0.1, 0.4), 0.03))
        .united(roundedRect(QRectF(0.55, 0.3, 0.1, 0.4), 0.03));
}

QPainterPath questionCircle()
{
    QPainterPath hook;
    hook.arcMoveTo(QRectF(0.36, 0.24, 0.28, 0.26), 160);
    hook.arcTo(QRectF(0.36, 0.24, 0.28, 0.26), 160, -250);
    hook.lineTo(0.5, 0.58);
    return plainCircle().united(stroked(hook, 0.08)).united(circle({ 0.5, 0.72 }, 0.05));
}

QPainterPath arrowRightCircle()
{
    const QPainterPath arrow = stroked(polyline({ { 0.28, 0.5 }, { 0.7, 0.5 } }), 0.08)
                                   .united(stroked(polyline({ { 0.52, 0.32 }, { 0.7, 0.5 }, { 0.52, 0.68 } }), 0.08));
    return plainCircle().united(arrow);
}

QPainterPath eye()
{
    QPainterPath lids;
    lids.moveTo(0.04, 0.5);
    lids.quadTo(0.5, 0.0, 0.96, 0.5);
    lids.quadTo(0.5, 1.0, 0.04, 0.5);
    return stroked(lids, 0.07).united(circle({ 0.5, 0.5 }, 0.14));
}

QPainterPath trash()
{
    QPainterPath can
        = roundedRect(QRectF(0.2, 0.26, 0.6, 0.68), 0.08).subtracted(roundedRect(QRectF(0.28, 0.32, 0.44, 0.55), 0.05));
    can = can.united(roundedRect(QRectF(0.1, 0.16, 0.8, 0.08), 0.03));
    can = can.united(roundedRect(QRectF(0.38, 0.06, 0.24, 0.12), 0.03));
    for (qreal x : { 0.39, 0.55 })
        can = can.united(roundedRect(QRectF(x, 0.4, 0.06, 0.4), 0.03));
    return can;
}

QPainterPath squareGrid()
{
    QPainterPath grid;
    for (qreal x : { 0.06, 0.56 })
        for (qreal y : { 0.06, 0.56 })
            grid = grid.united(roundedRect(QRectF(x, y, 0.38, 0.38), 0.08)
                                   .subtracted(roundedRect(QRectF(x + 0.07, y + 0.07, 0.24, 0.24), 0.04)));
    return grid;
}

QPainterPath clockArrow()
{
    QPainterPath arc;
    arc.arcMoveTo(QRectF(0.1, 0.1, 0.8, 0.8), 160);
    arc.arcTo(QRectF(0.1, 0.1, 0.8, 0.8), 160, -320);
    QPainterPath head = polyline({ { 0.02, 0.42 }, { 0.2, 0.62 }, { 0.3, 0.38 } });
    head.closeSubpath();
    const QPainterPath hands = stroked(polyline({ { 0.5, 0.28 }, { 0.5, 0.52 }, { 0.66, 0.62 } }), 0.08);
    return stroked(arc, 0.08).united(head).united(hands);
}

QPainterPath sliders()
{
    QPainterPath shape;
    const std::array<std::pair<qreal, qreal>, 3> rows { { { 0.2, 0.68 }, { 0.5, 0.3 }, { 0.8, 0.58 } } };
    for (const auto& [y, knob] : rows)
        shape = shape.united(stroked(polyline({ { 0.08, y }, { 0.92, y } }), 0.07)).united(circle({ knob, y }, 0.1));
    return shape;
}

// ---- The tray menu's symbols ----

QPainterPath internalDrive()
{
    const QPainterPath body = roundedRect(QRectF(0.04, 0.28, 0.92, 0.46), 0.1);
    return body.subtracted(roundedRect(QRectF(0.14, 0.47, 0.42, 0.08), 0.04)).subtracted(circle({ 0.78, 0.51 }, 0.06));
}

QPainterPath gearShape()
{
    QPainterPath gear = circle({ 0.5, 0.5 }, 0.34);
    constexpr int teeth = 8;
    for (int i = 0; i < teeth; ++i) {
        QPainterPath tooth;
        tooth.addRoundedRect(QRectF(-0.08, -0.48, 0.16, 0.2), 0.03, 0.03);
        QTransform turn;
        turn.translate(0.5, 0.5);
        turn.rotate(360.0 * i / teeth);
        gear = gear.united(turn.map(tooth));
    }
    return gear.subtracted(circle({ 0.5, 0.5 }, 0.14));
}

QPainterPath power()
{
    // A ring open at the top, and the bar through the gap.
    const QRectF bounds(0.14, 0.16, 0.72, 0.72);
    QPainterPath ring;
    ring.arcMoveTo(bounds, 120);
    ring.arcTo(bounds, 120, 300);
    return stroked(ring, 0.1).united(stroked(polyline({ { 0.5, 0.08 }, { 0.5, 0.46 } }), 0.1));
}

// ---- The main window's sheets and results ----

QPainterPath xmarkOctagon()
{
    QPolygonF octagon;
    for (int i = 0; i < 8; ++i) {
        const qreal angle = M_PI / 8 + M_PI * i / 4;
        octagon << QPointF(0.5 + 0.46 * qCos(angle), 0.5 + 0.46 * qSin(angle));
    }
    QPainterPath outline;
    outline.addPolygon(octagon);
    outline.closeSubpath();
    const QPainterPath cross = stroked(polyline({ { 0.34, 0.34 }, { 0.66, 0.66 } }), 0.08)
                                   .united(stroked(polyline({ { 0.66, 0.34 }, { 0.34, 0.66 } }), 0.08));
    return stroked(outline, 0.07).united(cross);
}

QPainterPath exclamationCircle()
{
    return plainCircle()
        .united(roundedRect(QRectF(0.455, 0.22, 0.09, 0.36), 0.045))
        .united(circle({ 0.5, 0.72 }, 0.055));
}

QPainterPath shield()
{
    QPainterPath outline;
    outline.moveTo(0.5, 0.06);
    outline.lineTo(0.86, 0.2);
    outline.cubicTo(0.86, 0.56, 0.74, 0.8, 0.5, 0.94);
    outline.cubicTo(0.26, 0.8, 0.14, 0.56, 0.14, 0.2);
    outline.closeSubpath();
    return stroked(outline, 0.07);
}

// ---- The settings window's tiles and status lines ----

namespace {

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
    return bell.united(circle({ x, 0.84 }, 0.09)).united(circle({ x, 0.08 }, 0.06));
}

} // namespace

QPainterPath scope()
{
    QPainterPath path = ring({ 0.5, 0.5 }, 0.38, 0.08).united(circle({ 0.5, 0.5 }, 0.09));
    for (const auto& [from, to] : std::array<std::pair<QPointF, QPointF>, 4> { { { { 0.5, 0.03 }, { 0.5, 0.22 } },
                                                                                 { { 0.5, 0.78 }, { 0.5, 0.97 } },
                                                                                 { { 0.03, 0.5 }, { 0.22, 0.5 } },
                                                                                 { { 0.78, 0.5 }, { 0.97, 0.5 } } } })
        path = path.united(line(from, to, 0.08));
    return path;
}

QPainterPath wandAndStars()
{
    return line({ 0.12, 0.9 }, { 0.58, 0.44 }, 0.11)
        .united(sparkle({ 0.74, 0.26 }, 0.2))
        .united(sparkle({ 0.32, 0.18 }, 0.12))
        .united(sparkle({ 0.84, 0.66 }, 0.1));
}

QPainterPath bell()
{
    return bellAt(0.5);
}

QPainterPath bellBadge()
{
    return bellAt(0.42).subtracted(circle({ 0.8, 0.2 }, 0.2)).united(circle({ 0.8, 0.2 }, 0.14));
}

QPainterPath bellSlash()
{
    return bellAt(0.5)
        .subtracted(line({ 0.08, 0.08 }, { 0.92, 0.92 }, 0.17))
        .united(line({ 0.1, 0.1 }, { 0.9, 0.9 }, 0.07));
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

QPainterPath circlePath()
{
    QPainterPath arrows;
    const QRectF round(0.16, 0.16, 0.68, 0.68);
    for (const qreal start : { 20.0, 200.0 }) {
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
    return stroked(roundedRect(QRectF(0.06, 0.14, 0.88, 0.72), 0.12), 0.08)
        .united(stroked(polyline({ { 0.22, 0.36 }, { 0.36, 0.5 }, { 0.22, 0.64 } }), 0.08))
        .united(line({ 0.44, 0.64 }, { 0.64, 0.64 }, 0.08));
}

QPainterPath arrowUpCircleFill()
{
    return circle({ 0.5, 0.5 }, 0.48)
        .subtracted(line({ 0.5, 0.74 }, { 0.5, 0.28 }, 0.1))
        .subtracted(stroked(polyline({ { 0.31, 0.46 }, { 0.5, 0.27 }, { 0.69, 0.46 } }), 0.1));
}

QPainterPath networkSlash()
{
    QPainterPath meridian;
    meridian.addEllipse(QPointF(0.5, 0.5), 0.17, 0.42);
    const QPainterPath globe = ring({ 0.5, 0.5 }, 0.44, 0.07)
                                   .united(stroked(meridian, 0.06))
                                   .united(line({ 0.08, 0.5 }, { 0.92, 0.5 }, 0.06));
    return globe.subtracted(line({ 0.08, 0.08 }, { 0.92, 0.92 }, 0.17)).united(line({ 0.1, 0.1 }, { 0.9, 0.9 }, 0.07));
}

} // namespace Quandril::App::Symbols::Drawings
