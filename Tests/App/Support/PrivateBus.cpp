#include "Support/PrivateBus.h"

namespace Quandril::AppTesting {

Peer::Peer(const QString& service, QObject* object, const QString& path)
    : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, service))
{
    if (object)
        serving_ = bus_.registerObject(path, object, QDBusConnection::ExportAllSlots) && bus_.registerService(service);
}

Peer::~Peer()
{
    QDBusConnection::disconnectFromBus(bus_.name());
}

uint FakeNotificationServer::Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                                    const QString& body, const QStringList& actions, const QVariantMap& hints,
                                    int timeout)
{
    received.append({ app, replaces, icon, summary, body, actions, hints, timeout });
    emit notified();
    return 1;
}

} // namespace Quandril::AppTesting
