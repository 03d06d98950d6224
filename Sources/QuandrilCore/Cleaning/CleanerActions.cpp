// Acting on one finding: the safety checks, in an order that decides which sentence the user
// reads, then the work of the finding's kind, the removal of a copy a drive holds among them. Moves
// to a drive live in CleanerMoves.cpp.

#include "QuandrilCore/Cleaning/Cleaner.h"

#include <algorithm>
#include <cstddef>

#include "QuandrilCore/Cleaning/CleanerSteps.h"
#include "QuandrilCore/Machine/Compare.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Platform/Stop.h"
#include "QuandrilCore/Platform/Volumes.h"

namespace Quandril {

using namespace CleanerSteps;

namespace {

std::string commandText(const Action& action)
{
    std::string text;
    for (const auto& argument : action.command.value_or(std::vector<std::string> {})) {
        if (!text.empty())
            text += ' ';
        text += argument;
    }
    return text;
}

// A folder with a drive mounted inside can't go to the Trash: the drive would go along, and
// emptying the Trash would delete its files.
std::optional<std::string> mountedInside(const std::string& path, const Mac& mac)
{
    const auto mounts = Platform::mountPointsInside(path);
    if (mounts.empty())
        return std::nullopt;
    const std::string more = mounts.size() == 1 ? std::string()
                                                : " (and " + std::to_string(mounts.size() - 1) + " more)";
    return mac.display(path) + " holds another drive, mounted at " + mac.display(mounts.front()) + more
        + ": in the Trash, that drive's files would be deleted when the Trash is emptied, so it stays where it is.";
}

// Nothing on a drive mounted read-only (a write-protected stick, a hibernated system's NTFS) can go
// to the Trash or be deleted: the sentence names the drive the path lies on, when one holds it.
std::string onReadOnlyDrive(const std::string& path, const Mac& mac, bool trashes)
{
    std::optional<DriveInfo> holder;
    for (const auto& drive : mac.drives()) {
        if ((path == drive.path || Platform::below(path, drive.path))
            && (!holder || drive.path.size() > holder->path.size()))
            holder = drive;
    }
    const std::string where = holder ? "on " + holder->name + ", which is mounted read-only"
                                     : "on a drive mounted read-only";
    return mac.display(path) + " is " + where + ", so it can't " + (trashes ? "go to the Trash." : "be deleted.");
}

// The per-path checks of every kind that reaches the file system, one path at a time; `trashes`
// when the paths would go to the Trash.
std::optional<std::string> pathRefusal(const Finding& finding, const Mac& mac, const PathGuard& guardian, bool trashes)
{
    const Action::Kind kind = finding.action.kind;
    const bool searchInside = kind == Action::Kind::trash || kind == Action::Kind::delete_
        || kind == Action::Kind::move;
    for (const auto& path : finding.paths) {
        if (auto why = guardian.protection(path, true))
            return "It reaches " + *why + ", which is never touched.";
        if (PathGuard::throughLink(path))
            return std::string("It's reached through a link, so acting on it could land somewhere else.");
        if (PrivacyFence::shared().blocks(path) || !exists(path))
            return mac.display(path) + " isn't there any more; scan again.";
        if (searchInside) {
            const auto inside = Cleaner::protectedInside(path, guardian);
            if (inside.why)
                return "It holds " + *inside.why + ", which is never touched.";
            if (inside.unexamined)
                return "I couldn't look inside " + mac.display(*inside.unexamined)
                    + ", so I can't tell whether it holds something that's never touched.";
        }
        if (trashes) {
            if (auto refusal = mountedInside(path, mac))
                return refusal;
        }
        if ((trashes || kind == Action::Kind::delete_) && Platform::mountedReadOnly(path))
            return onReadOnlyDrive(path, mac, trashes);
    }
    return std::nullopt;
}

// What the finding gave back: its bytes less what `still` (those of its paths not dealt with) take.
std::int64_t bytesGone(const Finding& finding, const std::vector<std::string>& still, const Mac& mac)
{
    std::int64_t left = 0;
    for (const auto& [path, usage] : mac.usageOf(still))
        left = Saturating::add(left, usage.bytes);
    return std::max<std::int64_t>(0, Saturating::subtract(finding.bytes, left));
}

// The finding's first `count` items were dealt with when a stop came: that part is done. Something
// of that part that stayed (`besides`, said after "and") fails it.
// With `partly`, the stop came part way through the next item, of which what wasn't reached is
// still there too. The bytes are the caller's to say.
CleanResult stoppedResult(const Finding& finding, std::size_t count, const Mac& mac,
                          std::vector<Relocation> relocated = {}, const std::string& besides = {}, bool partly = false)
{
    const std::string total = std::to_string(finding.paths.size());
    const std::string said = partly
        ? "Stopped part way through " + mac.display(finding.paths[count]) + " (item " + std::to_string(count + 1)
            + " of " + total + "); the rest is still there"
        : "Stopped after " + std::to_string(count) + " of " + total + " items; the others are still there";
    CleanResult result = done(finding, said + (besides.empty() ? "." : ", and " + besides), std::move(relocated));
    if (!besides.empty())
        result.status = CleanResult::Status::failed;
    return result;
}

// As stoppedResult, its bytes what the rest, still there, doesn't take.
CleanResult stoppedAfter(const Finding& finding, std::size_t count, const Mac& mac,
                         std::vector<Relocation> relocated = {})
{
    CleanResult result = stoppedResult(finding, count, mac, std::move(relocated));
    result.bytes = bytesGone(finding, { finding.paths.begin() + std::ptrdiff_t(count), finding.paths.end() }, mac);
    return result;
}

// What a removal stops at, which stays with everything under it: drives mounted inside what was
// deleted, and subvolumes of its own file system.
struct LeftBehind {
    std::vector<std::string> mounts;
    std::vector<std::string> subvolumes;

