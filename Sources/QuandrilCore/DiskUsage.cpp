#include "QuandrilCore/DiskUsage.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_set>

#include <dirent.h>
#include <time.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Platform/WorkerPool.h"
#include "QuandrilCore/PrivacyFence.h"

namespace Quandril {

namespace {

struct FileID {
    dev_t dev;
    ino_t ino;

    friend bool operator==(const FileID&, const FileID&) = default;
};

struct FileIDHash {
    std::size_t operator()(const FileID& id) const noexcept
    {
        std::size_t h = std::hash<std::uint64_t>()(static_cast<std::uint64_t>(id.ino));
        return h ^ (std::hash<std::uint64_t>()(static_cast<std::uint64_t>(id.dev)) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
    }
};

constexpr std::int64_t maxCount = std::numeric_limits<std::int64_t>::max();

void addSaturating(std::int64_t& sum, std::int64_t amount)
{
    if (__builtin_add_overflow(sum, amount, &sum))
        sum = maxCount;
}

void countOne(std::int64_t& count)
{
    if (count < maxCount)
        ++count;
}

std::int64_t allocatedBytes(const struct stat& status)
{
    std::int64_t bytes = 0;
    if (status.st_blocks < 0 || __builtin_mul_overflow(static_cast<std::int64_t>(status.st_blocks), 512, &bytes))
        return status.st_blocks < 0 ? 0 : maxCount;
    return bytes;
}

void closeFolder(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool outOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

// Folders this deep give up their descriptor while they walk a subfolder, so each thread of a walk
// holds about this many open at once, whatever the depth of the tree.
constexpr std::size_t keptLevels = 32;
// Folders deeper than this stay with the thread that found them: another thread opens a folder it is
// handed from the start, name by name.
constexpr std::size_t sharedDepth = 12;
// Folders waiting for a thread: enough that one finishing its part finds the next at once.
constexpr std::size_t queueTarget = 4;
// Folders between two looks at whether a thread mostly waits for the disk.
constexpr std::size_t paceInterval = 32;
constexpr std::size_t listingBufferSize = 32 * 1024;
constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
constexpr std::size_t noLevel = std::numeric_limits<std::size_t>::max();

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Hard-linked files met by any thread of one walk. Split by identity so that threads meeting
// different files rarely wait for each other.
class SeenFiles {
public:
    bool firstTime(const FileID& id)
    {
        const std::size_t h = FileIDHash()(id);
        Part& part = parts_[(h ^ (h >> 17)) % partCount];
        std::lock_guard guard(part.lock);
        return part.ids.insert(id).second;
    }

    void clear()
    {
        for (auto& part : parts_) {
            std::lock_guard guard(part.lock);
            std::unordered_set<FileID, FileIDHash>().swap(part.ids);
        }
    }

private:
    static constexpr std::size_t partCount = 16;
    struct Part {
        std::mutex lock;
        std::unordered_set<FileID, FileIDHash> ids;
    };
    std::array<Part, partCount> parts_;
};

// A folder handed from one thread to another, not yet opened. It is opened from the start name by
// name, and only if every folder on the way is still the one listed.
struct Task {
    std::string path;          // its walk path
    std::vector<FileID> chain; // the start, every folder below it, and this folder last
    std::int64_t bytes;        // its own allocation, counted once it has been listed
};

class Walker;

// One measurement, shared by the calling thread and the engine's worker threads that join it.
//
// The caller walks the tree itself. Whenever another thread could take part, a walking thread hands
// over a folder it has listed but not entered (the one nearest the start, so the largest part) and
// asks the pool for a helper. A helper that finds nothing to take leaves at once, so a walk never
// holds a worker that has nothing to do, and the caller never waits for a helper to start: in the
// worst case it walks everything itself. That keeps calls from inside a parallel map free of
// deadlock and within the pool's threads.
class Walk : public std::enable_shared_from_this<Walk> {
public:
    Walk(const std::string& root, const std::set<std::string>& skip) : root(root), skip(skip) {}

    Usage run();

    const std::string& root;
    const std::set<std::string>& skip;
    dev_t device = 0;
    std::size_t rootPathLength = 0; // the start's walk path: the first rootPathLength characters of each
    SeenFiles seen;

    bool wantsWork() const
    {
        return queued_.load(std::memory_order_relaxed) < queueTarget && !starved_.load(std::memory_order_relaxed)
            && (walking_.load(std::memory_order_relaxed) > 1 || callerWaiting_.load(std::memory_order_relaxed)
                || Platform::WorkerPool::shared().idle() > 0
                || (slowDisk_.load(std::memory_order_relaxed) && Platform::WorkerPool::forWaiting().idle() > 0));
    }

    // Whether the threads of the walk spend most of their time waiting for the disk: then helpers
    // from the pool for waiting join too, as more requests at once are answered sooner.
    void notePace(bool waiting) { slowDisk_.store(waiting, std::memory_order_relaxed); }

    void share(Task task);

    // Out of descriptors with none of its own left open, a thread waits until another gives some
    // back, and then calls `retry`. Alone, it retries at once, holding the walk's lock so that no
    // other thread of the walk can take what is free; `alone` then says that a failure is final.
    template <typename Retry>
    int retryWhenFreed(Retry retry, bool& alone)
    {
        std::unique_lock guard(lock_);
        starved_.store(true, std::memory_order_relaxed);
        ++released_;
        freed_.notify_all();
        alone = walking_.load(std::memory_order_relaxed) - starving_ <= 1;
        if (alone)
            return retry();
        ++starving_;
        const std::uint64_t seen = released_;
        freed_.wait(guard, [&] { return released_ != seen; });
        --starving_;
        guard.unlock();
        return retry();
    }

private:
    enum Pool { sharedPool, waitingPool };
    void help(Pool pool);
    // The next folder for a thread that finished its part, or nothing: a helper then adds its sums
    // and leaves, the caller waits for the others.
    bool next(Task& task, bool caller, const Usage& usage, Pool pool = sharedPool);
    void add(const Usage& usage);

    std::mutex lock_;
    std::condition_variable workOrEnd_;
    std::condition_variable freed_;
    std::vector<Task> queue_;
    std::atomic<std::size_t> queued_ { 0 };
    std::atomic<std::ptrdiff_t> walking_ { 1 }; // threads inside the tree, the caller first
    std::size_t helpers_[2] = { 0, 0 };          // asked of each pool or at work
    std::atomic<bool> slowDisk_ { false };
    std::atomic<bool> callerWaiting_ { false };
    bool done_ = false;
    std::atomic<bool> starved_ { false };
    std::ptrdiff_t starving_ = 0;
    std::uint64_t released_ = 0;
    std::exception_ptr error_;
    Usage usage_;
};

// One thread's part of a walk, by names relative to each open folder: looking a name up from the
// top again for every entry costs more than the entry itself, and fails past the longest path the
// system takes. Every entry of a folder is examined before any of its subfolders is entered; the
// sums are the same in any order, and whichever thread meets a hard-linked file first counts it.
class Walker {
public:
    explicit Walker(Walk& walk) : walk_(walk), buffer_(std::make_unique_for_overwrite<char[]>(listingBufferSize)) {}

    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;

    ~Walker() { releaseDescriptors(noLevel); }

    const Usage& usage() const { return usage_; }

    void walkStart(int fd, const struct stat& status)
    {
        chain_.assign(1, FileID { status.st_dev, status.st_ino });
        // A start spelled with a trailing slash gets no second one before its entries' names.
        path_.assign(walk_.root, 0, walk_.rootPathLength);
        enter(fd, Subfolder { 0, 0, status.st_dev, status.st_ino, allocatedBytes(status) }, 0);
        walk();
    }

    void walkTask(Task& task)
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

private:
    // A folder met in a listing, entered once the listing is done.
    struct Subfolder {
        std::size_t name; // where its name starts in names_
        std::size_t nameLength;
        dev_t dev;
        ino_t ino;
        std::int64_t bytes;
    };

    // One folder on the way down. `fd` is -1 while it is not needed or had to be given up.
    struct Level {
        int fd;
        dev_t dev;
        ino_t ino;
        std::int64_t bytes; // its own allocation, counted on the way out
        bool complete;
        std::size_t pathLength; // its walk path is path_[0, pathLength)
        std::size_t nameStart;  // its own name is path_[nameStart, pathLength)
        std::size_t next;       // subfolders still to enter are subfolders_[next, end)
        std::size_t end;
        std::size_t firstSubfolder; // where its listing began in subfolders_ and names_
        std::size_t firstName;
    };

    void walk()
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
    void share(std::size_t depth)
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

    void enter(int fd, const Subfolder& folder, std::size_t nameStart)
    {
        if (++entered_ % paceInterval == 0)
            notePace();
        levels_.push_back(Level { fd, folder.dev, folder.ino, folder.bytes, true, path_.size(), nameStart,
                                  subfolders_.size(), subfolders_.size(), subfolders_.size(), names_.size() });
        list(levels_.size() - 1);
    }

    // Counts the files, links and other entries of a folder and queues its subfolders.
    void list(std::size_t depth)
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
                    if (status.st_nlink < 2 || walk_.seen.firstTime(FileID { status.st_dev, status.st_ino }))
                        addSaturating(usage_.bytes, allocatedBytes(status));
                    continue;
                }
                // Another volume, or a way back up to a folder being walked: its own entry only.
                if (status.st_dev != walk_.device || isBeingWalked(status)) {
                    addSaturating(usage_.bytes, allocatedBytes(status));
                    continue;
                }
                const std::size_t length = std::strlen(name);
                subfolders_.push_back(Subfolder { names_.size(), length, status.st_dev, status.st_ino, allocatedBytes(status) });
                names_.append(name, length);
            }
        }
        levels_[depth].end = subfolders_.size();
    }

