#pragma once

// The app's own worker threads for engine work (scans, clean-ups, put-backs, the iCloud scan and
// cleanup, the autopilot's runs).
//
// The pool lives as long as the process and is never torn down: quitting never waits for a task
// that is still running, and no task ever finds its pool gone. A task holds only copies of plain
// values and shared state (std::shared_ptr), never a pointer to a view or the model, and hands its
// outcome back through a queued call (see Model's mailbox), which Qt drops once the receiver is gone.

#include <chrono>
#include <functional>

#include <QThreadPool>

namespace Quandril::App {

namespace TaskPool {

enum class Priority {
    userInitiated, // work the user is waiting for
    utility,       // the autopilot's runs: queued behind the user's work
};

// The pool. Created on first use, never destroyed.
QThreadPool& shared();

// Runs `work` on the pool through QtConcurrent. An exception that escapes `work` is dropped: every
// caller hands its outcome back itself, so nothing waits on the task's future.
void start(std::function<void()> work, Priority priority = Priority::userInitiated);

// Whether any task is running or queued. A program leaving while this is true should end through
// std::quick_exit, so that no static of the process is destroyed under a running task.
bool busy();

// ---- Stopping for the app's end ----

// Asks every clean-up and Put Back to stop; never undone. Safe from any thread. The engine heeds it
// between items and inside a long one, and records in History what was done.
void requestStop();
bool stopRequested();

// How long the app's end waits for clean-ups and Put Backs to stop. The engine answers a stop
// within moments, even inside a large item, so this is reached only when a file system hangs. At
// logout the session's processes get SIGTERM and, 90 seconds later, SIGKILL: 60 seconds leaves the
// rest of that time for the process to end by itself, and a History written is worth the wait.
inline constexpr std::chrono::seconds stopWait { 60 };

// Marks a clean-up or Put Back under way for its lifetime, so that the app's end can wait for it to
// stop. Best made when the task is queued, so that one not yet running is waited for too.
class Stoppable {
public:
    Stoppable();
    ~Stoppable();
    Stoppable(const Stoppable&) = delete;
    Stoppable& operator=(const Stoppable&) = delete;
};

// Waits, at most `limit`, until no clean-up or Put Back is under way; true when none is. Scans and
// other work are never waited for.
bool waitForStops(std::chrono::milliseconds limit);

// The app's end: requestStop(), then waitForStops(stopWait).
bool stopAndWait();

} // namespace TaskPool

} // namespace Quandril::App
