#include "QuandrilApp/MainWindow/DrivesView.h"

#include <QShowEvent>
#include <QVBoxLayout>

#include "QuandrilApp/Look/DriveGauge.h"
#include "QuandrilApp/Look/GoalPicker.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Model/Model.h"

namespace Quandril::App {

DrivesView::DrivesView(AppServices& services, QWidget* parent)
    : QWidget(parent)
    , services_(services)
{
    QVBoxLayout* bodyColumn = Look::scrollingColumn(this);
    column_ = new QVBoxLayout;
    column_->setSpacing(20);
    bodyColumn->addLayout(column_);
    bodyColumn->addStretch(1);

    connect(&services_.model, &Model::statusChanged, this, &DrivesView::refresh);
    refresh();
}

void DrivesView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        services_.model.refreshStatus();
}

void DrivesView::refresh()
{
    const auto& drives = services_.model.status().drives;
    std::vector<DriveGauge*> gauges;
    for (const Card& card : cards_)
        gauges.push_back(card.gauge);
    // The same drives with new readings: the cards stay, and so does any goal being typed.
    if (refreshGauges(gauges, drives))
        return;
    for (Card& card : cards_) {
        column_->removeWidget(card.frame);
        card.frame->hide();
        card.frame->deleteLater();
    }
    cards_.clear();
    for (const DriveInfo& drive : drives) {
        Card card;
        card.frame = new App::Card;
        auto* rows = new QVBoxLayout(card.frame);
        rows->setContentsMargins(16, 16, 16, 16);
        rows->setSpacing(10);
        card.gauge = new DriveGauge(services_.model, drive, card.frame);
        rows->addWidget(card.gauge);
        card.goalPicker = new GoalPicker(services_.model, drive, card.frame);
        rows->addWidget(card.goalPicker, 0, Qt::AlignLeft);
        column_->addWidget(card.frame);
        cards_.push_back(card);
    }
}

} // namespace Quandril::App
