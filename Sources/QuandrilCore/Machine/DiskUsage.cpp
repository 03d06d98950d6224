// Space taken on disk, measured by the calling thread with the engine's worker threads joining it
// when they are free: the walk that hands folders between threads, and the public entry points.
// One thread's part of a walk is in DiskUsageWalker.cpp.

#include "QuandrilCore/Machine/DiskUsage.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>

#include "QuandrilCore/Machine/DiskUsageInternal.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/WorkerPool.h"

namespace Quandril {

namespace DiskUsageDetail {

Usage Walk::run()
{
    struct stat status;
    if (::lstat(root.c_str(), &status) != 0)
        return { 0, 1 };
    if (S_ISDIR(status.st_mode) && skip.count(root))
        return { allocatedBytes(status), 0 };
    if (!S_ISDIR(status.st_mode)) {
        // A file with a name elsewhere stays on the drive when this one goes.
        if (status.st_nlink > 1)
            return { 0, 0 };
        if (!S_ISREG(status.st_mode) || status.st_blocks <= 0)
            return { allocatedBytes(status), 0 };
        const Platform::Descriptor folder(::open(Platform::parentOf(root).c_str(), folderFlags));
        sharesBlocks = folder && Platform::mayShareBlocks(folder.get());
        return { folder ? ownBytes(folder.get(), Platform::lastComponent(root).c_str(), status)
                        : allocatedBytes(status),
                 0 };
    }
    int fd = ::open(root.c_str(), folderFlags);
    if (fd < 0)
        return { 0, 1 };
    device = status.st_dev;
    sharesBlocks = Platform::mayShareBlocks(fd);
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

} // namespace DiskUsageDetail

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
    return std::make_shared<DiskUsageDetail::Walk>(path, *skip)->run();
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