    void leave()
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

    int openSubfolder(std::size_t depth, const char* name)
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
    int openBase()
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
    int descendAgain(std::size_t depth)
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
    int openSame(int at, const char* name, const FileID& id, int flags, std::size_t keep)
    {
        int fd = openFolderAt(at, name, flags, keep);
        struct stat status;
        if (fd >= 0 && (::fstat(fd, &status) != 0 || status.st_dev != id.dev || status.st_ino != id.ino))
            closeFolder(fd);
        return fd;
    }

    // Out of descriptors, every folder on the way down but `keep` gives its own up (each is opened
    // again when it is needed) and the open is tried once more.
    int openFolderAt(int at, const char* name, int flags, std::size_t keep)
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

    bool releaseDescriptors(std::size_t keep)
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
    void notePace()
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

    static double seconds(const struct timeval& time)
    {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
    }

    bool isBeingWalked(const struct stat& status) const
    {
        const auto same = [&](dev_t dev, ino_t ino) { return ino == status.st_ino && dev == status.st_dev; };
        return std::any_of(levels_.begin(), levels_.end(), [&](const Level& level) { return same(level.dev, level.ino); })
            || std::any_of(chain_.begin(), chain_.end(), [&](const FileID& id) { return same(id.dev, id.ino); });
    }

