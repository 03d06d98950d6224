#include "QuandrilCore/Scanning/Finders/Finders.h"

#include <array>
#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <fts.h>
#include <sys/stat.h>

#include "QuandrilCore/Machine/Compare.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/Rules/Inventory.h"

namespace Quandril {

namespace {

constexpr std::array<std::string_view, 6> personalFolders {
    "~/Desktop", "~/Documents", "~/Movies", "~/Music", "~/Pictures", "~/Downloads",
};
constexpr std::chrono::seconds recentWindow { 2'592'000 };
constexpr std::int64_t walkLimit = 100'000;
constexpr int copySearchDepth = 3;

using Platform::lastComponent;

// Empty for an item at the top (not "/" as Platform::parentOf has it), so it names no folder.
std::string parentOf(std::string_view path)
{
    std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? std::string_view {} : path.substr(0, slash));
}

TimePoint timeOf(const struct stat& info)
{
    const auto since = std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec);
    return TimePoint(std::chrono::duration_cast<TimePoint::duration>(since));
}

// Whether anything in the item was modified after `since`. A folder too big to check counts as
// changed, so a huge tree is never offered for moving on a guess.
bool changedRecently(const std::string& path, TimePoint since, std::int64_t limit)
{
    if (auto date = modified(path); date && *date > since)
        return true;
    if (!isDirectory(path))
        return false;
    auto& fence = PrivacyFence::shared();
    if (fence.isFenced(path))
        return false;
    const std::vector<std::string> roots = fence.active();

    Platform::TreeWalk walk(path, FTS_NOCHDIR | FTS_PHYSICAL);
    if (!walk)
        return false;

    std::int64_t count = 0;
    while (FTSENT* entry = walk.next()) {
        if (entry->fts_level == 0 || entry->fts_info == FTS_DP)
            continue;
        if (++count > limit)
            return true;
        // A fenced folder inside is neither opened nor asked about.
        if (!roots.empty() && Platform::atOrBelowAny(std::string_view(entry->fts_path, entry->fts_pathlen), roots)) {
            if (entry->fts_info == FTS_D)
                walk.skip(entry);
            continue;
        }
        if (entry->fts_info == FTS_NS || entry->fts_info == FTS_ERR || !entry->fts_statp)
            continue;
        if (timeOf(*entry->fts_statp) > since)
            return true;
    }
    return false;
}

// The real path of an identical copy of the item within three folder levels below the drive's root.
std::optional<std::string> findCopy(const std::string& path, std::int64_t /*bytes*/, const DriveInfo& drive)
{
    const std::string name = Platform::nfc(lastComponent(path));
    const bool itemIsFolder = isDirectory(path);
    auto& fence = PrivacyFence::shared();

    std::vector<std::string> level { drive.path };
    for (int depth = 1; depth <= copySearchDepth; ++depth) {
        std::vector<std::string> next;
        for (const auto& folder : level) {
            for (const auto& entry : children(folder)) {
                if (isSymlink(entry))
                    continue;
                const std::string entryName = lastComponent(entry);
                const bool entryIsFolder = isDirectory(entry);
                // A home folder that lives on this drive must not offer the item as its own copy.
                if (Platform::nfc(entryName) == name && !Platform::sameItem(path, entry)) {
                    if (itemIsFolder && entryIsFolder) {
                        // A tree that could not be read to the end may hide files the other lacks.
                        TreeComparison compared = compareTreesFully(path, entry, false);
                        if (compared.diff.identical() && !compared.incomplete)
                            return entry;
                    } else if (!itemIsFolder && !entryIsFolder) {
                        auto mine = size(path);
                        auto theirs = size(entry);
                        if (mine && theirs && *mine == *theirs)
                            return entry;
                    }
                }
                if (!fence.blocks(entry) && entryIsFolder && !entryName.ends_with(".app"))
                    next.push_back(entry);
            }
        }
        level = std::move(next);
    }
    return std::nullopt;
}

