// Moving a sound library to a drive and leaving a link where each item was, so its app keeps
// finding it; and the Trash and link steps that fall back on the administrator's password.

#include "QuandrilCore/Cleaning/Cleaner.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "QuandrilCore/Cleaning/CleanerSteps.h"
#include "QuandrilCore/Cleaning/DriveMove.h"
#include "QuandrilCore/Cleaning/MoveSteps.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Platform/Trash.h"
#include "QuandrilCore/Platform/Unicode.h"

namespace Quandril {

using namespace CleanerSteps;
using namespace MoveSteps;

namespace {

// The copy removal's first safety rules, for a road that is handed over before acting on a finding
// checks them: the caution, then never-touch paths, contents included.
std::optional<std::string> cautionOrNeverTouch(const Finding& finding, const PathGuard& guardian,
                                               const CleanOptions& options)
{
    if (finding.caution && !options.includeCautioned)
        return *finding.caution + cautionWaits;
    for (const auto& path : finding.paths) {
        if (auto why = guardian.protection(path, true))
            return "It reaches " + *why + ", which is never touched.";
    }
    return std::nullopt;
}

// One item a move with links takes.
struct LinkedItem {
    std::string path;
    std::string resolved; // where it led when it was chosen
    std::string place;    // where its copy goes on the drive
};

// The items still to move, each with its place in `folder`: a link stands where an item was moved
// before.
std::vector<LinkedItem> itemsToLink(const Finding& finding, const std::string& folder)
{
    auto& fence = PrivacyFence::shared();
    std::vector<LinkedItem> items;
    for (const auto& path : finding.paths) {
        if (fence.blocks(path) || !exists(path) || isSymlink(path))
            continue;
        items.push_back({ path, resolvedPath(path), folder + "/" + lastComponent(path) });
    }
    return items;
}

// History must be able to name the folder, nothing may stand at a place, and no place can lie
// inside its item.
std::optional<std::string> placeRefusal(const Mac& mac, const std::string& folder, const std::vector<LinkedItem>& items)
{
    if (!Platform::isValidUTF8(folder))
        return std::string(unrecordable);
    for (const auto& item : items) {
        if (occupied(item.place))
            return alreadyThere(mac, item.place);
        if (auto refusal = copiedIntoItself(mac, item.path, item.place))
            return refusal;
    }
    return std::nullopt;
}

// The copying part of a move with links, item by item; `records` holds what moved so far.
struct WithLinks {
    const Finding& finding;
    const Mac& mac;
    const DriveInfo& drive;
    FileOps& files;
    const std::function<bool()>& stop;
    const std::vector<LinkedItem>& items;
    const std::vector<std::string> made; // the folders made for the copies, innermost first
    std::vector<Relocation> records;

    // A copy that didn't get there takes back the folders made for it, unless they hold earlier copies.
    CleanResult copyFailed(std::string detail)
    {
        removeEmptyFolders(files, made);
        return failed(finding, std::move(detail), std::move(records));
    }

    // A stop before item `next`: the items before it moved, with their links, and the rest are
    // still there, so only the moved ones count as coming back.
    CleanResult stopped(std::size_t next)
    {
        if (records.empty()) {
            removeEmptyFolders(files, made);
            return stoppedBeforeAnything(finding);
        }
        std::vector<std::string> rest;
        for (std::size_t i = next; i < items.size(); ++i)
            rest.push_back(items[i].path);
        std::int64_t left = 0;
        for (const auto& [path, usage] : mac.usageOf(rest))
            left = Saturating::add(left, usage.bytes);
        CleanResult result = done(finding,
                                  "Stopped after " + std::to_string(next) + " of " + std::to_string(items.size())
                                      + " items; the others are still there.",
                                  std::move(records));
        result.bytes = std::max<std::int64_t>(0, Saturating::subtract(finding.bytes, left));
        return result;
    }

