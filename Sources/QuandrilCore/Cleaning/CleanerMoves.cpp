// Moving one's own files to a drive without losing any: copy, check every file, and only then put
// the original in the Trash, where Put Back can still reach it. Nothing here replaces or merges into
// what already stands at a target, and a target only ever holds a checked copy: each copy is made
// under a hidden name of our own beside it, and that partial copy goes again when anything fails.

#include "QuandrilCore/Cleaning/Cleaner.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "QuandrilCore/Cleaning/CleanerSteps.h"
#include "QuandrilCore/Cleaning/DriveMove.h"
#include "QuandrilCore/Cleaning/MoveSteps.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/Rules/Steam.h"

namespace Quandril {

using namespace CleanerSteps;
using namespace MoveSteps;

namespace {

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
            if (auto refusal = DriveMove::readOnlyRefusal(onDrive, target, mac))
                return refused(finding, std::move(*refusal));
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
        if (auto refusal = DriveMove::readOnlyRefusal(drive, target, mac))
            return refused(finding, std::move(*refusal));
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
        const auto trouble = copyIntoPlace(files, source, target, options.stop);
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
        case CopyTrouble::Kind::stopped:
            if (trouble->left)
                return copyFailed("Stopped part way through the copy; the original is untouched"
                                  + partialLeft(mac, *trouble) + ".");
            removeEmptyFolders(files, made);
            return stoppedBeforeAnything(finding);
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
        if (auto trouble = copyIntoPlace(options.fileOps(), further, companion->place, options.stop))
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

} // namespace

CleanResult Cleaner::moveToDrive(const Finding& finding, const ScanReport& report, const Mac& mac,
                                 const PathGuard& /*guardian*/, const CleanOptions& options)
{
    KeptPartials kept;
    CleanResult result = moveToDriveKeeping(finding, report, mac, options, kept);
    return kept.told(std::move(result), mac);
}

} // namespace Quandril
