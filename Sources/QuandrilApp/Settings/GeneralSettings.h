#pragma once

// The General pane: launch at login, how the menu-bar gauge shows free space, which free-space
// count the app uses, and the units of byte amounts. The three display settings are stored; launch
// at login is the desktop's own autostart entry, read when the pane is made and after a failure.

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Settings/SettingsForm.h"

class QCheckBox;
class QLabel;

namespace Quandril::App {

class GeneralSettings : public SettingsForm {
    Q_OBJECT
public:
    explicit GeneralSettings(AppServices& services, QWidget* parent = nullptr);

private:
    void setLaunchAtLogin(bool on);

    AppServices& services_;
    QCheckBox* launchAtLogin_ = nullptr;
    QLabel* launchError_ = nullptr;
};

} // namespace Quandril::App
