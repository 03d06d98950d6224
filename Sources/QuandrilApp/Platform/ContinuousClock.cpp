#include "QuandrilApp/Platform/ContinuousClock.h"

#include <ctime>

namespace Quandril::App {

namespace {

class BootClock final : public ContinuousClock {
public:
    std::chrono::milliseconds now() const override
    {
        timespec reading {};
        // CLOCK_BOOTTIME cannot fail with a valid pointer; the monotonic clock is the fallback all
        // the same, which at worst misses the time slept.
        if (clock_gettime(CLOCK_BOOTTIME, &reading) != 0)
            clock_gettime(CLOCK_MONOTONIC, &reading);
        return std::chrono::seconds(reading.tv_sec)
            + std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::nanoseconds(reading.tv_nsec));
    }
};

} // namespace

std::shared_ptr<const ContinuousClock> ContinuousClock::boot()
{
    static const auto clock = std::make_shared<const BootClock>();
    return clock;
}

} // namespace Quandril::App
