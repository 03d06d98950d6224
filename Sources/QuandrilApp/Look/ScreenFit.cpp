#include "QuandrilApp/Look/ScreenFit.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace Quandril::App::ScreenFit {

QSize within(QSize wanted, const QRect& area, const QMargins& frame)
{
    // A frame's size comes back rounded to whole points: on a screen scaled by a fraction it can be
    // most of a pixel larger than it says, so a window under a frame keeps one point in hand.
    const QSize room = area.marginsRemoved(frame).size() - (frame.isNull() ? QSize() : QSize(1, 1));
    return wanted.boundedTo(room.expandedTo(QSize(1, 1)));
}

QPoint placed(const QRect& frame, const QRect& area)
{
    return { std::max(area.left(), std::min(frame.left(), area.right() + 1 - frame.width())),
             std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - frame.height())) };
}

QMargins frameOf(const QWidget& window)
{
    const QRect outer = window.frameGeometry();
    const QRect inner = window.geometry();
    return { inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
             outer.bottom() - inner.bottom() };
}

QRect availableArea(const QWidget& window)
{
    const QScreen* screen = window.screen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace Quandril::App::ScreenFit
