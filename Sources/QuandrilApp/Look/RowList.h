#pragma once

// The list the findings and History are shown in. Lists here have no scroll edge effect to hide,
// so it needs nothing for that.

#include <functional>
#include <vector>

#include <QAbstractScrollArea>

namespace Quandril::App {

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
