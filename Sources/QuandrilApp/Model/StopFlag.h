#pragma once

// The iCloud cleanup's stop request, shared between the GUI thread (the stop control sets it, a new
// cleanup clears it, quitting sets it) and the cleanup's task (read before each item). Every access
// takes the lock for that one read or write; nothing else is shared with a running task.

#include <mutex>

namespace Quandril::App {

class StopFlag {
public:
    void set(bool on)
    {
        std::lock_guard guard(lock_);
        on_ = on;
    }

    bool isOn() const
    {
        std::lock_guard guard(lock_);
        return on_;
    }

private:
    mutable std::mutex lock_;
    bool on_ = false;
};

} // namespace Quandril::App
