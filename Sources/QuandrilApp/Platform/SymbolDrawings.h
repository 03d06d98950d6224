#pragma once

// Private to the symbols: the shapes every drawing is built from, and the drawings kept beside
// Symbols.cpp, which its table of names refers to. Each drawing fills a 1 × 1 square, y downwards.

#include <QPainterPath>

#include <initializer_list>

namespace Quandril::App::Symbols::Drawings {

// A line drawn with round caps and joins, as an area to fill.
QPainterPath stroked(const QPainterPath& line, qreal width);
QPainterPath circle(QPointF centre, qreal radius);
QPainterPath roundedRect(QRectF rect, qreal radius);
QPainterPath polyline(std::initializer_list<QPointF> points);
QPainterPath ring(QPointF centre, qreal radius, qreal width);
QPainterPath line(QPointF from, QPointF to, qreal width);

// The main window's marks and buttons
QPainterPath checkmarkCircleFilled();
QPainterPath plainCircle();
QPainterPath pauseCircle();
QPainterPath questionCircle();
QPainterPath arrowRightCircle();
QPainterPath eye();
QPainterPath trash();
QPainterPath squareGrid();
QPainterPath clockArrow();
QPainterPath sliders();

// The tray menu's symbols
QPainterPath internalDrive();
QPainterPath gearShape();
QPainterPath power();

// The main window's sheets and results
QPainterPath xmarkOctagon();
QPainterPath exclamationCircle();
QPainterPath shield();

// The settings window's tiles and status lines
QPainterPath scope();
QPainterPath wandAndStars();
QPainterPath bell();
QPainterPath bellBadge();
QPainterPath bellSlash();
QPainterPath shieldLeftHalfFilled();
QPainterPath circlePath();
QPainterPath terminal();
QPainterPath arrowUpCircleFill();
QPainterPath networkSlash();

} // namespace Quandril::App::Symbols::Drawings
