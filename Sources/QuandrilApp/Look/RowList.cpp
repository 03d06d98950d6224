#include "QuandrilApp/Look/RowList.h"

#include <algorithm>

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyle>

#include "QuandrilApp/Platform/Symbols.h"

namespace Quandril::App {

namespace {

constexpr int outerInset = 12; // section background to the edge of the view
constexpr int innerInset = 12; // row to the edge of its section background
constexpr int sectionPad = 6;  // inside a section's background, above its first and below its last row
constexpr int sectionGap = 14; // between two sections
constexpr int listPad = 10;    // above the first section and below the last
constexpr int overscan = 300;  // pixels built beyond each edge of the view
constexpr int keepBuilt = 150; // rows kept built before rows far out of view are dropped
constexpr int dropMargin = 12; // rows on each side of the view kept when dropping

} // namespace

RowList::RowList(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setSingleStep(24);
    viewport()->setBackgroundRole(QPalette::Window);
}

QSize RowList::sizeHint() const
{
    return { 420, 320 };
}

void RowList::setRows(std::vector<Row> rows, Factory make)
{
    for (Slot& slot : rows_)
        drop(slot);
    rows_.clear();
    rows_.reserve(rows.size());
    for (const Row& row : rows)
        rows_.push_back(Slot { row, std::max(row.estimate, 1), false, nullptr });
    make_ = std::move(make);
    relayout();
}

QWidget* RowList::showRow(int index)
{
    if (index < 0 || index >= count())
        return nullptr;
    ensureMeasured(index);
    placeTops();
    verticalScrollBar()->setMaximum(std::max(0, tops_.back() - viewport()->height()));
    verticalScrollBar()->setValue(std::max(0, tops_[std::size_t(index)] - sectionPad));
    relayout();
    return rows_[std::size_t(index)].widget;
}

QWidget* RowList::builtRow(int index) const
{
    if (index < 0 || index >= count())
        return nullptr;
    return rows_[std::size_t(index)].widget;
}

std::vector<int> RowList::builtRows() const
{
    std::vector<int> out;
    for (int i = 0; i < count(); ++i)
        if (rows_[std::size_t(i)].widget)
            out.push_back(i);
    return out;
}

int RowList::rowWidth() const
{
    // Rows are as wide whether or not the scroll bar shows, so its coming and going never
    // changes their heights.
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    return std::max(40, width() - 2 * frameWidth() - extent - 2 * (outerInset + innerInset));
}

int RowList::gapAbove(int index) const
{
    if (index == 0)
        return listPad + sectionPad;
    return rows_[std::size_t(index)].row.sectionStart ? sectionPad + sectionGap + sectionPad : 0;
}

void RowList::placeTops()
{
    const std::size_t n = rows_.size();
    tops_.resize(n + 1);
    int y = 0;
    for (std::size_t i = 0; i < n; ++i) {
        y += gapAbove(int(i));
        tops_[i] = y;
        y += rows_[i].height;
    }
    tops_[n] = y + (n > 0 ? sectionPad + listPad : 0);
}

void RowList::ensureMeasured(int index)
{
    Slot& slot = rows_[std::size_t(index)];
    if (!slot.widget) {
        slot.widget = make_ ? make_(index) : nullptr;
        if (!slot.widget)
            slot.widget = new QWidget;
        slot.widget->setParent(viewport());
        slot.widget->installEventFilter(this);
        slot.measured = false;
    }
    if (slot.measured)
        return;
    QWidget* widget = slot.widget;
    widget->ensurePolished();
    const int width = rowWidth();
    int height = widget->hasHeightForWidth() ? widget->heightForWidth(width) : -1;
    if (height < 0)
        height = widget->sizeHint().height();
    slot.height = std::max({ height, widget->minimumSizeHint().height(), 1 });
    slot.measured = true;
}

void RowList::drop(Slot& slot)
{
    if (!slot.widget)
        return;
    slot.widget->removeEventFilter(this);
    slot.widget->hide();
    slot.widget->deleteLater();
    slot.widget = nullptr;
}

void RowList::relayout()
{
    if (laying_)
        return;
    laying_ = true;
    pending_ = false;

    const int width = rowWidth();
    if (width != measuredWidth_) {
        for (Slot& slot : rows_)
            slot.measured = false;
        measuredWidth_ = width;
    }

    const int n = count();
    const int viewHeight = viewport()->height();
    QScrollBar* bar = verticalScrollBar();
    int value = bar->value();
    int first = 0;
    int last = -1;
    // Building rows changes their heights from the estimates; a few passes settle it.
    for (int pass = 0; pass < 4 && n > 0; ++pass) {
        placeTops();
        int anchor = n - 1;
        for (int i = 0; i < n; ++i) {
            if (tops_[std::size_t(i)] + rows_[std::size_t(i)].height > value) {
                anchor = i;
                break;
            }
        }
        const int intoAnchor = value - tops_[std::size_t(anchor)];

        first = anchor;
        for (int above = 0; first > 0 && above < overscan;) {
            --first;
            ensureMeasured(first);
            above += rows_[std::size_t(first)].height;
        }
        last = anchor;
        for (int i = anchor, below = -intoAnchor; i < n; ++i) {
            ensureMeasured(i);
            last = i;
            below += rows_[std::size_t(i)].height + (i > anchor ? gapAbove(i) : 0);
            if (below > viewHeight + overscan)
                break;
        }

        placeTops();
        const int maximum = std::max(0, tops_.back() - viewHeight);
        const int wanted = std::clamp(tops_[std::size_t(anchor)] + intoAnchor, 0, maximum);
        bar->setRange(0, maximum);
        bar->setPageStep(std::max(1, viewHeight));
        bar->setValue(wanted);
        const bool settled = wanted == value || (wanted == maximum && wanted >= tops_[std::size_t(first)]);
        value = wanted;
        if (settled)
            break;
    }
    if (n == 0) {
        tops_.assign(1, 0);
        bar->setRange(0, 0);
    }

    int built = 0;
    for (const Slot& slot : rows_)
        built += slot.widget ? 1 : 0;
    for (int i = 0; i < n; ++i) {
        Slot& slot = rows_[std::size_t(i)];
        if (!slot.widget)
            continue;
        if (built > keepBuilt && (i < first - dropMargin || i > last + dropMargin)) {
            drop(slot);
            --built;
            continue;
        }
        if (!slot.measured)
            ensureMeasured(i);
        const QRect place(outerInset + innerInset, tops_[std::size_t(i)] - value, width, slot.height);
        if (slot.widget->geometry() != place)
            slot.widget->setGeometry(place);
        if (slot.widget->isHidden())
            slot.widget->show();
    }
    viewport()->update();
    laying_ = false;
}

void RowList::scheduleRelayout()
{
    if (pending_)
        return;
    pending_ = true;
    QMetaObject::invokeMethod(this, &RowList::relayout, Qt::QueuedConnection);
}

void RowList::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void RowList::scrollContentsBy(int, int)
{
    if (!laying_)
        relayout();
}

void RowList::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        for (Slot& slot : rows_)
            slot.measured = false;
        scheduleRelayout();
    }
}

