#pragma once

// The end of the desktop session as a signal brings it (SIGTERM, or SIGHUP when the session's
// terminal goes): the app ends well before the session would kill it, whatever it is doing.
// Clean-ups and Put Backs are asked at once to stop, and are waited for (TaskPool::stopWait) so
// that History holds all they changed; the event loop is asked to quit as at a logout; and should
// the process still run `grace` after that wait (the GUI thread stuck in something long), it ends
// there and then.
//
// The work happens on a thread of its own, never in the handler and never waiting on the GUI
// thread. Made once, by main(), and never undone.

#include <chrono>

namespace Quandril::App {

class AppDelegate;

namespace EndOfSession {

inline constexpr std::chrono::milliseconds grace { 2500 };

// Installs the handlers. `delegate` must live as long as the event loop runs.
void install(AppDelegate& delegate);

} // namespace EndOfSession

} // namespace Quandril::App
