#include "QuandrilApp/Look/ResultsBand.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
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
    // As tall as the lines wrapped to the list's width, up to `maxShownLines` lines of text;
    // beyond that they scroll. Measured at the width without a scroll bar, so a bar coming or
    // going never changes the answer.
    const int width = scroll_->contentsRect().width();
    const int needed = width > 0 && linesBox_->hasHeightForWidth() ? linesBox_->heightForWidth(width)
                                                                   : linesBox_->sizeHint().height();
    const auto labels = linesBox_->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
    int cap = needed;
    if (!labels.isEmpty()) {
        // A line of text as the labels measure it, at a width that needs no wrapping.
        const QLabel& first = *labels.front();
        const int line = first.heightForWidth(QWIDGETSIZE_MAX);
        const int spacing = linesBox_->layout()->spacing();
        cap = maxShownLines * (line + spacing) - spacing;
    }
    scroll_->setFixedHeight(qMin(needed, cap));
}

} // namespace Quandril::App
