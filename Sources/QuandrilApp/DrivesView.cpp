#include "QuandrilApp/DrivesView.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>

#include "QuandrilApp/DriveGauge.h"
#include "QuandrilApp/GoalPicker.h"
#include "QuandrilApp/Model.h"
#include "QuandrilApp/Platform/Symbols.h"

namespace Quandril::App {

namespace {

// A card: a faint rounded background (the quaternary fill at a quarter of its strength).
class CardFrame : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = Symbols::toneColor(u"quaternary", QApplication::palette());
        fill.setAlphaF(fill.alphaF() * 0.25f);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 10, 10);
        painter.fillPath(shape, fill);
    }
};

} // namespace

DrivesView::DrivesView(AppServices& services, QWidget* parent)
    : QWidget(parent)
    , services_(services)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);

    auto* body = new QWidget(scroll);
    auto* bodyColumn = new QVBoxLayout(body);
    bodyColumn->setContentsMargins(24, 24, 24, 24);
    column_ = new QVBoxLayout;
    column_->setSpacing(20);
    bodyColumn->addLayout(column_);
    bodyColumn->addStretch(1);
    scroll->setWidget(body);

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
    bool same = cards_.size() == drives.size();
    for (std::size_t i = 0; same && i < drives.size(); ++i)
        same = cards_[i].gauge->drive().path == drives[i].path;
    if (same) {
        // The same drives with new readings: the cards stay, and so does any goal being typed.
        for (std::size_t i = 0; i < drives.size(); ++i) {
            if (!(cards_[i].gauge->drive() == drives[i]))
                cards_[i].gauge->setDrive(drives[i]);
        }
        return;
    }
    for (Card& card : cards_) {
        column_->removeWidget(card.frame);
        card.frame->hide();
        card.frame->deleteLater();
    }
    cards_.clear();
    for (const DriveInfo& drive : drives) {
        Card card;
        card.frame = new CardFrame;
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
