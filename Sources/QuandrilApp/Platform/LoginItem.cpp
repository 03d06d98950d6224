#include "QuandrilApp/Platform/LoginItem.h"

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
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base = QDir::isAbsolutePath(configHome) ? configHome : QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/autostart"));
}

QString AutostartLoginItem::entryPath() const
{
    return QDir(folder_).filePath(entryName);
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
    if (!QDir().mkpath(folder_))
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
