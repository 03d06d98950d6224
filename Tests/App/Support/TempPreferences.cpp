#include "Support/TempPreferences.h"

namespace Quandril::AppTesting {

TempPreferences::TempPreferences()
    : preferences_(std::make_unique<App::Preferences>(filePath()))
{
}

App::Preferences& TempPreferences::reopen()
{
    preferences_.reset();
    preferences_ = std::make_unique<App::Preferences>(filePath());
    return *preferences_;
}

} // namespace Quandril::AppTesting
