#pragma once

// What the two halves of a disk-usage walk share: the walk that hands folders between threads
// (DiskUsage.cpp) and one thread's part of it (DiskUsageWalker.cpp).

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>

#include "QuandrilCore/Machine/DiskUsage.h"
#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Platform/SharedBlocks.h"
#include "QuandrilCore/Platform/WorkerPool.h"

namespace Quandril::DiskUsageDetail {

struct FileID {
    dev_t dev;
    ino_t ino;

    friend bool operator==(const FileID&, const FileID&) = default;
};

struct FileIDHash {
    std::size_t operator()(const FileID& id) const noexcept
    {
        std::size_t h = std::hash<std::uint64_t>()(static_cast<std::uint64_t>(id.ino));
        return h
            ^ (std::hash<std::uint64_t>()(static_cast<std::uint64_t>(id.dev)) + 0x9e3779b97f4a7c15ULL + (h << 6)
               + (h >> 2));
    }
};

inline constexpr std::int64_t maxCount = Saturating::most;

inline void addSaturating(std::int64_t& sum, std::int64_t amount)
{
    sum = Saturating::add(sum, amount);
}

inline std::int64_t allocatedBytes(const struct stat& status)
{
    return status.st_blocks < 0 ? 0 : Saturating::multiply(static_cast<std::int64_t>(status.st_blocks), 512);
}

// Folders waiting for a thread: enough that one finishing its part finds the next at once.
inline constexpr std::size_t queueTarget = 4;
inline constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Files with more than one name, met by any thread of one walk: such a file goes with the item
// only when every name it has lies inside it, so it counts once its last name is met. Split by
// identity so that threads meeting different files rarely wait for each other.
class SeenFiles {
public:
    // Whether this name of the file, which has `links` names in all, is the last of them met.
    bool lastName(const FileID& id, nlink_t links)
    {
        const std::size_t h = FileIDHash()(id);
        Part& part = parts_[(h ^ (h >> 17)) % partCount];
        std::lock_guard guard(part.lock);
        auto [at, first] = part.ids.try_emplace(id, links);
        if (--at->second != 0)
            return false;
        part.ids.erase(at);
        return true;
    }

    void clear()
    {
        for (auto& part : parts_) {
            std::lock_guard guard(part.lock);
            std::unordered_map<FileID, nlink_t, FileIDHash>().swap(part.ids);
        }
    }

private:
    static constexpr std::size_t partCount = 16;
    struct Part {
        std::mutex lock;
        std::unordered_map<FileID, nlink_t, FileIDHash> ids; // names still to meet
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
    Walk(const std::string& root, const std::set<std::string>& skip)
        : root(root)
        , skip(skip)
    {
    }

    Usage run();

    const std::string& root;
    const std::set<std::string>& skip;
    dev_t device = 0;
    bool sharesBlocks = false;      // its file system can share blocks between files
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

    // What the file `name` of the open folder takes that goes with it: blocks it shares with
    // another file stay on the drive.
    std::int64_t ownBytes(int folder, const char* name, const struct stat& status) const
    {
        const std::int64_t allocated = allocatedBytes(status);
        if (!sharesBlocks || !S_ISREG(status.st_mode))
            return allocated;
        return Platform::unsharedBytes(folder, name, status.st_dev, status.st_ino, allocated);
    }

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
    std::size_t helpers_[2] = { 0, 0 };         // asked of each pool or at work
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
    explicit Walker(Walk& walk);

    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;

    ~Walker();

    const Usage& usage() const { return usage_; }

    void walkStart(int fd, const struct stat& status);
    void walkTask(Task& task);

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

    void walk();
    void share(std::size_t depth);
    void enter(int fd, const Subfolder& folder, std::size_t nameStart);
    void list(std::size_t depth);
    void leave();
    int openSubfolder(std::size_t depth, const char* name);
    int openBase();
    int descendAgain(std::size_t depth);
    int openSame(int at, const char* name, const FileID& id, int flags, std::size_t keep);
    int openFolderAt(int at, const char* name, int flags, std::size_t keep);
    bool releaseDescriptors(std::size_t keep);
    void notePace();
    static double seconds(const struct timeval& time);
    bool isBeingWalked(const struct stat& status) const;

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

} // namespace Quandril::DiskUsageDetail
