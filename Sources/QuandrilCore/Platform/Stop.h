#pragma once

// A stop asked for while long work runs on this thread (the user stops a clean-up, the session
// ends): a tree removal heeds it between entries and a copy between chunks, so a long item is never
// cut off wherever it stands when the process ends. It is asked once per so much work (a few
// hundred entries, or a few MiB of data): a short item finishes whole, a long one stops promptly.

#include <cstdint>
#include <functional>

namespace Quandril::Platform {

// Units of work: an entry is one, a MiB of data copied or compared is this many.
inline constexpr std::uint64_t workPerMiB = 64;

// Puts `stop` in force for the work done on this thread while the value lives; the innermost value
// counts, and an empty `stop` lets nothing stop the work inside it (what must finish once begun).
class StopInForce {
public:
    explicit StopInForce(std::function<bool()> stop);
    ~StopInForce();
    StopInForce(const StopInForce&) = delete;
    StopInForce& operator=(const StopInForce&) = delete;

private:
    friend bool stopAsked(std::uint64_t work);
    std::function<bool()> stop_;
    StopInForce* outer_;
    std::uint64_t work_ = 0; // done since the stop was last asked
};

// Counts `work` done; once enough has been done since it was last asked, whether the stop in force
// on this thread asks to stop now. False where none is.
bool stopAsked(std::uint64_t work = 1);

// Throws std::system_error(ECANCELED), `what` saying what stopped, when stopAsked(work).
void throwIfStopAsked(std::uint64_t work, const char* what);

} // namespace Quandril::Platform