    Walk& walk_;
    std::unique_ptr<char[]> buffer_;
    std::vector<FileID> chain_; // the folders from the start down to this thread's first one
    std::string path_;
    std::string names_;
    std::vector<Level> levels_;
    std::vector<Subfolder> subfolders_;
    bool starvedOpen_ = false; // the last open failed for want of descriptors
    std::size_t entered_ = 0;
    double lastBusy_ = -1;
    double lastClock_ = -1;
    long lastWaits_ = 0; // switches off the processor to wait
    long lastTurns_ = 0; // and to let other work run
    Usage usage_;
};

Usage Walk::run()
{
    struct stat status;
    if (::lstat(root.c_str(), &status) != 0)
        return { 0, 1 };
    if (!S_ISDIR(status.st_mode) || skip.count(root))
        return { allocatedBytes(status), 0 };
    int fd = ::open(root.c_str(), folderFlags);
    if (fd < 0)
        return { 0, 1 };
    device = status.st_dev;
    rootPathLength = root.back() == '/' ? root.size() - 1 : root.size();

    std::exception_ptr error;
    {
        Walker walker(*this);
        try {
            walker.walkStart(fd, status);
            Task task;
            while (next(task, true, walker.usage()))
                walker.walkTask(task);
        } catch (...) {
            error = std::current_exception();
        }
        add(walker.usage());
    }
    if (error) {
        // The helpers still read the caller's start and skip set: they finish before it unwinds.
        std::unique_lock guard(lock_);
        queue_.clear();
        queued_.store(0, std::memory_order_relaxed);
        walking_.fetch_sub(1, std::memory_order_relaxed);
        callerWaiting_ = true;
        workOrEnd_.wait(guard, [&] { return walking_.load(std::memory_order_relaxed) == 0; });
        done_ = true;
        std::rethrow_exception(error);
    }
    std::lock_guard guard(lock_);
    if (error_)
        std::rethrow_exception(error_);
    seen.clear();
    return usage_;
}

void Walk::share(Task task)
{
    bool ask = false;
    Pool from = sharedPool;
    {
        std::lock_guard guard(lock_);
        queue_.push_back(std::move(task));
        queued_.store(queue_.size(), std::memory_order_relaxed);
        auto& shared = Platform::WorkerPool::shared();
        auto& waiting = Platform::WorkerPool::forWaiting();
        if (helpers_[sharedPool] < shared.size() && shared.idle() > 0) {
            ++helpers_[sharedPool];
            ask = true;
        } else if (slowDisk_.load(std::memory_order_relaxed) && helpers_[waitingPool] < waiting.size()
                   && waiting.idle() > 0) {
            ++helpers_[waitingPool];
            ask = true;
            from = waitingPool;
        }
        if (callerWaiting_)
            workOrEnd_.notify_one();
    }
    if (!ask)
        return;
    try {
        auto& pool = from == sharedPool ? Platform::WorkerPool::shared() : Platform::WorkerPool::forWaiting();
        pool.submit([walk = shared_from_this(), from] { walk->help(from); });
    } catch (...) {
        // Without a helper the folder is walked by a thread already at work.
        std::lock_guard guard(lock_);
        --helpers_[from];
    }
}

