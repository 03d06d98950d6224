// Taking chosen files out of iCloud onto a drive, one chunk at a time, so that the Mac never has
// to hold much more than a chunk's worth of downloads at once.

#include "QuandrilCore/ICloud/ICloud.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "QuandrilCore/Cleaning/DriveMove.h"
#include "QuandrilCore/ICloud/ICloudSteps.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/Scanning/Report.h"

namespace Quandril {

using namespace ICloudSteps;
using Status = CleanResult::Status;

namespace {

constexpr std::string_view stoppedBefore = "Stopped before this one; it's still in iCloud.";

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

using Chunk = std::vector<const CloudItem*>;

// The last scan's items by id; a requested id missing from it is answered by its own text.
class ItemsByID {
public:
    explicit ItemsByID(const CloudScan& scan)
        : all_(scan.items())
    {
        for (const auto& item : all_)
            byID_.emplace(item.id, &item);
    }
    // The index points into the list it holds.
    ItemsByID(const ItemsByID&) = delete;
    ItemsByID& operator=(const ItemsByID&) = delete;

    const CloudItem* find(const std::string& id) const
    {
        const auto found = byID_.find(id);
        return found == byID_.end() ? nullptr : found->second;
    }

private:
    std::vector<CloudItem> all_;
    std::unordered_map<std::string, const CloudItem*> byID_;
};

CleanResult refusal(const std::string& id, const CloudItem* item, const std::string& detail)
{
    return item ? outcome(*item, Status::refused, detail) : DriveMove::refusedByID(id, detail);
}

void refuseAll(const Chunk& items, const std::string& detail, std::vector<CleanResult>& results)
{
    for (const auto* item : items)
        results.push_back(outcome(*item, Status::refused, detail));
}

// The items the cleanup may take; every other id is refused into `results` with its reason.
Chunk admitted(const std::vector<std::string>& ids, const ItemsByID& items, const DriveInfo& drive,
               const CloudOptions& options, std::vector<CleanResult>& results)
{
    Chunk chosen;
    for (const auto& id : ids) {
        const CloudItem* item = items.find(id);
        if (!item)
            results.push_back(refusal(id, item, "Not in the last iCloud scan; scan again."));
        else if (!ICloud::recordable(*item, drive))
            results.push_back(outcome(*item, Status::refused, std::string(unrecordable)));
        else if (item->caution && !options.agreed)
            results.push_back(
                outcome(*item, Status::refused, *item->caution + " It waits until you've agreed to that."));
        else
            chosen.push_back(item);
    }
    return chosen;
}

// Room for the total with its margin; a total past the 64-bit range fits on no drive.
bool roomOnDrive(const Chunk& chosen, const DriveInfo& drive)
{
    const auto sum = total(chosen, [](const CloudItem& item) { return std::max<std::int64_t>(item.bytes, 0); });
    return sum && DriveMove::hasRoom(*sum, drive);
}

// A chunk always takes at least one item, even one larger than a chunk.
std::vector<Chunk> intoChunks(const Chunk& chosen, std::int64_t chunkBytes)
{
    std::vector<Chunk> chunks;
    Chunk open;
    std::int64_t running = 0;
    for (const auto* item : chosen) {
        const std::int64_t need = downloadNeed(*item);
        if (!open.empty() && Saturating::add(running, need) > chunkBytes) {
            chunks.push_back(std::move(open));
            open.clear();
            running = 0;
        }
        open.push_back(item);
        running = Saturating::add(running, need);
    }
    if (!open.empty())
        chunks.push_back(std::move(open));
    return chunks;
}

// A parked file, and a failure that left a copy parked, can be put back from History.
void record(CleanResult& result, const Mac& mac)
{
    if (result.status != Status::done && (result.status != Status::failed || result.relocated.empty()))
        return;
    HistoryEntry entry;
    entry.at = Clock::now();
    entry.id = result.id;
    entry.title = result.title;
    entry.action = Action::Kind::move;
    entry.bytes = result.bytes;
    entry.relocated = result.relocated;
    History::record(entry, result, mac);
}

// What the chunks of one cleanup share while they run one after the other.
struct ChunkRun {
    ICloud::ParkRun park;
    const ICloud::Stop& stop;
    std::vector<CleanResult>& results;

