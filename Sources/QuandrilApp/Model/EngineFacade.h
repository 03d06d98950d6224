#pragma once

// The engine's entry points that the app calls, behind one interface, so tests can script scans,
// clean-ups, put-backs, the iCloud scan and cleanup, and their failures.
//
// Every call is synchronous and takes and returns plain engine values. Implementations must be safe
// to call from several threads at once: the model calls `scan`, `clean`, `undo`, `scanCloud`,
// `cleanCloud`, `status`, `readHistory` and `putBackOffers` from its tasks, and `loadCatalog`,
// `status`, `readHistory` and `putBackOffers` on the GUI thread while it starts.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/ICloud/ICloud.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Rules/Catalog.h"
#include "QuandrilCore/Scanning/Scanner.h"
#include "QuandrilCore/Values/Model.h"

namespace Quandril::App {

class EngineFacade {
public:
    virtual ~EngineFacade() = default;

    // The rules catalog from the engine's own search order. Throws the engine's error when it can't be
    // found or read (absent says only that there is none).
    virtual std::optional<Catalog> loadCatalog() = 0;
    // ScanReport::status: the drives and the Trash's size, without scanning.
    virtual ScanReport status(const Mac& mac) = 0;
    // History::read: the history file's entries, oldest first, or why the file isn't used.
    virtual History::Loaded readHistory(const Mac& mac) = 0;
    // History::offersPutBack of each entry, index for index. It looks at the Trash folders and the
    // drives, so it is read with History, never while a view draws.
    virtual std::vector<bool> putBackOffers(const std::vector<HistoryEntry>& entries, const Mac& mac) = 0;
    // History::whyNoLineFits: empty when History can take a line now, else why not. It opens the
    // history file, so it is asked off the GUI thread.
    virtual std::string whyNoHistoryLine(const Mac& mac) = 0;

    virtual ScanReport scan(const Mac& mac, const Catalog& catalog, const ScanOptions& options) = 0;
    virtual std::vector<CleanResult>
    clean(const std::vector<std::string>& ids, const Mac& mac, const Catalog& catalog, const CleanOptions& options) = 0;
    // Cleaner::undo; `stop` is asked as it goes, from the calling thread.
    virtual CleanResult undo(const std::string& id, const Mac& mac, bool dryRun, const std::function<bool()>& stop) = 0;
    virtual CloudScan scanCloud(const Mac& mac, const std::optional<std::vector<DriveInfo>>& drives,
                                std::int64_t minBytes, std::int64_t bigBytes, std::int64_t sizeOnlyBytes)
        = 0;
    virtual std::vector<CleanResult> cleanCloud(const std::vector<std::string>& ids, const CloudScan& scan,
                                                const Mac& mac, const CloudOptions& options,
                                                const ICloud::Progress& progress, const ICloud::Stop& stop)
        = 0;

    // The engine itself.
    static std::shared_ptr<EngineFacade> live();
};

// The engine itself, open for test doubles that script some calls and pass the rest through.
class LiveEngine : public EngineFacade {
public:
    std::optional<Catalog> loadCatalog() override;
    ScanReport status(const Mac& mac) override;
    History::Loaded readHistory(const Mac& mac) override;
    std::vector<bool> putBackOffers(const std::vector<HistoryEntry>& entries, const Mac& mac) override;
    std::string whyNoHistoryLine(const Mac& mac) override;
    ScanReport scan(const Mac& mac, const Catalog& catalog, const ScanOptions& options) override;
    std::vector<CleanResult> clean(const std::vector<std::string>& ids, const Mac& mac, const Catalog& catalog,
                                   const CleanOptions& options) override;
    CleanResult undo(const std::string& id, const Mac& mac, bool dryRun, const std::function<bool()>& stop) override;
    CloudScan scanCloud(const Mac& mac, const std::optional<std::vector<DriveInfo>>& drives, std::int64_t minBytes,
                        std::int64_t bigBytes, std::int64_t sizeOnlyBytes) override;
    std::vector<CleanResult> cleanCloud(const std::vector<std::string>& ids, const CloudScan& scan, const Mac& mac,
                                        const CloudOptions& options, const ICloud::Progress& progress,
                                        const ICloud::Stop& stop) override;
};

} // namespace Quandril::App
