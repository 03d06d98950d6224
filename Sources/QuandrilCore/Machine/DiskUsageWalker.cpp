// One thread's part of a disk-usage walk: lists each folder through its descriptor, counts what it
// holds, and enters its subfolders, handing some to other threads when they could take part.

#include "QuandrilCore/Machine/DiskUsageInternal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace Quandril::DiskUsageDetail {

namespace {

void countOne(std::int64_t& count)
{
    if (count < maxCount)
        ++count;
}

void closeFolder(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool outOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
}

// Folders this deep give up their descriptor while they walk a subfolder, so each thread of a walk
// holds about this many open at once, whatever the depth of the tree.
constexpr std::size_t keptLevels = 32;
// Folders deeper than this stay with the thread that found them: another thread opens a folder it is
// handed from the start, name by name.
constexpr std::size_t sharedDepth = 12;
// Folders between two looks at whether a thread mostly waits for the disk.
constexpr std::size_t paceInterval = 32;
constexpr std::size_t listingBufferSize = 32 * 1024;
constexpr std::size_t noLevel = std::numeric_limits<std::size_t>::max();

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

} // namespace

Walker::Walker(Walk& walk)
    : walk_(walk)
    , buffer_(std::make_unique_for_overwrite<char[]>(listingBufferSize))
{
}

Walker::~Walker()
{
    releaseDescriptors(noLevel);
}

void Walker::walkStart(int fd, const struct stat& status)
{
    chain_.assign(1, FileID { status.st_dev, status.st_ino });
    // A start spelled with a trailing slash gets no second one before its entries' names.
    path_.assign(walk_.root, 0, walk_.rootPathLength);
    enter(fd, Subfolder { 0, 0, status.st_dev, status.st_ino, allocatedBytes(status) }, 0);
    walk();
}

void Walker::walkTask(Task& task)
{
    if (!walk_.skip.empty() && walk_.skip.count(task.path)) {
        addSaturating(usage_.bytes, task.bytes);
        return;
    }
    chain_ = std::move(task.chain);
    path_ = std::move(task.path);
    int fd = openBase();
    while (fd < 0 && starvedOpen_) {
        bool alone = false;
        fd = walk_.retryWhenFreed([&] { return openBase(); }, alone);
        if (alone)
            break;
    }
    if (fd < 0) {
        countOne(usage_.unreadable);
        return;
    }
    const FileID& id = chain_.back();
    enter(fd, Subfolder { 0, 0, id.dev, id.ino, task.bytes }, path_.rfind('/') + 1);
    walk();
}

void Walker::walk()
{
    while (!levels_.empty()) {
        const std::size_t depth = levels_.size() - 1;
        if (levels_[depth].next == levels_[depth].end) {
            leave();
            continue;
        }
        if (walk_.wantsWork())
            share(depth);
        const Subfolder sub = subfolders_[levels_[depth].next++];
        path_.resize(levels_[depth].pathLength);
        path_ += '/';
        const std::size_t nameStart = path_.size();
        path_.append(names_, sub.name, sub.nameLength);
        if (!walk_.skip.empty() && walk_.skip.count(path_)) {
            addSaturating(usage_.bytes, sub.bytes);
            continue;
        }
        int fd = openSubfolder(depth, path_.c_str() + nameStart);
        while (fd < 0 && starvedOpen_) {
            // Others hold what is left: give up every descriptor of this thread and wait for theirs.
            releaseDescriptors(noLevel);
            bool alone = false;
            fd = walk_.retryWhenFreed([&] { return openSubfolder(depth, path_.c_str() + nameStart); }, alone);
            if (alone)
                break;
        }
        if (fd < 0) {
            countOne(usage_.unreadable);
            continue;
        }
        Level& parent = levels_[depth];
        if (parent.next == parent.end || depth >= keptLevels)
            closeFolder(parent.fd);
        enter(fd, sub, nameStart);
    }
}