    bool empty() const { return mounts.empty() && subvolumes.empty(); }
    bool holds(const std::string& path) const
    {
        return std::find(mounts.begin(), mounts.end(), path) != mounts.end()
            || std::find(subvolumes.begin(), subvolumes.end(), path) != subvolumes.end();
    }
};

// "~/a was left: it is another drive mounted there.", or with `nothingDeleted` "~/a is another
// drive mounted there.", for each kind that stayed.
std::string leftText(const LeftBehind& left, const Mac& mac, bool nothingDeleted = false)
{
    const auto sentence = [&](const std::vector<std::string>& paths, const char* one, const char* many) {
        if (paths.empty())
            return std::string();
        const std::string first = mac.display(paths.front());
        if (paths.size() == 1)
            return first + (nothingDeleted ? " is " : " was left: it is ") + one + ".";
        return first + " and " + std::to_string(paths.size() - 1)
            + (nothingDeleted ? " more are " : " more were left: they are ") + many + ".";
    };
    const std::string mounts = sentence(left.mounts, "another drive mounted there", "other drives mounted there");
    const std::string subvolumes = sentence(left.subvolumes,
                                            "a subvolume of its own, where a removal stops as at a drive",
                                            "subvolumes of their own, where a removal stops as at a drive");
    return mounts.empty() || subvolumes.empty() ? mounts + subvolumes : mounts + " " + subvolumes;
}

// Runs `step`; true when a stop cut it short, having left what it hadn't reached as it was.
template <typename Step>
bool stoppedWithin(Step&& step)
{
    try {
        step();
        return false;
    } catch (const std::system_error& error) {
        if (error.code() != std::errc::operation_canceled)
            throw;
        return true;
    }
}

CleanResult deleteForGood(const Finding& finding, const Mac& mac, const CleanOptions& options)
{
    if (finding.paths.empty())
        return refused(finding, "Nothing to delete; scan again.");
    if (options.dryRun)
        return wouldDo(finding, "Would delete (it rebuilds itself).");
    FileOps& files = options.fileOps();
    // Drives mounted inside are never deleted; the rest of each path still goes.
    LeftBehind left;
    bool deletedAny = false;
    // What these removals themselves gave back, which every outcome reports: another process
    // deleting the same cache at once, or files with names outside it, leave less than the finding.
    std::int64_t gone = 0;
    const auto removed = [&](CleanResult result) {
        result.bytes = mac.reported(gone);
        return result;
    };
    for (std::size_t i = 0; i < finding.paths.size(); ++i) {
        const std::string& path = finding.paths[i];
        const auto besides = [&] { return left.empty() ? std::string() : leftText(left, mac); };
        if (i > 0 && options.stopRequested())
            return removed(stoppedResult(finding, i, mac, {}, besides()));
        // A long removal heeds a stop between its entries; what it reached is gone and counted.
        const Platform::StopInForce heeding(options.stop);
        bool stopped = false;
        if (auto failure = attempt([&] {
                ensureDirect(path);
                stopped = stoppedWithin([&] {
                    try {
                        gone = Saturating::add(gone, files.remove(path));
                    } catch (const MountsLeft& stop) {
                        gone = Saturating::add(gone, stop.freed());
                        left.mounts.insert(left.mounts.end(), stop.mountPoints().begin(), stop.mountPoints().end());
                        left.subvolumes.insert(left.subvolumes.end(), stop.subvolumes().begin(),
                                               stop.subvolumes().end());
                    } catch (const PartlyRemoved& cut) {
                        gone = Saturating::add(gone, cut.freed());
                        throw;
                    }
                });
            }))
            return removed(failed(finding, "Couldn't delete " + mac.display(path) + ": " + failure->description));
        if (stopped)
            return removed(stoppedResult(finding, i, mac, {}, besides(), true));
        // A path that is itself a mount point or a subvolume stays whole: nothing of it was deleted.
        deletedAny = deletedAny || !left.holds(path);
    }
    if (!left.empty())
        return removed(failed(finding,
                              deletedAny ? "Deleted, but " + leftText(left, mac)
                                         : "Nothing was deleted: " + leftText(left, mac, true)));
    return removed(done(finding, "Deleted; it rebuilds itself."));
}

CleanResult moveToTrash(const Finding& finding, const Mac& mac, const CleanOptions& options)
{
    // Reporting "moved" for nothing would hide that the finding no longer names anything.
    if (finding.paths.empty())
        return refused(finding, "Nothing to move to the Trash; scan again.");
    if (options.dryRun)
        return wouldDo(finding, "Would move to the Trash.");
    FileOps& files = options.fileOps();
    std::vector<Relocation> records;
    for (const auto& path : finding.paths) {
        options.noteMoved(records);
        if (!records.empty() && options.stopRequested()) {
            const std::size_t count = records.size();
            return stoppedAfter(finding, count, mac, std::move(records));
        }
        std::string arrived;
        // A long copy across mounts heeds a stop and leaves the item whole where it was.
        const Platform::StopInForce heeding(options.stop);
        bool stopped = false;
        if (auto failure = attempt([&] {
                ensureDirect(path);
                stopped = stoppedWithin([&] { arrived = files.trash(mac, path); });
            }))
            return failed(finding, "Couldn't move " + mac.display(path) + " to the Trash: " + failure->description,
                          std::move(records));
        if (stopped && records.empty()) {
            CleanResult result = refused(finding, "Stopped before anything moved; nothing was touched.");
            result.bytes = 0;
            return result;
        }
        if (stopped) {
            const std::size_t count = records.size();
            return stoppedAfter(finding, count, mac, std::move(records));
        }
        records.push_back({ path, arrived, std::nullopt, std::nullopt });
    }
    return done(finding, "Moved to the Trash; the space comes back when the Trash is emptied.", std::move(records));
}

CleanResult runCommand(const Finding& finding, const Mac& mac, const CleanOptions& options)
{
    const std::string text = commandText(finding.action);
    if (options.dryRun)
        return wouldDo(finding, "Would run: " + text);
    if (mac.isFake())
        return refused(finding, "A fake Mac runs no commands (would run: " + text + ").");
    if (!mac.run(finding.action.command.value_or(std::vector<std::string> {})))
        return failed(finding, text + " didn't succeed; nothing else was tried.");
    return done(finding, "Ran " + text + ".");
}

} // namespace

CleanResult Cleaner::act(const Finding& finding, const ScanReport& report, const Mac& mac, const PathGuard& guardian,
                         const CleanOptions& options)
{
    const Action& action = finding.action;

    if (finding.unsure)
        return refused(finding, "Its owner isn't known for sure; look into it first.");
    if (finding.blockedBy)
        return refused(finding, *finding.blockedBy);
    // History must be able to say where everything went before anything goes anywhere.
    if (!recordable(finding))
        return refused(finding, std::string(unrecordable));
    if (finding.tier == Tier::personal && finding.duplicateOf)
        return removeCopy(finding, *finding.duplicateOf, mac, guardian, options);
    if (action.kind == Action::Kind::handOff) {
        if (action.linkable.value_or(false) && options.linkMove)
            return moveWithLinks(finding, report, mac, guardian, options);
        return refused(finding,
                       "Only " + action.app.value_or("its own app") + " can do this: " + action.steps.value_or("")
                           + ".");
    }
    if (action.kind == Action::Kind::review)
        return refused(finding, "This one is for you to decide; Quandril doesn't act on it.");
    if (finding.tier == Tier::personal && action.kind != Action::Kind::move)
        return refused(finding, "Your own files are never removed, only moved.");
    if (action.kind == Action::Kind::delete_ && finding.tier != Tier::rebuilds)
        return refused(finding, "Only caches that rebuild themselves are ever deleted.");
    if (finding.caution && !options.includeCautioned)
        return refused(finding, *finding.caution + cautionWaits);
    const bool trashes = action.kind == Action::Kind::trash || action.kind == Action::Kind::move
        || (action.kind == Action::Kind::delete_ && !options.permanentCaches);
    if (auto refusal = pathRefusal(finding, mac, guardian, trashes))
        return refused(finding, std::move(*refusal));

    switch (action.kind) {
    case Action::Kind::delete_:
        if (options.permanentCaches)
            return deleteForGood(finding, mac, options);
        return moveToTrash(finding, mac, options);
    case Action::Kind::trash:
        return moveToTrash(finding, mac, options);
    case Action::Kind::command:
        return runCommand(finding, mac, options);
    case Action::Kind::move:
        return moveToDrive(finding, report, mac, guardian, options);
    case Action::Kind::handOff:
    case Action::Kind::review:
        break;
    }
    return refused(finding, "This one is for you to decide; Quandril doesn't act on it.");
}

CleanResult Cleaner::removeCopy(const Finding& finding, const std::string& keeping, const Mac& mac,
                                const PathGuard& guardian, const CleanOptions& options)
{
    if (finding.paths.size() != 1)
        return refused(finding, "Nothing to remove.");
    if (finding.caution && !options.includeCautioned)
        return refused(finding, *finding.caution + cautionWaits);
    const std::string& path = finding.paths.front();
    if (auto why = guardian.protection(path, true))
        return refused(finding, "It reaches " + *why + ", which is never touched.");
    if (PathGuard::throughLink(path) || PathGuard::throughLink(keeping))
        return refused(finding, "One of the copies is reached through a link.");
    auto& fence = PrivacyFence::shared();
    if (fence.blocks(path) || !exists(path) || fence.blocks(keeping) || !exists(keeping))
        return refused(finding, "One of the two copies isn't there any more; scan again.");
    // Two names for one item are not two copies: trashing one would leave none outside the Trash.
    if (Platform::overlaps(path, keeping) || Platform::sameItem(path, keeping))
        return refused(finding, "The copy on the drive is this same item; nothing was removed.");

    const TreeComparison comparison = compareTreesFully(path, keeping, true);
    if (comparison.incomplete)
        return refused(finding,
                       "Not every file of the two copies could be read, so they can't be compared; "
                       "nothing was removed.");
    std::int64_t differing = comparison.diff.onlyHere + comparison.diff.differing + comparison.diff.onlyThere;
    if (isDirectory(path) != isDirectory(keeping) && differing == 0)
        differing = 1;
    if (differing != 0)
        return refused(finding,
                       "The copy on the drive isn't identical any more (" + std::to_string(differing)
                           + " files differ); nothing was removed.");
    if (options.dryRun)
        return wouldDo(finding,
                       "Contents match byte for byte; would move this copy to the Trash and keep "
                           + mac.display(keeping) + ".");

    std::string arrived;
    if (auto failure = attempt([&] {
            ensureDirect(path);
            arrived = options.fileOps().trash(mac, path);
        }))
        return failed(finding, "Couldn't move it to the Trash: " + failure->description);
    return done(finding,
                "Contents matched byte for byte; this copy is in the Trash and " + mac.display(keeping) + " stays.",
                { { path, arrived, std::nullopt, std::nullopt } });
}

} // namespace Quandril
