#pragma once

// One Gorrin per user. The first launch listens on a local socket in a private folder of the user's;
// a later launch finds it there, asks it to open again, and leaves. It hands over only to a Gorrin
// of the same user: the name must hold a socket itself (no link), its listener must be of this user
// and must answer our one-line greeting. Anything else at the name (a socket left by a crash,
// another program's socket, a link, a file or a folder) is stale: a socket or link is removed, any
// other entry moved aside, and the launch takes the name. Launches that start together take turns
// at this under a lock file beside the socket, so exactly one of them ends up listening.
//
// The listener answers on a thread of its own, so a later launch is answered while the first one
// is still busy starting up.

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace Quandril::App {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    // "gorrin-instance" in the first private folder of: $XDG_RUNTIME_DIR when it is one already (the
    // system makes it, never us), "gorrin-<uid>" in the temporary folder ($TMPDIR when it is one fit
    // for that, else /tmp), and the app's config folder. Empty when none can be had: the app then
    // runs unannounced.
    static QString standardName();

    // A folder that may hold the socket, and whether it may be made when it is missing.
    struct Place {
        QString folder;
        bool make = true;
    };

    // The first of `places` (absolute paths other than "/" with no ".." name) that is a private
    // folder of ours, made (0700) when it is missing and may be: a folder itself, not a link, owned
    // by this user, closed to everyone else and writable. A place where the path of a socket named
    // `socketName` would be too long for a socket is passed over. Empty when none is.
    static QString privateFolder(const QList<Place>& places, const QString& socketName);

    // `name` is the socket's absolute path.
    explicit SingleInstance(QString name = standardName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the one to run (it now listens for later launches, unless the name
    // can't be had at all). False when another Gorrin of this user runs: it has been asked to open
    // again, and this process should leave.
    bool claim();

signals:
    // A later launch asked this one to open again.
    void reopened();

private:
    class Listener;

    QString name_;
    std::unique_ptr<Listener> listener_;
};

} // namespace Quandril::App
