#pragma once

// What Model.cpp and ModelTasks.cpp share: the way results come back from tasks, and the
// readings of History and the drive status taken in tasks.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include <QMetaObject>

#include "QuandrilApp/Model/Model.h"

namespace Quandril::App {

// How a task reaches the model: a queued call on the model's thread, whose context is the model,
// so Qt drops it when the model is gone. The lock only covers posting, never the work.
class Model::Mailbox {
public:
    explicit Mailbox(Model* model)
        : model_(model)
    {
    }

    void post(std::function<void(Model&)> step)
    {
        std::lock_guard guard(lock_);
        if (!model_)
            return;
        Model* model = model_;
        QMetaObject::invokeMethod(
            model, [model, step = std::move(step)] { step(*model); }, Qt::QueuedConnection);
    }

    // The model is going: nothing more is posted.
    void close()
    {
        std::lock_guard guard(lock_);
        model_ = nullptr;
    }

private:
    std::mutex lock_;
    Model* model_;
};

// Orders the readings of the machine that tasks take. Each reading gets a stamp, taken under the
// lock that also covers the reading, so a higher stamp never shows an older state of the history
// file or the drives; the model shows a reading only when its stamp is higher than what it shows.
struct Model::Readings {
    std::mutex lock;
    std::uint64_t issued = 0;

    std::uint64_t next()
    {
        std::lock_guard guard(lock);
        return ++issued;
    }

    std::uint64_t latest()
    {
        std::lock_guard guard(lock);
        return issued;
    }
};

// The rules catalog from the engine's own search, or why there is none. Never throws.
struct LoadedCatalog {
    std::shared_ptr<const Catalog> catalog;
    std::string failure; // empty when loaded

    static LoadedCatalog load(EngineFacade& engine)
    {
        LoadedCatalog out;
        try {
            if (auto loaded = engine.loadCatalog())
                out.catalog = std::make_shared<const Catalog>(std::move(*loaded));
            else
                out.failure = CatalogError::notFound().what();
        } catch (const std::exception& error) {
            out.failure = Cleaner::describe(error);
        } catch (...) {
            out.failure = CatalogError::notFound().what();
        }
        return out;
    }
};

struct Model::Snapshot {
    std::uint64_t stamp = 0;           // 0: nothing was read
    std::vector<HistoryEntry> history; // newest first
    std::vector<bool> offers;          // of `history`, index for index
    std::string historyWhyNot;         // why the history file gave nothing; empty when it is used
    ScanReport status;

    // Reads History (with which entries offer Put Back) and the drive status, together, as one
    // stamped reading. Never throws.
    static Snapshot take(Readings& readings, EngineFacade& engine, const Mac& mac)
    {
        Snapshot snapshot;
        try {
            std::lock_guard guard(readings.lock);
            snapshot.readHistory(engine, mac);
            snapshot.status = engine.status(mac);
            snapshot.stamp = ++readings.issued;
        } catch (...) {
            snapshot = Snapshot();
        }
        return snapshot;
    }

    // Reads History, newest first, why the file gave nothing, and which entries offer Put Back
    // (one answer per entry, whatever the engine gives back). Throws what the engine throws.
    void readHistory(EngineFacade& engine, const Mac& mac)
    {
        History::Loaded loaded = engine.readHistory(mac);
        history = std::move(loaded.entries);
        historyWhyNot = std::move(loaded.whyNot);
        std::reverse(history.begin(), history.end());
        offers = engine.putBackOffers(history, mac);
        offers.resize(history.size(), false);
    }
};

} // namespace Quandril::App
