#pragma once

// A drive that can be pulled out: an ext4 image on a loop device, mounted (in the test's own mount
// namespace, Support/OwnMounts.h) with a journal committed only when asked. Pulling it is the
// shutdown ioctl with no log flush, as a USB stick yanked out or a power cut leaves it: whatever
// was only in memory is lost, and only what reached the disk is there when it is mounted again.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include "Support/FakeMachine.h"
#include "Support/TrashClient.h"

namespace Quandril::Testing {

class PulledDrive {
public:
    // The image lies in `folder`; the drive is mounted at `at`.
    PulledDrive(const std::string& folder, std::string at)
        : image_(folder + "/pulled-drive.img")
        , at_(std::move(at))
    {
        makeFolders(at_);
        writeFile(image_, "");
        if (::truncate(image_.c_str(), 32 << 20) != 0 || !runTool({ "mkfs.ext4", "-q", "-F", image_ }))
            throw std::runtime_error("can't make an ext4 image at " + image_);
        const auto loop = runTool({ "losetup", "--find", "--show", image_ });
        if (!loop || loop->size() < 2)
            throw std::runtime_error("can't set up a loop device for " + image_);
        device_ = loop->substr(0, loop->size() - 1);
        plugBack();
    }
    ~PulledDrive()
    {
        if (mounted_)
            ::umount2(at_.c_str(), MNT_DETACH);
        runTool({ "losetup", "--detach", device_ });
    }
    PulledDrive(const PulledDrive&) = delete;
    PulledDrive& operator=(const PulledDrive&) = delete;

    const std::string& top() const { return at_; }

    // The drive goes at once, its journal unwritten, and is unmounted.
    void pull()
    {
        constexpr unsigned long shutdown = _IOR('X', 125, std::uint32_t); // EXT4_IOC_SHUTDOWN
        std::uint32_t noLogFlush = 2;                                     // EXT4_GOING_FLAGS_NOLOGFLUSH
        const int fd = ::open(at_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool down = fd >= 0 && ::ioctl(fd, shutdown, &noLogFlush) == 0;
        if (fd >= 0)
            ::close(fd);
        if (!down || ::umount2(at_.c_str(), 0) != 0)
            throw std::runtime_error("can't pull the drive at " + at_);
        mounted_ = false;
    }

    // Mounted again, with what reached its disk. Its journal is committed only every ten minutes,
    // so that a test sees what a move made sure of, not what the kernel happened to write.
    void plugBack()
    {
        if (::mount(device_.c_str(), at_.c_str(), "ext4", 0, "commit=600") != 0)
            throw std::runtime_error("can't mount " + device_ + " at " + at_);
        mounted_ = true;
    }

private:
    std::string image_, at_, device_;
    bool mounted_ = false;
};

} // namespace Quandril::Testing
