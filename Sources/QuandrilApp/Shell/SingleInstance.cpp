#include "QuandrilApp/Shell/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "QuandrilApp/Platform/AppFolders.h"
#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Platform/LaunchEnvironment.h"
#include "QuandrilApp/Platform/LocalFile.h"
#include "QuandrilCore/Platform/AtPath.h"

namespace Quandril::App {

using Platform::Descriptor;

namespace {

// How long a later launch waits to be let in by a listener whose queue of callers is full.
constexpr int connectMs = 2000;
// How long the running one waits for a caller's line; well within a later launch's patience, so a
// silent caller can't make a real one give up.
constexpr int greetingMs = 500;
// How long a launch waits for another one to finish its own look at the name.
constexpr int lockWaitMs = 5000;
// How long a launch waits for one holding the meeting point to finish its look at its own name
// (which may wait for that name's lock and for an answer there).
constexpr int meetingWaitMs = lockWaitMs + 2 * connectMs;
// A launch of ours listens at the meeting point as soon as it has bound it: a name bound there that
// still takes no calls a moment later is someone else's.
constexpr int boundOnlyRetryMs = 200;
// The greeting: a later launch's line, and the running Gorrin's answer.
constexpr std::string_view request = "gorrin 1: open again\n";
constexpr std::string_view answer = "gorrin 1: opening\n";
constexpr std::size_t maxLine = 64;

bool sameUser(int socket)
{
    struct ucred peer {};
    socklen_t size = sizeof peer;
    return ::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

struct Address {
    sockaddr_un value {};
    socklen_t size = 0;

    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&value); }
};

// A socket's path in the file system.
std::optional<Address> address(const QByteArray& path)
{
    Address out;
    out.value.sun_family = AF_UNIX;
    if (path.isEmpty() || static_cast<std::size_t>(path.size()) >= sizeof out.value.sun_path)
        return std::nullopt;
    std::memcpy(out.value.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    out.size = sizeof out.value;
    return out;
}

// A name in the abstract namespace: no file anywhere, so no folder of anyone's decides where it
// is, and the kernel frees it with the last socket bound to it.
std::optional<Address> abstractAddress(const QByteArray& name)
{
    Address out;
    out.value.sun_family = AF_UNIX;
    if (name.isEmpty() || static_cast<std::size_t>(name.size()) >= sizeof out.value.sun_path)
        return std::nullopt;
    std::memcpy(out.value.sun_path + 1, name.constData(), static_cast<std::size_t>(name.size()));
    out.size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<std::size_t>(name.size()));
    return out;
}

// Whether `fd` is ready for `events` before the deadline, and `wake` (when given) stays quiet.
bool ready(int fd, short events, const QDeadlineTimer& deadline, int wake = -1)
{
    for (;;) {
        pollfd fds[2] = { { fd, events, 0 }, { wake, POLLIN, 0 } };
        const int count = ::poll(fds, wake >= 0 ? 2 : 1, static_cast<int>(deadline.remainingTime()));
        if (count < 0 && errno == EINTR)
            continue;
        return count > 0 && fds[0].revents != 0 && fds[1].revents == 0;
    }
}

// One line of a few bytes, whole, before the deadline.
std::optional<std::string> readLine(int fd, const QDeadlineTimer& deadline, int wake = -1)
{
    std::string line;
    char buffer[maxLine];
    while (line.size() < maxLine && ready(fd, POLLIN, deadline, wake)) {
        const ssize_t count = ::read(fd, buffer, maxLine - line.size());
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count <= 0)
            return std::nullopt;
        line.append(buffer, static_cast<std::size_t>(count));
        if (line.back() == '\n')
            return line;
    }
    return std::nullopt;
}

bool sendAll(int fd, std::string_view text, const QDeadlineTimer& deadline)
{
    while (!text.empty()) {
        const ssize_t count = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (count > 0)
            text.remove_prefix(static_cast<std::size_t>(count));
        else if ((errno != EINTR && errno != EAGAIN) || !ready(fd, POLLOUT, deadline))
            return false;
    }
    return true;
}

enum class Reply {
    nobody,  // nothing listens there
    opening, // a Gorrin of this user, asked to open again
    silent,  // a listener of this user that didn't answer in time: a Gorrin, frozen or stopped
    gone,    // a listener of this user that hung up without answering: a Gorrin on its way out
    other,   // someone else's listener, one that said something else, or one too busy to let us in
};

