#include "QuandrilApp/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace Quandril::App {

namespace {

// How long a later launch waits for the running one to accept it.
constexpr int answerMs = 2000;

} // namespace

QString SingleInstance::standardName()
{
    // The runtime folder belongs to the user alone (mode 0700), so nobody else can take the name.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/gorrin-instance");
}

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent)
    , name_(std::move(name))
{
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim()
{
    {
        QLocalSocket running;
        running.connectToServer(name_);
        if (running.waitForConnected(answerMs)) {
            // Connecting is the whole request.
            running.disconnectFromServer();
            return false;
        }
    }
    // Nobody answers: whatever is left at the name is stale.
    QLocalServer::removeServer(name_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        // Running alone unannounced is better than not running at all.
        qWarning("Gorrin: can't listen on %s: %s", qPrintable(name_), qPrintable(server_->errorString()));
        return true;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* later = server_->nextPendingConnection()) {
            later->disconnectFromServer();
            later->deleteLater();
            emit reopened();
        }
    });
    return true;
}

} // namespace Quandril::App
