#pragma once

// The tray's small bar picture: 22 x 10 points, drawn in black on transparent like a template
// image (only its coverage counts); `tinted` colours it for the panel it sits in.

#include <QColor>
#include <QImage>
#include <QString>

namespace Quandril::App::MenuGaugeImage {

// The picture's size in points.
inline constexpr int width = 22;
inline constexpr int height = 10;

// The image text key under which the picture keeps its accessible description.
inline constexpr const char* descriptionKey = "Description";

// `used` is the used share of the drive (0 empty, 1 full); values outside 0...1, and NaN, are held
// within it, so the fill runs from 2 to 18 points. `warning` cuts a notch through outline and fill
// near the right end. The image has `devicePixelRatio` pixels per point.
QImage make(double used, bool warning, qreal devicePixelRatio = 1.0);

// "Free space, under your goal" when `warning`, else "Free space".
QString description(bool warning);

// The picture in `colour`, keeping its coverage, pixel ratio and description.
QImage tinted(const QImage& image, const QColor& colour);

} // namespace Quandril::App::MenuGaugeImage
