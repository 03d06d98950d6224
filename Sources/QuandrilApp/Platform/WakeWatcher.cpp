#include "QuandrilApp/Platform/WakeWatcher.h"

namespace Quandril::App {

LogindWakeWatcher::LogindWakeWatcher(QDBusConnection bus, QObject* parent)
    : WakeWatcher(parent)
{
    if (!bus.isConnected())
        return;
    // Listening needs no login manager yet: the match follows whoever owns the name, so a
    // login manager that starts later is heard too, and one that never does costs nothing.
    watching_ = bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                            SLOT(prepareForSleep(bool)));
}

bool LogindWakeWatcher::isWatching() const
{
    return watching_;
}

void LogindWakeWatcher::prepareForSleep(bool sleeping)
{
    if (!sleeping)
        emit woke();
}

} // namespace Quandril::App
