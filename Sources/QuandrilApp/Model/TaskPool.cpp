#include "QuandrilApp/Model/TaskPool.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <QtConcurrent/qtconcurrenttask.h>

namespace Quandril::App::TaskPool {

namespace {

std::atomic<bool> stopping { false };

struct Stoppables {
    std::mutex lock;
    std::condition_variable ended;
    int running = 0;
};

Stoppables& stoppables()
{
    // Never destroyed: a task may still end after main() returned.
    static auto* shared = new Stoppables;
    return *shared;
}

} // namespace

QThreadPool& shared()
{
    // Deliberately never deleted: a QThreadPool's destructor waits for its running tasks.
    static QThreadPool* pool = [] {
        auto* created = new QThreadPool();
        created->setObjectName(QStringLiteral("Engine work"));
        return created;
    }();
    return *pool;
}

void start(std::function<void()> work, Priority priority)
{
    const int queuePriority = priority == Priority::userInitiated ? 1 : 0;
    QtConcurrent::task([work = std::move(work)] {
        try {
            work();
        } catch (...) {
            // Nothing waits on this task; each caller reports its own outcome.
        }
    })
        .onThreadPool(shared())
        .withPriority(queuePriority)
        .spawn(QtConcurrent::FutureResult::Ignore);
}

bool busy()
{
    return shared().activeThreadCount() > 0;
}

void requestStop()
{
    stopping.store(true);
}

bool stopRequested()
{
    return stopping.load();
}

Stoppable::Stoppable()
{
    std::lock_guard guard(stoppables().lock);
    ++stoppables().running;
}

Stoppable::~Stoppable()
{
    std::lock_guard guard(stoppables().lock);
    if (--stoppables().running == 0)
        stoppables().ended.notify_all();
}

bool waitForStops(std::chrono::milliseconds limit)
{
    std::unique_lock guard(stoppables().lock);
    return stoppables().ended.wait_for(guard, limit, [] { return stoppables().running == 0; });
}

bool stopAndWait()
{
    requestStop();
    return waitForStops(stopWait);
}

} // namespace Quandril::App::TaskPool
