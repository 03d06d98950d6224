#pragma once

// The settings window's pictograms: the panes' tiles in the list and the small symbols beside the
// panes' status lines. The settings window draws its own; any other symbol goes to Symbols.

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QPainter;
class QPalette;
class QRectF;

namespace Quandril::App::SettingsSymbols {

// Whether the settings window draws the symbol itself.
bool hasDrawing(QStringView symbol);

// Draws the symbol fitted into `box`, in `color`.
void paint(QPainter& painter, const QRectF& box, QStringView symbol, const QColor& color);

// A named tile colour ("gray", "blue", "purple", "red", "green", "cyan", "teal"); gray otherwise.
QColor tileColor(QStringView name);

// The colour of a tone: "accent" is the palette's highlight; every other tone is Symbols'.
QColor toneColor(QStringView tone, const QPalette& palette);

// A list row's tile: the symbol in white on a rounded square (20 × 20, corner radius 5) filled
// with a gradient of the named colour.
QPixmap tile(QStringView symbol, QStringView color, qreal devicePixelRatio);

// One symbol in a tone, `side` pixels square. It keeps the design name in its "symbol" property
// and the tone in "tone".
class SymbolView : public QWidget {
    Q_OBJECT
public:
    SymbolView(const QString& symbol, const QString& tone, int side, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace Quandril::App::SettingsSymbols
