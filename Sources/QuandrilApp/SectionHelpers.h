#pragma once

// Pieces the main window's sections share beside those of CloudLook.h (plain-text labels, tones,
// the spinner): text styles, the heading look of list sections, link-style buttons, symbol
// pictures, the startup drive's shortfall, and RowList, the list the findings are shown in, which
// builds only the rows in view.
//
// Lists here have no scroll edge effect to hide, so the findings list needs nothing for that.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QAbstractScrollArea>
#include <QFont>
#include <QIcon>
#include <QString>
#include <QWidget>

class QPushButton;

namespace Quandril::App {

class Model;

// How far the startup drive of the model's status falls short of its goal, counted by the chosen
// free-space source; absent without a startup drive or a goal, or when the goal is met.
std::optional<std::int64_t> startupShortBy(const Model& model);

// The type scale of the window, relative to the application's font.
enum class FontRole { body, headline, title2, title3, subheadline, callout, caption };
void setFontRole(QWidget* widget, FontRole style, QFont::Weight weight = QFont::Normal);

// The look of list section headings across the window: subheadline font in semibold, secondary,
// 8 points of space above (the same look the iCloud lists use). RowList draws no separator above
// or below a row it is told is a heading.
void listHeadingRow(QWidget* heading);

// A button title that shows data as written: "&" would otherwise mark a shortcut letter.
QString buttonText(const QString& text);

// A small borderless button drawn like a link.
QPushButton* linkButton(const QString& text, QWidget* parent = nullptr);
void styleAsLink(QPushButton* button);

// A horizontal divider line.
QWidget* divider(QWidget* parent = nullptr);

// An icon of a symbol drawn in `color`, and in `selected` where it stands on a selection (a
// theme icon where the desktop's theme has one).
QIcon symbolIcon(const QString& symbol, const QColor& color, const QColor& selected = QColor());

// One symbol, drawn in its tone. Keeps "symbol" and "tone" as properties.
class SymbolView : public QWidget {
    Q_OBJECT
public:
    SymbolView(const QString& symbol, const QString& tone, int side = 14, QWidget* parent = nullptr);

    QString symbol() const { return symbol_; }
    QString tone() const { return tone_; }
    void setSymbol(const QString& symbol, const QString& tone);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    QString tone_;
};

// A vertical list of rows of varying height, in the look of an inset list, that builds a row's
// widget only while the row is in view or near it and drops widgets far out of view. Rows are
// made by a factory from their index; a row's widget must not keep pointers into data that may
// change under it. Scrolling keeps the row at the top of the view where it is, also when rows
// above it turn out taller or shorter than their estimate.
class RowList : public QAbstractScrollArea {
    Q_OBJECT
public:
    struct Row {
        // Height assumed until the row is built.
        int estimate = 40;
        // Starts a new section: a gap above it instead of a separator line.
        bool sectionStart = false;
        // A section heading: no separator line above or below it.
        bool heading = false;
    };
    using Factory = std::function<QWidget*(int index)>;

    explicit RowList(QWidget* parent = nullptr);

    // Replaces every row; widgets built for the old rows are dropped. The scroll position stays
    // (within the new length).
    void setRows(std::vector<Row> rows, Factory make);
    int count() const { return static_cast<int>(rows_.size()); }

    // The widget of a row, scrolled into view and built if it wasn't.
    QWidget* showRow(int index);
    // The widget of a row if it is built now, else null.
    QWidget* builtRow(int index) const;
    // The indices of the rows built now, in order.
    std::vector<int> builtRows() const;

    QSize sizeHint() const override;

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Slot {
        Row row;
        int height = 0;
        bool measured = false;
        QWidget* widget = nullptr;
    };

    void relayout();
    void scheduleRelayout();
    void ensureMeasured(int index);
    void drop(Slot& slot);
    void placeTops();
    int gapAbove(int index) const;
    int rowWidth() const;

    std::vector<Slot> rows_;
    std::vector<int> tops_; // each row's top edge in the content, below its gap; one more: the end
    Factory make_;
    int measuredWidth_ = -1;
    bool laying_ = false;
    bool pending_ = false;
};

} // namespace Quandril::App
