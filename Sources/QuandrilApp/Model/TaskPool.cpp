#include "QuandrilApp/Model/TaskPool.h"

#include <QtConcurrent/qtconcurrenttask.h>

namespace Quandril::App::TaskPool {

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

} // namespace Quandril::App::TaskPool
