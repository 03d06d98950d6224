#include "Support/FakeUpdateFetcher.h"

#include <QTimer>

#include <utility>

namespace Quandril::AppTesting {

void FakeUpdateFetcher::fetch(const QUrl& url, QObject* context, Callback done)
{
    requested.append(url);
    if (autoAnswer)
        QTimer::singleShot(0, context, [done = std::move(done), outcome = *autoAnswer] { done(outcome); });
    else
        waiting_.push_back({ context, std::move(done) });
}

int FakeUpdateFetcher::answer(const Outcome& outcome)
{
    int answered = 0;
    for (Waiting& w : std::exchange(waiting_, {})) {
        if (w.context) {
            w.done(outcome);
            ++answered;
        }
    }
    return answered;
}

} // namespace Quandril::AppTesting
