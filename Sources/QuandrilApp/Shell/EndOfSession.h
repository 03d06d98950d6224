#pragma once

// The end of the desktop session as it comes: a signal (SIGTERM; SIGHUP when the session's terminal
// goes; SIGINT, Ctrl+C in the terminal Gorrin was started from), or the display itself going away
// (a logout that ends the X server first, or its crash). The app ends well before the session
// would kill it, whatever it is doing: clean-ups and Put Backs are asked at once to stop, and are
// waited for (TaskPool::stopWait) so that History holds all they changed.
//
// After a signal the event loop is asked to quit as at a logout; should the process still run
// `grace` after that wait (the GUI thread stuck in something long), it ends there and then. The
// work happens on a thread of its own, never in the handler and never waiting on the GUI thread.
//
// A display that goes away leaves no event loop to quit: Qt reports the broken connection and
// calls exit() on the GUI thread, which would destroy every static of the process under the tasks
// still running. The report is caught before that exit, the wait happens there, and the process
// leaves without destroying anything.
//
// Made once, by main(), and never undone.

#include <chrono>

namespace Quandril::App {

class AppDelegate;

namespace EndOfSession {

inline constexpr std::chrono::milliseconds grace { 2500 };

// The exit status when the display went away, as Qt itself would have left.
inline constexpr int displayGoneStatus = 1;

// Installs the handlers. `delegate` must live as long as the event loop runs.
void install(AppDelegate& delegate);

} // namespace EndOfSession

} // namespace Quandril::App
