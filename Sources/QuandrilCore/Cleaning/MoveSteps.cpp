#include "QuandrilCore/Cleaning/MoveSteps.h"

#include <string>
#include <system_error>
#include <utility>

#include <sys/stat.h>

#include "QuandrilCore/Cleaning/CleanerSteps.h"
#include "QuandrilCore/Cleaning/DriveMove.h"
#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/PartialCopy.h"
#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Platform/Stop.h"
#include "QuandrilCore/Platform/Sync.h"

namespace Quandril::MoveSteps {

using namespace CleanerSteps;

std::string noRoom(const DriveInfo& drive)
{
    return drive.name + " doesn't have room for it plus a margin.";
}

std::string alreadyThere(const Mac& mac, const std::string& place)
{
    return mac.display(place) + " already exists; compare the two before anything moves.";
}

std::string gone(const DriveInfo& drive)
{
    return DriveMove::notMounted(drive) + ", so nothing was moved.";
}

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

namespace {

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

} // namespace

std::optional<CopyTrouble> copyIntoPlace(FileOps& files, const std::string& item, const std::string& place,
                                         const std::function<bool()>& stop)
{
    using Kind = CopyTrouble::Kind;
    // Held until the copy has its own name or is gone, so no reclaim takes it meanwhile.
    std::optional<Platform::HeldPartial> held;
    if (auto failure = attempt([&] { held.emplace(place); }))
        return CopyTrouble { Kind::unfinished, failure->description, std::nullopt };
    const std::string partial = parentOf(place) + "/" + held->name();
    bool stopped = false;
    const auto heeding = [&](auto&& step) {
        return attempt([&] {
            const Platform::StopInForce inForce(stop);
            try {
                step();
            } catch (const std::system_error& error) {
                stopped = error.code() == std::errc::operation_canceled;
                throw;
            }
        });
    };
    if (auto failure = heeding([&] { files.copy(item, partial); })) {
        if (failure->inTheWay) {
            held->disown();
            return CopyTrouble { Kind::inTheWay, failure->description, std::nullopt };
        }
        return discarding({ stopped ? Kind::stopped : Kind::unfinished, failure->description, std::nullopt }, *held,
                          partial);
    }
    bool same = false;
    if (heeding([&] { same = verifiedCopy(item, partial); }) || !same)
        return discarding({ stopped ? Kind::stopped : Kind::differs, {}, std::nullopt }, *held, partial);
    if (auto failure = attempt([&] { files.moveNoReplace(partial, place); }))
        return discarding({ failure->inTheWay ? Kind::taken : Kind::unfinished, failure->description, std::nullopt },
                          *held, partial);
    // The copy itself went to the disk as it was made; its own name must too before the original
    // goes. A disk that won't take it gets our copy back.
    if (auto failure = attempt([&] { Platform::syncNames(Platform::openFolder(parentOf(place)).get(), place); })) {
        CopyTrouble trouble { Kind::unfinished, failure->description, std::nullopt };
        if (attempt([&] { files.remove(place); }))
            trouble.left = place;
        return trouble;
    }
    return std::nullopt;
}

CleanResult stoppedBeforeAnything(const Finding& finding)
{
    CleanResult result = refused(finding, "Stopped before anything moved; nothing was touched.");
    result.bytes = 0;
    return result;
}

std::int64_t KeptPartials::reclaim(const std::string& folder, bool remove)
{
    auto reclaimed = Platform::reclaimPartials(folder, remove);
    for (auto& name : reclaimed.heldByMounts)
        paths_.push_back(folder + "/" + name);
    return reclaimed.freed;
}

CleanResult KeptPartials::told(CleanResult result, const Mac& mac) const
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

std::optional<std::string> copiedIntoItself(const Mac& mac, const std::string& item, const std::string& place)
{
    if (!Platform::below(place, item) && !Platform::below(resolvedPlace(place), resolvedPath(item)))
        return std::nullopt;
    return "It can't be copied into itself: " + mac.display(place) + " lies inside " + mac.display(item) + ".";
}

} // namespace Quandril::MoveSteps
