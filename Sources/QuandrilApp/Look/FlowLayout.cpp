#include "QuandrilApp/Look/FlowLayout.h"

#include <algorithm>
#include <vector>

#include <QStyle>
#include <QWidget>

namespace Quandril::App {

FlowLayout::FlowLayout(QWidget* parent, int spacing)
    : QLayout(parent)
{
    setContentsMargins(0, 0, 0, 0);
    setSpacing(spacing);
}

FlowLayout::~FlowLayout()
{
    while (QLayoutItem* item = FlowLayout::takeAt(0))
        delete item;
}

void FlowLayout::addLayoutItem(QLayout* layout)
{
    addChildLayout(layout);
    addItem(layout);
}

void FlowLayout::addFillingWidget(QWidget* widget)
{
    addWidget(widget);
    filling_.append(items_.back());
}

void FlowLayout::setLastAtRightEdge(bool right)
{
    lastAtRightEdge_ = right;
    invalidate();
}

void FlowLayout::addItem(QLayoutItem* item)
{
    items_.append(item);
}

int FlowLayout::count() const
{
    return int(items_.size());
}

QLayoutItem* FlowLayout::itemAt(int index) const
{
    return items_.value(index);
}

QLayoutItem* FlowLayout::takeAt(int index)
{
    if (index < 0 || index >= items_.size())
        return nullptr;
    filling_.removeOne(items_.at(index));
    return items_.takeAt(index);
}

Qt::Orientations FlowLayout::expandingDirections() const
{
    return {};
}

bool FlowLayout::hasHeightForWidth() const
{
    return true;
}

int FlowLayout::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    return arrange(QRect(0, 0, width - margins.left() - margins.right(), 0), false) + margins.top() + margins.bottom();
}

QSize FlowLayout::sizeHint() const
{
    QSize all(0, 0);
    for (const QLayoutItem* item : shown()) {
        // As `arrange` measures it: never less than its least width.
        const QSize size = item->sizeHint().expandedTo(item->minimumSize());
        all = { all.width() + (all.width() > 0 ? gap() : 0) + size.width(), qMax(all.height(), size.height()) };
    }
    const QMargins margins = contentsMargins();
    return all.grownBy(margins);
}

QSize FlowLayout::minimumSize() const
{
    int width = 0;
    for (const QLayoutItem* item : shown())
        width = qMax(width, item->minimumSize().width());
    const QMargins margins = contentsMargins();
    width += margins.left() + margins.right();
    return { width, heightForWidth(width) };
}

void FlowLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    arrange(rect.marginsRemoved(contentsMargins()), true);
}

int FlowLayout::gap() const
{
    if (spacing() >= 0)
        return spacing();
    const QWidget* owner = parentWidget();
    return owner ? qMax(0, owner->style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, owner)) : 0;
}

QList<QLayoutItem*> FlowLayout::shown() const
{
    QList<QLayoutItem*> out;
    for (QLayoutItem* item : items_)
        if (!item->isEmpty())
            out.append(item);
    return out;
}

int FlowLayout::arrange(const QRect& rect, bool place) const
{
    const QList<QLayoutItem*> items = shown();
    const int gap = this->gap();
    int top = rect.top();
    for (qsizetype first = 0; first < items.size();) {
        qsizetype end = first;
        int used = 0;
        std::vector<int> widths;
        while (end < items.size()) {
            const QLayoutItem* item = items[end];
            const int least = item->minimumSize().width();
            const int width = filling_.contains(item) ? least
                                                      : qMax(qMin(item->sizeHint().width(), rect.width()), least);
            const int needed = used + (end > first ? gap : 0) + width;
            if (end > first && needed > rect.width())
                break;
            used = needed;
            widths.push_back(width);
            ++end;
        }
        // What the line leaves over goes to the items that give way, shared alike.
        const auto fillers = std::count_if(items.begin() + first, items.begin() + end,
                                           [this](const QLayoutItem* item) { return filling_.contains(item); });
        int spare = qMax(0, rect.width() - used);
        for (qsizetype i = first, left = fillers; i < end && left > 0; ++i) {
            if (!filling_.contains(items[i]))
                continue;
            const int share = spare / int(left--);
            widths[std::size_t(i - first)] += share;
            spare -= share;
        }
        std::vector<int> heights;
        int height = 0;
        for (qsizetype i = first; i < end; ++i) {
            const QLayoutItem* item = items[i];
            const int width = widths[std::size_t(i - first)];
            heights.push_back(item->hasHeightForWidth() ? item->heightForWidth(width) : item->sizeHint().height());
            height = qMax(height, heights.back());
        }
        if (place) {
            int x = rect.left();
            for (qsizetype i = first; i < end; ++i) {
                const QSize size(widths[std::size_t(i - first)], heights[std::size_t(i - first)]);
                if (lastAtRightEdge_ && i == items.size() - 1)
                    x = qMax(x, rect.right() + 1 - size.width());
                items[i]->setGeometry(QRect(QPoint(x, top + (height - size.height()) / 2), size));
                x += size.width() + gap;
            }
        }
        top += height + (end < items.size() ? gap : 0);
        first = end;
    }
    return top - rect.top();
}

} // namespace Quandril::App
