#pragma once

// The app's small pictograms. Each is known by its design name ("magnifyingglass", "lock.fill");
// the desktop's icon theme draws it where the theme has a matching icon, and a drawing of our own
// stands in where it hasn't. Widgets that show one keep the design name in their dynamic property
// "symbol" and the colour role in "tone", so tests can read what is shown.

#include <QColor>
#include <QString>

class QPainter;
class QPalette;
class QRectF;

namespace Quandril::App {

// A colour role: "primary", "secondary", "tertiary" and "quaternary" are ever fainter levels of the
// palette's text colour; "accent" is the palette's highlight; "orange", "red", "green" and "blue"
// are fixed colours.
enum class Tone { primary, secondary, tertiary, quaternary, accent, orange, red, green, blue };

// The role's design name, as widgets keep it in their "tone" property.
QString toneName(Tone tone);

namespace Symbols {

// The freedesktop icon name for a symbol, or empty when the theme names none like it.
QString themeIconName(QStringView symbol);

// Whether we can draw the symbol ourselves.
bool hasDrawing(QStringView symbol);

// The colour of a tone in `palette`.
QColor toneColor(Tone tone, const QPalette& palette);

// Draws the symbol fitted into `box`, in `color` (for a theme icon, its alpha only).
void paint(QPainter& painter, const QRectF& box, QStringView symbol, const QColor& color);
// The same, always with our own drawing: for a symbol that must take `color`, such as on a tile.
void paintDrawing(QPainter& painter, const QRectF& box, QStringView symbol, const QColor& color);

} // namespace Symbols

} // namespace Quandril::App
