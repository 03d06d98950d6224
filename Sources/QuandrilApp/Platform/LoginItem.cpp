#include "QuandrilApp/Platform/LoginItem.h"

#include "QuandrilApp/Platform/AppFolders.h"
#include "QuandrilApp/Platform/DesktopEntry.h"
#include "QuandrilApp/Platform/LocalFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Quandril::App {

namespace {

const QString entryName = QStringLiteral("gorrin.desktop");

QByteArray entryText(const QString& executable)
{
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Name=Gorrin\n"
                                  "Exec=");
    text += DesktopEntry::escapeValue(DesktopEntry::quoteArgument(executable));
    text += QStringLiteral("\n"
                           "Terminal=false\n"
                           "X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

} // namespace

AutostartLoginItem::AutostartLoginItem(QString folder, QString executable)
    : folder_(folder.isEmpty() ? autostartFolder() : std::move(folder))
    , executable_(executable.isEmpty() ? QCoreApplication::applicationFilePath() : std::move(executable))
{
}

QString AutostartLoginItem::autostartFolder()
{
    const QString configHome = AppFolders::configHome();
    return configHome.isEmpty() ? QString() : configHome + QStringLiteral("/autostart");
}

QString AutostartLoginItem::entryPath() const
{
    // With no home there is no entry: never one in the current folder.
    return folder_.isEmpty() ? QString() : QDir(folder_).filePath(entryName);
}

bool AutostartLoginItem::isEnabled() const
{
    const auto keys = DesktopEntry::read(entryPath());
    if (!keys)
        return false;
    // The desktop's settings switch an entry off either way without removing it.
    if (DesktopEntry::boolean(keys->value(QStringLiteral("Hidden"))) == true)
        return false;
    return DesktopEntry::boolean(keys->value(QStringLiteral("X-GNOME-Autostart-enabled"))) != false;
}

std::optional<QString> AutostartLoginItem::register_()
{
    if (executable_.isEmpty())
        return QStringLiteral("The path of this program is unknown.");
    if (folder_.isEmpty())
        return QStringLiteral("There is no home folder to hold the autostart entry.");
    if (!AppFolders::makeFolder(folder_))
        return QStringLiteral("The folder %1 could not be created.").arg(folder_);
    // Whatever stands at the entry gives way to ours; a link there is replaced, not written through.
    if (const auto failure = LocalFile::replace(entryPath(), entryText(executable_)))
        return QStringLiteral("%1 could not be written: %2").arg(entryPath(), *failure);
    return std::nullopt;
}

std::optional<QString> AutostartLoginItem::unregister()
{
    QFile file(entryPath());
    if (!file.exists() && !QFileInfo(entryPath()).isSymLink())
        return std::nullopt;
    if (!file.remove())
        return QStringLiteral("%1 could not be removed: %2").arg(entryPath(), file.errorString());
    return std::nullopt;
}

} // namespace Quandril::App
