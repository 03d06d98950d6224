#include "QuandrilCore/Platform/Stop.h"

#include <cerrno>
#include <system_error>
#include <utility>

namespace Quandril::Platform {

namespace {

thread_local StopInForce* innermost = nullptr;

// About a quarter of a second of work on a slow disk: 256 entries, or 4 MiB.
constexpr std::uint64_t workBetweenAsks = 256;

} // namespace

StopInForce::StopInForce(std::function<bool()> stop)
    : stop_(std::move(stop))
    , outer_(innermost)
{
    innermost = this;
}

StopInForce::~StopInForce()
{
    innermost = outer_;
}

bool stopAsked(std::uint64_t work)
{
    if (!innermost || !innermost->stop_)
        return false;
    innermost->work_ += work;
    if (innermost->work_ < workBetweenAsks)
        return false;
    innermost->work_ = 0;
    return innermost->stop_();
}

void throwIfStopAsked(std::uint64_t work, const char* what)
{
    if (stopAsked(work))
        throw std::system_error(ECANCELED, std::generic_category(), what);
}

} // namespace Quandril::Platform
