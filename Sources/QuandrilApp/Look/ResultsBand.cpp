#include "QuandrilApp/Look/ResultsBand.h"

#include <utility>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace Quandril::App {

ResultsBand::ResultsBand(QWidget* parent)
    : Band(parent)
    , title_(Look::plainLabel(QString(), this))
    , dismiss_(Look::linkButton(QStringLiteral("Dismiss"), this))
    , body_(new QVBoxLayout)
    , scroll_(Look::scrollArea(this))
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(4);

    auto* header = new QHBoxLayout;
    Look::setTextStyle(title_, TextStyle::headline);
    header->addWidget(title_);
    header->addStretch(1);
    header->addWidget(dismiss_);
    column->addLayout(header);
    body_->setContentsMargins(0, 0, 0, 0);
    body_->setSpacing(4);
    column->addLayout(body_);
    scroll_->viewport()->setAutoFillBackground(false);
    column->addWidget(scroll_);
    setLines({});
}

void ResultsBand::setTitle(const QString& title)
{
    title_->setText(title);
}

QString ResultsBand::title() const
{
    return title_->text();
}

QStringList ResultsBand::lines() const
{
    return linesBox_->texts();
}

void ResultsBand::setLines(const std::vector<ResultLine>& lines)
{
    linesBox_ = new ResultLines(lines);
    scroll_->setWidget(linesBox_); // the old lines go with the old widget
    linesBox_->setAutoFillBackground(false);

    fitListHeight();
}

void ResultsBand::resizeEvent(QResizeEvent* event)
{
    Band::resizeEvent(event);
    fitListHeight();
}

void ResultsBand::fitListHeight()
{
    // As tall as the lines wrapped to the list's width, up to `maxShownLines` lines of text; beyond
    // that they scroll, and the list ends between two lines of text, never across one. Lines that
    // scroll are measured at the width the scroll bar leaves them.
    const int width = scroll_->contentsRect().width();
    const auto labels = linesBox_->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
    if (width <= 0 || labels.isEmpty()) {
        scroll_->setFixedHeight(width > 0 && linesBox_->hasHeightForWidth() ? linesBox_->heightForWidth(width)
                                                                            : linesBox_->sizeHint().height());
        return;
    }
    const int spacing = linesBox_->layout()->spacing();
    // The height of the first `maxShownLines` lines of text at `at`, and whether more follow.
    const auto shown = [&](int at) {
        int height = 0;
        int left = maxShownLines;
        for (const QLabel* label : labels) {
            if (left == 0)
                return std::pair { height, true };
            // A line of text as the label measures it, at a width that needs no wrapping.
            const int line = qMax(1, label->heightForWidth(QWIDGETSIZE_MAX));
            const int whole = label->heightForWidth(at);
            const int lines = qMax(1, (whole + line / 2) / line);
            height += (height > 0 ? spacing : 0) + (lines <= left ? whole : left * line);
            if (lines > left)
                return std::pair { height, true };
            left -= lines;
        }
        return std::pair { height, false };
    };
    auto [height, more] = shown(width);
    if (more)
        height = shown(width - scroll_->verticalScrollBar()->sizeHint().width()).first;
    scroll_->setFixedHeight(height);
}

} // namespace Quandril::App
