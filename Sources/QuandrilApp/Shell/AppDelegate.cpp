#include "QuandrilApp/Shell/AppDelegate.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QWidget>
#include <QWindow>

#include <algorithm>

#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Platform/Notifier.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Platform/UrlOpener.h"
#include "QuandrilApp/Shell/AppSignals.h"

namespace Quandril::App {

namespace {

constexpr qint64 dayMs = 86'400'000;

QDateTime now(const AppServices& services)
{
    return toDateTime(services.model.clock()->now());
}

} // namespace

AppDelegate::AppDelegate(AppServices& services, AppSignals& appSignals, QObject* parent)
    : QObject(parent)
    , services_(services)
    , appSignals_(appSignals)
{
    // The guard and the window observers see every event of the application.
    qApp->installEventFilter(this);
    // Closing the last window leaves the app in the tray.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // A logout asks every app to commit its data, then sends it a Quit: let that one through and
    // veto nothing (the session manager is never told to cancel).
    connect(
        qGuiApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { sessionEnding(); },
        Qt::DirectConnection);

    updateLoop_.setInterval(updateInterval);
    connect(&updateLoop_, &QTimer::timeout, this, [this] { checkForUpdates(false); });
}

AppDelegate::~AppDelegate()
{
    if (qApp)
        qApp->removeEventFilter(this);
    if (alert_)
        delete alert_.data();
}

void AppDelegate::launch()
{
    // Automatic and sudden termination by the system have no counterpart here: nothing to switch off.
    QTimer::singleShot(launchFollowUpDelay, Qt::PreciseTimer, this, [this] {
        emit appSignals_.showWindow();
        if (qEnvironmentVariable("GR_OPEN_SETTINGS") == QLatin1String("1"))
            emit appSignals_.showSettings();
    });
    schedulePolicyUpdate();
    services_.notifier.requestAuthorization(Notifier::Option::alert | Notifier::Option::sound
                                            | Notifier::Option::provisional);
    for (const Keys::Default& entry : Keys::registeredAtLaunch)
        services_.preferences.registerDefault(entry);
    checkForUpdates(false);
    updateLoop_.start();
    // Told once the tray is there to show it; a save may have failed before.
    connect(&services_.preferences, &Preferences::saveFailed, this, &AppDelegate::tellSaveFailure);
    tellSaveFailure();
}

void AppDelegate::tellSaveFailure()
{
    const std::optional<QString>& failure = services_.preferences.saveFailure();
    if (!failure || saveFailureTold_)
        return;
    saveFailureTold_ = true;
    services_.notifier.notify(QStringLiteral("Gorrin couldn't save your settings"),
                              *failure + QStringLiteral(". Changes made now last only until Gorrin quits."));
}

void AppDelegate::reopen()
{
    emit appSignals_.showWindow();
}

// ---- Quitting ----

void AppDelegate::quit()
{
    quitRequested_ = true;
    QCoreApplication::quit();
}

void AppDelegate::sessionEnding()
{
    sessionEnding_ = true;
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Quit && watched == qApp && !quitRequested_ && !sessionEnding_) {
        // Refused: the app goes on in the tray and says nothing.
        event->ignore();
        return true;
    }
    if (centred_.contains(watched)) {
        // Also when the window fits itself to what it shows while it comes on (before it is exposed).
        auto* window = static_cast<QWidget*>(watched);
        const bool coming = window->isVisible() && window->windowHandle() && !window->windowHandle()->isExposed();
        if ((type == QEvent::Show && !event->spontaneous()) || (type == QEvent::Resize && coming))
            centreOnPointerScreen(*window);
    }
    switch (type) {
    case QEvent::WindowActivate:
    case QEvent::WindowStateChange:
    case QEvent::Close:
    case QEvent::Show:
    case QEvent::Hide:
        if (watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())
            schedulePolicyUpdate();
        break;
    default:
        break;
    }
    return false;
}

// ---- Activation policy ----

bool AppDelegate::isTitled(const QWidget& window)
{
    if (!window.isWindow())
        return false;
    const Qt::WindowType type = window.windowType();
    return (type == Qt::Window || type == Qt::Dialog) && !window.windowFlags().testFlag(Qt::FramelessWindowHint);
}

void AppDelegate::schedulePolicyUpdate()
{
    // Worked out once the event in hand has been handled, never inside it.
    if (policyUpdateQueued_)
        return;
    policyUpdateQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            policyUpdateQueued_ = false;
            updateActivationPolicy();
        },
        Qt::QueuedConnection);
}

void AppDelegate::updateActivationPolicy()
{
    bool shown = false;
    for (const QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && !window->isMinimized() && isTitled(*window)) {
            shown = true;
            break;
        }
    setPolicy(shown ? ActivationPolicy::regular : ActivationPolicy::accessory);
}

