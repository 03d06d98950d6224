#pragma once

// The engine's worker threads: one per core, shared by every parallel map of the process.

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

    void submit(std::function<void()> task);
    std::size_t size() const noexcept { return threads_.size(); }

private:
    explicit WorkerPool(std::size_t count);
    void loop();

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::thread> threads_;
};

} // namespace Quandril::Platform