// Greets whoever listens at `to`. A listener of this user is given `patienceMs` to answer: its
// answers come from a thread of their own, so only a process that isn't running at all is silent
// that long, and it is a Gorrin all the same.
Reply knock(const Address& to, int patienceMs)
{
    const Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket)
        return Reply::other;
    const QDeadlineTimer letIn(connectMs);
    while (::connect(socket.get(), to.get(), to.size) != 0 && errno != EISCONN) {
        if (errno == ECONNREFUSED || errno == ENOENT)
            return Reply::nobody;
        // A full backlog answers EAGAIN: the listener may yet take us.
        if ((errno != EAGAIN && errno != EINTR) || letIn.hasExpired())
            return Reply::other;
        QThread::msleep(20);
    }
    if (!sameUser(socket.get()))
        return Reply::other;
    const QDeadlineTimer deadline(patienceMs);
    if (!sendAll(socket.get(), request, deadline))
        return deadline.hasExpired() ? Reply::silent : Reply::gone;
    const auto line = readLine(socket.get(), deadline);
    if (!line)
        return deadline.hasExpired() ? Reply::silent : Reply::gone;
    return *line == answer ? Reply::opening : Reply::other;
}

// Who listens at the socket. Only a socket of ours itself counts: a link there is never followed,
// whatever it leads to, and anything else is stale (nobody). A Gorrin on its way out is given a few
// moments to be gone.
Reply askRunning(const QByteArray& path, int patienceMs)
{
    const QDeadlineTimer deadline(lockWaitMs);
    for (;;) {
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0 || !S_ISSOCK(info.st_mode) || info.st_uid != ::geteuid())
            return Reply::nobody;
        const auto to = address(path);
        const Reply reply = to ? knock(*to, patienceMs) : Reply::nobody;
        if (reply != Reply::gone)
            return reply;
        if (deadline.hasExpired())
            return Reply::other;
        QThread::msleep(20);
    }
}

enum class Meeting {
    taken,        // bound and listening here; answered once the listener runs
    handedOver,   // a Gorrin of this user holds it and has been asked to open again
    notAnswering, // a Gorrin of this user holds it and doesn't answer
    unavailable,
};

// Takes the meeting point, unless a Gorrin of this user holds it already. Binding is atomic, so
// of launches at once exactly one takes it, and it listens at once: the others' calls wait in its
// queue while it looks at its own socket's name, and are answered once it stays (or find it gone
// and try again). A name that is bound but takes no calls is someone else's: after one short look
// again it is given up, rather than holding up every launch.
Meeting meet(const Address& at, Descriptor& taken, int patienceMs)
{
    const QDeadlineTimer deadline(meetingWaitMs);
    bool lookedAgain = false;
    for (;;) {
        Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!socket)
            return Meeting::unavailable;
        if (::bind(socket.get(), at.get(), at.size) == 0) {
            if (::listen(socket.get(), 16) != 0)
                return Meeting::unavailable;
            taken = std::move(socket);
            return Meeting::taken;
        }
        if (errno != EADDRINUSE)
            return Meeting::unavailable;
        switch (knock(at, patienceMs)) {
        case Reply::opening:
            return Meeting::handedOver;
        case Reply::silent:
            return Meeting::notAnswering;
        case Reply::other:
            return Meeting::unavailable;
        case Reply::nobody:
            if (lookedAgain)
                return Meeting::unavailable;
            lookedAgain = true;
            QThread::msleep(boundOnlyRetryMs);
            continue;
        case Reply::gone:
            break;
        }
        if (deadline.hasExpired())
            return Meeting::unavailable;
        QThread::msleep(20);
    }
}

void warnNotAnswering(const QString& where)
{
    qWarning("Gorrin: Gorrin is already running (at %s) but isn't answering; leaving it be rather than "
             "starting a second one",
             qPrintable(where));
}

// Frees the name from a stale entry: a socket or a link holds nothing and goes; anything else is
// moved aside, so nothing anyone kept there is lost.
bool clear(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(encoded.constData(), &info) != 0)
        return errno == ENOENT;
    if (S_ISSOCK(info.st_mode) || S_ISLNK(info.st_mode))
        return ::unlink(encoded.constData()) == 0 || errno == ENOENT;
    if (const auto failure = LocalFile::keepAside(path, u".stale")) {
        qWarning("Gorrin: can't move %s aside: %s", qPrintable(path), qPrintable(*failure));
        return false;
    }
    return true;
}

