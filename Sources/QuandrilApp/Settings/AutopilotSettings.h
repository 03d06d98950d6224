#pragma once

// The Autopilot pane: the switch and the interval the autopilot reads at each check, and the note
// of its last run. It calls nothing on the autopilot.

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Settings/SettingsForm.h"

class QComboBox;
class QLabel;

namespace Quandril::App {

class AutopilotSettings : public SettingsForm {
    Q_OBJECT
public:
    explicit AutopilotSettings(AppServices& services, QWidget* parent = nullptr);

private:
    void showSettings();
    void showLastRun();

    AppServices& services_;
    QComboBox* interval_ = nullptr;
    SettingsSection* lastCheck_ = nullptr;
    QLabel* lastNote_ = nullptr;
};

} // namespace Quandril::App
