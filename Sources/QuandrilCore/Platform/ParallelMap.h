#pragma once

// Applies a transform to every item on the engine's worker threads; results keep the input order.
//
// The calling thread works through the items too, so a call made from inside another parallel map,
// or while the caller holds a lock that the workers' other tasks may want, always finishes: in the
// worst case the caller does all the work itself.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "QuandrilCore/Platform/WorkerPool.h"

namespace Quandril {

template <typename T, typename F>
auto parallelMap(const std::vector<T>& items, F&& transform)
    -> std::vector<std::decay_t<std::invoke_result_t<F&, const T&>>>
{
    using R = std::decay_t<std::invoke_result_t<F&, const T&>>;
    const std::size_t count = items.size();
    if (count == 0)
        return {};

    struct State {
        std::atomic<std::size_t> next { 0 };
        std::size_t finished = 0;
        std::mutex lock;
        std::condition_variable allDone;
        std::vector<std::optional<R>> outputs;
        std::exception_ptr error;
    };
    auto state = std::make_shared<State>();
    state->outputs.resize(count);

    const T* data = items.data();
    auto* function = &transform;
    // Helpers only touch `data` and `function` for an index they claimed, and the caller waits
    // until every claimed index is finished, so both outlive every use.
    auto work = [state, data, function, count] {
        for (;;) {
            std::size_t i = state->next.fetch_add(1, std::memory_order_relaxed);
            if (i >= count)
                return;
            std::optional<R> result;
            std::exception_ptr error;
            try {
                result.emplace((*function)(data[i]));
            } catch (...) {
                error = std::current_exception();
            }
            std::lock_guard guard(state->lock);
            if (result)
                state->outputs[i] = std::move(result);
            else if (!state->error)
                state->error = std::move(error);
            // Every copy of an exception is let go under the lock, so its count never changes on
            // two threads at once unseen (the C++ runtime's own counting isn't visible to TSan).
            error = nullptr;
            if (++state->finished == count)
                state->allDone.notify_all();
        }
    };

    auto& pool = Platform::WorkerPool::shared();
    std::size_t helpers = std::min(count - 1, pool.size());
    try {
        for (std::size_t h = 0; h < helpers; ++h)
            pool.submit(work);
    } catch (...) {
        // Helpers already queued may still claim items, so the caller must not leave early; with
        // fewer helpers it simply does more of the work itself.
    }
    work();
    std::exception_ptr error;
    {
        std::unique_lock guard(state->lock);
        state->allDone.wait(guard, [&] { return state->finished == count; });
        // Taken out, so a helper that lets go of the shared state last holds no copy of it.
        error = std::exchange(state->error, nullptr);
    }
    if (error)
        std::rethrow_exception(error);
    std::vector<R> results;
    results.reserve(count);
    for (auto& slot : state->outputs)
        results.push_back(std::move(*slot));
    return results;
}

} // namespace Quandril
