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

// Asks every clean-up to stop after the item in hand; never undone. Safe from any thread.
void requestStop();
bool stopRequested();

// Marks a clean-up under way for its lifetime, so that the app's end can wait for it to stop.
class Stoppable {
public:
    Stoppable();
    ~Stoppable();
    Stoppable(const Stoppable&) = delete;
    Stoppable& operator=(const Stoppable&) = delete;
};

// Waits, at most `limit`, until no clean-up is under way; true when none is. Scans and other work
// are never waited for.
bool waitForStops(std::chrono::milliseconds limit);

} // namespace TaskPool

} // namespace Quandril::App
