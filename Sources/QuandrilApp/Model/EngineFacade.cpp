#include "QuandrilApp/Model/EngineFacade.h"

namespace Quandril::App {

std::shared_ptr<EngineFacade> EngineFacade::live()
{
    return std::make_shared<LiveEngine>();
}

std::optional<Catalog> LiveEngine::loadCatalog()
{
    // The model keeps the reason, to give it when a scan is asked for.
    return Catalog::load();
}

ScanReport LiveEngine::status(const Mac& mac)
{
    return ScanReport::status(mac);
}

History::Loaded LiveEngine::readHistory(const Mac& mac)
{
    return History::read(mac);
}

std::vector<bool> LiveEngine::putBackOffers(const std::vector<HistoryEntry>& entries, const Mac& mac)
{
    return History::offersPutBack(entries, mac);
}

std::string LiveEngine::whyNoHistoryLine(const Mac& mac)
{
    return History::whyNoLineFits(mac);
}

ScanReport LiveEngine::scan(const Mac& mac, const Catalog& catalog, const ScanOptions& options)
{
    return Scanner::scan(mac, catalog, options);
}

std::vector<CleanResult> LiveEngine::clean(const std::vector<std::string>& ids, const Mac& mac, const Catalog& catalog,
                                           const CleanOptions& options)
{
    return Cleaner::clean(ids, mac, catalog, options);
}

CleanResult LiveEngine::undo(const std::string& id, const Mac& mac, bool dryRun, const std::function<bool()>& stop)
{
    return Cleaner::undo(id, mac, dryRun, FileOps::live(), stop);
}

CloudScan LiveEngine::scanCloud(const Mac& mac, const std::optional<std::vector<DriveInfo>>& drives,
                                std::int64_t minBytes, std::int64_t bigBytes, std::int64_t sizeOnlyBytes)
{
    return ICloud::scan(mac, drives, minBytes, bigBytes, sizeOnlyBytes);
}

std::vector<CleanResult> LiveEngine::cleanCloud(const std::vector<std::string>& ids, const CloudScan& scan,
                                                const Mac& mac, const CloudOptions& options,
                                                const ICloud::Progress& progress, const ICloud::Stop& stop)
{
    return ICloud::clean(ids, scan, mac, options, progress, stop);
}

} // namespace Quandril::App