std::optional<Catalog::AppLibrary> appLibrary(const ScanContext& context, const std::string& path,
                                              const std::string& name)
{
    const std::string nameNFC = Platform::nfc(name);
    for (const auto& library : context.catalog.appLibraries) {
        const std::string& match = library.match;
        if (match.starts_with("~") || match.starts_with("/")) {
            if (context.mac.path(match) == path)
                return library;
        } else if (nameNFC.ends_with(Platform::nfc(match))) {
            return library;
        }
    }
    return std::nullopt;
}

std::vector<DriveInfo> externalDrives(const ScanContext& context)
{
    std::vector<DriveInfo> drives;
    for (const auto& drive : context.drives)
        if (drive.isExternal())
            drives.push_back(drive);
    return drives;
}

// The first external drive with room for the item and a tenth more; none when that sum overflows.
std::optional<DriveInfo> moveTarget(const std::vector<DriveInfo>& drives, std::int64_t bytes)
{
    std::int64_t needed = 0;
    if (__builtin_add_overflow(bytes, bytes / 10, &needed))
        return std::nullopt;
    for (const auto& drive : drives)
        if (drive.freeBytes > needed)
            return drive;
    return std::nullopt;
}

Finding personalFinding(const std::string& id, const std::string& title, std::int64_t bytes, const std::string& path)
{
    Finding finding;
    finding.id = id;
    finding.finder = "personal";
    finding.title = title;
    finding.tier = Tier::personal;
    finding.bytes = bytes;
    finding.paths = { path };
    finding.action = Action::review();
    return finding;
}

// The items in the personal folders worth measuring; synced folders are noted in `result` as skipped.
std::vector<std::string> personalCandidates(const ScanContext& context, FinderResult& result)
{
    const Mac& mac = context.mac;
    auto& fence = PrivacyFence::shared();
    std::vector<std::string> candidates;
    for (std::string_view display : personalFolders) {
        const std::string folder = mac.path(display);
        if (auto cloud = mac.cloudFolder(folder)) {
            // A synced folder is never opened: reading it could download every file in it.
            if (!fence.blocks(folder) && exists(folder))
                result.skipped.push_back({ folder, "never looked into: " + cloud->name });
            continue;
        }
        for (auto& entry : children(folder)) {
            // A fenced item could be measured only from outside, so its size would be a guess.
            if (isSymlink(entry) || context.isClaimed(entry) || fence.isFenced(entry))
                continue;
            candidates.push_back(std::move(entry));
        }
    }
    return candidates;
}

// What one personal item is, and what is offered for it, shared by the ways of describing it.
struct PersonalItem {
    const std::string& path;
    std::int64_t bytes;
    std::string name;
    std::string beginning;
    bool recent;
};

// An item an app keeps track of is handed to that app rather than moved by hand.
void describeLibraryItem(Finding& finding, const PersonalItem& item, const Catalog::AppLibrary& library)
{
    finding.reason = item.beginning + " belongs to " + library.app + "; moved by hand, " + library.app
        + " would lose track of it" + (item.recent ? ", and you've changed things in it this month." : ".");
    finding.owner = library.app;
    if (item.recent) {
        finding.getBack = "Still in use, so it isn't offered for moving.";
    } else {
        finding.getBack = "Moved from inside " + library.app + ", it keeps working.";
        finding.action = Action(Action::Kind::handOff, std::nullopt, std::nullopt, library.app, library.how, true);
    }
}

// Any other item: a copy elsewhere, recent use, or a drive with room decides what is offered.
void describePlainItem(Finding& finding, const PersonalItem& item, const Mac& mac, const std::vector<DriveInfo>& drives)
{
    std::optional<std::string> copy;
    const DriveInfo* copyDrive = nullptr;
    for (const auto& drive : drives) {
        if ((copy = findCopy(item.path, item.bytes, drive))) {
            copyDrive = &drive;
            break;
        }
    }
    if (copy) {
        finding.reason = item.beginning + "; an identical copy is on " + copyDrive->name + " (" + mac.display(*copy)
            + ").";
        finding.getBack = "The copy on " + copyDrive->name + " stays.";
        finding.caution = "After this, " + copyDrive->name
            + " holds the only copy; worth a second one somewhere if it can't be replaced.";
        finding.duplicateOf = *copy;
    } else if (item.recent) {
        finding.reason = item.beginning + "; you've changed things in it this month.";
        finding.getBack = "Still in use, so it isn't offered for moving.";
    } else if (auto target = moveTarget(drives, item.bytes)) {
        finding.reason = item.beginning + ".";
        finding.getBack = "Moved, not removed: it stays on " + target->name
            + ", there whenever the drive is plugged in.";
        finding.action = Action(Action::Kind::move);
        finding.caution = "After the move, " + target->name
            + " holds the only copy; worth a second one somewhere if it can't be replaced.";
    } else {
        finding.reason = item.beginning + ".";
        finding.getBack = "Nothing is removed; there's no drive with room to move it to right now.";
    }
}

} // namespace

