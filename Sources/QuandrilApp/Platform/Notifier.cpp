#include "QuandrilApp/Platform/Notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace Quandril::App {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

QDBusMessage call(const QString& method)
{
    return QDBusMessage::createMethodCall(service, path, interface, method);
}

// Servers that read markup in bodies would otherwise take "<" and "&" in our texts as tags.
QString escapedMarkup(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            out += u"&amp;";
        else if (c == u'<')
            out += u"&lt;";
        else if (c == u'>')
            out += u"&gt;";
        else
            out += c;
    }
    return out;
}

// Runs `done` only while the caller's context object lives (when the caller gave one).
template <typename... Args>
std::function<void(Args...)> guarded(QObject* context, std::function<void(Args...)> done)
{
    if (!done)
        return [](Args...) {};
    const bool hasContext = context != nullptr;
    return [hasContext, guard = QPointer<QObject>(context), done = std::move(done)](Args... args) {
        if (hasContext && !guard)
            return;
        done(args...);
    };
}

} // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus))
{
}

void DesktopNotifier::setTrayIcon(QSystemTrayIcon* icon)
{
    tray_ = icon;
}

void DesktopNotifier::askCapabilities(std::function<void(std::optional<QStringList>)> answer)
{
    if (!bus_.isConnected()) {
        QMetaObject::invokeMethod(
            this, [answer] { answer(std::nullopt); }, Qt::QueuedConnection);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [answer](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<QStringList> reply = *finished;
        if (reply.isError())
            answer(std::nullopt);
        else
            answer(reply.value());
    });
}

void DesktopNotifier::notify(const QString& title, const QString& body)
{
    askCapabilities([this, title, body](std::optional<QStringList> capabilities) {
        if (!capabilities) {
            fallBack(title, body);
            return;
        }
        QDBusMessage message = call(QStringLiteral("Notify"));
        const QVariantMap hints { { QStringLiteral("suppress-sound"), true } };
        message << QStringLiteral("Gorrin") << uint(0) << QString() << title
                << (capabilities->contains(QStringLiteral("body-markup")) ? escapedMarkup(body) : body) << QStringList()
                << hints << int(-1);
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, title, body](QDBusPendingCallWatcher* finished) {
                    finished->deleteLater();
                    if (finished->isError())
                        fallBack(title, body);
                });
    });
}

void DesktopNotifier::requestAuthorization(Options, QObject* context, std::function<void()> done)
{
    // Desktops ask nobody: showing is allowed wherever a server runs. Asking it for its
    // capabilities starts a server that the bus starts on demand.
    askCapabilities([answer = guarded(context, std::move(done))](std::optional<QStringList>) { answer(); });
}

void DesktopNotifier::readAuthorization(QObject* context, std::function<void(NotificationAuth)> done)
{
    askCapabilities([this, answer = guarded(context, std::move(done))](std::optional<QStringList> capabilities) {
        answer(capabilities || trayAvailable() ? NotificationAuth::authorized : NotificationAuth::denied);
    });
}

bool DesktopNotifier::trayAvailable() const
{
    return tray_ && tray_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void DesktopNotifier::showInTray(const QString& title, const QString& body)
{
    tray_->showMessage(title, body, tray_->icon());
}

void DesktopNotifier::fallBack(const QString& title, const QString& body)
{
    if (trayAvailable())
        showInTray(title, body);
}

} // namespace Quandril::App
