// Moving files to a drive without losing any: copy, check every file, and only then put the
// original in the Trash, where Put Back can still reach it. Nothing here replaces or merges into
// what already stands at a target, and a target only ever holds a checked copy: each copy is made
// under a hidden name of our own beside it, and that partial copy goes again when anything fails.

#include "QuandrilCore/Cleaning/Cleaner.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/CleanerSteps.h"
#include "QuandrilCore/Cleaning/DriveMove.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/PartialCopy.h"
#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Platform/Trash.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/Rules/Steam.h"

namespace Quandril {

using namespace CleanerSteps;

namespace {

constexpr const char* noDrive = "Say which drive to move it to.";

std::string noRoom(const DriveInfo& drive)
{
    return drive.name + " doesn't have room for it plus a margin.";
}

std::string alreadyThere(const Mac& mac, const std::string& place)
{
    return mac.display(place) + " already exists; compare the two before anything moves.";
}

// A drive unmounted since it was chosen leaves its mount point behind as a bare folder of the
// startup drive: nothing more goes there.
std::string gone(const DriveInfo& drive)
{
    return DriveMove::notMounted(drive) + ", so nothing was moved.";
}

// A copy that got its place while the drive was unmounted landed in that bare folder, on the startup
// drive: it is ours and goes again. What to say then about the item (`stays`, ending in a full
// stop); nothing when the copy is on the drive.
std::optional<std::string> strayCopy(FileOps& files, const DriveInfo& drive, const std::string& place, const Mac& mac,
                                     const std::string& stays)
{
    if (DriveMove::stillOn(drive, place, mac) || !occupied(place))
        return std::nullopt;
    if (auto failure = attempt([&] { files.remove(place); }))
        return DriveMove::notMounted(drive) + ", so " + stays + " The copy made meanwhile stays at "
            + mac.display(place) + ": " + failure->description;
    return DriveMove::notMounted(drive) + ", so " + stays;
}

// How a copy into its place ended when it didn't get there.
struct CopyTrouble {
    enum class Kind { inTheWay, unfinished, differs, taken } kind;
    std::string description;         // the error in words; empty when the copy differs
    std::optional<std::string> left; // our partial copy, when it couldn't be removed
    bool mounted = false;            // it stays because a drive is mounted inside it
};

// Removes our own partial copy, read-only folders and all; when it can't all go (it keeps its lock
// file then, so the next move there reclaims it) the trouble says where it stays, and whether a
// drive mounted inside it is why.
CopyTrouble discarding(CopyTrouble trouble, const Platform::HeldPartial& held, const std::string& partial)
{
    if (!occupied(partial))
        return trouble;
    const Platform::TreeRemoval removal = held.discard();
    if (!removal.gone()) {
        trouble.left = partial;
        trouble.mounted = !removal.mountsLeft.empty();
    }
    return trouble;
}

// Copies `item` under a partial name beside `place`, checks it file by file and renames it to
// `place` without replacing anything: `place` never holds an incomplete copy, not even after a
// crash, and a copy that fails or differs goes again rather than keep the drive full and stand in
// a retry's way. Whatever stood in the partial copy's own way is not ours and stays.
std::optional<CopyTrouble> copyIntoPlace(FileOps& files, const std::string& item, const std::string& place)
{
    using Kind = CopyTrouble::Kind;
    // Held until the copy has its own name or is gone, so no reclaim takes it meanwhile.
    std::optional<Platform::HeldPartial> held;
    if (auto failure = attempt([&] { held.emplace(place); }))
        return CopyTrouble { Kind::unfinished, failure->description, std::nullopt };
    const std::string partial = parentOf(place) + "/" + held->name();
    if (auto failure = attempt([&] { files.copy(item, partial); })) {
        if (failure->inTheWay) {
            held->disown();
            return CopyTrouble { Kind::inTheWay, failure->description, std::nullopt };
        }
        return discarding({ Kind::unfinished, failure->description, std::nullopt }, *held, partial);
    }
    if (!verifiedCopy(item, partial))
        return discarding({ Kind::differs, {}, std::nullopt }, *held, partial);
    if (auto failure = attempt([&] { files.moveNoReplace(partial, place); }))
        return discarding({ failure->inTheWay ? Kind::taken : Kind::unfinished, failure->description, std::nullopt },
                          *held, partial);
    return std::nullopt;
}

// The partial copies killed moves left that stay when a move reclaims them, a drive being mounted
// inside each: the move says so beside its own outcome, which they don't change.
class KeptPartials {
public:
    // Reclaims the partial copies in `folder` (see Platform::reclaimPartials) and returns the bytes freed.
    std::int64_t reclaim(const std::string& folder, bool remove)
    {
        auto reclaimed = Platform::reclaimPartials(folder, remove);
        for (auto& name : reclaimed.heldByMounts)
            paths_.push_back(folder + "/" + name);
        return reclaimed.freed;
    }