FinderResult StaleMountsFinder::find(const ScanContext& context) const
{
    FinderResult result;
    const std::string volumes = context.mac.path("/Volumes");
    std::set<std::string> mounted;
    for (const auto& drive : context.drives)
        mounted.insert(drive.path);

    struct stat volumesInfo {};
    const bool checkDevice = !context.mac.isFake();
    const bool volumesKnown = checkDevice && ::stat(volumes.c_str(), &volumesInfo) == 0;

    auto& fence = PrivacyFence::shared();
    std::vector<std::string> candidates;
    for (const auto& entry : children(volumes)) {
        if (fence.blocks(entry) || !isDirectory(entry) || isSymlink(entry) || mounted.count(entry))
            continue;
        if (checkDevice) {
            // A mount point sits on a device of its own; a folder left behind shares the startup disk's.
            struct stat info {};
            if (!volumesKnown || ::stat(entry.c_str(), &info) != 0 || info.st_dev != volumesInfo.st_dev)
                continue;
        }
        candidates.push_back(entry);
    }

    const auto sizes = context.usageOf(candidates);
    const std::int64_t minimum = context.threshold(context.catalog.thresholds.staleMount);
    for (const auto& entry : candidates) {
        auto measured = sizes.find(entry);
        if (measured == sizes.end() || measured->second.bytes < minimum)
            continue;
        const std::string name = lastComponent(entry);
        Finding finding;
        finding.id = "stale-volume-" + normalized(name);
        finding.finder = "stale-mounts";
        finding.title = "\"" + name + "\" folder that isn't the drive";
        finding.reason = "Something saved files into /Volumes/" + name + " while " + name
            + " wasn't plugged in, so they're on your Mac, not on the drive.";
        finding.getBack = "Plug the drive in and move what you want to keep onto it; nothing here is removed for you.";
        finding.tier = Tier::personal;
        finding.bytes = measured->second.bytes;
        finding.paths = { entry };
        finding.action = Action::review();
        result.findings.push_back(std::move(finding));
    }
    return result;
}

FinderResult PersonalFinder::find(const ScanContext& context) const
{
    FinderResult result;
    const std::vector<std::string> candidates = personalCandidates(context, result);

    const auto sizes = context.usageOf(candidates);
    const std::int64_t minimum = context.threshold(context.catalog.thresholds.personalFolder);
    const TimePoint since = context.options.now - recentWindow;
    const std::vector<DriveInfo> drives = externalDrives(context);

    for (const auto& path : candidates) {
        auto measured = sizes.find(path);
        if (measured == sizes.end() || measured->second.bytes < minimum)
            continue;
        const std::string name = lastComponent(path);
        const std::string folderName = lastComponent(parentOf(path));
        const std::string kind = isDirectory(path) ? "folder" : "file";
        const PersonalItem item { path, measured->second.bytes, name, "Your " + name + " " + kind,
                                  changedRecently(path, since, walkLimit) };
        Finding finding = personalFinding("personal-" + normalized(folderName) + "-" + normalized(name),
                                          name + " (" + folderName + ")", item.bytes, path);
        if (auto library = appLibrary(context, path, name))
            describeLibraryItem(finding, item, *library);
        else
            describePlainItem(finding, item, context.mac, drives);
        result.findings.push_back(std::move(finding));
    }
    return result;
}

} // namespace Quandril
