#pragma once

// The small pieces the iCloud section's views are drawn with: the type styles, the colour roles,
// a symbol with or without a text beside it, a label that shortens a path in the middle while it
// keeps the whole text, a small progress indicator, link-style buttons and the list heading look.

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

class QAbstractButton;
class QTimer;

namespace Quandril::App {

namespace CloudLook {

// Type styles relative to the widget's own font.
enum class Type { body, headline, subheadline, callout, caption, title2 };
QFont font(const QFont& base, Type type);
void setType(QWidget* widget, Type type);

// Draws the widget's text (and its symbol, when it is a SymbolLabel) in a colour role: "primary",
// "secondary", "orange" … (Symbols::toneColor), and keeps the role in the property "tone".
void setTone(QWidget* widget, const QString& tone);

// The list heading look: subheadline, semibold, secondary, 8 points lower than a plain row and no
// separator above or below (the heading is marked "heading" so list builders leave it bare).
void applyHeadingLook(QWidget* heading);

// A flat button drawn like a link.
QPushButton* linkButton(const QString& text, QWidget* parent = nullptr);

// A symbol drawn as a button icon; the button keeps the symbol's name in "symbol".
void setButtonSymbol(QAbstractButton* button, const QString& symbol);

// A label showing data as plain text, never as rich text.
QLabel* plainLabel(const QString& text, QWidget* parent = nullptr, bool wrap = false);

} // namespace CloudLook

// A symbol and a text beside it, drawn as one label so that a long text wraps as any label's
// does. The text is plain; the symbol is as tall as a line, lines up with the first line and takes
// the text's colour. Keeps "symbol" (and "tone" once set).
class SymbolLabel : public QLabel {
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

// One line of text shortened with "…" where it does not fit (in the middle for paths). The widget
// keeps the whole text: text(), the accessible name and the tool tip all give it in full.
class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(const QString& text = {}, Qt::TextElideMode mode = Qt::ElideMiddle, QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    // What is drawn at the present width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    Qt::TextElideMode mode_;
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

} // namespace Quandril::App
