#pragma once

// Desktop services of a test's own on the private session bus that *BusTests run on: a
// connection of its own for each service, and a notification server that keeps what it gets.

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

namespace Quandril::AppTesting {

// A connection of its own to the private bus, serving `object` under `service` when given.
class Peer {
public:
    explicit Peer(const QString& service, QObject* object = nullptr, const QString& path = {});
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool serving() const { return serving_; }
    QDBusConnection& bus() { return bus_; }

private:
    QDBusConnection bus_;
    bool serving_ = false;
};

// org.freedesktop.Notifications, answering GetCapabilities with `capabilities` and keeping every
// Notify call's arguments in order.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList capabilities;
    QList<QVariantList> received;
signals:
    void notified();
public slots:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int timeout);
};

} // namespace Quandril::AppTesting
