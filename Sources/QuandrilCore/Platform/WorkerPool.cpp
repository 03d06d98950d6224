#include "QuandrilCore/Platform/WorkerPool.h"

#include <algorithm>

namespace Quandril::Platform {

WorkerPool& WorkerPool::shared()
{
    // Never destroyed: worker threads may still be waiting for work while the process exits.
    static WorkerPool* pool = new WorkerPool(std::max(2u, std::thread::hardware_concurrency()));
    return *pool;
}

WorkerPool& WorkerPool::forWaiting()
{
    static WorkerPool* pool = new WorkerPool(4 * std::max(2u, std::thread::hardware_concurrency()));
    return *pool;
}

WorkerPool::WorkerPool(std::size_t count)
{
    threads_.reserve(count);
    idle_.store(static_cast<std::ptrdiff_t>(count), std::memory_order_relaxed);
    for (std::size_t i = 0; i < count; ++i) {
        threads_.emplace_back([this] { loop(); });
        threads_.back().detach();
    }
}

void WorkerPool::submit(std::function<void()> task)
{
    {
        std::lock_guard guard(lock_);
        queue_.push_back(std::move(task));
    }
    idle_.fetch_sub(1, std::memory_order_relaxed);
    wake_.notify_one();
}

void WorkerPool::loop()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock guard(lock_);
            wake_.wait(guard, [this] { return !queue_.empty(); });
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        task();
        task = nullptr;
        idle_.fetch_add(1, std::memory_order_relaxed);
    }
}

} // namespace Quandril::Platform
