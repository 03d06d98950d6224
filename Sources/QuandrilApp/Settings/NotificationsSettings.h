#pragma once

// The Notifications pane: the app's own switch for notifications, one line on what the desktop
// allows (read each time the pane is made), and a permission request when the user switches
// notifications on. Answers that come after the pane has gone are dropped.

#include <optional>

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Platform/Notifier.h"
#include "QuandrilApp/Settings/SettingsForm.h"

class QCheckBox;

namespace Quandril::App {

class NotificationsSettings : public SettingsForm {
    Q_OBJECT
public:
    explicit NotificationsSettings(AppServices& services, QWidget* parent = nullptr);

    // The permission last read; absent until the first reading arrives.
    const std::optional<NotificationAuth>& authStatus() const { return authStatus_; }

    // The status line's symbol, tone and text for a permission; absent when no line is shown.
    struct StatusLine {
        QString symbol;
        Tone tone = Tone::primary;
        QString text;
    };
    static std::optional<StatusLine> statusLine(std::optional<NotificationAuth> status);

private:
    void readStatus();
    void showStatus();

    AppServices& services_;
    std::optional<NotificationAuth> authStatus_;
    QCheckBox* enabled_ = nullptr;
    SettingsSection* section_ = nullptr;
    QWidget* line_ = nullptr;
};

} // namespace Quandril::App
