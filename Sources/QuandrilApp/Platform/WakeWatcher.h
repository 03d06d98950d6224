#pragma once

// Tells when the computer wakes from sleep: the login manager (logind) announces
// PrepareForSleep(true) before sleeping and PrepareForSleep(false) after waking, on the system bus.

#include <QDBusConnection>
#include <QObject>

namespace Quandril::App {

// What the rest of the app listens to. Tests emit woke() on a plain instance.
class WakeWatcher : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void woke();
};

// Where there is no system bus, or no login manager on it, it stays silent.
class LogindWakeWatcher final : public WakeWatcher {
    Q_OBJECT
public:
    explicit LogindWakeWatcher(QDBusConnection bus = QDBusConnection::systemBus(), QObject* parent = nullptr);

    // Whether it listens: false where there is no bus.
    bool isWatching() const;

private slots:
    void prepareForSleep(bool sleeping);

private:
    bool watching_ = false;
};

} // namespace Quandril::App
