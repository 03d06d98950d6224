#include "QuandrilApp/Settings/NotificationsSettings.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::App {

using namespace SettingsUi;

NotificationsSettings::NotificationsSettings(AppServices& services, QWidget* parent)
    : SettingsForm(parent)
    , services_(services)
{
    section_ = addSection();
    enabled_ = new QCheckBox(QStringLiteral("Let Gorrin notify me"));
    bindToggle(enabled_, services.model, QString(Keys::notificationsEnabled));
    section_->addRow(enabled_);
    section_->addRow(note(QStringLiteral("Used for autopilot's results, a low-space warning, and the weekly \"what "
                                         "grew\" note. Nothing else.")));

    // Switching on asks the desktop, then reads what it now allows; switching off only stores.
    connect(enabled_, &QCheckBox::clicked, this, [this](bool on) {
        if (on)
            services_.notifier.requestAuthorization(Notifier::Option::alert | Notifier::Option::sound, this,
                                                    [this] { readStatus(); });
    });
    readStatus();
}

std::optional<NotificationsSettings::StatusLine>
NotificationsSettings::statusLine(std::optional<NotificationAuth> status)
{
    if (!status)
        return std::nullopt;
    switch (*status) {
    case NotificationAuth::denied:
        return StatusLine { QStringLiteral("bell.slash"), Tone::orange,
                            QStringLiteral("macOS notifications are off for Gorrin. Turn them on in System Settings → "
                                           "Notifications.") };
    case NotificationAuth::authorized:
        return StatusLine { QStringLiteral("bell.badge"), Tone::secondary,
                            QStringLiteral("macOS notifications are allowed.") };
    case NotificationAuth::provisional:
        return StatusLine { QStringLiteral("bell"), Tone::secondary,
                            QStringLiteral("Delivered quietly to Notification Center. For banners, choose Allow in "
                                           "System Settings → Notifications.") };
    case NotificationAuth::notDetermined:
    case NotificationAuth::ephemeral:
        break;
    }
    return std::nullopt;
}

void NotificationsSettings::readStatus()
{
    services_.notifier.readAuthorization(this, [this](NotificationAuth status) {
        authStatus_ = status;
        showStatus();
    });
}

void NotificationsSettings::showStatus()
{
    if (line_) {
        line_->hide();
        line_->deleteLater();
        line_ = nullptr;
    }
    const auto shown = statusLine(authStatus_);
    if (!shown)
        return;
    line_ = symbolLine(shown->symbol, shown->text, TextStyle::caption, shown->tone);
    // Between the toggle and its note.
    section_->insertRow(1, line_);
}

} // namespace Quandril::App
