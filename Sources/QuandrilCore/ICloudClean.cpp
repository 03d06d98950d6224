// Taking chosen files out of iCloud onto a drive, one chunk at a time, so that the Mac never has
// to hold much more than a chunk's worth of downloads at once.

#include "QuandrilCore/ICloud.h"

#include <algorithm>
#include <map>
#include <set>
#include <optional>
#include <string>
#include <unordered_map>

#include "QuandrilCore/ICloudSteps.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/Report.h"

namespace Quandril {

using namespace ICloudSteps;
using Status = CleanResult::Status;

namespace {

constexpr std::string_view stoppedBefore = "Stopped before this one; it's still in iCloud.";

bool sameText(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    return Platform::isValidUTF8(a) && Platform::isValidUTF8(b) && Platform::compareNFC(a, b) == 0;
}

std::optional<DriveInfo> targetDrive(const std::vector<DriveInfo>& drives, const std::string& wanted)
{
    for (const auto& drive : drives) {
        if (!drive.isStartup && (sameText(drive.name, wanted) || sameText(drive.path, wanted)))
            return drive;
    }
    return std::nullopt;
}

// What a file costs the Mac to download: nothing when its data is already here. A size below zero
// comes from no real file and counts as nothing; parking refuses such an item anyway.
std::int64_t downloadNeed(const CloudItem& item)
{
    return item.onMac ? 0 : std::max<std::int64_t>(item.bytes, 0);
}

// The sum of the sizes, or nothing when it leaves the 64-bit range.
template <typename Size>
std::optional<std::int64_t> total(const std::vector<const CloudItem*>& items, Size size)
{
    std::int64_t sum = 0;
    for (const auto* item : items) {
        if (__builtin_add_overflow(sum, size(*item), &sum))
            return std::nullopt;
    }
    return sum;
}

std::string wouldDoDetail(const CloudItem& item, const DriveInfo& drive)
{
    std::string detail = item.onMac ? "" : "Would download it, ";
    detail += "check it byte for byte";
    if (item.keep)
        detail += " against the copy that stays";
    detail += ", park it on " + drive.name + " in " + std::string(ICloud::parkedFolder) + " and remove it from iCloud.";
    return detail;
}

} // namespace

std::vector<CleanResult> ICloud::clean(const std::vector<std::string>& ids, const CloudScan& scan, const Mac& mac,
                                       const CloudOptions& options, const Progress& progress, const Stop& stop)
{
    const auto say = [&](const std::string& line) {
        if (progress)
            progress(line);
    };
    const auto stopping = [&] { return stop && stop(); };

    const std::vector<CloudItem> all = scan.items();
    std::unordered_map<std::string, const CloudItem*> byID;
    for (const auto& item : all)
        byID.emplace(item.id, &item);
    const auto lookUp = [&](const std::string& id) -> const CloudItem* {
        const auto found = byID.find(id);
        return found == byID.end() ? nullptr : found->second;
    };

    std::vector<CleanResult> results;
    const auto drive = targetDrive(mac.drives(), options.drive);
    if (!drive) {
        for (const auto& id : ids) {
            const CloudItem* item = lookUp(id);
            results.push_back(item ? outcome(*item, Status::refused, "Say which drive to park the removed files on.")
                                   : CleanResult { id, id, Status::refused,
                                                   "Say which drive to park the removed files on.", 0, {} });
        }
        return results;
    }

    std::vector<const CloudItem*> chosen;
    for (const auto& id : ids) {
        const CloudItem* item = lookUp(id);
        if (!item)
            results.push_back(CleanResult { id, id, Status::refused, "Not in the last iCloud scan; scan again.", 0, {} });
        else if (!recordable(*item, *drive))
            results.push_back(outcome(*item, Status::refused, std::string(unrecordable)));
        else if (item->caution && !options.agreed)
            results.push_back(outcome(*item, Status::refused, *item->caution + " It waits until you've agreed to that."));
        else
            chosen.push_back(item);
    }

    // Strictly more free space than the total and a tenth of it; a total past the 64-bit range
    // fits on no drive.
    const auto sum = total(chosen, [](const CloudItem& item) { return std::max<std::int64_t>(item.bytes, 0); });
    std::int64_t withMargin = 0;
    if (!sum || __builtin_add_overflow(*sum, *sum / 10, &withMargin) || withMargin >= drive->freeBytes) {
        for (const auto* item : chosen)
            results.push_back(outcome(*item, Status::refused,
                                      drive->name + " doesn't have room for all of them plus a margin."));
        return results;
    }

    if (options.dryRun) {
        for (const auto* item : chosen)
            results.push_back(outcome(*item, Status::wouldDo, wouldDoDetail(*item, *drive)));
        return results;
    }

    // A chunk always takes at least one item, even one larger than a chunk.
    std::vector<std::vector<const CloudItem*>> chunks;
    std::vector<const CloudItem*> open;
    std::int64_t running = 0;
    for (const auto* item : chosen) {
        const std::int64_t need = downloadNeed(*item);
        if (!open.empty() && Saturating::add(running, need) > options.chunkBytes) {
            chunks.push_back(std::move(open));
            open.clear();
            running = 0;
        }
        open.push_back(item);
        running = Saturating::add(running, need);
    }
    if (!open.empty())
        chunks.push_back(std::move(open));

    std::map<std::string, std::string> keeperHashes;
    const std::string count = std::to_string(chunks.size());
    for (std::size_t index = 0; index < chunks.size(); ++index) {
        const auto& chunk = chunks[index];
        if (stopping()) {
            for (const auto* item : chunk)
                results.push_back(outcome(*item, Status::refused, std::string(stoppedBefore)));
            continue;
        }

        const auto need = total(chunk, downloadNeed);
        const std::int64_t free = startupFree(mac);
        if (!need || Saturating::subtract(free, options.marginBytes) < *need) {
            const std::string detail = "Downloading it needs " + Report::bytes(Saturating::add(need.value_or(most), options.marginBytes))
                + " free on the Mac, which has " + Report::bytes(free) + "; it's still in iCloud.";
            for (const auto* item : chunk)
                results.push_back(outcome(*item, Status::refused, detail));
            continue;
        }

        say("Chunk " + std::to_string(index + 1) + " of " + count + ": downloading " + Report::bytes(*need));
        std::vector<std::string> wanted;
        for (const auto* item : chunk) {
            if (!item->onMac)
                wanted.push_back(item->path);
        }
        const std::set<std::string> arrived = download(wanted, mac, progress);

        for (const auto* item : chunk) {
            if (stopping()) {
                if (arrived.count(item->path))
                    evict(item->path, mac);
                results.push_back(outcome(*item, Status::refused, std::string(stoppedBefore)));
                continue;
            }
            CleanResult result = park(*item, arrived, *drive, mac, keeperHashes, options, progress);
            if (result.status == Status::done || (result.status == Status::failed && !result.relocated.empty())) {
                HistoryEntry entry;
                entry.at = Clock::now();
                entry.id = result.id;
                entry.title = result.title;
                entry.action = Action::Kind::move;
                entry.bytes = result.bytes;
                entry.relocated = result.relocated;
                History::record(entry, result, mac);
            }
            results.push_back(std::move(result));
        }
    }
    return results;
}

bool ICloud::recordable(const CloudItem& item, const DriveInfo& drive)
{
    return Platform::isValidUTF8(item.id) && Platform::isValidUTF8(item.path) && Platform::isValidUTF8(drive.path);
}

} // namespace Quandril
