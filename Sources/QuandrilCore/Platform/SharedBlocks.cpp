#include "QuandrilCore/Platform/SharedBlocks.h"

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/Saturating.h"

namespace Quandril::Platform {

namespace {

// File systems that copy by reference or keep snapshots of files.
constexpr unsigned long xfsMagic = 0x58465342;
constexpr unsigned long bcachefsMagic = 0xca451a4e;
constexpr unsigned long ocfs2Magic = 0x7461636f;

constexpr unsigned extentsPerAsk = 64;
// A file split into more pieces than this is counted by the pieces seen so far.
constexpr unsigned mostAsks = 4096;

} // namespace

bool mayShareBlocks(int fd)
{
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0)
        return false;
    const auto type = static_cast<unsigned long>(info.f_type);
    return type == BTRFS_SUPER_MAGIC || type == xfsMagic || type == bcachefsMagic || type == ocfs2Magic;
}

std::int64_t unsharedBytes(int folder, const char* name, dev_t device, ino_t inode, std::int64_t allocated)
{
    if (allocated <= 0)
        return allocated;
    // Never blocks on what took the file's place since it was looked at, and never follows a link.
    const Descriptor file(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat now {};
    if (!file || ::fstat(file.get(), &now) != 0 || now.st_dev != device || now.st_ino != inode || !S_ISREG(now.st_mode))
        return allocated;

    alignas(struct fiemap) unsigned char buffer[sizeof(struct fiemap) + extentsPerAsk * sizeof(struct fiemap_extent)];
    auto* ask = reinterpret_cast<struct fiemap*>(buffer);
    // Lengths within one file: their sums stay far below the 64-bit limit.
    std::uint64_t all = 0;
    std::uint64_t shared = 0;
    std::uint64_t from = 0;
    for (unsigned round = 0; round < mostAsks; ++round) {
        std::memset(buffer, 0, sizeof buffer);
        ask->fm_start = from;
        ask->fm_length = FIEMAP_MAX_OFFSET - from;
        ask->fm_extent_count = extentsPerAsk;
        if (::ioctl(file.get(), FS_IOC_FIEMAP, ask) != 0)
            return allocated;
        const unsigned count = std::min(ask->fm_mapped_extents, extentsPerAsk);
        if (count == 0)
            break;
        bool last = false;
        for (unsigned i = 0; i < count; ++i) {
            const struct fiemap_extent& extent = ask->fm_extents[i];
            all += extent.fe_length;
            if ((extent.fe_flags & FIEMAP_EXTENT_SHARED) != 0)
                shared += extent.fe_length;
            last = last || (extent.fe_flags & FIEMAP_EXTENT_LAST) != 0;
        }
        const struct fiemap_extent& end = ask->fm_extents[count - 1];
        if (last || end.fe_logical + end.fe_length <= from)
            break;
        from = end.fe_logical + end.fe_length;
    }
    if (all == 0 || shared == 0)
        return allocated;
    // Extents give lengths in the file, which compression makes larger than what is allocated: the
    // shared share of the lengths is the shared share of the allocation.
    const double own = static_cast<double>(all - shared) / static_cast<double>(all);
    return std::min(allocated, Saturating::truncated(static_cast<double>(allocated) * own));
}

} // namespace Quandril::Platform