    bool stopping() const { return stop && stop(); }

    void say(const std::string& line) const
    {
        if (park.progress)
            park.progress(line);
    }
};

// Downloads the chunk when the Mac has room for it, then parks its files one by one.
void runChunk(ChunkRun& run, const Chunk& chunk, std::size_t number, std::size_t count)
{
    if (run.stopping()) {
        refuseAll(chunk, std::string(stoppedBefore), run.results);
        return;
    }

    const Mac& mac = run.park.mac;
    const std::int64_t margin = run.park.options.marginBytes;
    const auto need = total(chunk, downloadNeed);
    const std::int64_t free = startupFree(mac);
    if (!need || Saturating::subtract(free, margin) < *need) {
        refuseAll(chunk,
                  "Downloading it needs " + Report::bytes(Saturating::add(need.value_or(most), margin))
                      + " free on the Mac, which has " + Report::bytes(free) + "; it's still in iCloud.",
                  run.results);
        return;
    }

    run.say("Chunk " + std::to_string(number) + " of " + std::to_string(count) + ": downloading "
            + Report::bytes(*need));
    std::vector<std::string> wanted;
    for (const auto* item : chunk) {
        if (!item->onMac)
            wanted.push_back(item->path);
    }
    const std::set<std::string> arrived = ICloud::download(wanted, mac, run.park.progress);

    for (const auto* item : chunk) {
        if (run.stopping()) {
            if (arrived.count(item->path))
                ICloud::evict(item->path, mac);
            run.results.push_back(outcome(*item, Status::refused, std::string(stoppedBefore)));
            continue;
        }
        CleanResult result = ICloud::park(*item, arrived, run.park);
        record(result, mac);
        run.results.push_back(std::move(result));
    }
}

} // namespace

std::vector<CleanResult> ICloud::clean(const std::vector<std::string>& ids, const CloudScan& scan, const Mac& mac,
                                       const CloudOptions& options, const Progress& progress, const Stop& stop)
{
    const ItemsByID items(scan);
    std::vector<CleanResult> results;
    const auto drive = DriveMove::chosenDrive(mac.drives(), options.drive);
    if (!drive) {
        for (const auto& id : ids)
            results.push_back(refusal(id, items.find(id), "Say which drive to park the removed files on."));
        return results;
    }

    const Chunk chosen = admitted(ids, items, *drive, options, results);
    // A drive mounted read-only takes no copy: the preview promises none either.
    if (auto refusal = DriveMove::readOnlyRefusal(drive, drive->path + "/" + std::string(parkedFolder), mac)) {
        refuseAll(chosen, *refusal, results);
        return results;
    }
    if (!roomOnDrive(chosen, *drive)) {
        refuseAll(chosen, drive->name + " doesn't have room for all of them plus a margin.", results);
        return results;
    }
    if (options.dryRun) {
        for (const auto* item : chosen)
            results.push_back(outcome(*item, Status::wouldDo, wouldDoDetail(*item, *drive)));
        return results;
    }

    const std::vector<Chunk> chunks = intoChunks(chosen, options.chunkBytes);
    ChunkRun run { { *drive, mac, options, progress, {} }, stop, results };
    for (std::size_t index = 0; index < chunks.size(); ++index)
        runChunk(run, chunks[index], index + 1, chunks.size());
    return results;
}

bool ICloud::recordable(const CloudItem& item, const DriveInfo& drive)
{
    return Platform::allValidUTF8({ item.id, item.path, drive.path });
}

} // namespace Quandril
