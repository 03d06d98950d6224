#pragma once

#include <functional>

#include <QFile>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

namespace Quandril::AppTesting {

// Whether `work`, run on a thread of its own, returns within a few seconds. Work still waiting on
// the named pipe at `pipe` is then let go (a writer comes and leaves), so no thread outlives the test.
inline bool returnsPromptly(const QString& pipe, std::function<void()> work)
{
    const std::unique_ptr<QThread> thread(QThread::create(std::move(work)));
    thread->start();
    const bool prompt = thread->wait(QDeadlineTimer(5000));
    while (!thread->wait(QDeadlineTimer(50)))
        ::close(::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    return prompt;
}

} // namespace Quandril::AppTesting
