#pragma once

// The application delegate: the app's part in its own life cycle.
//  - Launch: asks for notification permission, registers "notificationsEnabled" = true, starts the
//    update loop (a check at once, then every 6 hours, each behind the daily gate), and half a
//    second later asks for the main window (and for Settings too when GR_OPEN_SETTINGS is "1").
//  - Opened again (a second launch): asks for the main window.
//  - Quit: only the app's own Quit ends it. A quit request from anyone else (a close of the last
//    window, a Quit event that our Quit did not send) is refused; the end of the desktop session
//    never is: the delegate vetoes no logout, and the session's signals end the app (EndOfSession).
//  - Windows it is given to place (Settings) open centred on the screen under the pointer, each
//    time they come on screen from hidden: under the tray's corner they would hang off the screen.
//  - Activation policy: a regular app while a visible, titled, unminimised window exists, a tray-only
//    accessory otherwise. Linux shows no Dock, so this is state only, kept for the design's sake.
//  - Settings that can't be saved: the first failure of the session is told in a notification,
//    with its reason (the preferences say it on stderr as well), so nobody finds them gone later.
//  - Update check: unattended once a day when the user allows it, at once when the user asks; only
//    an asked check answers with an alert.

#include <QDateTime>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Settings/UpdateCheck.h"

class QWidget;

namespace Quandril::App {

class AppSignals;
class Preferences;

enum class ActivationPolicy { regular, accessory };

class AppDelegate : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds launchFollowUpDelay { 500 };
    static constexpr std::chrono::hours updateInterval { 6 };

    // Installs the quit guard at once; nothing else happens before launch().
    AppDelegate(AppServices& services, AppSignals& appSignals, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The launch sequence; call once, after the windows and the tray exist.
    void launch();
    // The app was launched again while running: asks for the main window.
    void reopen();

    // ---- Quitting ----

    // The app's Quit ("Quit Gorrin" in the menu and the tray's power button): from now on every
    // quit request goes ahead, and this one ends the event loop.
    void quit();
    bool quitRequested() const { return quitRequested_; }
    // The desktop session is ending (it asked the app to commit its data): its Quit goes ahead.
    // Nothing is refused or held up.
    void sessionEnding();

    // ---- Activation policy ----

    ActivationPolicy activationPolicy() const { return policy_; }
    // Sets the policy from the windows now on screen.
    void updateActivationPolicy();
    // Makes the app regular, then, on the event loop's next turn, un-minimises and raises every
    // titled window called "Gorrin" (the main window); other windows are left as they are.
    void bringWindowsForward();
    // A window with a title bar: a plain window or a dialog, not frameless, popup or tool window.
    static bool isTitled(const QWidget& window);

    // ---- Placing windows ----

    // From now on `window` opens centred on the screen under the pointer.
    void centreWhenShown(QWidget& window);
    // Centres the window's frame on the screen under the pointer (the primary screen where the
    // pointer is on none), within the screen's edges.
    static void centreOnPointerScreen(QWidget& window);

    // ---- Update check ----

    // Runs one check. Unattended (`userAsked` false), it goes on only when updateCheckDue() says
    // so. When the answer comes: stores the time under "lastUpdateCheck"; a newer version's text,
    // or "" when up to date, under "availableUpdate" (a failure stores nothing there); and, only
    // when the user asked, shows the answer in an alert.
    void checkForUpdates(bool userAsked);

    // The daily gate of unattended checks: "autoCheckForUpdates" is true and "lastUpdateCheck"
    // holds no date, or one at least a day before `now`. A date more than a day after `now` (a
    // clock that was set ahead) counts as none, so daily checks don't stop for as long.
    static bool updateCheckDue(const Preferences& preferences, const QDateTime& now);

    // What the alert says about a result.
    struct AlertText {
        QString message;
        QString informative;
        // The buttons added, in order; empty for the desktop's single default button.
        QStringList buttons;
        friend bool operator==(const AlertText&, const AlertText&) = default;
    };
    static AlertText alertText(const UpdateCheck::Result& result, const QString& currentVersion);

    // The alert shown now, if any (for tests).
    QMessageBox* alert() const { return alert_; }

signals:
    void activationPolicyChanged(ActivationPolicy policy);
    // After each check's answer was recorded (and before its alert, if any, shows).
    void updateCheckFinished(const UpdateCheck::Result& result, bool userAsked);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setPolicy(ActivationPolicy policy);
    void schedulePolicyUpdate();
    void showAlert(const UpdateCheck::Result& result, const QString& currentVersion);
    void tellSaveFailure();

    AppServices& services_;
    AppSignals& appSignals_;
    bool quitRequested_ = false;
    bool sessionEnding_ = false;
    bool policyUpdateQueued_ = false;
    bool saveFailureTold_ = false;
    ActivationPolicy policy_ = ActivationPolicy::accessory;
    QTimer updateLoop_;
    QPointer<QMessageBox> alert_;
    QList<QPointer<QWidget>> centred_;
};

} // namespace Quandril::App
