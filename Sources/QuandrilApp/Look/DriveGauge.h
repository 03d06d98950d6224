#pragma once

// One drive against its goal: its name, "<free> free of <total>", a bar of the used space with a
// mark where the goal lies, and a one-line verdict. Shown in the menu, the Overview, the Drives
// section and the free-up view. It follows the model and the display settings by itself.

#include <span>
#include <vector>

#include <QWidget>

#include "QuandrilApp/Look/DriveGaugeLogic.h"

class QLabel;

namespace Quandril::App {

class Model;

class DriveGauge : public QWidget {
    Q_OBJECT

public:
    DriveGauge(Model& model, DriveInfo drive, QWidget* parent = nullptr);

    const DriveInfo& drive() const { return drive_; }
    void setDrive(DriveInfo drive);

    // What is shown now, for tests and for the bar's painting.
    const DriveGaugeLogic::Reading& reading() const { return reading_; }
    QString freeText() const;
    QString verdictText() const;

private:
    class Bar;
    void refresh();

    Model& model_;
    DriveInfo drive_;
    DriveGaugeLogic::Reading reading_;
    QLabel* name_ = nullptr;
    QLabel* free_ = nullptr;
    Bar* bar_ = nullptr;
    QLabel* verdict_ = nullptr;
};

// When `gauges` show `drives` (the same paths in the same order), gives each gauge its drive's new
// reading and answers true; else changes nothing and answers false, and the caller builds anew.
bool refreshGauges(std::span<DriveGauge* const> gauges, const std::vector<DriveInfo>& drives);

} // namespace Quandril::App