    CleanResult told(CleanResult result, const Mac& mac) const
    {
        if (paths_.empty())
            return result;
        if (!result.detail.empty() && result.detail.back() != '.')
            result.detail += '.';
        if (paths_.size() == 1)
            result.detail += " A partial copy Gorrin left at " + mac.display(paths_.front())
                + " earlier stays: another drive is mounted in it.";
        else
            result.detail += " Partial copies Gorrin left at " + mac.display(paths_.front()) + " and "
                + std::to_string(paths_.size() - 1) + " more earlier stay: other drives are mounted in them.";
        return result;
    }

private:
    std::vector<std::string> paths_;
};

// The drive as a move into `folder` sees it: the partial copies that killed moves left there are
// gone (in a dry run only counted), and the room they took is free.
DriveInfo reclaimingPartials(DriveInfo drive, const std::string& folder, const CleanOptions& options,
                             KeptPartials& kept)
{
    drive.freeBytes = Saturating::add(drive.freeBytes, kept.reclaim(folder, !options.dryRun));
    return drive;
}

std::string partialLeft(const Mac& mac, const CopyTrouble& trouble)
{
    if (!trouble.left)
        return {};
    return ", and the partial copy is at " + mac.display(*trouble.left)
        + (trouble.mounted ? ": another drive is mounted in it" : "");
}

// Where a path that may not exist yet leads: its nearest existing folder with every link resolved,
// then the rest as written.
std::string resolvedPlace(const std::string& path)
{
    std::string existing = path, rest;
    struct stat info {};
    while (existing != "/" && ::lstat(existing.c_str(), &info) != 0) {
        rest = "/" + lastComponent(existing) + rest;
        existing = parentOf(existing);
    }
    const std::string resolved = resolvedPath(existing);
    return resolved == "/" && !rest.empty() ? rest : resolved + rest;
}

// A copy made inside its own original would copy itself over and over until the path got too long.
std::optional<std::string> copiedIntoItself(const Mac& mac, const std::string& item, const std::string& place)
{
    if (!Platform::below(place, item) && !Platform::below(resolvedPlace(place), resolvedPath(item)))
        return std::nullopt;
    return "It can't be copied into itself: " + mac.display(place) + " lies inside " + mac.display(item) + ".";
}

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

// What travels beside a moved item to a place of its own, and how a failure names it.
struct Companion {
    std::string place;
    std::string_view name;
};

// Steam's record of a moved game, or of its mods, is the one companion so far.
std::optional<Companion> companionOf(const std::string& further, const std::string& target)
{
    if (auto place = steamRecordPlace(further, target))
        return Companion { std::move(*place), "Steam's record of them" };
    return std::nullopt;
}

} // namespace

std::optional<DriveInfo> Cleaner::targetDrive(const ScanReport& report, const std::optional<std::string>& moveTo)
{
    if (!moveTo)
        return std::nullopt;
    return DriveMove::chosenDrive(report.drives, *moveTo);
}

bool Cleaner::hasRoom(std::int64_t bytes, const DriveInfo& drive)
{
    return DriveMove::hasRoom(bytes, drive);
}

namespace {

// The move of one finding to a drive, step by step; each step answers with the finding's result
// when the move ends there.
struct ToDrive {
    const Finding& finding;
    const ScanReport& report;
    const Mac& mac;
    const CleanOptions& options;
    KeptPartials& kept;

    // 1. Where the copy goes, and on which drive: the action's own destination, or the item's place
    // below the home folder in the chosen drive's "Moved from Mac", when the drive has room for it.
    std::optional<CleanResult> chooseTarget(const std::string& source, std::string& target,
                                            std::optional<DriveInfo>& onDrive) const
    {
        if (finding.action.destination) {
            target = *finding.action.destination;
            onDrive = driveHolding(target);
            if (onDrive && !DriveMove::stillOn(*onDrive, target, mac))
                return refused(finding, gone(*onDrive));
            if (!options.dryRun)
                kept.reclaim(parentOf(target), true);
            return std::nullopt;
        }
        const auto drive = Cleaner::targetDrive(report, options.moveTo);
        if (!drive)
            return refused(finding, noDrive);
        const std::string homePrefix = mac.home + "/";
        const std::string keep = source.compare(0, homePrefix.size(), homePrefix) == 0
            ? source.substr(homePrefix.size())
            : lastComponent(source);
        target = drive->path + "/Moved from Mac/" + keep;
        onDrive = drive;
        if (!DriveMove::stillOn(*drive, target, mac))
            return refused(finding, gone(*drive));
        const DriveInfo reclaimed = reclaimingPartials(*drive, parentOf(target), options, kept);
        if (!Cleaner::hasRoom(finding.bytes, reclaimed))
            return refused(finding, noRoom(reclaimed));
        return std::nullopt;
    }

