#pragma once

// Starting an installed application by its name ("Steam", "Mail"), the way the desktop's own
// launcher would: through the application's desktop entry, started on its own, with no shell.

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace Quandril::App {

class AppLauncher {
public:
    virtual ~AppLauncher() = default;

    // Starts the application called `name` and returns at once. Nothing happens when no such
    // application is installed or it can't be started.
    virtual void openApp(const QString& name) = 0;

    // Starts it likewise, then tells `done`, on the GUI thread, whether it was found and started.
    // `done` is dropped when `context` is gone by then. By default: openApp, then true.
    virtual void tryOpenApp(const QString& name, QObject* context, std::function<void(bool started)> done);
};

// Desktop entries in the applications folders of the XDG data folders.
class DesktopAppLauncher final : public AppLauncher {
public:
    // What starting one entry means: the program, its arguments and the folder to start in.
    struct Launch {
        QStringList command;
        QString workingFolder;
        bool operator==(const Launch&) const = default;
    };

    // `folders`: applications folders in order of precedence; by default applicationFolders().
    explicit DesktopAppLauncher(std::optional<QStringList> folders = std::nullopt);

    // Looks for the entry on a worker thread (the folders may hold hundreds) and starts it there.
    void openApp(const QString& name) override;
    void tryOpenApp(const QString& name, QObject* context, std::function<void(bool started)> done) override;

    // The entry an application name stands for: the first, in order of precedence, whose Name,
    // file name or last part of a dotted file name ("com.example.Steam") is `name`, ignoring case.
    // Entries that are hidden, aren't applications, or whose program is missing don't count.
    // Safe from any thread.
    std::optional<Launch> find(const QString& name) const { return find(folders_, name); }
    static std::optional<Launch> find(const QStringList& folders, const QString& name);

    // $XDG_DATA_HOME/applications (default ~/.local/share/applications), then the applications
    // folder of each $XDG_DATA_DIRS entry (default /usr/local/share:/usr/share).
    static QStringList applicationFolders();

private:
    QStringList folders_;
};

} // namespace Quandril::App
