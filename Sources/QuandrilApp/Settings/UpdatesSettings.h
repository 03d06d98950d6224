#pragma once

// The Updates pane: the permission for the daily check, the running version, and a check run by
// hand whose outcome shows only here (nothing is stored, nothing else is told). A check still
// running when the pane goes is dropped with it.

#include <optional>

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Settings/SettingsForm.h"
#include "QuandrilApp/Settings/UpdateCheck.h"

class QProgressBar;
class QPushButton;

namespace Quandril::App {

class UpdatesSettings : public SettingsForm {
    Q_OBJECT
public:
    explicit UpdatesSettings(AppServices& services, QWidget* parent = nullptr);

    bool checking() const { return checking_; }
    const std::optional<UpdateCheck::Result>& result() const { return result_; }

    // The running version: the app's, or "0.0.0" when it has none.
    static QString current();

private:
    void checkNow();
    void showChecking();
    void showResult();

    AppServices& services_;
    bool checking_ = false;
    std::optional<UpdateCheck::Result> result_;
    QPushButton* checkButton_ = nullptr;
    QProgressBar* spinner_ = nullptr;
    SettingsSection* section_ = nullptr;
    QWidget* resultView_ = nullptr;
};

} // namespace Quandril::App