// Never waits for good: a launch stuck while holding a lock must not keep every later one out.
bool lockWithin(int fd, const QString& path)
{
    const QDeadlineTimer deadline(lockWaitMs);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired()) {
            qWarning("Gorrin: can't lock %s: %s", qPrintable(path), qPrintable(qt_error_string(errno)));
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

// Held while a launch looks for a running Gorrin and, finding none, starts listening, so two
// launches at once can't both find nobody. Released when it goes.
class ClaimLock {
public:
    explicit ClaimLock(const QString& path)
    {
        // O_NOFOLLOW: a link put in the lock's place must not make us create or lock its target.
        const auto open = [&] {
            return Descriptor(::open(QFile::encodeName(path).constData(),
                                     O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
        };
        // What the name holds is no lock of ours: a link, a folder, a socket or the like.
        const auto foundStale = [] { return errno == ELOOP || errno == EISDIR || errno == ENXIO; };
        fd_ = open();
        if (!fd_ && foundStale()) {
            // Two launches may both find a stale entry at the name. They clear it one at a time,
            // holding the folder, so the second finds the first's fresh lock and never moves it aside.
            const QString folder = QFileInfo(path).path();
            const Descriptor held(
                ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (held && lockWithin(held.get(), folder)) {
                fd_ = open();
                if (!fd_ && foundStale() && clear(path))
                    fd_ = open();
            }
        }
        if (!fd_) {
            qWarning("Gorrin: can't open %s: %s", qPrintable(path), qPrintable(qt_error_string(errno)));
            return;
        }
        lockWithin(fd_.get(), path);
    }

private:
    Descriptor fd_;
};

} // namespace

// Accepts later launches on a thread of its own and tells the owner on its thread.
class SingleInstance::Listener {
public:
    // `path`: where the first of `sockets` is bound in the file system; empty when none is.
    Listener(std::vector<Descriptor> sockets, QByteArray path, SingleInstance* owner)
        : sockets_(std::move(sockets))
        , path_(std::move(path))
        , owner_(owner)
    {
        if (!path_.isEmpty())
            ::lstat(path_.constData(), &bound_);
        int ends[2] = { -1, -1 };
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
            wake_ = Descriptor(ends[0]);
            wakeUp_ = Descriptor(ends[1]);
            thread_ = std::thread([this] { run(); });
        }
    }

    ~Listener()
    {
        if (thread_.joinable()) {
            (void)!::write(wakeUp_.get(), "", 1);
            thread_.join();
        }
        // The name goes with us, unless something else stands there by now.
        struct stat now {};
        if (!path_.isEmpty() && ::lstat(path_.constData(), &now) == 0 && now.st_dev == bound_.st_dev
            && now.st_ino == bound_.st_ino)
            ::unlink(path_.constData());
    }

    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

private:
    void run()
    {
        std::vector<pollfd> fds;
        for (const Descriptor& socket : sockets_)
            fds.push_back({ socket.get(), POLLIN, 0 });
        fds.push_back({ wake_.get(), POLLIN, 0 });
        for (;;) {
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds.back().revents != 0)
                return;
            for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
                if (fds[i].revents != 0)
                    answerOne(fds[i].fd);
            }
        }
    }

    void answerOne(int listening)
    {
        const Descriptor caller(::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!caller) {
            // Out of descriptors or memory: don't spin on a listener that stays ready.
            if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED)
                QThread::msleep(100);
            return;
        }
        const QDeadlineTimer deadline(greetingMs);
        if (sameUser(caller.get()) && readLine(caller.get(), deadline, wake_.get()) == request
            && sendAll(caller.get(), answer, deadline))
            QMetaObject::invokeMethod(
                owner_, [owner = owner_] { emit owner->reopened(); }, Qt::QueuedConnection);
    }

    std::vector<Descriptor> sockets_;
    QByteArray path_;
    struct stat bound_ {};
    SingleInstance* owner_;
    Descriptor wake_, wakeUp_;
    std::thread thread_;
};

