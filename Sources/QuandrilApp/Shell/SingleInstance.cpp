#include "QuandrilApp/Shell/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace Quandril::App {

namespace {

// How long a later launch waits for the running one to accept it.
constexpr int answerMs = 2000;
// How long a launch waits for another one to finish its own look at the name.
constexpr int lockWaitMs = 5000;

// Held while a launch looks for a running Gorrin and, finding none, starts listening, so two
// launches at once can't both find nobody. Released when it goes.
class ClaimLock {
public:
    explicit ClaimLock(const QString& path)
    {
        // O_NOFOLLOW: a link put in the lock's place must not make us create or lock its target.
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
        if (fd_ < 0) {
            qWarning("Gorrin: can't open %s: %s", qPrintable(path), qPrintable(qt_error_string(errno)));
            return;
        }
        // Never wait for good: a launch stuck while holding it must not keep every later one out.
        const QDeadlineTimer deadline(lockWaitMs);
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired()) {
                qWarning("Gorrin: can't lock %s: %s", qPrintable(path), qPrintable(qt_error_string(errno)));
                return;
            }
            QThread::msleep(20);
        }
    }
    ~ClaimLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ClaimLock(const ClaimLock&) = delete;
    ClaimLock& operator=(const ClaimLock&) = delete;

private:
    int fd_ = -1;
};

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
    // Beside the socket, in the same private folder; a bare name lives where Qt puts such sockets.
    const QString socketPath = QDir::isAbsolutePath(name_) ? name_ : QDir::temp().filePath(name_);
    // Unlocked on every return; by then this launch listens or has handed over.
    const ClaimLock lock(socketPath + QStringLiteral(".lock"));
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
