#include "QuandrilApp/Shell/EndOfSession.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "QuandrilApp/Model/TaskPool.h"
#include "QuandrilApp/Shell/AppDelegate.h"

namespace Quandril::App::EndOfSession {

namespace {

// ---- Signals ----

// The handler's one job: tell the watcher which signal came. write() is safe in a handler.
int wakeWrite = -1;

void heard(int signal)
{
    const int saved = errno;
    const unsigned char which = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite, &which, 1);
    errno = saved;
}

void watch(int wakeRead, QPointer<AppDelegate> delegate)
{
    unsigned char which = 0;
    while (::read(wakeRead, &which, 1) != 1) {
        if (errno != EINTR)
            return;
    }
    TaskPool::requestStop();
    QMetaObject::invokeMethod(
        qApp,
        [delegate] {
            if (delegate)
                delegate->sessionEnding();
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);
    // main() waits as long for clean-ups and Put Backs to record what they did, then leaves.
    TaskPool::waitForStops(TaskPool::stopWait);
    std::this_thread::sleep_for(grace);
    // Still here: whatever holds the app up doesn't get to keep it.
    ::_exit(128 + which);
}

// ---- The display going away ----

QtMessageHandler passOn = nullptr;
// The end taken in hand once, whichever way it came.
std::atomic<bool> ending { false };

bool onGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Asked only on the GUI thread, which alone talks to the display; false once the application is
// being destroyed (its instance is gone before its connection).
bool displayGone()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    return connection && ::xcb_connection_has_error(connection) != 0;
}

// Qt tells of a broken display connection in a warning and then calls exit(), all on the GUI thread.
// Every message passes here first; the one that comes with a broken connection doesn't return.
void heardMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (passOn)
        passOn(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
    if (type == QtDebugMsg || type == QtInfoMsg || !onGuiThread() || !displayGone() || ending.exchange(true))
        return;
    // As at a signal, but here and now: the exit() that follows would take the statics away.
    TaskPool::requestStop();
    TaskPool::waitForStops(TaskPool::stopWait);
    ::_exit(displayGoneStatus);
}

// Any other exit() on the GUI thread while a clean-up or Put Back runs (the message above filtered
// away by logging rules, a library's own exit): those are stopped and waited for as well, and a
// process whose tasks still run leaves without destroying what they use. A static made after this
// was installed is already gone by then: the message above is the way that keeps them all.
void exiting()
{
    if (!onGuiThread() || ending.exchange(true))
        return;
    TaskPool::requestStop();
    TaskPool::waitForStops(TaskPool::stopWait);
    if (TaskPool::busy())
        ::_exit(displayGoneStatus);
}

} // namespace

void install(AppDelegate& delegate)
{
    int ends[2];
    if (wakeWrite >= 0 || ::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    // Only the write end stays non-blocking: a second signal never blocks its handler.
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) & ~O_NONBLOCK);
    wakeWrite = ends[1];
    std::thread(watch, ends[0], QPointer<AppDelegate>(&delegate)).detach();

    struct sigaction action {};
    action.sa_handler = heard;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : { SIGTERM, SIGHUP, SIGINT })
        ::sigaction(signal, &action, nullptr);

    passOn = qInstallMessageHandler(heardMessage);
    std::atexit(exiting);
}

} // namespace Quandril::App::EndOfSession
