#include "QuandrilApp/ICloud/CloudResultsBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "QuandrilApp/ICloud/CloudResultsLogic.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::App {

namespace Logic = CloudResultsLogic;

namespace {
constexpr int maxListHeight = 120;
}

CloudResultsBar::CloudResultsBar(Model& model, QWidget* parent)
    : Band(parent)
    , model_(model)
    , summary_(Look::plainLabel(QString(), this))
    , dismiss_(Look::linkButton(QStringLiteral("Dismiss"), this))
    , scroll_(Look::scrollArea(this))
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(4);

    auto* first = new QHBoxLayout;
    Look::setTextStyle(summary_, TextStyle::headline);
    first->addWidget(summary_);
    first->addStretch(1);
    first->addWidget(dismiss_);
    column->addLayout(first);

    scroll_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
    scroll_->viewport()->setAutoFillBackground(false);
    column->addWidget(scroll_);

    connect(dismiss_, &QPushButton::clicked, this, [this] { model_.setCloudResults({}); });
    connect(&model_, &Model::cloudResultsChanged, this, &CloudResultsBar::refresh);
    connect(&model_.preferences(), &Preferences::changed, this, &CloudResultsBar::refresh);
    refresh();
}

QString CloudResultsBar::summaryText() const
{
    return summary_->text();
}

QStringList CloudResultsBar::lines() const
{
    return linesBox_ ? linesBox_->texts() : QStringList();
}

void CloudResultsBar::refresh()
{
    const auto& results = model_.cloudResults();
    summary_->setText(Logic::summaryLine(results, model_.preferences()));

    std::vector<ResultLine> shown;
    for (const CleanResult& result : results)
        shown.push_back(Logic::resultLine(result));
    linesBox_ = new ResultLines(shown);
    scroll_->setWidget(linesBox_); // the old lines go with the old widget
    linesBox_->setAutoFillBackground(false);
    fitList();
}

void CloudResultsBar::fitList()
{
    // As tall as the lines need at the present width, up to the cap; beyond it the list scrolls.
    // The bar's own width is settled before its children are laid out again.
    const QMargins margins = layout()->contentsMargins();
    const int width = this->width() - margins.left() - margins.right();
    const int needed = linesBox_->hasHeightForWidth() && width > 0 ? linesBox_->heightForWidth(width)
                                                                    : linesBox_->sizeHint().height();
    scroll_->setFixedHeight(qMin(maxListHeight, needed));
}

void CloudResultsBar::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    fitList();
}

} // namespace Quandril::App
