#pragma once

// The iCloud pane: the switch that lets the app read iCloud Drive's list of files. Switching it on
// starts an iCloud scan; switching it off forgets the last one.

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Settings/SettingsForm.h"

namespace Quandril::App {

class ICloudSettingsTab : public SettingsForm {
    Q_OBJECT
public:
    explicit ICloudSettingsTab(AppServices& services, QWidget* parent = nullptr);
};

} // namespace Quandril::App
