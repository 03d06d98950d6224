#include "QuandrilApp/Platform/AppFolders.h"

#include "QuandrilCore/Platform/Home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <sys/stat.h>

namespace Quandril::App::AppFolders {

namespace {

bool isFolder(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool makeOne(const QString& path)
{
    return ::mkdir(QFile::encodeName(path).constData(), 0700) == 0 || (errno == EEXIST && isFolder(path));
}

} // namespace

QString configHome()
{
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(configured) && QDir::cleanPath(configured) != QLatin1String("/"))
        return QDir::cleanPath(configured);
    const QString home = QDir::cleanPath(QFile::decodeName(Platform::homeFolder().c_str()));
    if (!QDir::isAbsolutePath(home) || home == QLatin1String("/"))
        return {};
    return home + QStringLiteral("/.config");
}

bool makeFolder(const QString& folder)
{
    if (!QDir::isAbsolutePath(folder))
        return false;
    const QString path = QDir::cleanPath(folder);
    if (isFolder(path))
        return true;
    const QString holder = QFileInfo(path).path();
    return isFolder(QFileInfo(holder).path()) && makeOne(holder) && makeOne(path);
}

} // namespace Quandril::App::AppFolders