void Walk::help(Pool pool)
{
    Task task;
    {
        std::lock_guard guard(lock_);
        if (done_ || queue_.empty()) {
            --helpers_[pool];
            return;
        }
        task = std::move(queue_.back());
        queue_.pop_back();
        queued_.store(queue_.size(), std::memory_order_relaxed);
        walking_.fetch_add(1, std::memory_order_relaxed);
    }
    try {
        Walker walker(*this);
        do
            walker.walkTask(task);
        while (next(task, false, walker.usage(), pool));
    } catch (...) {
        std::lock_guard guard(lock_);
        if (!error_)
            error_ = std::current_exception();
        --helpers_[pool];
        if (walking_.fetch_sub(1, std::memory_order_relaxed) == 1 || callerWaiting_)
            workOrEnd_.notify_one();
    }
}

bool Walk::next(Task& task, bool caller, const Usage& usage, Pool pool)
{
    std::unique_lock guard(lock_);
    // This thread holds no descriptor of the walk any more.
    if (starving_ > 0) {
        ++released_;
        freed_.notify_all();
    }
    if (caller && queue_.empty()) {
        walking_.fetch_sub(1, std::memory_order_relaxed);
        callerWaiting_ = true;
        workOrEnd_.wait(guard, [&] { return !queue_.empty() || walking_.load(std::memory_order_relaxed) == 0; });
        callerWaiting_ = false;
        if (queue_.empty()) {
            done_ = true;
            return false;
        }
        walking_.fetch_add(1, std::memory_order_relaxed);
    }
    if (queue_.empty()) {
        addSaturating(usage_.bytes, usage.bytes);
        addSaturating(usage_.unreadable, usage.unreadable);
        --helpers_[pool];
        if (walking_.fetch_sub(1, std::memory_order_relaxed) == 1 || callerWaiting_)
            workOrEnd_.notify_one();
        return false;
    }
    task = std::move(queue_.back());
    queue_.pop_back();
    queued_.store(queue_.size(), std::memory_order_relaxed);
    return true;
}

void Walk::add(const Usage& usage)
{
    std::lock_guard guard(lock_);
    addSaturating(usage_.bytes, usage.bytes);
    addSaturating(usage_.unreadable, usage.unreadable);
}

} // namespace

Json::Value toJson(const Usage& usage)
{
    Json::Value object = Json::Value::object();
    object["bytes"] = usage.bytes;
    object["unreadable"] = usage.unreadable;
    return object;
}

void decode(const Json::Value& value, Usage& out)
{
    Json::expectObject(value);
    out.bytes = Json::required<std::int64_t>(value, "bytes");
    out.unreadable = Json::required<std::int64_t>(value, "unreadable");
}

Usage diskUsage(const std::string& path, const std::set<std::string>& skipping)
{
    auto& fence = PrivacyFence::shared();
    const std::vector<std::string> roots = fence.active();
    if (fence.blocks(path))
        return {};
    if (std::find(roots.begin(), roots.end(), path) != roots.end())
        return {};
    // The empty path names nothing, not the working folder.
    if (path.empty())
        return {};

    // Fenced folders are passed over like skipped ones: their own entry counts, nothing inside.
    const std::set<std::string>* skip = &skipping;
    std::set<std::string> withRoots;
    if (!roots.empty()) {
        withRoots = skipping;
        withRoots.insert(roots.begin(), roots.end());
        skip = &withRoots;
    }
    return std::make_shared<Walk>(path, *skip)->run();
}

std::map<std::string, Usage> diskUsageOf(const std::vector<std::string>& paths, const std::set<std::string>& skipping)
{
    // A repeated path would only be measured again to the same effect.
    std::vector<std::string> unique;
    std::unordered_set<std::string> met;
    unique.reserve(paths.size());
    for (const auto& path : paths) {
        if (met.insert(path).second)
            unique.push_back(path);
    }
    auto usages = parallelMap(unique, [&skipping](const std::string& path) { return diskUsage(path, skipping); });
    std::map<std::string, Usage> result;
    for (std::size_t i = 0; i < unique.size(); ++i)
        result.emplace(unique[i], usages[i]);
    return result;
}

} // namespace Quandril
