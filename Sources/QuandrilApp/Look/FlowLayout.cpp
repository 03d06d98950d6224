#include "QuandrilApp/Look/FlowLayout.h"

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
    return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
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
    QSize all;
    for (const QLayoutItem* item : shown()) {
        const QSize size = item->sizeHint();
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
        int height = 0;
        std::vector<QSize> sizes;
        while (end < items.size()) {
            QSize size = items[end]->sizeHint();
            size.setWidth(qMax(qMin(size.width(), rect.width()), items[end]->minimumSize().width()));
            const int needed = used + (end > first ? gap : 0) + size.width();
            if (end > first && needed > rect.width())
                break;
            used = needed;
            height = qMax(height, size.height());
            sizes.push_back(size);
            ++end;
        }
        if (place) {
            int x = rect.left();
            for (qsizetype i = first; i < end; ++i) {
                const QSize size = sizes[std::size_t(i - first)];
                if (i == items.size() - 1)
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
