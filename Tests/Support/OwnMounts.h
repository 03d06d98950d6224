#pragma once

// Mounts a test makes where no other process sees them: a mount namespace of the test's own, and
// tmpfs or bind mounts that last as long as a value. Mounting needs root.

#include <cstdlib>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include "Support/FakeMachine.h"
#include "Support/SystemState.h"

namespace Quandril::Testing {

// Moves this process into a mount namespace of its own whose mounts don't reach the machine's.
// Call it while the process has one thread (before main): a namespace holds a thread, not its
// whole process.
inline bool enterOwnMounts()
{
    return ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
        && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Runs `body` in a child process with mounts of its own, which vanish with it.
inline void withOwnMounts(const std::function<bool()>& body)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                std::_Exit(2);
            std::_Exit(body() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// A mount for as long as the value lives: a small tmpfs, or with `from` a bind mount of that folder.
// Its mount point stays behind as a plain folder once it is unmounted, as an fstab one does.
class Mounted {
public:
    explicit Mounted(std::string at, const std::string& from = {}, const char* size = "size=1m")
        : at_(std::move(at))
    {
        makeFolders(at_);
        const int result = from.empty() ? ::mount("gorrin-test", at_.c_str(), "tmpfs", 0, size)
                                        : ::mount(from.c_str(), at_.c_str(), nullptr, MS_BIND, nullptr);
        if (result != 0)
            throw std::runtime_error("can't mount at " + at_);
    }
    ~Mounted() { unmount(); }
    Mounted(const Mounted&) = delete;
    Mounted& operator=(const Mounted&) = delete;

    void unmount()
    {
        if (!at_.empty())
            ::umount2(at_.c_str(), MNT_DETACH);
        at_.clear();
    }

private:
    std::string at_;
};

// The time zone for the scope (a TZ value: a zone's name or a POSIX rule), as a user who travels
// or moves house changes it.
struct ScopedZone {
    struct Apply {
        Apply() { ::tzset(); }
        ~Apply() { ::tzset(); }
    };
    Apply afterwards; // last to go, once TZ is back
    ScopedEnv tz;
    Apply now;

    explicit ScopedZone(const std::string& zone)
        : tz("TZ", zone)
    {
    }
};

} // namespace Quandril::Testing

// In a test of an executable whose `ownMounts` says whether enterOwnMounts() held.
#define NEEDS_OWN_MOUNTS()                                                                                             \
    if (!ownMounts)                                                                                                    \
    GTEST_SKIP() << "mounting needs root and a mount namespace of its own"
