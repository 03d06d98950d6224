#pragma once

// Preferences on a file in a fresh temporary folder, which a test can reopen as the app would
// after a restart.

#include <memory>

#include <QTemporaryDir>

#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::AppTesting {

class TempPreferences {
public:
    TempPreferences();

    App::Preferences& operator*() const { return *preferences_; }
    App::Preferences* operator->() const { return preferences_.get(); }
    App::Preferences& get() const { return *preferences_; }

    QString folder() const { return dir_.path(); }
    QString filePath() const { return dir_.filePath(QStringLiteral("preferences.json")); }

    // A new Preferences on the same file, as after a restart. Registered defaults are gone.
    App::Preferences& reopen();

private:
    QTemporaryDir dir_;
    std::unique_ptr<App::Preferences> preferences_;
};

} // namespace Quandril::AppTesting
