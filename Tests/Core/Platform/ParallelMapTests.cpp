#include "QuandrilCore/Platform/ParallelMap.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <numeric>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace Quandril;
using namespace std::chrono_literals;

namespace {

std::size_t poolSize()
{
    return Platform::WorkerPool::shared().size();
}

// A deadlock would hang the whole test run; stop it with a clear failure instead.
template <typename Body>
void finishesWithin(std::chrono::seconds limit, Body body)
{
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    std::thread([done, &body] {
        try {
            body();
            done->set_value();
        } catch (...) {
            done->set_exception(std::current_exception());
        }
    }).detach();
    if (finished.wait_for(limit) != std::future_status::ready) {
        ADD_FAILURE() << "parallelMap did not finish within " << limit.count() << " s: deadlock";
        std::abort();
    }
    finished.get();
}

std::vector<int> range(int count)
{
    std::vector<int> items(static_cast<std::size_t>(count));
    std::iota(items.begin(), items.end(), 0);
    return items;
}

struct NoDefault {
    explicit NoDefault(std::string text)
        : text(std::move(text))
    {
    }
    std::string text;
};

TEST(ParallelMap, EmptyListRunsNothing)
{
    std::atomic<int> calls { 0 };
    auto results = parallelMap(std::vector<int> {}, [&](int) { return ++calls; });
    EXPECT_TRUE(results.empty());
    EXPECT_EQ(calls, 0);
}

TEST(ParallelMap, ResultsKeepInputOrderWhateverFinishesFirst)
{
    const auto items = range(64);
    // Early items take longest, so they finish last.
    auto results = parallelMap(items, [](int i) {
        std::this_thread::sleep_for(std::chrono::microseconds((64 - i) % 7 * 300));
        return NoDefault(std::to_string(i * i));
    });
    ASSERT_EQ(results.size(), items.size());
    for (int i : items)
        EXPECT_EQ(results[static_cast<std::size_t>(i)].text, std::to_string(i * i));
}

TEST(ParallelMap, SpreadsWorkOverSeveralThreads)
{
    // Every item waits (bounded) until another thread has joined in; a serial map would time out.
    std::mutex lock;
    std::condition_variable joined;
    std::set<std::thread::id> threads;
    bool overlapped = false;
    parallelMap(range(4), [&](int) {
        std::unique_lock guard(lock);
        threads.insert(std::this_thread::get_id());
        joined.notify_all();
        overlapped = joined.wait_for(guard, 5s, [&] { return threads.size() > 1; }) || overlapped;
        return 0;
    });
    EXPECT_TRUE(overlapped);
}

int chain(int depth)
{
    // Two items a level: one goes deeper, one is a leaf, so every level waits on a nested map.
    auto results = parallelMap(std::vector<int> { depth, 0 }, [](int d) {
        if (d == 0) {
            std::this_thread::sleep_for(200us);
            return 1;
        }
        return chain(d - 1);
    });
    return results[0] + results[1];
}

TEST(ParallelMap, NestedDeeperThanThePoolFinishes)
{
    const int depth = static_cast<int>(poolSize()) + 2;
    // As many outer items as the pool and the caller can run at once, each nesting deeper than the
    // pool is large: every worker ends up waiting inside a nested map.
    const auto outer = std::vector<int>(poolSize() + 1, depth);
    std::vector<int> results;
    finishesWithin(120s, [&] { results = parallelMap(outer, [](int d) { return chain(d); }); });
    for (int leaves : results)
        EXPECT_EQ(leaves, depth + 2);
}

TEST(ParallelMap, MapWhileHoldingALockThatOtherWorkWants)
{
    std::mutex held;
    std::mutex progress;
    std::condition_variable waiting;
    std::size_t blocked = 0;
    const std::size_t wanted = poolSize() + 1;

    std::unique_lock holding(held);
    // Another thread's map whose every transform needs the lock this thread holds.
    std::thread other([&] {
        parallelMap(std::vector<int>(wanted * 2, 0), [&](int) {
            {
                std::lock_guard guard(progress);
                ++blocked;
            }
            waiting.notify_all();
            std::lock_guard guard(held);
            return 0;
        });
    });
    {
        // Until every worker (and the other caller) is stuck on the lock, or long enough to be sure.
        std::unique_lock guard(progress);
        waiting.wait_for(guard, 5s, [&] { return blocked >= wanted; });
    }
    std::vector<std::string> results;
    finishesWithin(60s, [&] { results = parallelMap(range(32), [](int i) { return std::to_string(i); }); });
    holding.unlock();
    other.join();
    ASSERT_EQ(results.size(), 32u);
    EXPECT_EQ(results.back(), "31");
}

TEST(ParallelMap, ExceptionOfATransformReachesTheCaller)
{
    try {
        parallelMap(range(100), [](int i) {
            if (i == 37)
                throw std::runtime_error("item 37");
            return i;
        });
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "item 37");
    }

    EXPECT_THROW(parallelMap(range(8), [](int) -> int { throw std::logic_error("every one"); }), std::logic_error);

    EXPECT_THROW(parallelMap(range(4),
                             [](int) {
                                 return parallelMap(range(4), [](int j) -> int {
                                     if (j == 2)
                                         throw std::out_of_range("nested");
                                     return j;
                                 });
                             }),
                 std::out_of_range);

    // The pool still works after failures.
    EXPECT_EQ(parallelMap(range(3), [](int i) { return i + 1; }), (std::vector<int> { 1, 2, 3 }));
}

} // namespace
