#include "Support/RealGorrin.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QStandardPaths>

#include <chrono>
#include <csignal>
#include <thread>

#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilApp/Model/TaskPool.h"
#include "QuandrilApp/Shell/EndOfSession.h"
#include "QuandrilCore/Machine/DiskUsage.h"

namespace Quandril::AppTesting {

bool enterOwnMounts()
{
    return ::geteuid() != 0
        || (::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int entries(const QString& folder)
{
    return int(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size());
}

bool writeCatalog(const QString& path)
{
    QFile shipped(QStringLiteral(QUANDRIL_SHIPPED_CATALOG));
    if (!shipped.open(QIODevice::ReadOnly))
        return false;
    QJsonObject catalog = QJsonDocument::fromJson(shipped.readAll()).object();
    QJsonObject thresholds = catalog.value("thresholds").toObject();
    thresholds.insert("appCaches", 1);
    thresholds.insert("appCacheEach", 1);
    catalog.insert("thresholds", thresholds);
    return writeFile(path, QJsonDocument(catalog).toJson());
}

bool makeHome(const QString& home)
{
    for (const char* folder : { "/.config/Gorrin", "/.local/share", "/.cache", "/runtime", "/Library/Caches" })
        if (!QDir().mkpath(home + folder))
            return false;
    return QFile::setPermissions(home + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool writePreferences(const QString& home, const char* entries)
{
    return writeFile(home + "/.config/Gorrin/preferences.json", QByteArray("{") + entries + "}");
}

const char* const autopilotEveryMinute
    = R"("autopilotEnabled": {"bool": true}, "autopilotIntervalMinutes": )"
      R"({"integer": 1}, "goal:/": {"string": "99%"}, "hasSeenFirstRun": {"bool": true})";

QString cacheFolderName(int i)
{
    return QStringLiteral("com.example.app%1").arg(i, 3, 10, QLatin1Char('0'));
}

std::map<QString, std::int64_t> fillCaches(const QString& caches, int folders, int filesEach)
{
    std::map<QString, std::int64_t> sizes;
    for (int i = 0; i < folders; ++i) {
        const QString folder = caches + "/" + cacheFolderName(i);
        if (!QDir().mkpath(folder))
            return {};
        for (int f = 0; f < filesEach; ++f)
            if (!writeFile(folder + QStringLiteral("/part%1").arg(f), QByteArray(512, 'c')))
                return {};
        sizes[cacheFolderName(i)] = diskUsage(folder.toStdString()).bytes;
    }
    return sizes;
}

QProcessEnvironment appEnvironment(const QString& home, const QString& catalog, const QString& display)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "SESSION_MANAGER", "GR_OPEN_SETTINGS" })
        environment.remove(name);
    // No session bus, and none started for the display: with no address at all, D-Bus would fork a
    // launcher from the running app, and that child, forked amid the app's threads, can hang at
    // once and outlive the test.
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home + "/runtime/no-session-bus");
    environment.insert("HOME", home);
    environment.insert("XDG_CONFIG_HOME", home + "/.config");
    environment.insert("XDG_DATA_HOME", home + "/.local/share");
    environment.insert("XDG_CACHE_HOME", home + "/.cache");
    environment.insert("XDG_RUNTIME_DIR", home + "/runtime");
    environment.insert("QUANDRIL_CATALOG", catalog);
    if (!display.isEmpty()) {
        environment.insert("DISPLAY", display);
        environment.insert("QT_QPA_PLATFORM", "xcb");
    } else if (!environment.contains("QT_QPA_PLATFORM")) {
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    }
    return environment;
}

TiedProcess::~TiedProcess()
{
    // The group outlives its first process while anything it forked runs; its number isn't
    // given to another process meanwhile.
    if (group_ > 0)
        ::kill(-pid_t(group_), SIGKILL);
    if (state() != NotRunning)
        waitForFinished();
}

bool TiedProcess::startTied(const QString& program, const QStringList& arguments)
{
    // Killed when the test's thread that started it ends; a test that is already gone by the time
    // the child asks leaves no orphan either.
    const pid_t test = ::getpid();
    setChildProcessModifier([test] {
        if (::setpgid(0, 0) != 0 || ::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != test)
            ::_exit(127);
    });
    start(program, arguments);
    if (!waitForStarted())
        return false;
    group_ = processId();
    return true;
}

bool startGorrin(TiedProcess& app, const QString& home, const QProcessEnvironment& environment)
{
    app.setProcessEnvironment(environment);
    app.setWorkingDirectory(home);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    return app.startTied(QStringLiteral(GORRIN_EXECUTABLE), {});
}

int endBoundMs()
{
    using namespace std::chrono;
    return int(duration_cast<milliseconds>(App::TaskPool::stopWait + App::EndOfSession::grace + seconds(60)).count());
}

bool waitForEnd(QProcess& app)
{
    return app.state() == QProcess::NotRunning || app.waitForFinished(endBoundMs());
}

QString historyPath(const QString& home)
{
    return home + "/Library/Application Support/Quandril/history.jsonl";
}

std::int64_t historyBytes(const QString& home, const std::string& id)
{
    QFile file(historyPath(home));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    std::int64_t bytes = 0;
    for (const HistoryEntry& entry : History::parse(file.readAll().toStdString()))
        if (entry.id == id)
            bytes += entry.bytes;
    return bytes;
}

// ---- Mounter ----

Mounter::Mounter(QString at)
    : at_(std::move(at))
{
    QDir().mkpath(at_);
}

Mounter::~Mounter()
{
    release();
}

void Mounter::toggle()
{
    if (mounted_)
        mounted_ = ::umount2(at_.toLocal8Bit().constData(), MNT_DETACH) != 0;
    else
        mounted_ = ::mount("none", at_.toLocal8Bit().constData(), "tmpfs", 0, "size=64k") == 0;
}

void Mounter::release()
{
    if (mounted_)
        toggle();
}

// ---- Throttle ----

namespace {

const QString groupPrefix = QStringLiteral("gorrin-test-");

// cgroup v2 (cpu.max), or v1's cpu hierarchy (cpu.cfs_quota_us, period 100 ms).
const std::pair<QString, QString> groupKinds[] = { { "/sys/fs/cgroup/", "cpu.max" },
                                                   { "/sys/fs/cgroup/cpu/", "cpu.cfs_quota_us" } };

} // namespace

Throttle::Throttle(qint64 pid)
    : pid_(pid)
{
    // Held still while it moves, so that it makes no headway meanwhile.
    ::kill(pid_t(pid), SIGSTOP);
    const auto resume = qScopeGuard([pid] { ::kill(pid_t(pid), SIGCONT); });
    for (const auto& [parent, limit] : groupKinds) {
        const QString folder = parent + groupPrefix + QString::number(pid);
        if (!QDir().mkdir(folder))
            continue;
        // Only a control group comes with these files; a plain folder (a v1 system's
        // /sys/fs/cgroup is a tmpfs) would take them as new files and slow nothing.
        const bool group = QFileInfo(folder + "/cgroup.procs").exists() && QFileInfo(folder + "/" + limit).exists();
        const QByteArray quota = limit == "cpu.max" ? "3000 100000" : "3000";
        if (group && writeFile(folder + "/" + limit, quota)
            && writeFile(folder + "/cgroup.procs", QByteArray::number(pid))) {
            folder_ = folder;
            return;
        }
        if (group)
            QDir().rmdir(folder);
        else
            QDir(folder).removeRecursively();
    }
}

Throttle::~Throttle()
{
    release();
}

void Throttle::release()
{
    if (folder_.isEmpty())
        return;
    // The app back in the group it came from, should it still run.
    writeFile(QFileInfo(folder_).path() + "/cgroup.procs", QByteArray::number(pid_));
    QDir().rmdir(folder_);
    folder_.clear();
}

void Throttle::sweep()
{
    for (const auto& [parent, limit] : groupKinds) {
        for (const QString& name : QDir(parent).entryList({ groupPrefix + "*" }, QDir::Dirs | QDir::NoDotAndDotDot)) {
            // A group whose app still runs belongs to a test running beside this one.
            const QString pid = name.mid(groupPrefix.size());
            if (!QFileInfo::exists("/proc/" + pid))
                QDir().rmdir(parent + name);
        }
    }
}

bool waitForChange(const QString& folder, int timeoutMs, const std::function<bool()>& giveUp)
{
    const QByteArray path = folder.toLocal8Bit();
    struct stat before {};
    if (::stat(path.constData(), &before) != 0)
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        struct stat now {};
        if (::stat(path.constData(), &now) != 0 || now.st_mtim.tv_sec != before.st_mtim.tv_sec
            || now.st_mtim.tv_nsec != before.st_mtim.tv_nsec)
            return true;
        if (giveUp())
            return false;
        QCoreApplication::processEvents(); // the drive mounting and unmounting
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

// ---- VirtualDisplay ----

VirtualDisplay::VirtualDisplay()
{
    if (QStandardPaths::findExecutable("Xvfb").isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty())
        return;
    // Xvfb picks a free display and writes its number once it takes connections. Another server
    // of the machine ending as this one starts may take its socket along: a server that doesn't
    // answer is replaced.
    for (int attempt = 0; attempt < 3 && name_.isEmpty(); ++attempt) {
        if (!server_.startTied("Xvfb", { "-displayfd", "1", "-screen", "0", "1440x900x24", "-nolisten", "tcp" }))
            return;
        QByteArray number;
        while (!number.endsWith('\n') && server_.waitForReadyRead(60'000))
            number += server_.readAllStandardOutput();
        if (!number.trimmed().isEmpty())
            name_ = ":" + QString::fromLatin1(number.trimmed());
        if (!name_.isEmpty() && !xdotool({ "getdisplaygeometry" })) {
            name_.clear();
            stop();
        }
    }
}

VirtualDisplay::~VirtualDisplay()
{
    stop();
}

void VirtualDisplay::stop()
{
    if (server_.state() == QProcess::NotRunning)
        return;
    server_.terminate();
    if (!server_.waitForFinished(10'000))
        server_.kill();
    server_.waitForFinished();
}

std::optional<QString> VirtualDisplay::xdotool(const QStringList& arguments) const
{
    TiedProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", name_);
    tool.setProcessEnvironment(environment);
    if (!tool.startTied("xdotool", arguments) || !tool.waitForFinished(30'000)
        || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
}

bool VirtualDisplay::focusMainWindow() const
{
    const auto found = xdotool({ "search", "--onlyvisible", "--name", "^Gorrin$" });
    const QString window = found ? found->section('\n', 0, 0) : QString();
    return !window.isEmpty() && xdotool({ "windowfocus", "--sync", window });
}

bool VirtualDisplay::press(const QString& keys) const
{
    return xdotool({ "key", "--clearmodifiers", keys }).has_value();
}

bool VirtualDisplay::end(const std::function<void()>& meanwhile)
{
    if (server_.state() == QProcess::NotRunning)
        return false;
    server_.terminate();
    if (meanwhile)
        meanwhile();
    return server_.waitForFinished(30'000);
}

} // namespace Quandril::AppTesting
