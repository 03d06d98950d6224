#include "QuandrilApp/Platform/AppLauncher.h"

#include "QuandrilApp/Platform/DesktopEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

namespace Quandril::App {

namespace {

QStringList absoluteOnly(const QStringList& paths)
{
    QStringList out;
    for (const QString& path : paths)
        if (QDir::isAbsolutePath(path))
            out.append(QDir::cleanPath(path));
    return out;
}

bool programExists(const QString& program)
{
    if (QDir::isAbsolutePath(program)) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// The entry's names that `name` may stand for.
bool answersTo(const QString& id, const QHash<QString, QString>& keys, const QString& name)
{
    const QString base = id.chopped(QStringView(u".desktop").size());
    return keys.value(QStringLiteral("Name")).compare(name, Qt::CaseInsensitive) == 0
        || base.compare(name, Qt::CaseInsensitive) == 0
        || base.section(u'.', -1).compare(name, Qt::CaseInsensitive) == 0;
}

bool usable(const QHash<QString, QString>& keys)
{
    if (keys.value(QStringLiteral("Type")) != u"Application")
        return false;
    if (DesktopEntry::boolean(keys.value(QStringLiteral("Hidden"))) == true)
        return false;
    const QString tryExec = keys.value(QStringLiteral("TryExec"));
    return tryExec.isEmpty() || programExists(tryExec);
}

} // namespace

DesktopAppLauncher::DesktopAppLauncher(std::optional<QStringList> folders)
    : folders_(folders ? *folders : applicationFolders())
{
}

QStringList DesktopAppLauncher::applicationFolders()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QStringList dataDirs = absoluteOnly(qEnvironmentVariable("XDG_DATA_DIRS").split(u':', Qt::SkipEmptyParts));
    if (dataDirs.isEmpty())
        dataDirs = { QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share") };

    QStringList folders;
    for (const QString& data : QStringList { dataHome } + dataDirs)
        folders.append(QDir::cleanPath(data + QStringLiteral("/applications")));
    folders.removeDuplicates();
    return folders;
}

std::optional<DesktopAppLauncher::Launch> DesktopAppLauncher::find(const QStringList& folders, const QString& name)
{
    if (name.trimmed().isEmpty())
        return std::nullopt;
    // An entry's id is its path below the applications folder with "/" read as "-"; the first
    // folder that holds an id hides every later entry with that id, hidden or not.
    QSet<QString> seen;
    for (const QString& folder : folders) {
        QStringList ids;
        QDirIterator entries(folder, { QStringLiteral("*.desktop") }, QDir::Files, QDirIterator::Subdirectories);
        while (entries.hasNext())
            ids.append(QDir(folder).relativeFilePath(entries.next()));
        ids.sort();
        for (const QString& relative : std::as_const(ids)) {
            QString id = relative;
            id.replace(u'/', u'-');
            if (seen.contains(id))
                continue;
            seen.insert(id);
            const auto keys = DesktopEntry::read(QDir(folder).filePath(relative));
            if (!keys || !answersTo(id, *keys, name) || !usable(*keys))
                continue;
            const auto command = DesktopEntry::splitExec(keys->value(QStringLiteral("Exec")));
            if (!command || !programExists(command->front()))
                continue;
            return Launch { *command, keys->value(QStringLiteral("Path")) };
        }
    }
    return std::nullopt;
}

void AppLauncher::tryOpenApp(const QString& name, QObject* context, std::function<void(bool started)> done)
{
    openApp(name);
    if (done)
        QMetaObject::invokeMethod(
            context, [done = std::move(done)] { done(true); }, Qt::QueuedConnection);
}

void DesktopAppLauncher::tryOpenApp(const QString& name, QObject* context, std::function<void(bool started)> done)
{
    (void)QtConcurrent::run([folders = folders_, name, context = QPointer<QObject>(context), done = std::move(done)] {
        const auto launch = find(folders, name);
        const bool started = launch
            && QProcess::startDetached(launch->command.front(), launch->command.mid(1), launch->workingFolder);
        // Back on the GUI thread, where `context` lives and is checked.
        QMetaObject::invokeMethod(
            qApp,
            [context, done, started] {
                if (context && done)
                    done(started);
            },
            Qt::QueuedConnection);
    });
}

void DesktopAppLauncher::openApp(const QString& name)
{
    // The future is dropped: nobody waits for the application, nor for a failure to start it.
    (void)QtConcurrent::run([folders = folders_, name] {
        if (const auto launch = find(folders, name))
            QProcess::startDetached(launch->command.front(), launch->command.mid(1), launch->workingFolder);
    });
}

} // namespace Quandril::App
