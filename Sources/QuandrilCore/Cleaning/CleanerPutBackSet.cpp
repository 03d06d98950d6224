// What Put Back may move: only what the engine itself put in the Trash or parked, named by plain
// paths (absolute and lexically normal). A history line naming anything else is refused whole. An
// item in a shared Trash is taken for the engine's only while the Trash's record names its old
// place, is the record the line noted (or, on older lines, was written no later than the line),
// and the item is what the line noted.

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <sys/stat.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Trash.h"

namespace Quandril {

namespace {

constexpr std::string_view parkingFolders[] = { "Moved from Mac", Cleaner::iCloudParkedFolder };

bool plainPath(const std::string& path, const Mac& mac)
{
    if (path.empty() || path.front() != '/' || !Platform::isLexicallyNormal(path))
        return false;
    return !mac.isFake() || Platform::below(path, mac.root);
}

bool inParkingFolder(const std::string& path, const std::vector<DriveInfo>& drives)
{
    for (const auto& drive : drives) {
        if (drive.isStartup)
            continue;
        for (const auto folder : parkingFolders)
            if (Platform::below(path, drive.path + "/" + std::string(folder)))
                return true;
    }
    return false;
}

std::string kindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return "file";
    if (S_ISDIR(mode))
        return "folder";
    if (S_ISLNK(mode))
        return "link";
    return "other";
}

std::chrono::sys_seconds modifiedOf(const struct stat& info)
{
    return std::chrono::sys_seconds(std::chrono::seconds(info.st_mtim.tv_sec));
}

std::string gone(const Relocation& item, const Mac& mac)
{
    return mac.display(item.to) + " isn't there any more (the Trash was emptied, or the parked copy was deleted).";
}

std::string changed(const Relocation& item, const Mac& mac)
{
    return mac.display(item.to) + " changed since Gorrin put it there, so it wasn't put back.";
}

std::string recordTrouble(const Relocation& item, const Mac& mac, const std::string& why, bool untrusted)
{
    return "The Trash's record of " + mac.display(item.to) + (untrusted ? " can't be trusted (" : " can't be read (")
        + why + "), so it wasn't put back.";
}

// Where a drive's Trash held the item and no drive is mounted there now (it may be mounted
// elsewhere, the item intact): what Gorrin looked at, and why it stopped.
std::optional<std::string> driveAway(const Relocation& item, const Mac& mac)
{
    const auto top = Platform::driveTrashTop(item.to);
    if (!top || Platform::isMountTop(*top))
        return std::nullopt;
    return "Gorrin looked for " + mac.display(item.to) + ", but no drive is mounted at " + mac.display(*top)
        + " now, so it wasn't put back.";
}

// Where the item lay in a home Trash that isn't the user's Trash now (the data folder, or a link on
// its way, points elsewhere since).
std::optional<std::string> oldHomeTrash(const Relocation& item, const Mac& mac)
{
    const std::string files = Platform::parentOf(item.to);
    const std::string trash = Platform::parentOf(files);
    if (Platform::lastComponent(files) != "files" || Platform::lastComponent(trash) != "Trash")
        return std::nullopt;
    const std::string current = Platform::homeTrashFolder(mac.home);
    if (trash == current)
        return std::nullopt;
    return "Gorrin looked for " + mac.display(item.to) + ", but " + mac.display(trash)
        + " isn't your Trash any more (it's " + mac.display(current) + " now), so it wasn't put back.";
}

// A copy on a drive never lies directly in a Trash's files folder outside its parking folders.
bool wentToATrash(const Relocation& relocation)
{
    if (relocation.link.value_or(false) || Platform::lastComponent(Platform::parentOf(relocation.to)) != "files")
        return false;
    for (const std::string_view folder : { "/Moved from Mac/", "/Sound Libraries/" })
        if (relocation.to.find(folder) != std::string::npos)
            return false;
    return true;
}

// The Trash folders holding the item and its record are ours, as trashing into them required:
// another user could have planted both the item and its record.
std::optional<std::string> folderDisowns(const Relocation& item, const Mac& mac)
{
    const std::string files = Platform::parentOf(item.to);
    for (const auto& folder : { files, Platform::parentOf(files) + "/info" }) {
        struct stat info {};
        if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            continue;
        if (const auto why = Platform::whyNotOurs(info); !why.empty())
            return "The Trash folder " + mac.display(folder) + " can't be trusted (it " + std::string(why) + "), so "
                + mac.display(item.to) + " wasn't put back.";
    }
    return std::nullopt;
}

// The widest gap between two zones' clocks (UTC-12 to UTC+14), and then some: a record's local
// DeletionDate is never further ahead of the moment it was written, whatever the zone then or now.
constexpr auto widestZoneGap = std::chrono::hours(26);

// Whether the record's DeletionDate allows it to be the record of the line's item: the very text
// the line noted; else (older lines) written no later than the line (a second's grace; both are whole
// seconds). Any time before the line will do: a clean-up writes its line once all its items are
// done, and a long copy of a later item may keep an earlier one waiting in the Trash. A line that
// notes what the item is may have been written in another time zone, or across a change of the
// clock, so any zone will do and the item decides; one that notes nothing is read on today's clock.
std::optional<std::string> dateDisowns(const Relocation& item, TimePoint at, const Platform::TrashRecord& record,
                                       const Mac& mac)
{
    if (item.deletionDate)
        return record.deletionText == *item.deletionDate ? std::nullopt : std::optional(gone(item, mac));
    if (!record.deletedLocal)
        return recordTrouble(item, mac, "it gives no deletion date", false);
    const TimePoint latest = item.kind ? at + widestZoneGap : Platform::onLocalClock(at);
    if (*record.deletedLocal > latest + std::chrono::seconds(1))
        return gone(item, mac);
    return std::nullopt;
}

// Whether the Trash's record says the item is the one the line moved (see dateDisowns), and the
// item (`info`) is what the line noted. While the record is the very file the line noted, the item
// there is ours, and one that differs changed in the Trash; a record written anew since belongs to
// whatever another Trash client put under the name.
std::optional<std::string> recordDisowns(const Relocation& item, const struct stat& info, TimePoint at, const Mac& mac)
{
    if (auto why = folderDisowns(item, mac))
        return why;
    const auto reading = Platform::readTrashRecord(item.to);
    if (!reading.record)
        return recordTrouble(item, mac, reading.trouble, reading.untrusted);
    const auto& record = *reading.record;
    if (record.origin != item.from)
        return gone(item, mac);
    const bool sameRecord = item.recordWritten && *item.recordWritten == record.written
        && item.deletionDate.value_or(record.deletionText) == record.deletionText;
    if (sameRecord)
        return Cleaner::sameIdentity(item, info) ? std::nullopt : std::optional(changed(item, mac));
    if (auto why = dateDisowns(item, at, record, mac))
        return why;
    if (!Cleaner::sameIdentity(item, info))
        return gone(item, mac);
    return std::nullopt;
}

} // namespace

