#include "QuandrilApp/Platform/AppFolders.h"

#include "QuandrilApp/Platform/LaunchEnvironment.h"
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
    // As root, another user's XDG_CONFIG_HOME kept by `sudo -E` names that user's folders: what
    // root made there would shut the user out of their own settings and autostart entries.
    const QByteArray configured = qgetenv("XDG_CONFIG_HOME");
    const QString folder = QDir::cleanPath(QFile::decodeName(configured));
    if (LaunchEnvironment::isPlainAbsolute(configured.toStdString()) && folder != QLatin1String("/")
        && Platform::mayUseUserFolder(configured.toStdString()))
        return folder;
    const QString home = QDir::cleanPath(QFile::decodeName(Platform::homeFolder().c_str()));
    if (!QDir::isAbsolutePath(home) || home == QLatin1String("/"))
        return {};
    return home + QStringLiteral("/.config");
}

bool makeFolder(const QString& folder)
{
    if (!LaunchEnvironment::isPlainAbsolute(QFile::encodeName(folder).toStdString()))
        return false;
    const QString path = QDir::cleanPath(folder);
    if (isFolder(path))
        return true;
    const QString holder = QFileInfo(path).path();
    return isFolder(QFileInfo(holder).path()) && makeOne(holder) && makeOne(path);
}

} // namespace Quandril::App::AppFolders
