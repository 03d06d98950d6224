#pragma once

// Stands in for the network: every fetch waits until the test answers it.

#include "QuandrilApp/Platform/UpdateFetcher.h"

#include <QList>
#include <QPointer>

#include <optional>
#include <vector>

namespace Quandril::AppTesting {

class FakeUpdateFetcher final : public Quandril::App::UpdateFetcher {
public:
    // Every address asked for, in order.
    QList<QUrl> requested;
    // When set, each fetch is answered with it on the next turn of the event loop.
    std::optional<Outcome> autoAnswer;

    void fetch(const QUrl& url, QObject* context, Callback done) override;

    // Answers every waiting fetch whose context still exists; returns how many were answered.
    int answer(const Outcome& outcome);
    int waiting() const { return int(waiting_.size()); }

private:
    struct Waiting {
        QPointer<QObject> context;
        Callback done;
    };
    std::vector<Waiting> waiting_;
};

} // namespace Quandril::AppTesting