void AppDelegate::setPolicy(ActivationPolicy policy)
{
    if (policy_ == policy)
        return;
    policy_ = policy;
    emit activationPolicyChanged(policy);
}

void AppDelegate::bringWindowsForward()
{
    setPolicy(ActivationPolicy::regular);
    // After the caller's own work, which has just asked for the main window.
    QMetaObject::invokeMethod(
        this,
        [] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (!isTitled(*window) || window->windowTitle() != AppInfo::name())
                    continue;
                window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
                window->show();
                window->raise();
                window->activateWindow();
            }
        },
        Qt::QueuedConnection);
}

// ---- Placing windows ----

void AppDelegate::centreWhenShown(QWidget& window)
{
    centred_.append(&window);
}

void AppDelegate::centreOnPointerScreen(QWidget& window)
{
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect room = screen->availableGeometry();
    // Until the window has been on screen its frame is unknown: the window's own rectangle stands in.
    const QRect inner = window.geometry();
    QRect frame = window.frameGeometry();
    frame.moveCenter(room.center());
    frame.moveTopLeft(QPoint(std::max(frame.left(), room.left()), std::max(frame.top(), room.top())));
    // Placed by its own rectangle, not its frame: a window manager may read a frame's place in more
    // than one way while the frame comes on.
    window.setGeometry(QRect(frame.topLeft() + (inner.topLeft() - window.frameGeometry().topLeft()), inner.size()));
}

// ---- Update check ----

bool AppDelegate::updateCheckDue(const Preferences& preferences, const QDateTime& now)
{
    if (!preferences.booleanValue(QString(Keys::autoCheckForUpdates)))
        return false;
    const std::optional<QDateTime> last = preferences.date(QString(Keys::lastUpdateCheck));
    if (!last)
        return true;
    const qint64 age = last->msecsTo(now);
    return age >= dayMs || age < -dayMs;
}

void AppDelegate::checkForUpdates(bool userAsked)
{
    if (!userAsked && !updateCheckDue(services_.preferences, now(services_)))
        return;
    const QString current = AppInfo::version();
    UpdateCheck::run(current, services_.updates, this, [this, userAsked, current](const UpdateCheck::Result& result) {
        Preferences& preferences = services_.preferences;
        preferences.setDate(QString(Keys::lastUpdateCheck), now(services_));
        if (result.kind == UpdateCheck::Result::Kind::newer)
            preferences.setString(QString(Keys::availableUpdate), result.version);
        else if (result.kind == UpdateCheck::Result::Kind::upToDate)
            preferences.setString(QString(Keys::availableUpdate), QString());
        emit updateCheckFinished(result, userAsked);
        if (userAsked)
            showAlert(result, current);
    });
}

AppDelegate::AlertText AppDelegate::alertText(const UpdateCheck::Result& result, const QString& currentVersion)
{
    using Kind = UpdateCheck::Result::Kind;
    switch (result.kind) {
    case Kind::newer:
        return { QStringLiteral("Gorrin %1 is available.").arg(result.version),
                 result.notes ? *result.notes : QStringLiteral("You have %1.").arg(currentVersion),
                 { QStringLiteral("Download"), QStringLiteral("Later") } };
    case Kind::upToDate:
        return { QStringLiteral("You're up to date."),
                 QStringLiteral("Gorrin %1 is the newest version.").arg(currentVersion),
                 {} };
    case Kind::failed:
        return { QStringLiteral("Couldn't check for updates."), result.message, {} };
    }
    return {};
}

void AppDelegate::showAlert(const UpdateCheck::Result& result, const QString& currentVersion)
{
    const AlertText text = alertText(result, currentVersion);
    auto* box = new QMessageBox;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Information);
    // Versions, notes and messages come from the network: shown as written, never as markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(text.message);
    box->setInformativeText(text.informative);
    for (QLabel* label : box->findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
        label->setOpenExternalLinks(false);
    }
    if (text.buttons.isEmpty()) {
        box->setStandardButtons(QMessageBox::Ok);
    } else {
        QPushButton* download = box->addButton(text.buttons.at(0), QMessageBox::AcceptRole);
        box->addButton(text.buttons.at(1), QMessageBox::RejectRole);
        box->setDefaultButton(download);
        const QUrl page = result.url;
        connect(box, &QMessageBox::buttonClicked, this, [this, download, page](QAbstractButton* clicked) {
            if (clicked == download)
                services_.urls.open(page);
        });
    }
    box->setWindowModality(Qt::ApplicationModal);
    alert_ = box;
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace Quandril::App
