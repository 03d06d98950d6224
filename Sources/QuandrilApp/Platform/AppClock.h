#pragma once

// The app's source of the current time, so tests can fix it, and the conversions between the
// engine's time points and Qt's dates. Safe from any thread.

#include <chrono>
#include <memory>

#include <QDateTime>

#include "QuandrilCore/Values/Model.h"

namespace Quandril::App {

class AppClock {
public:
    virtual ~AppClock() = default;

    virtual TimePoint now() const = 0;

    // The system clock.
    static std::shared_ptr<const AppClock> system();
};

// Millisecond precision, as preferences keep dates.
inline QDateTime toDateTime(TimePoint at)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

inline TimePoint toTimePoint(const QDateTime& at)
{
    return TimePoint(
        std::chrono::duration_cast<TimePoint::duration>(std::chrono::milliseconds(at.toMSecsSinceEpoch())));
}

} // namespace Quandril::App
