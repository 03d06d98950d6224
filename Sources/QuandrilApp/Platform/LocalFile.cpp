#include "QuandrilApp/Platform/LocalFile.h"

#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/Files.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Quandril::App::LocalFile {

namespace {

QString errorText(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

} // namespace

std::optional<QByteArray> read(const QString& path, qint64 maxBytes, Links links, int* error)
{
    Platform::ReadLimits limits;
    limits.maxBytes = static_cast<std::size_t>(std::max<qint64>(maxBytes, 0));
    limits.followLink = links == Links::follow;
    const auto content = Platform::readFile(QFile::encodeName(path).toStdString(), error, limits);
    if (!content)
        return std::nullopt;
    return QByteArray(content->data(), static_cast<qsizetype>(content->size()));
}

std::optional<QString> replace(const QString& path, const QByteArray& bytes)
{
    const QFileInfo info(path);
    const QByteArray target = QFile::encodeName(path);
    // Hidden and beside the path: the rename stays within one file system and one folder.
    QByteArray temporary = QFile::encodeName(info.path() + QStringLiteral("/.") + info.fileName()) + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return errorText(errno);
    const auto fail = [&](int number) -> std::optional<QString> {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temporary.constData());
        return errorText(number);
    };

    struct stat old {};
    if (::lstat(target.constData(), &old) == 0 && S_ISREG(old.st_mode) && ::fchmod(fd, old.st_mode & 07777) != 0)
        return fail(errno);
    const std::string_view content(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (const int error = Platform::writeAll(fd, content))
        return fail(error);
    if (::fsync(fd) != 0 || ::close(std::exchange(fd, -1)) != 0)
        return fail(errno);
    // rename(2) replaces the entry itself: a link at the path is not followed, a pipe not opened.
    if (::rename(temporary.constData(), target.constData()) != 0)
        return fail(errno);
    return std::nullopt;
}

std::optional<QString> keepAside(const QString& path, QStringView suffix)
{
    // Enough for every entry a person could have left; past that the folder is not ours to fill.
    constexpr int maxNames = 100;
    const std::string from = QFile::encodeName(path).toStdString();
    for (int number = 1; number <= maxNames; ++number) {
        QString name = path + suffix.toString();
        if (number > 1)
            name += QStringLiteral("-%1").arg(number);
        const int error = Platform::renameNoReplaceAt(AT_FDCWD, from, AT_FDCWD, QFile::encodeName(name).toStdString());
        if (error == 0 || error == ENOENT)
            return std::nullopt;
        if (error != EEXIST)
            return errorText(error);
    }
    return errorText(EEXIST);
}

} // namespace Quandril::App::LocalFile
