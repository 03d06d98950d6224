#include "QuandrilApp/Platform/AppClock.h"

namespace Quandril::App {

namespace {

class SystemClock final : public AppClock {
public:
    TimePoint now() const override { return Clock::now(); }
};

} // namespace

std::shared_ptr<const AppClock> AppClock::system()
{
    static const auto clock = std::make_shared<const SystemClock>();
    return clock;
}

} // namespace Quandril::App