    // One item is copied and checked, goes to the Trash and leaves a link to its copy in its place.
    std::optional<CleanResult> moveOne(std::size_t index)
    {
        const LinkedItem& item = items[index];
        const std::string& place = item.place;
        // A folder on the way that became a link since it was chosen would have something else
        // copied, trashed and linked.
        if (resolvedPath(item.path) != item.resolved)
            return copyFailed("Couldn't copy " + mac.display(item.path) + ": it is reached through a link now.");
        const std::string unmounted = DriveMove::notMounted(drive) + ", so " + mac.display(item.path)
            + " stays in place.";
        if (!DriveMove::stillOn(drive, place, mac))
            return copyFailed(unmounted);
        if (auto trouble = copyIntoPlace(files, item.path, place, stop)) {
            if (trouble->kind == CopyTrouble::Kind::stopped && !trouble->left)
                return stopped(index);
            if (trouble->kind == CopyTrouble::Kind::taken)
                return copyFailed(alreadyThere(mac, place));
            if (trouble->kind == CopyTrouble::Kind::differs || trouble->left)
                return copyFailed("The copy of " + mac.display(item.path)
                                  + " doesn't match the original; it's untouched" + partialLeft(mac, *trouble) + ".");
            return copyFailed("Couldn't copy " + mac.display(item.path) + ": " + trouble->description);
        }
        if (auto stray = strayCopy(files, drive, place, mac, mac.display(item.path) + " stays in place."))
            return copyFailed(std::move(*stray));
        records.push_back({ item.path, place, std::nullopt, std::nullopt });
        // The copy went with a drive unmounted since: the original stays until the drive is back.
        if (!DriveMove::stillOn(drive, place, mac))
            return failed(finding, "Copied and checked, but " + unmounted, std::move(records));
        if (resolvedPath(item.path) != item.resolved)
            return failed(finding,
                          "Copied and checked, but " + mac.display(item.path)
                              + " is reached through a link now, so it stays in place.",
                          std::move(records));
        const auto arrived = Cleaner::trashOrAsk(item.path, mac, files);
        if (!arrived)
            return failed(finding,
                          "Copied and checked, but " + mac.display(item.path)
                              + " couldn't go to the Trash (the password was refused?); it's still in place.",
                          std::move(records));
        records.push_back({ item.path, *arrived, std::nullopt, std::nullopt });

        if (!Cleaner::linkOrAsk(item.path, place, mac, files))
            return failed(finding,
                          "Moved, but the link at " + mac.display(item.path)
                              + " couldn't be made; undo puts the original back.",
                          std::move(records));
        records.push_back({ item.path, place, true, std::nullopt });
        return std::nullopt;
    }
};

CleanResult moveWithLinksKeeping(const Finding& finding, const ScanReport& report, const Mac& mac,
                                 const PathGuard& guardian, const CleanOptions& options, KeptPartials& kept)
{
    // Acting on a finding hands this road over before its own caution and never-touch checks.
    if (auto refusal = cautionOrNeverTouch(finding, guardian, options))
        return refused(finding, std::move(*refusal));

    const auto drive = Cleaner::targetDrive(report, options.moveTo);
    if (!drive)
        return refused(finding, noDrive);
    const std::string folder = drive->path + "/Sound Libraries/" + finding.owner.value_or(finding.title);
    if (!DriveMove::stillOn(*drive, folder, mac))
        return refused(finding, gone(*drive));
    if (auto refusal = DriveMove::readOnlyRefusal(drive, folder, mac))
        return refused(finding, std::move(*refusal));
    if (!Cleaner::hasRoom(finding.bytes, reclaimingPartials(*drive, folder, options, kept)))
        return refused(finding, noRoom(*drive));

    const std::vector<LinkedItem> items = itemsToLink(finding, folder);
    if (items.empty())
        return refused(finding, "Nothing left to move; scan again.");
    if (auto refusal = placeRefusal(mac, folder, items))
        return refused(finding, std::move(*refusal));
    const std::string ownerName = finding.owner.value_or("its apps");
    if (options.dryRun) {
        const std::string which = items.size() == 1 ? "it" : "each of the " + std::to_string(items.size());
        return wouldDo(finding,
                       "Would copy " + which + " to " + mac.display(folder)
                           + ", check every file, put the original in the Trash and leave a link in its "
                             "place, so "
                           + ownerName + " keep finding the sounds while " + drive->name + " is plugged in.");
    }

    WithLinks move { finding, mac, *drive, options.fileOps(), options.stop, items, missingFolders(folder), {} };
    if (auto failure = attempt([&] { move.files.createFolder(folder); }))
        return move.copyFailed("Couldn't make " + mac.display(folder) + ": " + failure->description);
    for (std::size_t index = 0; index < items.size(); ++index) {
        if (index > 0 && options.stopRequested())
            return move.stopped(index);
        if (!move.records.empty())
            options.noteMoved(move.records);
        if (auto failure = move.moveOne(index))
            return std::move(*failure);
    }
    return done(finding,
                "Moved to " + mac.display(folder) + " and checked file by file, with a link where each was, so "
                    + ownerName + " find them while " + drive->name + " is plugged in. The originals are in the Trash.",
                std::move(move.records));
}

} // namespace

CleanResult Cleaner::moveWithLinks(const Finding& finding, const ScanReport& report, const Mac& mac,
                                   const PathGuard& guardian, const CleanOptions& options)
{
    KeptPartials kept;
    CleanResult result = moveWithLinksKeeping(finding, report, mac, guardian, options, kept);
    return kept.told(std::move(result), mac);
}

std::optional<std::string> Cleaner::trashOrAsk(const std::string& path, const Mac& mac, FileOps& files)
{
    std::string arrived;
    if (!attempt([&] { arrived = files.trash(mac, path); }))
        return arrived;
    if (mac.isFake())
        return std::nullopt;

    // The same Trash and the same record as a plain move: the record reserves a free name first,
    // so that any Trash client can restore the item, and goes again when the privileged move fails.
    try {
        return Platform::moveToTrash(path, mac.home, [&](const std::string& from, const std::string& to) {
            if (occupied(to))
                throw std::system_error(EEXIST, std::generic_category(), to + " already exists");
            if (!adminMoveNoReplace(from, to, mac, files))
                throw std::system_error(EPERM, std::generic_category(), "can't move " + from + " to the Trash");
        });
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool Cleaner::linkOrAsk(const std::string& at, const std::string& to, const Mac& mac, FileOps& files)
{
    if (!attempt([&] { files.createLink(at, to); }))
        return true;
    // The privileged line names the place by path: a folder on the way that became a link since
    // the checks could put the link anywhere.
    if (mac.isFake() || PathGuard::throughLink(parentOf(at)))
        return false;
    // -T: a folder standing at `at` is refused rather than given a link inside it; no -f, so
    // nothing is replaced.
    if (!files.runAsAdmin(mac, { { "/bin/ln", "-s", "-T", "--", to, at } }))
        return false;
    return isSymlink(at) && Platform::linkText(at) == to;
}

} // namespace Quandril