bool RowList::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::LayoutRequest) {
        for (Slot& slot : rows_) {
            if (slot.widget == watched) {
                // The row's content changed; its height may have too.
                slot.measured = false;
                scheduleRelayout();
                break;
            }
        }
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

void RowList::paintEvent(QPaintEvent*)
{
    const int n = count();
    if (n == 0 || tops_.size() != std::size_t(n) + 1)
        return;
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    const int value = verticalScrollBar()->value();
    const int viewHeight = viewport()->height();
    const int left = outerInset;
    const int sectionWidth = rowWidth() + 2 * innerInset;
    const QColor base = palette().color(QPalette::Base);
    const QColor line = Symbols::toneColor(Tone::quaternary, QApplication::palette());

    // Section backgrounds: each run of rows from one section start to the next.
    for (int start = 0; start < n;) {
        int end = start + 1;
        while (end < n && !rows_[std::size_t(end)].row.sectionStart)
            ++end;
        const int top = tops_[std::size_t(start)] - sectionPad - value;
        const int bottom = tops_[std::size_t(end - 1)] + rows_[std::size_t(end - 1)].height + sectionPad - value;
        if (bottom >= 0 && top <= viewHeight) {
            QPainterPath shape;
            shape.addRoundedRect(QRectF(left, top, sectionWidth, bottom - top), 8, 8);
            painter.fillPath(shape, base);
        }
        start = end;
    }

    // Separators between neighbouring rows of one section, except around headings.
    for (int i = 0; i + 1 < n; ++i) {
        const Slot& upper = rows_[std::size_t(i)];
        const Slot& lower = rows_[std::size_t(i) + 1];
        const int y = tops_[std::size_t(i) + 1] - value;
        if (y < 0)
            continue;
        if (y > viewHeight)
            break;
        if (lower.row.sectionStart || upper.row.heading || lower.row.heading)
            continue;
        painter.fillRect(QRectF(left + innerInset, y - 0.5, sectionWidth - innerInset, 1), line);
    }
}

} // namespace Quandril::App
