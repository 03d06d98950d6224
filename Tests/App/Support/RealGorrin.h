#pragma once

// The real gorrin, run by a test in a temporary home: the home and its caches, the app's
// environment, a drive mounted and unmounted in turn (which makes the autopilot check at once), the
// app slowed in a control group of its own, a private X server, and what History holds afterwards.
// Whatever way the test ends, the app and the X server end with it.

#include <QProcess>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "QuandrilCore/Cleaning/Cleaner.h"

namespace Quandril::AppTesting {

// Moves the test (as root) into a mount namespace of its own, which the app inherits, so that no
// other test running beside it sees the drives it mounts come and go; false when that failed.
bool enterOwnMounts();

bool writeFile(const QString& path, const QByteArray& bytes);
int entries(const QString& folder);

// The shipped rules with their cache thresholds at one byte, so that every cache folder counts.
bool writeCatalog(const QString& path);

// A temporary home with the folders the app uses, its runtime folder private.
bool makeHome(const QString& home);

// The app's preferences file holding these entries ("key": {"type": value}, …).
bool writePreferences(const QString& home, const char* entries);

// The autopilot on, every minute, with the startup drive below its goal; the main window without
// its first-run sheet.
extern const char* const autopilotEveryMinute;

// `folders` app cache folders of `filesEach` small files under `caches`, and the space each takes;
// empty when they couldn't all be made.
std::map<QString, std::int64_t> fillCaches(const QString& caches, int folders, int filesEach);
QString cacheFolderName(int i);

// Everything the app keeps or reads inside the temporary home, away from any desktop session; on
// this X display when one is named, else off screen.
QProcessEnvironment appEnvironment(const QString& home, const QString& catalog, const QString& display = {});

// A program that dies with the test, however the test ends (a failed check, Qt Test's time limit,
// a crash, the test being killed), in a process group of its own that goes with the value: a
// child it forked goes too.
class TiedProcess : public QProcess {
public:
    using QProcess::QProcess;
    ~TiedProcess() override;
    bool startTied(const QString& program, const QStringList& arguments);

private:
    qint64 group_ = 0;
};

// The real gorrin in `home`, tied to the test, its errors in the test's own output.
bool startGorrin(TiedProcess& app, const QString& home, const QProcessEnvironment& environment);

// As long as the app's own end may take (the wait for its tasks, then the grace it gives itself),
// with a generous margin for a loaded machine, in milliseconds.
int endBoundMs();
// Waits that long for the app to end.
bool waitForEnd(QProcess& app);

// The bytes History's lines of finding `id` say were freed.
std::int64_t historyBytes(const QString& home, const std::string& id);
QString historyPath(const QString& home);

// A small file system mounted and unmounted in turn, each mount a new drive to the app. Gone with
// the test, whatever way it ends (the test runs in a mount namespace of its own).
class Mounter {
public:
    explicit Mounter(QString at);
    ~Mounter();
    void toggle();
    void release();

private:
    QString at_;
    bool mounted_ = false;
};

// The app slowed to three per cent of one core, so that the item in hand outlasts any short wait of
// its end; nothing when this system lets no control group be made (the item is then as long as the
// disk makes it). `release` lets the app run at full pace again; the group goes with the value.
class Throttle {
public:
    explicit Throttle(qint64 pid);
    ~Throttle();
    Throttle(const Throttle&) = delete;
    Throttle& operator=(const Throttle&) = delete;
    bool active() const { return !folder_.isEmpty(); }
    void release();

    // Removes the groups left by an earlier run that was killed before it could.
    static void sweep();

private:
    qint64 pid_;
    QString folder_;
};

// Waits until the folder's listing changes (a file in it goes), looking far more often than the app
// can remove a file; false when `timeoutMs` passes or `giveUp` says so first.
bool waitForChange(const QString& folder, int timeoutMs, const std::function<bool()>& giveUp);

// A private X server, so that the test can press the app's keys as a person would or take the
// display away; not running when Xvfb or xdotool is missing. Ends with the test.
class VirtualDisplay {
public:
    VirtualDisplay();
    ~VirtualDisplay();
    bool running() const { return !name_.isEmpty(); }
    const QString& name() const { return name_; }

    // xdotool on this display: what it printed, or nothing when it failed.
    std::optional<QString> xdotool(const QStringList& arguments) const;
    // The app's main window given the keyboard, as a click on it would; false until it shows.
    bool focusMainWindow() const;
    // Keys pressed as on a keyboard, into whatever has the keyboard.
    bool press(const QString& keys) const;

    // The X server ended, as a logout ends it before the session's apps; true once it is gone.
    // `meanwhile` runs right after the server is told, before it is gone.
    bool end(const std::function<void()>& meanwhile = {});

private:
    void stop();

    TiedProcess server_;
    QString name_;
};

} // namespace Quandril::AppTesting
