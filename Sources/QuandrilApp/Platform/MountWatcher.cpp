#include "QuandrilApp/Platform/MountWatcher.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Quandril::App {

namespace {

// Mount points in the table write space, tab, newline and backslash as octal escapes.
QString unescapedMountPoint(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2])
            && isOctal(field[i + 3])) {
            out += char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return QString::fromUtf8(out);
}

} // namespace

MountInfoWatcher::MountInfoWatcher(const QString& mountInfoPath, QObject* parent)
    : MountWatcher(parent)
{
    fd_ = ::open(QFile::encodeName(mountInfoPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        return;
    mounts_ = readMounts();
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Exception, this);
    connect(notifier_, &QSocketNotifier::activated, this, &MountInfoWatcher::check);
}

MountInfoWatcher::~MountInfoWatcher()
{
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

bool MountInfoWatcher::isWatching() const
{
    return fd_ >= 0;
}

void MountInfoWatcher::check()
{
    if (fd_ < 0)
        return;
    QSet<QString> now = readMounts();
    bool appeared = false;
    for (const QString& mount : std::as_const(now))
        appeared = appeared || !mounts_.contains(mount);
    mounts_ = std::move(now);
    if (appeared)
        emit mounted();
}

// Each mount is its id and its mount point: a volume mounted where another was a moment ago
// still counts as new.
QSet<QString> MountInfoWatcher::readMounts() const
{
    QByteArray table;
    char buffer[16384];
    if (::lseek(fd_, 0, SEEK_SET) != 0)
        return mounts_;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return mounts_; // A half-read table would make mounts seem to come and go.
        if (n == 0)
            break;
        table.append(buffer, n);
    }

    QSet<QString> mounts;
    for (const QByteArray& line : table.split('\n')) {
        // Fields: mount id, parent id, major:minor, root, mount point, ...
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5)
            continue;
        mounts.insert(QString::fromLatin1(fields[0]) + u' ' + unescapedMountPoint(fields[4]));
    }
    return mounts;
}

} // namespace Quandril::App
