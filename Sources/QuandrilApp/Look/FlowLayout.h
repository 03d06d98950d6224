#pragma once

// A row that moves what does not fit to a line below, so that a large font or a narrow window
// never widens the window: each line takes as many items at their preferred widths as fit, at
// least one. The last item keeps to the right edge, as a stretch before it would keep it, on
// whichever line it lands (unless told otherwise). An item that itself flows (its height follows
// its width) is as tall as its width there needs.

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
    // Adds a widget that gives way first (a line that shortens with "…"): it claims only its least
    // width on a line and takes whatever that line leaves over.
    void addFillingWidget(QWidget* widget);
    // Whether the last item keeps to the right edge (the default) or follows the others.
    void setLastAtRightEdge(bool right);

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
    QList<const QLayoutItem*> filling_;
    bool lastAtRightEdge_ = true;
};

} // namespace Quandril::App
