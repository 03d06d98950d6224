#pragma once

// A row that moves what does not fit to a line below, so that a large font or a narrow window
// never widens the window: each line takes as many items at their preferred widths as fit, at
// least one. The last item keeps to the right edge, as a stretch before it would keep it, on
// whichever line it lands.

#include <QLayout>
#include <QList>

namespace Quandril::App {

class FlowLayout : public QLayout {
public:
    // `spacing` between items and between lines; the style's when negative.
    explicit FlowLayout(QWidget* parent = nullptr, int spacing = -1);
    ~FlowLayout() override;

    // Adds a layout as one item, laid out where its line places it.
    void addLayoutItem(QLayout* layout);

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    int gap() const;
    QList<QLayoutItem*> shown() const;
    // Lays the items out in `rect` (when `place`) and answers the height they take.
    int arrange(const QRect& rect, bool place) const;

    QList<QLayoutItem*> items_;
};

} // namespace Quandril::App
