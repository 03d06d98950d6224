#pragma once

// The Privacy pane: the no-network rule and its one exception, the daily update check.

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Settings/SettingsForm.h"

namespace Quandril::App {

class PrivacySettings : public SettingsForm {
    Q_OBJECT
public:
    explicit PrivacySettings(AppServices& services, QWidget* parent = nullptr);
};

} // namespace Quandril::App
