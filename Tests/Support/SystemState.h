#pragma once

// Small pieces of the real system that several tests set or read: an environment variable or a file
// size limit for one scope, what one entry itself occupies on disk, a second writable file system,
// and the key path a failed decode names.

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Values/Json.h"

namespace Quandril::Testing {

// Sets (or, given nothing, unsets) an environment variable until the scope ends.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value)
        : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        set(value);
    }
    ~ScopedEnv() { set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void set(const std::optional<std::string>& value) const
    {
        if (value)
            ::setenv(name_, value->c_str(), 1);
        else
            ::unsetenv(name_);
    }

    const char* name_;
    std::optional<std::string> old_;
};

// No file may grow past `bytes` until the scope ends, root's included: a write past it fails
// (EFBIG), as on a drive that is full, or with `kills` ends the process (SIGXFSZ), as a crash does.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes, bool kills = false)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        handler_ = std::signal(SIGXFSZ, kills ? SIG_DFL : SIG_IGN);
        struct rlimit tight = saved_;
        tight.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &tight);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    struct rlimit saved_ {};
    void (*handler_)(int) = SIG_DFL;
};

// What one entry itself occupies (a link's own blocks, not its target's).
inline std::int64_t ownBytes(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        throw std::runtime_error("lstat " + path);
    return static_cast<std::int64_t>(status.st_blocks) * 512;
}

// True when /dev/shm is writable and lies on another file system than `path`.
inline bool shmIsAnotherDevice(const std::string& path)
{
    struct stat shm {
    }, ours {};
    return ::stat("/dev/shm", &shm) == 0 && ::stat(path.c_str(), &ours) == 0 && shm.st_dev != ours.st_dev
        && ::access("/dev/shm", W_OK) == 0;
}

// The key path a failed decode names, or "(decoded)" when `decode` succeeds.
template <typename Decode>
std::string decodeFailure(Decode decode)
{
    try {
        decode();
    } catch (const Json::DecodeError& error) {
        return error.path();
    }
    return "(decoded)";
}

} // namespace Quandril::Testing