QString SingleInstance::privateFolder(const QList<Place>& places, const QString& socketName)
{
    for (const Place& place : places) {
        const QString folder = QDir::cleanPath(place.folder);
        const QByteArray path = QFile::encodeName(folder);
        if (!LaunchEnvironment::isPlainAbsolute(QFile::encodeName(place.folder).toStdString())
            || folder == QLatin1String("/") || !address(path + '/' + QFile::encodeName(socketName)))
            continue;
        if (place.make && ::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
            continue;
        // Whoever else could write here could put their own listener in our place.
        if (LaunchEnvironment::isPrivateFolder(path.constData()))
            return folder;
    }
    return {};
}

QString SingleInstance::standardName()
{
    const QString socketName = QStringLiteral("gorrin-instance");
    const QByteArray temporary = qgetenv("TMPDIR");
    const QString temporaryFolder = LaunchEnvironment::isTemporaryFolder(temporary.constData())
        ? QFile::decodeName(temporary)
        : QStringLiteral("/tmp");
    QList<Place> places { { qEnvironmentVariable("XDG_RUNTIME_DIR"), false },
                          { temporaryFolder + QStringLiteral("/gorrin-") + QString::number(::geteuid()) } };
    if (const QString configHome = AppFolders::configHome(); !configHome.isEmpty())
        places.append({ configHome + QLatin1Char('/') + AppInfo::name() });
    const QString folder = privateFolder(places, socketName);
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + socketName;
}

QString SingleInstance::standardMeetingPoint()
{
    // Launches over one config folder share the preferences, whatever else their environments
    // say: they must find each other. Launches over another one (another home) stand apart.
    QString settings = AppFolders::configHome();
    if (const QString real = QFileInfo(settings).canonicalFilePath(); !real.isEmpty())
        settings = real;
    const QByteArray digest
        = QCryptographicHash::hash(QFile::encodeName(settings), QCryptographicHash::Sha256).toHex().left(32);
    return QStringLiteral("gorrin-%1-%2").arg(::geteuid()).arg(QString::fromLatin1(digest));
}

SingleInstance::SingleInstance(QString name, QString meetingPoint, QObject* parent)
    : QObject(parent)
    , name_(std::move(name))
    , meetingPoint_(std::move(meetingPoint))
{
}

SingleInstance::~SingleInstance() = default;

void SingleInstance::setPatience(int milliseconds)
{
    patienceMs_ = milliseconds;
}

bool SingleInstance::claim()
{
    // Held from here to the end, so launches of this user meet here first, whatever their
    // folders; then the socket's own name is looked at too, where a Gorrin that couldn't take the
    // meeting point listens.
    Descriptor meeting;
    if (!meetingPoint_.isEmpty()) {
        const auto at = abstractAddress(QFile::encodeName(meetingPoint_));
        switch (at ? meet(*at, meeting, patienceMs_) : Meeting::unavailable) {
        case Meeting::handedOver:
            return false;
        case Meeting::notAnswering:
            warnNotAnswering(QStringLiteral("the meeting point ") + meetingPoint_);
            return false;
        case Meeting::taken:
            break;
        case Meeting::unavailable:
            qWarning("Gorrin: can't take the meeting point %s; launches from elsewhere may not find this one",
                     qPrintable(meetingPoint_));
            break;
        }
    }
    std::vector<Descriptor> sockets;
    QByteArray bound;
    std::optional<ClaimLock> lock;
    if (QDir::isAbsolutePath(name_)) {
        const QByteArray path = QFile::encodeName(name_);
        // Unlocked on every return; by then this launch listens or has handed over.
        lock.emplace(name_ + QStringLiteral(".lock"));
        switch (askRunning(path, patienceMs_)) {
        case Reply::opening:
            return false;
        case Reply::silent:
            warnNotAnswering(name_);
            return false;
        case Reply::other:
        case Reply::gone:
            // A live listener's socket is never taken from it.
            qWarning("Gorrin: something else listens on %s; launches from here won't find this one", qPrintable(name_));
            break;
        case Reply::nobody: {
            // Nobody listens: whatever is left at the name is stale.
            const auto to = address(path);
            Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            if (to && socket && clear(name_) && ::bind(socket.get(), to->get(), to->size) == 0
                && ::listen(socket.get(), 16) == 0) {
                sockets.push_back(std::move(socket));
                bound = path;
            } else {
                qWarning("Gorrin: can't listen on %s: %s", qPrintable(name_),
                         to ? qPrintable(qt_error_string(errno)) : "the name is too long");
            }
            break;
        }
        }
    }
    if (meeting)
        sockets.push_back(std::move(meeting));
    // Running alone unannounced is better than not running at all.
    if (sockets.empty()) {
        qWarning("Gorrin: nowhere to listen for other launches; they won't find this one");
        return true;
    }
    listener_ = std::make_unique<Listener>(std::move(sockets), bound, this);
    return true;
}

} // namespace Quandril::App