    // The external drive a destination lies on, if any: the one with the longest path above it.
    std::optional<DriveInfo> driveHolding(const std::string& path) const
    {
        std::optional<DriveInfo> found;
        for (const auto& drive : report.drives) {
            if (drive.isExternal() && Platform::below(path, drive.path)
                && (!found || drive.path.size() > found->path.size()))
                found = drive;
        }
        return found;
    }

    // 2. History must be able to name the target, nothing may stand there, and it can't lie inside
    // the item.
    std::optional<CleanResult> targetRefusal(const std::string& source, const std::string& target) const
    {
        if (!Platform::isValidUTF8(target))
            return refused(finding, std::string(unrecordable));
        if (occupied(target))
            return refused(finding, alreadyThere(mac, target));
        if (auto refusal = copiedIntoItself(mac, source, target))
            return refused(finding, std::move(*refusal));
        return std::nullopt;
    }

    // 3. The checked copy at the target. A copy that didn't get there takes back the folders made
    // for it, leaving the drive as it was.
    std::optional<CleanResult> copy(const std::string& source, const std::string& target,
                                    const std::optional<DriveInfo>& drive) const
    {
        FileOps& files = options.fileOps();
        const auto made = missingFolders(parentOf(target));
        const auto copyFailed = [&](std::string detail) {
            removeEmptyFolders(files, made);
            return failed(finding, std::move(detail));
        };
        if (auto failure = attempt([&] { files.createFolder(parentOf(target)); }))
            return copyFailed("Couldn't make the folder on the drive: " + failure->description);
        // A folder on the way that became a link since the checks would have something else copied.
        if (auto failure = attempt([&] { ensureDirect(source); }))
            return copyFailed("Couldn't copy: " + failure->description);
        const auto trouble = copyIntoPlace(files, source, target);
        if (!trouble) {
            if (auto stray = drive ? strayCopy(files, *drive, target, mac, "nothing was moved.") : std::nullopt)
                return copyFailed(std::move(*stray));
            return std::nullopt;
        }
        switch (trouble->kind) {
        case CopyTrouble::Kind::taken:
            return copyFailed(alreadyThere(mac, target));
        case CopyTrouble::Kind::differs:
            return copyFailed("The copy doesn't match the original file for file; the original is untouched"
                              + partialLeft(mac, *trouble) + ".");
        default:
            if (trouble->left)
                return copyFailed("The copy didn't finish; the original is untouched" + partialLeft(mac, *trouble)
                                  + ".");
            return copyFailed("Couldn't copy: " + trouble->description);
        }
    }

    // A companion of `further` goes beside the target first, unless the drive holds one already.
    std::optional<CleanResult> copyCompanion(const std::string& further, const std::string& target,
                                             std::vector<Relocation>& records) const
    {
        const auto companion = companionOf(further, target);
        if (!companion || occupied(companion->place))
            return std::nullopt;
        kept.reclaim(parentOf(companion->place), true);
        if (auto trouble = copyIntoPlace(options.fileOps(), further, companion->place))
            return failed(finding,
                          "Copied the files, but not " + std::string(companion->name) + ": "
                              + (trouble->kind == CopyTrouble::Kind::differs ? "the copy doesn't match the original"
                                                                             : trouble->description)
                              + partialLeft(mac, *trouble) + ".",
                          std::move(records));
        records.push_back({ further, companion->place, std::nullopt, std::nullopt });
        return std::nullopt;
    }

    // 4. The finding's further paths go to the Trash, each after its companion is copied.
    std::optional<CleanResult> trashFurther(const std::string& target, std::vector<Relocation>& records) const
    {
        for (std::size_t index = 1; index < finding.paths.size(); ++index) {
            const std::string& further = finding.paths[index];
            if (index > 1)
                options.noteMoved(records);
            if (auto failure = copyCompanion(further, target, records))
                return failure;
            std::string arrived;
            if (attempt([&] {
                    ensureDirect(further);
                    arrived = options.fileOps().trash(mac, further);
                }))
                return failed(finding, "Copied, but couldn't trash " + mac.display(further) + ".", std::move(records));
            records.push_back({ further, arrived, std::nullopt, std::nullopt });
        }
        return std::nullopt;
    }

