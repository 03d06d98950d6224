#include "QuandrilApp/Platform/Symbols.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QtMath>

#include <array>
#include <utility>

#include "QuandrilApp/Platform/SymbolDrawings.h"

namespace Quandril::App {

QString toneName(Tone tone)
{
    switch (tone) {
    case Tone::primary:
        return QStringLiteral("primary");
    case Tone::secondary:
        return QStringLiteral("secondary");
    case Tone::tertiary:
        return QStringLiteral("tertiary");
    case Tone::quaternary:
        return QStringLiteral("quaternary");
    case Tone::accent:
        return QStringLiteral("accent");
    case Tone::orange:
        return QStringLiteral("orange");
    case Tone::red:
        return QStringLiteral("red");
    case Tone::green:
        return QStringLiteral("green");
    case Tone::blue:
        return QStringLiteral("blue");
    }
    return QStringLiteral("primary");
}

namespace Symbols {

namespace {

// The main window's, the tray menu's and the settings window's drawings live in SymbolDrawings.cpp.
using namespace Drawings;

QPainterPath person()
{
    QPainterPath body;
    body.addEllipse(QPointF(0.5, 0.98), 0.4, 0.4);
    QPainterPath above;
    above.addRect(QRectF(0, 0, 1, 0.94));
    return circle({ 0.5, 0.3 }, 0.21).united(body.intersected(above));
}

QPainterPath magnifyingGlass()
{
    const QPainterPath ring = circle({ 0.41, 0.41 }, 0.31).subtracted(circle({ 0.41, 0.41 }, 0.2));
    return ring.united(stroked(polyline({ { 0.62, 0.62 }, { 0.88, 0.88 } }), 0.14));
}

QPainterPath pointingHand()
{
    const QPainterPath fist = roundedRect(QRectF(0.36, 0.44, 0.52, 0.5), 0.14);
    return fist.united(stroked(polyline({ { 0.5, 0.6 }, { 0.17, 0.17 } }), 0.16));
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
    return path.subtracted(stroked(polyline({ { 0.3, 0.52 }, { 0.44, 0.66 }, { 0.7, 0.36 } }), 0.09));
}

QPainterPath exclamationBubble()
{
    QPainterPath bubble = roundedRect(QRectF(0.04, 0.08, 0.92, 0.66), 0.2);
    QPainterPath tail = polyline({ { 0.2, 0.68 }, { 0.4, 0.68 }, { 0.14, 0.94 } });
    tail.closeSubpath();
    bubble = bubble.united(tail);
    return bubble.subtracted(roundedRect(QRectF(0.45, 0.17, 0.1, 0.33), 0.05)).subtracted(circle({ 0.5, 0.6 }, 0.058));
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
    const QPainterPath moon = circle({ 0.42, 0.6 }, 0.36).subtracted(circle({ 0.64, 0.42 }, 0.3));
    const QPainterPath big = stroked(polyline({ { 0.6, 0.08 }, { 0.82, 0.08 }, { 0.6, 0.28 }, { 0.82, 0.28 } }), 0.06);
    const QPainterPath small = stroked(polyline({ { 0.84, 0.36 }, { 0.96, 0.36 }, { 0.84, 0.48 }, { 0.96, 0.48 } }),
                                       0.05);
    return moon.united(big).united(small);
}

// ---- The iCloud section's symbols, drawn as outlines ----

QPainterPath cloudShape()
{
    const QPainterPath shape
        = circle({ 0.33, 0.56 }, 0.19).united(circle({ 0.56, 0.46 }, 0.25)).united(circle({ 0.77, 0.6 }, 0.16));
    return shape.united(roundedRect(QRectF(0.14, 0.56, 0.79, 0.2), 0.1)).simplified();
}

QPainterPath cloudOutline()
{
    return stroked(cloudShape(), 0.08);
}

QPainterPath cloudSlash()
{
    const QPainterPath slash = polyline({ { 0.14, 0.14 }, { 0.86, 0.86 } });
    return cloudOutline().subtracted(stroked(slash, 0.2)).united(stroked(slash, 0.08));
}

QPainterPath listBulletRectangle()
{
    QPainterPath path = stroked(roundedRect(QRectF(0.06, 0.16, 0.88, 0.68), 0.1), 0.07);
    for (const qreal y : { 0.36, 0.5, 0.64 }) {
        path = path.united(circle({ 0.26, y }, 0.045));
        path = path.united(stroked(polyline({ { 0.38, y }, { 0.76, y } }), 0.06));
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
    const QPainterPath arrow = stroked(polyline({ { 0.5, 0.26 }, { 0.5, 0.72 } }), 0.08)
                                   .united(stroked(polyline({ { 0.32, 0.55 }, { 0.5, 0.73 }, { 0.68, 0.55 } }), 0.08));
    return stroked(circle({ 0.5, 0.5 }, 0.44), 0.07).united(arrow);
}

QPainterPath externalDrive()
{
    const QPainterPath body = stroked(roundedRect(QRectF(0.06, 0.3, 0.88, 0.42), 0.1), 0.07);
    return body.united(circle({ 0.75, 0.51 }, 0.05)).united(stroked(polyline({ { 0.2, 0.51 }, { 0.55, 0.51 } }), 0.05));
}

QPainterPath arrowClockwise()
{
    QPainterPath arc;
    arc.arcMoveTo(QRectF(0.14, 0.14, 0.72, 0.72), 70);
    arc.arcTo(QRectF(0.14, 0.14, 0.72, 0.72), 70, -320);
    QPainterPath head = polyline({ { 0.5, 0.02 }, { 0.72, 0.15 }, { 0.5, 0.3 } });
    head.closeSubpath();
    return stroked(arc, 0.08).united(head);
}

QPainterPath exclamationTriangle()
{
    QPainterPath triangle = polyline({ { 0.5, 0.08 }, { 0.95, 0.9 }, { 0.05, 0.9 } });
    triangle.closeSubpath();
    return stroked(triangle, 0.08)
        .united(roundedRect(QRectF(0.455, 0.36, 0.09, 0.3), 0.045))
        .united(circle({ 0.5, 0.76 }, 0.055));
}

QPainterPath checkmarkCircle()
{
    const QPainterPath check = stroked(polyline({ { 0.3, 0.52 }, { 0.44, 0.66 }, { 0.7, 0.36 } }), 0.08);
    return stroked(circle({ 0.5, 0.5 }, 0.44), 0.07).united(check);
}

QPainterPath handRaised()
{
    QPainterPath hand = roundedRect(QRectF(0.24, 0.42, 0.56, 0.5), 0.2);
    const qreal tops[] = { 0.16, 0.08, 0.1, 0.2 };
    for (int finger = 0; finger < 4; ++finger) {
        const qreal x = 0.3 + finger * 0.14;
        hand = hand.united(stroked(polyline({ { x, tops[finger] }, { x, 0.55 } }), 0.11));
    }
    hand = hand.united(stroked(polyline({ { 0.1, 0.5 }, { 0.27, 0.7 } }), 0.11));
    return stroked(hand.simplified(), 0.07);
}

struct Symbol {
    QStringView name;
    QStringView themeName;
    QPainterPath (*draw)();
};

// Marks that carry a colour (the main window's) are always drawn, never taken from the theme.
const std::array<Symbol, 44> symbols { {
    { u"person.fill", u"avatar-default", person },
    { u"magnifyingglass", u"edit-find", magnifyingGlass },
    { u"hand.point.up.left.fill", u"", pointingHand },
    { u"shippingbox.fill", u"package-x-generic", shippingBox },
    { u"checkmark.seal.fill", u"emblem-default", checkmarkSeal },
    { u"exclamationmark.bubble.fill", u"dialog-warning", exclamationBubble },
    { u"lock.fill", u"system-lock-screen", lock },
    { u"moon.zzz.fill", u"weather-clear-night", moonZzz },
    { u"icloud", u"", cloudOutline },
    { u"icloud.slash", u"", cloudSlash },
    { u"list.bullet.rectangle", u"", listBulletRectangle },
    { u"square.on.square", u"", squareOnSquare },
    { u"arrow.down.circle", u"", arrowDownCircle },
    { u"externaldrive", u"", externalDrive },
    { u"arrow.clockwise", u"view-refresh", arrowClockwise },
    { u"exclamationmark.triangle", u"", exclamationTriangle },
    { u"checkmark.circle", u"", checkmarkCircle },
    { u"hand.raised", u"", handRaised },
    { u"checkmark.circle.fill", u"", checkmarkCircleFilled },
    { u"circle", u"", plainCircle },
    { u"pause.circle", u"", pauseCircle },
    { u"questionmark.circle", u"", questionCircle },
    { u"arrow.right.circle", u"", arrowRightCircle },
    { u"eye", u"", eye },
    { u"trash", u"user-trash", trash },
    { u"square.grid.2x2", u"", squareGrid },
    { u"clock.arrow.circlepath", u"document-open-recent", clockArrow },
    { u"slider.horizontal.3", u"preferences-system", sliders },
    { u"internaldrive", u"drive-harddisk", internalDrive },
    { u"gearshape", u"preferences-system", gearShape },
    { u"power", u"system-shutdown", power },
    { u"xmark.octagon", u"", xmarkOctagon },
    { u"exclamationmark.circle", u"", exclamationCircle },
    { u"shield", u"", shield },
    { u"scope", u"", scope },
    { u"wand.and.stars", u"", wandAndStars },
    { u"bell", u"", bell },
    { u"bell.badge", u"", bellBadge },
    { u"bell.slash", u"", bellSlash },
    { u"shield.lefthalf.filled", u"", shieldLeftHalfFilled },
    { u"arrow.triangle.2.circlepath", u"", circlePath },
    { u"terminal", u"", terminal },
    { u"arrow.up.circle.fill", u"", arrowUpCircleFill },
    { u"network.slash", u"", networkSlash },
} };

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

QColor toneColor(Tone tone, const QPalette& palette)
{
    qreal opacity = 0.85;
    switch (tone) {
    case Tone::accent:
        return palette.color(QPalette::Highlight);
    case Tone::orange:
        return QColor(qRgb(0xF0, 0x8A, 0x00));
    case Tone::red:
        return QColor(qRgb(0xE0, 0x3A, 0x30));
    case Tone::green:
        return QColor(qRgb(0x2F, 0xA8, 0x4F));
    case Tone::blue:
        return QColor(qRgb(0x1C, 0x7C, 0xF0));
    case Tone::primary:
        break;
    case Tone::secondary:
        opacity = 0.5;
        break;
    case Tone::tertiary:
        opacity = 0.25;
        break;
    case Tone::quaternary:
        opacity = 0.1;
        break;
    }
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

} // namespace Symbols

} // namespace Quandril::App
