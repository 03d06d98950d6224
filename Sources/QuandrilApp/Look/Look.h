#pragma once

// The small pieces every window is drawn with: the type styles, the colour roles (tones), plain-text
// labels, link-style buttons, the list heading look, symbol icons, dividers, rounded backgrounds,
// scroll areas, and a few widgets: a symbol alone, a symbol with a text, a label that shortens a text
// with "…" (a path in the middle) while it keeps the whole text, and a small progress indicator.
//
// Widgets keep their look in dynamic properties, so tests can read what is shown: "textStyle",
// "tone", "symbol", "look" ("link" for a link-style button) and "heading".

#include <optional>

#include <QFont>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QList>
#include <QString>
#include <QWidget>

#include "QuandrilApp/Platform/Symbols.h"

class QAbstractButton;
class QPushButton;
class QScrollArea;
class QTimer;
class QVBoxLayout;

namespace Quandril::App {

// The type scale, relative to the application's font.
enum class TextStyle { body, headline, subheadline, callout, caption, header, title2, title3 };

namespace Look {

// Sets the widget's font to the style's (its weight `weight` when given) and keeps the style's name
// in "textStyle".
void setTextStyle(QWidget* widget, TextStyle style, std::optional<QFont::Weight> weight = std::nullopt);

// Draws the widget's text (and its symbol, when it is a SymbolLabel) in a colour role
// (Symbols::toneColor), and keeps the role's name in the property "tone".
void setTone(QWidget* widget, Tone tone);

// The list heading look: subheadline, semibold, secondary, 8 points lower than a plain row and no
// separator above or below (the heading is marked "heading" so list builders leave it bare).
void applyHeadingLook(QWidget* heading);

// A label showing data as plain text, never as rich text.
QLabel* plainLabel(const QString& text, QWidget* parent = nullptr, bool wrap = false);

// A button title that shows data as written: "&" would otherwise mark a shortcut letter.
QString buttonText(const QString& text);

// A small borderless button drawn like a link, as wide as its title.
QPushButton* linkButton(const QString& text, QWidget* parent = nullptr);
void styleAsLink(QPushButton* button);

// An icon of a symbol, `side` pixels square, drawn in `color`, and in `selected` where it stands on
// a selection (when valid).
QIcon symbolIcon(const QString& symbol, const QColor& color, int side = 16, const QColor& selected = QColor());
// A symbol as a button's icon in the button's text colour, `side` pixels square (a line of its
// text when 0); the button keeps the symbol's name in "symbol". An empty name removes the icon.
void setButtonSymbol(QAbstractButton* button, const QString& symbol, int side = 0);

// Gives every cell of a column of amounts one width, from their font: room for "000 MB" or the
// widest cell's own when wider, and a gap of two letters after it, so the column lines up, no cell
// is cut and none touches what follows it at any font.
void fitColumn(const QList<QWidget*>& cells);

// A horizontal hairline in the tertiary tone.
QWidget* divider(QWidget* parent = nullptr);

// A frameless scroll area that scrolls only up and down, its widget as wide as the view.
QScrollArea* scrollArea(QWidget* parent);
// Fills `view` with such a scroll area and answers the column it scrolls (24 points from its edges).
QVBoxLayout* scrollingColumn(QWidget* view);

} // namespace Look

// One symbol, drawn in its tone. Keeps "symbol" and "tone" as properties.
class SymbolView : public QWidget {
    Q_OBJECT
public:
    SymbolView(const QString& symbol, Tone tone, int side = 14, QWidget* parent = nullptr);

    QString symbol() const { return symbol_; }
    Tone tone() const { return tone_; }
    void setSymbol(const QString& symbol, Tone tone);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    Tone tone_;
};

// A plain-text label that, once given an elide mode, keeps to one line and shortens its text with
// "…" where it does not fit (in the middle for paths), so it never asks for more width than a few
// letters. text(), the tool tip and the accessible name keep the whole text.
class ElidingLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidingLabel(const QString& text = {}, QWidget* parent = nullptr);
    // One line from the start, shortened with `mode`.
    ElidingLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent = nullptr);

    // Hides QLabel::setText so that the tool tip and the accessible name follow the text.
    void setText(const QString& text);
    void setElideMode(Qt::TextElideMode mode);
    // Wraps the whole text over as many lines as it needs, between words where it can and inside
    // a word too long for a line (a path), so no part of it is ever cut or shortened.
    void setWrapsAnywhere();
    // What is drawn at the present width.
    QString shownText() const;

    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void keepWholeText();
    // The height of the text laid out within `width`, wrapping anywhere.
    int wrappedHeight(int width) const;

    Qt::TextElideMode elide_ = Qt::ElideNone;
    bool wrapsAnywhere_ = false;
};

// A symbol and a text beside it, drawn as one label so that a long text wraps as any label's
// does (or, with an elide mode, shortens). The text is plain; the symbol is as tall as a line,
// lines up with the first line and takes the text's colour. Keeps "symbol" (and "tone" once set).
class SymbolLabel : public ElidingLabel {
    Q_OBJECT
public:
    SymbolLabel(const QString& symbol, const QString& text, QWidget* parent = nullptr, bool wrap = false);

    QString symbol() const { return property("symbol").toString(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void leaveRoomForSymbol();
};

// The small turning progress indicator; it turns only while shown.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(int side = 16, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer* timer_;
    int step_ = 0;
};

// A card: a faint rounded background (the quaternary fill at a quarter of its strength, corners
// of 10 points) that sets one item apart from the next.
class Card : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The band behind a results bar: the quaternary fill at half its strength.
class Band : public QFrame {
    Q_OBJECT
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The rounded box of the base colour, with a faint edge, that a group of rows stands on.
class GroupBox : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace Quandril::App