    // 5. The original goes to the Trash last, where Put Back can still reach it.
    CleanResult trashOriginal(const std::string& source, const std::string& target,
                              std::vector<Relocation> records) const
    {
        if (finding.paths.size() > 1)
            options.noteMoved(records);
        std::string arrived;
        if (auto failure = attempt([&] {
                ensureDirect(source);
                arrived = options.fileOps().trash(mac, source);
            }))
            return failed(finding,
                          "Copied and checked, but the original couldn't go to the Trash: " + failure->description,
                          std::move(records));
        records.push_back({ source, arrived, std::nullopt, std::nullopt });
        return done(finding,
                    "Moved to " + mac.display(target) + " and checked file by file; the original is in the Trash.",
                    std::move(records));
    }
};

CleanResult moveToDriveKeeping(const Finding& finding, const ScanReport& report, const Mac& mac,
                               const CleanOptions& options, KeptPartials& kept)
{
    if (finding.paths.empty())
        return refused(finding, "Nothing to move.");
    const std::string& source = finding.paths.front();
    const ToDrive move { finding, report, mac, options, kept };
    std::string target;
    std::optional<DriveInfo> drive;
    if (auto refusal = move.chooseTarget(source, target, drive))
        return std::move(*refusal);
    if (auto refusal = move.targetRefusal(source, target))
        return std::move(*refusal);
    if (options.dryRun)
        return wouldDo(finding,
                       "Would copy to " + mac.display(target)
                           + ", check every file, then move the original to the Trash.");
    if (auto failure = move.copy(source, target, drive))
        return std::move(*failure);
    std::vector<Relocation> records { { source, target, std::nullopt, std::nullopt } };
    // The copy went with a drive unmounted since: the original stays until the drive is back.
    const auto driveGone = [&] { return drive && !DriveMove::stillOn(*drive, target, mac); };
    const auto copyGone = [&] {
        return failed(finding,
                      "Copied and checked, but " + DriveMove::notMounted(*drive) + ", so the original stays in place.",
                      std::move(records));
    };
    if (driveGone())
        return copyGone();
    if (auto failure = move.trashFurther(target, records))
        return std::move(*failure);
    if (driveGone())
        return copyGone();
    return move.trashOriginal(source, target, std::move(records));
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
    const std::vector<std::string> made; // the folders made for the copies, innermost first
    std::vector<Relocation> records;

    // A copy that didn't get there takes back the folders made for it, unless they hold earlier copies.
    CleanResult copyFailed(std::string detail)
    {
        removeEmptyFolders(files, made);
        return failed(finding, std::move(detail), std::move(records));
    }

    // One item is copied and checked, goes to the Trash and leaves a link to its copy in its place.
    std::optional<CleanResult> moveOne(const LinkedItem& item)
    {
        const std::string& place = item.place;
        // A folder on the way that became a link since it was chosen would have something else
        // copied, trashed and linked.
        if (resolvedPath(item.path) != item.resolved)
            return copyFailed("Couldn't copy " + mac.display(item.path) + ": it is reached through a link now.");
        const std::string unmounted = DriveMove::notMounted(drive) + ", so " + mac.display(item.path)
            + " stays in place.";
        if (!DriveMove::stillOn(drive, place, mac))
            return copyFailed(unmounted);
        if (auto trouble = copyIntoPlace(files, item.path, place)) {
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

    WithLinks move { finding, mac, *drive, options.fileOps(), missingFolders(folder), {} };
    if (auto failure = attempt([&] { move.files.createFolder(folder); }))
        return move.copyFailed("Couldn't make " + mac.display(folder) + ": " + failure->description);
    for (const auto& item : items) {
        if (!move.records.empty())
            options.noteMoved(move.records);
        if (auto failure = move.moveOne(item))
            return std::move(*failure);
    }
    return done(finding,
                "Moved to " + mac.display(folder) + " and checked file by file, with a link where each was, so "
                    + ownerName + " find them while " + drive->name + " is plugged in. The originals are in the Trash.",
                std::move(move.records));
}

} // namespace

CleanResult Cleaner::moveToDrive(const Finding& finding, const ScanReport& report, const Mac& mac,
                                 const PathGuard& /*guardian*/, const CleanOptions& options)
{
    KeptPartials kept;
    CleanResult result = moveToDriveKeeping(finding, report, mac, options, kept);
    return kept.told(std::move(result), mac);
}

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
