#include "QuandrilApp/Look/DriveGauge.h"

#include <algorithm>

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Platform/Symbols.h"

namespace Quandril::App {

bool refreshGauges(std::span<DriveGauge* const> gauges, const std::vector<DriveInfo>& drives)
{
    const bool same = std::equal(gauges.begin(), gauges.end(), drives.begin(), drives.end(),
                                 [](const DriveGauge* gauge, const DriveInfo& drive) {
                                     return gauge->drive().path == drive.path;
                                 });
    if (!same)
        return false;
    // Only a gauge whose reading changed refreshes.
    for (std::size_t i = 0; i < drives.size(); ++i)
        if (!(gauges[i]->drive() == drives[i]))
            gauges[i]->setDrive(drives[i]);
    return true;
}

// The 8-point bar: the track, the fill by the used share, and the goal mark when there is a goal.
class DriveGauge::Bar : public QWidget {
public:
    explicit Bar(const DriveGauge& gauge)
        : QWidget(const_cast<DriveGauge*>(&gauge))
        , gauge_(gauge)
    {
        setFixedHeight(8);
        setMinimumWidth(60);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const auto& reading = gauge_.reading();
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal width = this->width();
        const qreal height = this->height();
        const auto capsule = [&](qreal w, const QColor& color) {
            QPainterPath path;
            path.addRoundedRect(QRectF(0, 0, w, height), height / 2, height / 2);
            painter.fillPath(path, color);
        };
        capsule(width, Symbols::toneColor(Tone::quaternary, palette()));
        capsule(width * reading.used, Symbols::toneColor(reading.tone, palette()));
        if (reading.goalMark)
            painter.fillRect(QRectF(DriveGaugeLogic::goalMarkOffset(*reading.goalMark, width), 0, 2, height),
                             Symbols::toneColor(Tone::primary, palette()));
    }

private:
    const DriveGauge& gauge_;
};

DriveGauge::DriveGauge(Model& model, DriveInfo drive, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , drive_(std::move(drive))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(5);

    auto* row = new QHBoxLayout;
    name_ = Look::plainLabel(QString(), this);
    Look::setTextStyle(name_, TextStyle::body, QFont::Medium);
    free_ = Look::plainLabel(QString(), this);
    Look::setTone(free_, Tone::secondary);
    row->addWidget(name_);
    row->addStretch(1);
    row->addWidget(free_);
    column->addLayout(row);

    bar_ = new Bar(*this);
    column->addWidget(bar_);

    verdict_ = Look::plainLabel(QString(), this, true);
    Look::setTextStyle(verdict_, TextStyle::caption);
    Look::setTone(verdict_, Tone::secondary);
    column->addWidget(verdict_);

    // Also after a goal or a display setting changed.
    connect(&model_, &Model::changed, this, &DriveGauge::refresh);
    refresh();
}

void DriveGauge::setDrive(DriveInfo drive)
{
    drive_ = std::move(drive);
    refresh();
}

QString DriveGauge::freeText() const
{
    return free_->text();
}

QString DriveGauge::verdictText() const
{
    return verdict_->text();
}

void DriveGauge::refresh()
{
    const auto& preferences = model_.preferences();
    const auto goal = model_.goal(drive_);
    reading_ = DriveGaugeLogic::read(drive_, goal, AppFormat::freeBytes(drive_, preferences));
    const auto bytes = [&](std::int64_t count) { return AppFormat::bytes(count, preferences); };
    name_->setText(QString::fromStdString(drive_.name));
    free_->setText(bytes(reading_.free) + QStringLiteral(" free of ") + bytes(drive_.totalBytes));
    verdict_->setText(DriveGaugeLogic::verdict(goal, reading_.shortBy, bytes));
    bar_->setProperty("tone", toneName(reading_.tone));
    bar_->update();
}

} // namespace Quandril::App
