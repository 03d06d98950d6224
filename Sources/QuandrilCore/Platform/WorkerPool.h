#pragma once

// The engine's worker threads: one per core, shared by every parallel map of the process; and a
// second set for work that mostly waits on a slow disk, where more requests at once are answered
// sooner while the cores stay free.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Quandril::Platform {

class WorkerPool {
public:
    static WorkerPool& shared();
    // Four times as many threads as cores: only for work that spends most of its time waiting.
    static WorkerPool& forWaiting();

    void submit(std::function<void()> task);
    std::size_t size() const noexcept { return threads_.size(); }
    // Threads that would start a task submitted now without waiting for another to finish: a hint
    // for work that can be shared or kept, never a promise.
    std::ptrdiff_t idle() const noexcept { return idle_.load(std::memory_order_relaxed); }

private:
    explicit WorkerPool(std::size_t count);
    void loop();

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::thread> threads_;
    // Threads not running a task, less the tasks waiting for one.
    std::atomic<std::ptrdiff_t> idle_ { 0 };
};

} // namespace Quandril::Platform
