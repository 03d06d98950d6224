#pragma once

// One Gorrin per user. The first launch listens on a local socket in a private folder of the user's,
// and at a meeting point named from the user and their config folder alone; a later launch finds it
// at either, asks it to open again, and leaves. Launches whose runtime or temporary folders differ
// (the desktop's, `sudo -u`, cron, ssh, pam_tmpdir) pick different private folders, but they meet
// at the meeting point: a name in the abstract socket namespace, which no folder or file holds.
//
// It hands over only to a Gorrin of the same user: the name must hold a socket itself (no link), a
// listener at either must be of this user and must answer our one-line greeting. A listener of this
// user is a Gorrin however slow: one that doesn't answer (stopped, or frozen by swap or a debugger)
// is waited for, then left be, and this launch leaves too, rather than run beside it. Another user
// holding the meeting point, listening or merely bound, can't make us hand over, only leave us with
// the name. A socket a live process listens on is never removed. Anything else at the name (a
// socket left by a crash, a link, a file or a folder) is stale: a socket or link is removed, any
// other entry moved aside, and the launch takes the name.
// Launches that start together take turns: at the meeting point, which only one can bind, and at
// the name under a lock file beside the socket, so exactly one of them ends up listening.
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

    // "gorrin-<uid>-<digest of the config folder's path>": the same for every launch of this user
    // over the same preferences, whatever its runtime and temporary folders.
    static QString standardMeetingPoint();

    // `name` is the socket's absolute path; `meetingPoint` a name in the abstract socket
    // namespace, none when empty. Someone else holding the meeting point only leaves the name.
    explicit SingleInstance(QString name = standardName(), QString meetingPoint = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the one to run (it now listens for later launches, unless the name
    // can't be had at all). False when another Gorrin of this user runs: it has been asked to open
    // again, or, when it doesn't answer, that has been logged; either way this process should leave.
    bool claim();

    // How long claim() waits for a Gorrin of this user to answer (tests shorten it).
    static constexpr int standardPatienceMs = 10000;
    void setPatience(int milliseconds);

signals:
    // A later launch asked this one to open again.
    void reopened();

private:
    class Listener;

    QString name_;
    QString meetingPoint_;
    int patienceMs_ = standardPatienceMs;
    std::unique_ptr<Listener> listener_;
};

} // namespace Quandril::App
