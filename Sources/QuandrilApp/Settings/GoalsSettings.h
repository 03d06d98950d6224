#pragma once

// The Goals pane: one section per mounted drive, each holding that drive's goal control, in the
// order the machine lists its drives. It reads the drives afresh when it is made and follows the
// drive status after that; it writes nothing itself (the goal control stores the goal).

#include <vector>

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Settings/SettingsForm.h"
#include "QuandrilCore/Values/Model.h"

namespace Quandril::App {

class GoalsSettings : public SettingsForm {
    Q_OBJECT
public:
    explicit GoalsSettings(AppServices& services, QWidget* parent = nullptr);

    // The goal control of one drive's section. Every row's control comes from here.
    static QWidget* goalControl(Model& model, const DriveInfo& drive);

private:
    void showDrives();

    AppServices& services_;
    // What the sections show: each drive's path, name and whether it is the startup drive.
    std::vector<DriveInfo> shown_;
    bool built_ = false;
    std::vector<QWidget*> parts_;
};

} // namespace Quandril::App