Relocation Cleaner::withIdentity(Relocation relocation, const Mac& mac)
{
    if (relocation.link.value_or(false) || !isInTrash(relocation.to, mac)
        || PrivacyFence::shared().blocks(relocation.to))
        return relocation;
    struct stat info {};
    if (::lstat(relocation.to.c_str(), &info) != 0)
        return relocation;
    relocation.kind = kindOf(info.st_mode);
    if (!S_ISDIR(info.st_mode))
        relocation.size = static_cast<std::int64_t>(info.st_size);
    // Only a time History can read back: a year past 9999 is left out, as older lines leave it.
    if (const auto modified = modifiedOf(info);
        Platform::parseIso8601Seconds(Platform::formatIso8601(modified)) == modified)
        relocation.modified = modified;
    if (!mac.isFake()) {
        // The record as the Trash has it now: the one moveToTrash has just written for the item.
        const auto reading = Platform::readTrashRecord(relocation.to);
        if (reading.record && reading.record->origin == relocation.from) {
            relocation.deletionDate = reading.record->deletionText;
            relocation.recordWritten = reading.record->written;
        }
    }
    return relocation;
}

bool Cleaner::sameIdentity(const Relocation& relocation, const struct stat& info)
{
    // A folder's own size is the file system's business: ntfs-3g gives another after a remount.
    return (!relocation.kind || *relocation.kind == kindOf(info.st_mode))
        && (!relocation.size || S_ISDIR(info.st_mode) || *relocation.size == static_cast<std::int64_t>(info.st_size))
        && (!relocation.modified || *relocation.modified == modifiedOf(info));
}

std::optional<std::string> Cleaner::notThere(const Relocation& item, TimePoint at, const Mac& mac)
{
    if (PrivacyFence::shared().blocks(item.to))
        return gone(item, mac);
    struct stat info {};
    if (::lstat(item.to.c_str(), &info) != 0) {
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR)
            return mac.display(item.to) + " can't be read (" + std::generic_category().message(error)
                + "), so it wasn't put back.";
        if (!mac.isFake())
            if (auto away = driveAway(item, mac))
                return away;
        return gone(item, mac);
    }
    if (mac.isFake() || !isInTrash(item.to, mac)) {
        // No other client shares these: what lies there is what Gorrin put there.
        if (!sameIdentity(item, info))
            return changed(item, mac);
        return std::nullopt;
    }
    return recordDisowns(item, info, at, mac);
}

