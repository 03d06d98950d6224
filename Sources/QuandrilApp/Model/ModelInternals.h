#pragma once

// What Model.cpp and ModelTasks.cpp share: the way results come back from tasks, and the
// readings of History and the drive status taken in tasks.

#include <atomic>
#include <cstddef>
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
// History has a lock and stamps of its own, so a long reading of it holds up no reading of the
// drives.
struct Model::Readings {
    std::mutex lock; // the drives
    std::uint64_t issued = 0;

    std::mutex historyLock;
    std::uint64_t historyIssued = 0;
    // The one reader of the history file, made by the first reading; it reads only what was
    // appended since the last one.
    std::unique_ptr<EngineFacade::HistoryReader> reader;
    // How many of the newest entries the list shows; it only grows. Read by each reading as it
    // starts, so the reading stamped last also asked for the most.
    std::atomic<std::size_t> wanted { historyPage };

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
    std::uint64_t historyStamp = 0;    // 0: History wasn't read
    std::vector<HistoryEntry> history; // newest first
    std::vector<bool> offers;          // of `history`, index for index
    std::string historyWhyNot;         // why the history file gave nothing; empty when it is used
    bool historyHasOlder = false;      // the file holds older entries than `history`
    std::uint64_t statusStamp = 0;     // 0: the drives weren't read
    ScanReport status;

    // Reads History (with which entries offer Put Back), then the drive status, each as a stamped
    // reading. Never throws.
    static Snapshot take(Readings& readings, EngineFacade& engine, const Mac& mac)
    {
        Snapshot snapshot;
        snapshot.readHistory(readings, engine, mac);
        try {
            std::lock_guard guard(readings.lock);
            snapshot.status = engine.status(mac);
            snapshot.statusStamp = ++readings.issued;
        } catch (...) {
            snapshot.statusStamp = 0;
        }
        return snapshot;
    }

    // Reads the newest entries the list shows, what the file says when it gives none, and which
    // of those entries offer Put Back (one answer per entry, whatever the engine gives back);
    // only the entries read are looked for in the Trash. Leaves `historyStamp` 0 when the engine
    // throws.
    void readHistory(Readings& readings, EngineFacade& engine, const Mac& mac)
    {
        try {
            std::lock_guard guard(readings.historyLock);
            if (!readings.reader)
                readings.reader = engine.historyReader(mac);
            History::Loaded loaded = readings.reader->newest(readings.wanted.load());
            history = std::move(loaded.entries);
            // Only these are kept: room the reader had for more goes back.
            history.shrink_to_fit();
            historyWhyNot = std::move(loaded.whyNot);
            historyHasOlder = readings.reader->hasOlder();
            offers = engine.putBackOffers(history, mac);
            offers.resize(history.size(), false);
            historyStamp = ++readings.historyIssued;
        } catch (...) {
            historyStamp = 0;
            history.clear();
            offers.clear();
            historyWhyNot.clear();
            historyHasOlder = false;
        }
    }
};

} // namespace Quandril::App
