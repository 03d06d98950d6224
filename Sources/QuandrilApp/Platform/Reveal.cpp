#include "QuandrilApp/Platform/Reveal.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace Quandril::App {

FileManagerReveal::FileManagerReveal(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus))
{
}

QString FileManagerReveal::fallbackFolder(const QString& path)
{
    QString folder = QFileInfo(QDir::cleanPath(path)).path();
    while (!QFileInfo(folder).isDir() && folder != QDir::rootPath())
        folder = QFileInfo(folder).path();
    return folder;
}

bool FileManagerReveal::reveal(const QString& path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return false;
    const QString item = QDir::cleanPath(path);
    if (!bus_.isConnected()) {
        openFolder(fallbackFolder(item));
        return true;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                          QStringLiteral("/org/freedesktop/FileManager1"),
                                                          QStringLiteral("org.freedesktop.FileManager1"),
                                                          QStringLiteral("ShowItems"));
    message << QStringList { QUrl::fromLocalFile(item).toString(QUrl::FullyEncoded) } << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, item](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        if (finished->isError())
            openFolder(fallbackFolder(item));
    });
    return true;
}

void FileManagerReveal::openFolder(const QString& folder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

} // namespace Quandril::App
