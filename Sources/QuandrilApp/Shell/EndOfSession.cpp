#include "QuandrilApp/Shell/EndOfSession.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <cerrno>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "QuandrilApp/Model/TaskPool.h"
#include "QuandrilApp/Shell/AppDelegate.h"

namespace Quandril::App::EndOfSession {

namespace {

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
    for (const int signal : { SIGTERM, SIGHUP })
        ::sigaction(signal, &action, nullptr);
}

} // namespace Quandril::App::EndOfSession