// Hands over the pending subfolder nearest the start, keeping the one about to be entered.
void Walker::share(std::size_t depth)
{
    for (std::size_t d = 0; d <= depth && chain_.size() + d <= sharedDepth; ++d) {
        Level& level = levels_[d];
        const std::size_t pending = level.end - level.next;
        if (pending == 0 || (d == depth && pending < 2))
            continue;
        const Subfolder sub = subfolders_[level.next++];
        Task task;
        task.path.reserve(level.pathLength + 1 + sub.nameLength);
        task.path.assign(path_, 0, level.pathLength);
        task.path += '/';
        task.path.append(names_, sub.name, sub.nameLength);
        task.chain.reserve(chain_.size() + d + 1);
        task.chain.assign(chain_.begin(), chain_.end());
        for (std::size_t k = 1; k <= d; ++k)
            task.chain.push_back(FileID { levels_[k].dev, levels_[k].ino });
        task.chain.push_back(FileID { sub.dev, sub.ino });
        task.bytes = sub.bytes;
        walk_.share(std::move(task));
        return;
    }
}

void Walker::enter(int fd, const Subfolder& folder, std::size_t nameStart)
{
    if (++entered_ % paceInterval == 0)
        notePace();
    levels_.push_back(Level { fd, folder.dev, folder.ino, folder.bytes, true, path_.size(), nameStart,
                              subfolders_.size(), subfolders_.size(), subfolders_.size(), names_.size() });
    list(levels_.size() - 1);
}

// Counts the files, links and other entries of a folder and queues its subfolders.
void Walker::list(std::size_t depth)
{
    const int fd = levels_[depth].fd;
    char* const buffer = buffer_.get();
    for (;;) {
        const ssize_t count = ::getdents64(fd, buffer, listingBufferSize);
        if (count == 0)
            break;
        if (count < 0) {
            // What was listed before the failure still counts; the folder itself does not.
            countOne(usage_.unreadable);
            levels_[depth].complete = false;
            break;
        }
        for (ssize_t offset = 0; offset < count;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + offset);
            offset += entry->d_reclen;
            // The type in the listing is not trusted to pass anything over: every entry is examined.
            const char* name = entry->d_name;
            if (isDotOrDotDot(name))
                continue;
            struct stat status;
            if (::fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
                countOne(usage_.unreadable);
                continue;
            }
            if (!S_ISDIR(status.st_mode)) {
                if (status.st_nlink < 2
                    || walk_.seen.lastName(FileID { status.st_dev, status.st_ino }, status.st_nlink))
                    addSaturating(usage_.bytes, walk_.ownBytes(fd, name, status));
                continue;
            }
            // Another volume, or a way back up to a folder being walked: its own entry only.
            if (status.st_dev != walk_.device || isBeingWalked(status)) {
                addSaturating(usage_.bytes, allocatedBytes(status));
                continue;
            }
            const std::size_t length = std::strlen(name);
            subfolders_.push_back(
                Subfolder { names_.size(), length, status.st_dev, status.st_ino, allocatedBytes(status) });
            names_.append(name, length);
        }
    }
    levels_[depth].end = subfolders_.size();
}

void Walker::leave()
{
    Level& level = levels_.back();
    if (level.complete)
        addSaturating(usage_.bytes, level.bytes);
    int fd = level.fd;
    subfolders_.resize(level.firstSubfolder);
    names_.resize(level.firstName);
    levels_.pop_back();
    if (!levels_.empty()) {
        Level& parent = levels_.back();
        // A deep parent gave up its descriptor on the way in: the child's ".." gives it back in one step.
        if (parent.fd < 0 && fd >= 0 && (parent.next < parent.end || levels_.size() - 1 >= keptLevels))
            parent.fd = openSame(fd, "..", FileID { parent.dev, parent.ino }, O_NOFOLLOW, noLevel);
    }
    closeFolder(fd);
}

int Walker::openSubfolder(std::size_t depth, const char* name)
{
    starvedOpen_ = false;
    if (levels_[depth].fd < 0) {
        levels_[depth].fd = descendAgain(depth);
        if (levels_[depth].fd < 0)
            return -1;
    }
    return openFolderAt(levels_[depth].fd, name, O_NOFOLLOW, depth);
}

