#pragma once

// User notifications: posted to the desktop's notification server (org.freedesktop.Notifications
// on the session bus), or shown by the app's tray icon where no server answers. Best effort: a
// notification nobody can show is dropped without a word.

#include <QDBusConnection>
#include <QFlags>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QSystemTrayIcon;

namespace Quandril::App {

// Whether the desktop shows the app's notifications, in the raw values the settings keep.
enum class NotificationAuth {
    notDetermined = 0,
    denied = 1,
    authorized = 2,
    provisional = 3,
    ephemeral = 4,
};

class Notifier {
public:
    // What a permission request asks for, with the bit values the design gives them.
    enum class Option { badge = 0x1, sound = 0x2, alert = 0x4, provisional = 0x40 };
    Q_DECLARE_FLAGS(Options, Option)

    virtual ~Notifier() = default;

    // Shows one notification at once, with no sound. Returns before it is delivered.
    virtual void notify(const QString& title, const QString& body) = 0;

    // Asks the desktop for permission to notify, then calls `done` (when given) on the GUI thread,
    // unless `context` is gone by then. The outcome is read with readAuthorization().
    virtual void requestAuthorization(Options options, QObject* context = nullptr, std::function<void()> done = {}) = 0;

    // Reads the current permission and hands it to `done` on the GUI thread, unless `context` is
    // gone by then.
    virtual void readAuthorization(QObject* context, std::function<void(NotificationAuth)> done) = 0;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(Notifier::Options)

// The desktop's notification server, with the tray icon as the fallback.
//  - A server that answers: notifications are authorized and go to it.
//  - No server, a visible tray icon on a desktop with a tray: authorized, shown as tray messages.
//  - Neither: denied, and notifications are dropped.
class DesktopNotifier : public QObject, public Notifier {
    Q_OBJECT
public:
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    // The tray icon that shows messages when no server answers; owned elsewhere, may go away.
    void setTrayIcon(QSystemTrayIcon* icon);

    void notify(const QString& title, const QString& body) override;
    void requestAuthorization(Options options, QObject* context = nullptr, std::function<void()> done = {}) override;
    void readAuthorization(QObject* context, std::function<void(NotificationAuth)> done) override;

protected:
    virtual bool trayAvailable() const;
    virtual void showInTray(const QString& title, const QString& body);

private:
    // Calls `done` with the server's capabilities, or with none when no server answers.
    void askCapabilities(std::function<void(std::optional<QStringList>)> answer);
    void fallBack(const QString& title, const QString& body);

    QDBusConnection bus_;
    QPointer<QSystemTrayIcon> tray_;
};

} // namespace Quandril::App
