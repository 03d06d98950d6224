#pragma once

// Windows on screens smaller than the sizes they are designed for: a screen of 1440 × 900 at 1.5×
// has room for 960 × 600 device-independent pixels, less what panels take. A window's sizes give
// way to the screen's available area, and its frame is kept within that area.

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace Quandril::App::ScreenFit {

// `wanted`, made no larger than what `area` holds once `frame` is put around it.
QSize within(QSize wanted, const QRect& area, const QMargins& frame);

// Where a frame `frame` goes to lie wholly within `area`, moved the least; a frame larger than
// the area keeps to its top left corner.
QPoint placed(const QRect& frame, const QRect& area);

// The frame the window manager put around `window`; none while it is unknown.
QMargins frameOf(const QWidget& window);

// The available area of the screen `window` is on, or an invalid rectangle without a screen.
QRect availableArea(const QWidget& window);

} // namespace Quandril::App::ScreenFit