namespace {

// The same item under a new name: a rename keeps the device and the inode.
bool renamedWhole(const struct stat& checked, const struct stat& arrived)
{
    return arrived.st_dev == checked.st_dev && arrived.st_ino == checked.st_ino;
}

// Across file systems (another drive, or another mount of the same one) the move copies, so the
// item comes back under a new inode: its copy keeps the modification time to the nanosecond and,
// but for a folder, whose own size depends on the file system, its size.
bool copiedWhole(const struct stat& checked, const struct stat& arrived)
{
    return arrived.st_mtim.tv_sec == checked.st_mtim.tv_sec && arrived.st_mtim.tv_nsec == checked.st_mtim.tv_nsec
        && (S_ISDIR(checked.st_mode) || arrived.st_size == checked.st_size);
}

} // namespace

std::optional<std::string> Cleaner::movedAnother(const Relocation& item, const struct stat& checked, FileOps& files,
                                                 const Mac& mac)
{
    // Looked at without following links: a folder on the way swapped for a link since the move
    // would show something else, and only what is seen to be another item goes back.
    std::optional<struct stat> arrived;
    try {
        const Platform::Place place = Platform::placeOf(item.from);
        arrived = Platform::statAt(place.folder.get(), place.name);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    const bool same = arrived && (arrived->st_mode & S_IFMT) == (checked.st_mode & S_IFMT)
        && (renamedWhole(checked, *arrived) ? sameIdentity(item, *arrived) : copiedWhole(checked, *arrived));
    if (!arrived || same)
        return std::nullopt;
    try {
        files.moveNoReplace(item.from, item.to);
    } catch (const std::exception& error) {
        return "What came back to " + mac.display(item.from)
            + " isn't what Gorrin put in the Trash (another program put " + "its own item at " + mac.display(item.to)
            + " just then), and it couldn't go back there: " + describe(error);
    }
    return gone(item, mac);
}

std::optional<std::string> Cleaner::trashGone(const HistoryEntry& entry, const Mac& mac)
{
    if (mac.isFake())
        return std::nullopt;
    for (const auto& relocation : entry.relocated) {
        if (!wentToATrash(relocation))
            continue;
        if (Platform::looksLikeDriveTrashItem(relocation.to)) {
            if (auto away = driveAway(relocation, mac))
                return away;
            return gone(relocation, mac);
        }
        if (auto old = oldHomeTrash(relocation, mac))
            return old;
    }
    return std::nullopt;
}

bool Cleaner::isInTrash(std::string_view path, const Mac& mac)
{
    if (mac.isFake())
        return Platform::below(path, mac.path("~/.Trash"));
    return Platform::isTrashPath(path, mac.home);
}

std::optional<std::string> Cleaner::untrustedPath(const HistoryEntry& entry, const Mac& mac)
{
    for (const auto& relocation : entry.relocated)
        for (const auto* path : { &relocation.from, &relocation.to })
            if (!plainPath(*path, mac))
                return *path;
    return std::nullopt;
}

namespace {

// putBackSet with what it looks up kept for the next entry: the Trash folders, and the drives once
// an entry parked something.
struct PutBackPlaces {
    const Mac& mac;
    Platform::TrashPaths trashes;
    std::optional<std::vector<DriveInfo>> drives;

    explicit PutBackPlaces(const Mac& machine)
        : mac(machine)
        , trashes(machine.home)
    {
    }

    bool inTrash(const std::string& path) const
    {
        return mac.isFake() ? Cleaner::isInTrash(path, mac) : trashes.holds(path);
    }

    std::vector<Relocation> of(const HistoryEntry& entry)
    {
        std::vector<Relocation> set;
        for (const auto& relocation : entry.relocated) {
            if (relocation.link.value_or(false) || !plainPath(relocation.from, mac) || !plainPath(relocation.to, mac))
                continue;
            bool back = inTrash(relocation.to);
            if (!back && relocation.parked.value_or(false)) {
                if (!drives)
                    drives = mac.drives();
                back = inParkingFolder(relocation.to, *drives);
            }
            if (back)
                set.push_back(relocation);
        }
        return set;
    }
};

} // namespace

std::vector<Relocation> Cleaner::putBackSet(const HistoryEntry& entry, const Mac& mac)
{
    return PutBackPlaces(mac).of(entry);
}

std::vector<bool> History::offersPutBack(const std::vector<HistoryEntry>& entries, const Mac& mac)
{
    PutBackPlaces places(mac);
    std::vector<bool> offers;
    offers.reserve(entries.size());
    for (const auto& entry : entries)
        offers.push_back(!entry.isUndone() && !Cleaner::untrustedPath(entry, mac) && !places.of(entry).empty());
    return offers;
}

} // namespace Quandril
