#pragma once

// A clock that keeps counting while the computer sleeps, for waits that must end on time even
// across a suspend: timers of the event loop stop while the computer sleeps, so a long wait is
// kept as a deadline on this clock and compared with it whenever the app runs again.
// Safe from any thread.

#include <chrono>
#include <memory>

namespace Quandril::App {

class ContinuousClock {
public:
    virtual ~ContinuousClock() = default;

    // Time since a fixed moment (the boot), sleep included; never goes back.
    virtual std::chrono::milliseconds now() const = 0;

    // The kernel's boot-time clock (CLOCK_BOOTTIME).
    static std::shared_ptr<const ContinuousClock> boot();
};

} // namespace Quandril::App
