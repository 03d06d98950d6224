#include "QuandrilApp/Platform/Symbols.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPalette>
#include <QTransform>
#include <QtMath>

#include <array>

namespace Quandril::App::Symbols {

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

QPainterPath person()
{
    QPainterPath body;
    body.addEllipse(QPointF(0.5, 0.98), 0.4, 0.4);
    QPainterPath above;
    above.addRect(QRectF(0, 0, 1, 0.94));
    return circle({0.5, 0.3}, 0.21).united(body.intersected(above));
}

QPainterPath magnifyingGlass()
{
    const QPainterPath ring = circle({0.41, 0.41}, 0.31).subtracted(circle({0.41, 0.41}, 0.2));
    return ring.united(stroked(polyline({{0.62, 0.62}, {0.88, 0.88}}), 0.14));
}

QPainterPath pointingHand()
{
    const QPainterPath fist = roundedRect(QRectF(0.36, 0.44, 0.52, 0.5), 0.14);
    return fist.united(stroked(polyline({{0.5, 0.6}, {0.17, 0.17}}), 0.16));
}

QPainterPath shippingBox()
{
    QPainterPath box = roundedRect(QRectF(0.1, 0.34, 0.8, 0.56), 0.06);
    QPolygonF lid;
    lid << QPointF(0.1, 0.3) << QPointF(0.24, 0.1) << QPointF(0.76, 0.1) << QPointF(0.9, 0.3);
    QPainterPath lidPath;
    lidPath.addPolygon(lid);
    lidPath.closeSubpath();
    box = box.united(lidPath);
    QPainterPath tape;
    tape.addRect(QRectF(0.44, 0.05, 0.12, 0.45));
    return box.subtracted(tape);
}

QPainterPath checkmarkSeal()
{
    QPolygonF seal;
    constexpr int bumps = 12;
    for (int i = 0; i < bumps * 2; ++i) {
        const qreal angle = M_PI * i / bumps;
        const qreal radius = i % 2 == 0 ? 0.5 : 0.42;
        seal << QPointF(0.5 + radius * qCos(angle), 0.5 + radius * qSin(angle));
    }
    QPainterPath path;
    path.addPolygon(seal);
    path.closeSubpath();
    return path.subtracted(stroked(polyline({{0.3, 0.52}, {0.44, 0.66}, {0.7, 0.36}}), 0.09));
}

QPainterPath exclamationBubble()
{
    QPainterPath bubble = roundedRect(QRectF(0.04, 0.08, 0.92, 0.66), 0.2);
    QPainterPath tail = polyline({{0.2, 0.68}, {0.4, 0.68}, {0.14, 0.94}});
    tail.closeSubpath();
    bubble = bubble.united(tail);
    return bubble.subtracted(roundedRect(QRectF(0.45, 0.17, 0.1, 0.33), 0.05)).subtracted(circle({0.5, 0.6}, 0.058));
}

QPainterPath lock()
{
    QPainterPath shackle;
    shackle.moveTo(0.3, 0.5);
    shackle.lineTo(0.3, 0.3);
    shackle.arcTo(QRectF(0.3, 0.1, 0.4, 0.4), 180, -180);
    shackle.lineTo(0.7, 0.5);
    return roundedRect(QRectF(0.14, 0.45, 0.72, 0.5), 0.09).united(stroked(shackle, 0.1));
}

QPainterPath moonZzz()
{
    const QPainterPath moon = circle({0.42, 0.6}, 0.36).subtracted(circle({0.64, 0.42}, 0.3));
    const QPainterPath big = stroked(polyline({{0.6, 0.08}, {0.82, 0.08}, {0.6, 0.28}, {0.82, 0.28}}), 0.06);
    const QPainterPath small = stroked(polyline({{0.84, 0.36}, {0.96, 0.36}, {0.84, 0.48}, {0.96, 0.48}}), 0.05);
    return moon.united(big).united(small);
}

// ---- The iCloud section's symbols, drawn as outlines ----

QPainterPath cloudShape()
{
    const QPainterPath shape =
        circle({0.33, 0.56}, 0.19).united(circle({0.56, 0.46}, 0.25)).united(circle({0.77, 0.6}, 0.16));
    return shape.united(roundedRect(QRectF(0.14, 0.56, 0.79, 0.2), 0.1)).simplified();
}

QPainterPath cloudOutline()
{
    return stroked(cloudShape(), 0.08);
}

QPainterPath cloudSlash()
{
    const QPainterPath slash = polyline({{0.14, 0.14}, {0.86, 0.86}});
    return cloudOutline().subtracted(stroked(slash, 0.2)).united(stroked(slash, 0.08));
}

QPainterPath listBulletRectangle()
{
    QPainterPath path = stroked(roundedRect(QRectF(0.06, 0.16, 0.88, 0.68), 0.1), 0.07);
    for (const qreal y : {0.36, 0.5, 0.64}) {
        path = path.united(circle({0.26, y}, 0.045));
        path = path.united(stroked(polyline({{0.38, y}, {0.76, y}}), 0.06));
    }
    return path;
}

QPainterPath squareOnSquare()
{
    const QRectF front(0.3, 0.3, 0.6, 0.6);
    const QPainterPath back = stroked(roundedRect(QRectF(0.1, 0.1, 0.6, 0.6), 0.1), 0.07);
    return back.subtracted(roundedRect(front.adjusted(-0.06, -0.06, 0.06, 0.06), 0.14))
        .united(stroked(roundedRect(front, 0.1), 0.07));
}

QPainterPath arrowDownCircle()
{
    const QPainterPath arrow = stroked(polyline({{0.5, 0.26}, {0.5, 0.72}}), 0.08)
                                   .united(stroked(polyline({{0.32, 0.55}, {0.5, 0.73}, {0.68, 0.55}}), 0.08));
    return stroked(circle({0.5, 0.5}, 0.44), 0.07).united(arrow);
}

QPainterPath externalDrive()
{
    const QPainterPath body = stroked(roundedRect(QRectF(0.06, 0.3, 0.88, 0.42), 0.1), 0.07);
    return body.united(circle({0.75, 0.51}, 0.05)).united(stroked(polyline({{0.2, 0.51}, {0.55, 0.51}}), 0.05));
}

QPainterPath arrowClockwise()
{
    QPainterPath arc;
    arc.arcMoveTo(QRectF(0.14, 0.14, 0.72, 0.72), 70);
    arc.arcTo(QRectF(0.14, 0.14, 0.72, 0.72), 70, -320);
    QPainterPath head = polyline({{0.5, 0.02}, {0.72, 0.15}, {0.5, 0.3}});
    head.closeSubpath();
    return stroked(arc, 0.08).united(head);
}

QPainterPath exclamationTriangle()
{
    QPainterPath triangle = polyline({{0.5, 0.08}, {0.95, 0.9}, {0.05, 0.9}});
    triangle.closeSubpath();
    return stroked(triangle, 0.08)
        .united(roundedRect(QRectF(0.455, 0.36, 0.09, 0.3), 0.045))
        .united(circle({0.5, 0.76}, 0.055));
}

QPainterPath checkmarkCircle()
{
    const QPainterPath check = stroked(polyline({{0.3, 0.52}, {0.44, 0.66}, {0.7, 0.36}}), 0.08);
    return stroked(circle({0.5, 0.5}, 0.44), 0.07).united(check);
}

QPainterPath handRaised()
{
    QPainterPath hand = roundedRect(QRectF(0.24, 0.42, 0.56, 0.5), 0.2);
    const qreal tops[] = {0.16, 0.08, 0.1, 0.2};
    for (int finger = 0; finger < 4; ++finger) {
        const qreal x = 0.3 + finger * 0.14;
        hand = hand.united(stroked(polyline({{x, tops[finger]}, {x, 0.55}}), 0.11));
    }
    hand = hand.united(stroked(polyline({{0.1, 0.5}, {0.27, 0.7}}), 0.11));
    return stroked(hand.simplified(), 0.07);
}

// ---- The main window's marks and buttons ----

QPainterPath ring(QPointF centre, qreal radius, qreal width)
{
    return circle(centre, radius).subtracted(circle(centre, radius - width));
}

QPainterPath checkmarkCircleFilled()
{
    return circle({0.5, 0.5}, 0.46).subtracted(stroked(polyline({{0.3, 0.52}, {0.44, 0.66}, {0.7, 0.36}}), 0.1));
}

QPainterPath plainCircle()
{
    return ring({0.5, 0.5}, 0.44, 0.08);
}

QPainterPath pauseCircle()
{
    return plainCircle().united(roundedRect(QRectF(0.35, 0.3, 0.1, 0.4), 0.03)).united(
        roundedRect(QRectF(0.55, 0.3, 0.1, 0.4), 0.03));
}

QPainterPath questionCircle()
{
    QPainterPath hook;
    hook.arcMoveTo(QRectF(0.36, 0.24, 0.28, 0.26), 160);
    hook.arcTo(QRectF(0.36, 0.24, 0.28, 0.26), 160, -250);
    hook.lineTo(0.5, 0.58);
    return plainCircle().united(stroked(hook, 0.08)).united(circle({0.5, 0.72}, 0.05));
}

QPainterPath arrowRightCircle()
{
    const QPainterPath arrow = stroked(polyline({{0.28, 0.5}, {0.7, 0.5}}), 0.08).united(
        stroked(polyline({{0.52, 0.32}, {0.7, 0.5}, {0.52, 0.68}}), 0.08));
    return plainCircle().united(arrow);
}

QPainterPath eye()
{
    QPainterPath lids;
    lids.moveTo(0.04, 0.5);
    lids.quadTo(0.5, 0.0, 0.96, 0.5);
    lids.quadTo(0.5, 1.0, 0.04, 0.5);
    return stroked(lids, 0.07).united(circle({0.5, 0.5}, 0.14));
}

QPainterPath trash()
{
    QPainterPath can = roundedRect(QRectF(0.2, 0.26, 0.6, 0.68), 0.08).subtracted(
        roundedRect(QRectF(0.28, 0.32, 0.44, 0.55), 0.05));
    can = can.united(roundedRect(QRectF(0.1, 0.16, 0.8, 0.08), 0.03));
    can = can.united(roundedRect(QRectF(0.38, 0.06, 0.24, 0.12), 0.03));
    for (qreal x : {0.39, 0.55})
        can = can.united(roundedRect(QRectF(x, 0.4, 0.06, 0.4), 0.03));
    return can;
}

QPainterPath squareGrid()
{
    QPainterPath grid;
    for (qreal x : {0.06, 0.56})
        for (qreal y : {0.06, 0.56})
            grid = grid.united(roundedRect(QRectF(x, y, 0.38, 0.38), 0.08).subtracted(
                roundedRect(QRectF(x + 0.07, y + 0.07, 0.24, 0.24), 0.04)));
    return grid;
}

QPainterPath clockArrow()
{
    QPainterPath arc;
    arc.arcMoveTo(QRectF(0.1, 0.1, 0.8, 0.8), 160);
    arc.arcTo(QRectF(0.1, 0.1, 0.8, 0.8), 160, -320);
    QPainterPath head = polyline({{0.02, 0.42}, {0.2, 0.62}, {0.3, 0.38}});
    head.closeSubpath();
    const QPainterPath hands = stroked(polyline({{0.5, 0.28}, {0.5, 0.52}, {0.66, 0.62}}), 0.08);
    return stroked(arc, 0.08).united(head).united(hands);
}

QPainterPath sliders()
{
    QPainterPath shape;
    const std::array<std::pair<qreal, qreal>, 3> rows{{{0.2, 0.68}, {0.5, 0.3}, {0.8, 0.58}}};
    for (const auto& [y, knob] : rows)
        shape = shape.united(stroked(polyline({{0.08, y}, {0.92, y}}), 0.07)).united(circle({knob, y}, 0.1));
    return shape;
}

// ---- The tray menu's symbols ----

QPainterPath internalDrive()
{
    const QPainterPath body = roundedRect(QRectF(0.04, 0.28, 0.92, 0.46), 0.1);
    return body.subtracted(roundedRect(QRectF(0.14, 0.47, 0.42, 0.08), 0.04)).subtracted(circle({0.78, 0.51}, 0.06));
}

QPainterPath gearShape()
{
    QPainterPath gear = circle({0.5, 0.5}, 0.34);
    constexpr int teeth = 8;
    for (int i = 0; i < teeth; ++i) {
        QPainterPath tooth;
        tooth.addRoundedRect(QRectF(-0.08, -0.48, 0.16, 0.2), 0.03, 0.03);
        QTransform turn;
        turn.translate(0.5, 0.5);
        turn.rotate(360.0 * i / teeth);
        gear = gear.united(turn.map(tooth));
    }
    return gear.subtracted(circle({0.5, 0.5}, 0.14));
}

QPainterPath power()
{
    // A ring open at the top, and the bar through the gap.
    const QRectF bounds(0.14, 0.16, 0.72, 0.72);
    QPainterPath ring;
    ring.arcMoveTo(bounds, 120);
    ring.arcTo(bounds, 120, 300);
    return stroked(ring, 0.1).united(stroked(polyline({{0.5, 0.08}, {0.5, 0.46}}), 0.1));
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
    const QPainterPath cross = stroked(polyline({{0.34, 0.34}, {0.66, 0.66}}), 0.08)
                                   .united(stroked(polyline({{0.66, 0.34}, {0.34, 0.66}}), 0.08));
    return stroked(outline, 0.07).united(cross);
}

QPainterPath exclamationCircle()
{
    return plainCircle().united(roundedRect(QRectF(0.455, 0.22, 0.09, 0.36), 0.045)).united(circle({0.5, 0.72}, 0.055));
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

QPainterPath line(QPointF from, QPointF to, qreal width)
{
    return stroked(polyline({from, to}), width);
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

QPainterPath bell()
{
    return bellAt(0.5);
}

QPainterPath bellBadge()
{
    return bellAt(0.42).subtracted(circle({0.8, 0.2}, 0.2)).united(circle({0.8, 0.2}, 0.14));
}

QPainterPath bellSlash()
{
    return bellAt(0.5).subtracted(line({0.08, 0.08}, {0.92, 0.92}, 0.17)).united(line({0.1, 0.1}, {0.9, 0.9}, 0.07));
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
    return stroked(roundedRect(QRectF(0.06, 0.14, 0.88, 0.72), 0.12), 0.08)
        .united(stroked(polyline({{0.22, 0.36}, {0.36, 0.5}, {0.22, 0.64}}), 0.08))
        .united(line({0.44, 0.64}, {0.64, 0.64}, 0.08));
}

QPainterPath arrowUpCircleFill()
{
    return circle({0.5, 0.5}, 0.48)
        .subtracted(line({0.5, 0.74}, {0.5, 0.28}, 0.1))
        .subtracted(stroked(polyline({{0.31, 0.46}, {0.5, 0.27}, {0.69, 0.46}}), 0.1));
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

struct Symbol {
    QStringView name;
    QStringView themeName;
    QPainterPath (*draw)();
};

// Marks that carry a colour (the main window's) are always drawn, never taken from the theme.
const std::array<Symbol, 44> symbols{{
    {u"person.fill", u"avatar-default", person},
    {u"magnifyingglass", u"edit-find", magnifyingGlass},
    {u"hand.point.up.left.fill", u"", pointingHand},
    {u"shippingbox.fill", u"package-x-generic", shippingBox},
    {u"checkmark.seal.fill", u"emblem-default", checkmarkSeal},
    {u"exclamationmark.bubble.fill", u"dialog-warning", exclamationBubble},
    {u"lock.fill", u"system-lock-screen", lock},
    {u"moon.zzz.fill", u"weather-clear-night", moonZzz},
    {u"icloud", u"", cloudOutline},
    {u"icloud.slash", u"", cloudSlash},
    {u"list.bullet.rectangle", u"", listBulletRectangle},
    {u"square.on.square", u"", squareOnSquare},
    {u"arrow.down.circle", u"", arrowDownCircle},
    {u"externaldrive", u"", externalDrive},
    {u"arrow.clockwise", u"view-refresh", arrowClockwise},
    {u"exclamationmark.triangle", u"", exclamationTriangle},
    {u"checkmark.circle", u"", checkmarkCircle},
    {u"hand.raised", u"", handRaised},
    {u"checkmark.circle.fill", u"", checkmarkCircleFilled},
    {u"circle", u"", plainCircle},
    {u"pause.circle", u"", pauseCircle},
    {u"questionmark.circle", u"", questionCircle},
    {u"arrow.right.circle", u"", arrowRightCircle},
    {u"eye", u"", eye},
    {u"trash", u"user-trash", trash},
    {u"square.grid.2x2", u"", squareGrid},
    {u"clock.arrow.circlepath", u"document-open-recent", clockArrow},
    {u"slider.horizontal.3", u"preferences-system", sliders},
    {u"internaldrive", u"drive-harddisk", internalDrive},
    {u"gearshape", u"preferences-system", gearShape},
    {u"power", u"system-shutdown", power},
    {u"xmark.octagon", u"", xmarkOctagon},
    {u"exclamationmark.circle", u"", exclamationCircle},
    {u"shield", u"", shield},
    {u"scope", u"", scope},
    {u"wand.and.stars", u"", wandAndStars},
    {u"bell", u"", bell},
    {u"bell.badge", u"", bellBadge},
    {u"bell.slash", u"", bellSlash},
    {u"shield.lefthalf.filled", u"", shieldLeftHalfFilled},
    {u"arrow.triangle.2.circlepath", u"", circlePath},
    {u"terminal", u"", terminal},
    {u"arrow.up.circle.fill", u"", arrowUpCircleFill},
    {u"network.slash", u"", networkSlash},
}};

const Symbol* lookup(QStringView name)
{
    for (const Symbol& symbol : symbols)
        if (symbol.name == name)
            return &symbol;
    return nullptr;
}

} // namespace

QString themeIconName(QStringView symbol)
{
    const Symbol* known = lookup(symbol);
    return known ? known->themeName.toString() : QString();
}

bool hasDrawing(QStringView symbol)
{
    return lookup(symbol) != nullptr;
}

QColor toneColor(QStringView tone, const QPalette& palette)
{
    if (tone == u"accent")
        return palette.color(QPalette::Highlight);
    static constexpr std::array<std::pair<QStringView, QRgb>, 4> fixed{{
        {u"orange", qRgb(0xF0, 0x8A, 0x00)},
        {u"red", qRgb(0xE0, 0x3A, 0x30)},
        {u"green", qRgb(0x2F, 0xA8, 0x4F)},
        {u"blue", qRgb(0x1C, 0x7C, 0xF0)},
    }};
    for (const auto& [name, rgb] : fixed)
        if (name == tone)
            return QColor(rgb);

    static constexpr std::array<std::pair<QStringView, qreal>, 4> levels{{
        {u"primary", 0.85}, {u"secondary", 0.5}, {u"tertiary", 0.25}, {u"quaternary", 0.1}}};
    qreal opacity = 0.85;
    for (const auto& [name, level] : levels)
        if (name == tone)
            opacity = level;
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(float(opacity));
    return color;
}

void paintDrawing(QPainter& painter, const QRectF& box, QStringView symbol, const QColor& color)
{
    const qreal side = qMin(box.width(), box.height());
    const QRectF square(box.center() - QPointF(side / 2, side / 2), QSizeF(side, side));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (const Symbol* known = lookup(symbol)) {
        painter.translate(square.topLeft());
        painter.scale(side, side);
        painter.fillPath(known->draw(), color);
    } else {
        // A symbol nobody draws still shows that something is there.
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(square.center(), side / 4, side / 4);
    }
    painter.restore();
}

void paint(QPainter& painter, const QRectF& box, QStringView symbol, const QColor& color)
{
    const QString themeName = themeIconName(symbol);
    if (themeName.isEmpty() || !QIcon::hasThemeIcon(themeName)) {
        paintDrawing(painter, box, symbol, color);
        return;
    }
    const qreal side = qMin(box.width(), box.height());
    const QRectF square(box.center() - QPointF(side / 2, side / 2), QSizeF(side, side));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(painter.opacity() * color.alphaF());
    QIcon::fromTheme(themeName).paint(&painter, square.toAlignedRect());
    painter.restore();
}

} // namespace Quandril::App::Symbols