// Opens this thread's first folder from the start, name by name through the folders of
// `chain_`, each checked to be the one listed.
int Walker::openBase()
{
    starvedOpen_ = false;
    int fd = openSame(AT_FDCWD, walk_.root.c_str(), chain_[0], 0, noLevel);
    std::size_t start = walk_.rootPathLength + 1;
    for (std::size_t k = 1; fd >= 0 && k < chain_.size(); ++k) {
        const std::size_t end = std::min(path_.find('/', start), path_.size());
        const std::string name = path_.substr(start, end - start);
        int next = openSame(fd, name.c_str(), chain_[k], O_NOFOLLOW, noLevel);
        ::close(fd);
        fd = next;
        start = end + 1;
    }
    return fd;
}

// Comes down again to a folder whose descriptor was given up, from the nearest folder still open
// or else from the start. A folder moved meanwhile is not the one listed, so it is not used.
int Walker::descendAgain(std::size_t depth)
{
    std::size_t from = depth;
    while (from > 0 && levels_[from - 1].fd < 0)
        --from;
    const std::size_t anchor = from > 0 ? from - 1 : noLevel;
    int fd = -1;
    bool owned = false;
    if (anchor == noLevel) {
        fd = openBase();
        owned = true;
        from = 1;
    } else {
        fd = levels_[anchor].fd;
    }
    for (std::size_t k = from; fd >= 0 && k <= depth; ++k) {
        const Level& level = levels_[k];
        const std::string name = path_.substr(level.nameStart, level.pathLength - level.nameStart);
        int next = openSame(fd, name.c_str(), FileID { level.dev, level.ino }, O_NOFOLLOW, anchor);
        if (owned)
            ::close(fd);
        fd = next;
        owned = true;
    }
    return fd;
}

// Opens `name` under `at` and keeps it only if it is the folder `id` names.
int Walker::openSame(int at, const char* name, const FileID& id, int flags, std::size_t keep)
{
    int fd = openFolderAt(at, name, flags, keep);
    struct stat status;
    if (fd >= 0 && (::fstat(fd, &status) != 0 || status.st_dev != id.dev || status.st_ino != id.ino))
        closeFolder(fd);
    return fd;
}

// Out of descriptors, every folder on the way down but `keep` gives its own up (each is opened
// again when it is needed) and the open is tried once more.
int Walker::openFolderAt(int at, const char* name, int flags, std::size_t keep)
{
    int fd = ::openat(at, name, folderFlags | flags);
    if (fd < 0 && outOfDescriptors(errno)) {
        if (releaseDescriptors(keep))
            fd = ::openat(at, name, folderFlags | flags);
        if (fd < 0 && outOfDescriptors(errno))
            starvedOpen_ = true;
    }
    return fd;
}

bool Walker::releaseDescriptors(std::size_t keep)
{
    bool released = false;
    for (std::size_t i = 0; i < levels_.size(); ++i) {
        if (i != keep && levels_[i].fd >= 0) {
            closeFolder(levels_[i].fd);
            released = true;
        }
    }
    return released;
}

// Over the last folders: less than half the time on the processor, and off it more often because
// it waited than because other work took its turn, the thread mostly waits for the disk.
void Walker::notePace()
{
    struct rusage usage {};
    if (::getrusage(RUSAGE_THREAD, &usage) != 0)
        return;
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const double clock = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    const double busy = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    if (lastClock_ >= 0 && clock > lastClock_) {
        walk_.notePace(busy - lastBusy_ < 0.5 * (clock - lastClock_)
                       && usage.ru_nvcsw - lastWaits_ > usage.ru_nivcsw - lastTurns_);
    }
    lastBusy_ = busy;
    lastClock_ = clock;
    lastWaits_ = usage.ru_nvcsw;
    lastTurns_ = usage.ru_nivcsw;
}

double Walker::seconds(const struct timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

bool Walker::isBeingWalked(const struct stat& status) const
{
    const auto same = [&](dev_t dev, ino_t ino) { return ino == status.st_ino && dev == status.st_dev; };
    return std::any_of(levels_.begin(), levels_.end(), [&](const Level& level) { return same(level.dev, level.ino); })
        || std::any_of(chain_.begin(), chain_.end(), [&](const FileID& id) { return same(id.dev, id.ino); });
}

} // namespace Quandril::DiskUsageDetail
