// Put Back: returns what a clean-up moved to a Trash, or parked on a drive, to where it was.
//
// Only what the engine itself put in the Trash or parked ever moves: every path of the history line
// must be plain (absolute and lexically normal), a Trash item must lie in this user's own Trash and
// a parked copy in a drive's parking folder, and a line naming anything else is refused before
// anything moves. Nothing is touched until every item is known to be there, every old place known to
// be free and every way back known to hold no link, so an emptied Trash or a new file at an old place
// stops it before a single link is removed. Every move, privileged or not, refuses to replace or
// merge into anything, and each old place is checked again right before its item moves. The one
// exception is a folder Put Back itself made to return an item of another clean-up (see
// PutBackSteps::mergePlan).
// A put-back that fails takes away the folders it made for the item, so that they never pass for
// such a folder, nor for something new. A put-back stopped part way notes in History what came back
// and what is still away; one cut short without a word (the session ended) is taken up again by the
// next, which knows the items already back by what the line noted, and removes the partial copies
// the cut-short move left beside their old places.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Cleaning/CleanerSteps.h"
#include "QuandrilCore/Cleaning/PutBackSteps.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/PartialCopy.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Stop.h"
#include "QuandrilCore/Platform/Trash.h"

namespace Quandril {

namespace {

using PutBackSteps::itemAt;
using PutBackSteps::MergePlan;
using PutBackSteps::Merges;

bool isLinkTo(const std::string& path, const std::string& target)
{
    const auto text = Platform::linkText(path);
    return text && *text == target;
}

bool fenced(const std::string& path)
{
    return PrivacyFence::shared().blocks(path);
}

// The first folder on the way to `path` (the item itself not counted) that is a link, as far as
// the way exists.
std::optional<std::string> linkOnTheWay(const std::string& path)
{
    for (auto slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        const auto info = itemAt(folder);
        if (!info)
            break;
        if (S_ISLNK(info->st_mode))
            return folder;
    }
    return std::nullopt;
}

// A link on the way back to the item's old place, or on the way to where it lies now.
std::optional<std::string> linkOnTheWay(const Relocation& item)
{
    if (auto link = linkOnTheWay(item.from))
        return link;
    return linkOnTheWay(item.to);
}

// Whether the item is back at its old place already, as a put-back cut short leaves it: nothing at
// its Trash name, and at its old place the very item the line noted. A line that noted nothing
// can't tell.
bool alreadyBack(const Relocation& item)
{
    if (!item.kind || !item.modified || fenced(item.from) || fenced(item.to))
        return false;
    struct stat info {};
    if (::lstat(item.to.c_str(), &info) == 0 || (errno != ENOENT && errno != ENOTDIR))
        return false;
    const auto place = itemAt(item.from);
    return place && !linkOnTheWay(item.from) && Cleaner::sameIdentity(item, *place);
}

// The newest line for `id` that hasn't been put back yet.
const HistoryEntry* latestToUndo(const std::vector<HistoryEntry>& history, const std::string& id)
{
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
        if (it->id == id && !it->isUndone())
            return &*it;
    }
    return nullptr;
}

// The links a move left in old places that still lead to the moved item: they go before the items
// come back.
struct Links {
    std::vector<Relocation> items;
    std::set<std::string> places;
};

struct Undo {
    const std::string& id;
    const Mac& mac;
    FileOps& files;
    const HistoryEntry& entry;

    CleanResult result(CleanResult::Status status, std::string detail, std::vector<Relocation> relocated = {}) const
    {
        return CleanResult { id, entry.title, status, std::move(detail), entry.bytes, std::move(relocated) };
    }

    CleanResult missing(std::string why, std::vector<Relocation> back) const
    {
        return result(CleanResult::Status::failed, std::move(why), std::move(back));
    }

    CleanResult taken(const Relocation& item, std::vector<Relocation> back) const
    {
        return result(CleanResult::Status::refused, "Something new is already at " + mac.display(item.from) + ".",
                      std::move(back));
    }

    CleanResult throughLink(const Relocation& item, const std::optional<std::string>& link,
                            std::vector<Relocation> back) const
    {
        return result(CleanResult::Status::refused,
                      "The way back to " + mac.display(item.from) + " goes through a link"
                          + (link ? " at " + mac.display(*link) : std::string()) + ", so it wasn't put back.",
                      std::move(back));
    }

    bool removeLink(const Relocation& link) const
    {
        try {
            files.removeLink(link.from);
            return true;
        } catch (const std::exception&) {
        }
        if (mac.isFake() || linkOnTheWay(link.from))
            return false;
        // Only a link is ever removed: a file or folder that took its place stays.
        if (!files.runAsAdmin(mac, { { "/usr/bin/test", "-L", link.from }, { "/bin/rm", "--", link.from } }))
            return false;
        return !Platform::nameTaken(link.from);
    }

    // 1. A line that moved nothing, or names a path that isn't plain, is refused before anything is
    // looked at.
    std::optional<CleanResult> untrustworthy() const
    {
        if (entry.relocated.empty())
            return result(CleanResult::Status::refused,
                          "Nothing of this was moved: it was deleted for good or handled by its own app or tool, "
                          "so there's nothing to put back.");
        if (const auto untrusted = Cleaner::untrustedPath(entry, mac))
            return result(CleanResult::Status::refused,
                          "History's line for this names " + mac.display(*untrusted)
                              + ", which isn't a plain path on this Mac, so nothing was put back.");
        return std::nullopt;
    }

    // 2. Nothing of the line is in a Trash or parked: what a drive's Trash lost, or where the moved
    // files are.
    CleanResult nothingInATrash() const
    {
        if (auto why = Cleaner::trashGone(entry, mac))
            return missing(std::move(*why), {});
        std::string places;
        std::set<std::string> named;
        for (const auto& relocation : entry.relocated) {
            if (!named.insert(relocation.to).second)
                continue;
            if (!places.empty())
                places += ", ";
            places += mac.display(relocation.to);
        }
        return result(CleanResult::Status::refused,
                      "Nothing went to the Trash; moved files are on the drive at " + places + ".");
    }

    Links linksStillInPlace() const
    {
        Links links;
        for (const auto& relocation : entry.relocated) {
            if (relocation.link.value_or(false) && isSymlink(relocation.from)
                && isLinkTo(relocation.from, relocation.to)) {
                links.items.push_back(relocation);
                links.places.insert(relocation.from);
            }
        }
        return links;
    }

    // 3. Everything is checked before anything changes: a link removed for an item that can't come
    // back would leave its apps with neither.
    std::optional<CleanResult> firstObstacle(const std::vector<Relocation>& items, const Links& links,
                                             Merges& merges) const
    {
        for (const auto& item : items) {
            if (auto why = Cleaner::notThere(item, entry.at, mac))
                return missing(std::move(*why), {});
            if (auto link = linkOnTheWay(item))
                return throughLink(item, link, {});
            if (!fenced(item.from) && Platform::nameTaken(item.from) && !links.places.count(item.from) && !merges(item))
                return taken(item, {});
        }
        return std::nullopt;
    }

    // 4. The links go, each only while it still is the link that was found.
    std::optional<CleanResult> removeLinks(const Links& links) const
    {
        for (const auto& link : links.items) {
            // Whatever replaced the link since it was found is not ours to remove.
            if (!isLinkTo(link.from, link.to)) {
                if (!Platform::nameTaken(link.from))
                    continue;
                return result(CleanResult::Status::refused,
                              "Something new is already at " + mac.display(link.from) + ".");
            }
            if (!removeLink(link))
                return result(CleanResult::Status::failed,
                              "Couldn't remove the link at " + mac.display(link.from) + ".");
        }
        return std::nullopt;
    }

    // 5. One item goes back, its old place checked again right before; `back` gains it. On failure,
    // the result that names what came back before it. A move across drives stopped part way (the
    // stop in force on this thread, see Platform/Stop.h) removes its partial copy and leaves the item
    // where it was: `cut` says so, and nothing is returned.
    std::optional<CleanResult> putBack(const Relocation& item, Merges& merges, std::vector<Relocation>& back,
                                       bool& cut) const
    {
        if (auto why = Cleaner::notThere(item, entry.at, mac))
            return missing(std::move(*why), std::move(back));
        if (auto link = linkOnTheWay(item))
            return throughLink(item, link, std::move(back));
        // What was checked, to tell afterwards that this is what moved: the Trash is shared, and
        // another client may put its own item under the name in the meantime.
        const auto checked = itemAt(item.to);
        if (!checked)
            return missing(Cleaner::notThere(item, entry.at, mac)
                               .value_or(mac.display(item.to) + " can't be read, so it wasn't put back."),
                           std::move(back));
        std::optional<MergePlan> merge;
        if (!fenced(item.from) && Platform::nameTaken(item.from)) {
            merge = merges(item);
            if (!merge)
                return taken(item, std::move(back));
        }
        std::vector<std::string> made;
        try {
            if (merge) {
                PutBackSteps::mergeBack(files, mac, item, *merge);
            } else {
                made = CleanerSteps::missingFolders(Platform::parentOf(item.from));
                files.createFolder(Platform::parentOf(item.from));
                files.moveNoReplace(item.to, item.from);
            }
        } catch (const std::system_error& error) {
            if (error.code() == std::errc::operation_canceled && !merge) {
                CleanerSteps::removeEmptyFolders(files, made);
                cut = true;
                return std::nullopt;
            }
            const bool inTheWay = error.code() == std::errc::file_exists;
            const bool throughALink = error.code() == std::errc::too_many_symbolic_link_levels;
            if (inTheWay || throughALink || merge || mac.isFake()
                || !Cleaner::adminMoveNoReplace(item.to, item.from, mac, files)) {
                CleanerSteps::removeEmptyFolders(files, made);
                if (inTheWay)
                    return taken(item, std::move(back));
                if (throughALink)
                    return throughLink(item, linkOnTheWay(item), std::move(back));
                return notPutBack(item, error, std::move(back));
            }
        } catch (const std::exception& error) {
            CleanerSteps::removeEmptyFolders(files, made);
            return notPutBack(item, error, std::move(back));
        }
        if (!merge && Cleaner::isInTrash(item.to, mac)) {
            if (auto swapped = Cleaner::movedAnother(item, *checked, files, mac)) {
                CleanerSteps::removeEmptyFolders(files, made);
                return missing(std::move(*swapped), std::move(back));
            }
        }
        // The desktop Trash's record of the item would otherwise list a broken entry and keep its name taken.
        if (!mac.isFake())
            Platform::removeTrashRecord(item.to, item.from);
        back.push_back(Relocation { item.to, item.from, std::nullopt, std::nullopt });
        return std::nullopt;
    }

    CleanResult notPutBack(const Relocation& item, const std::exception& error, std::vector<Relocation> back) const
    {
        return result(CleanResult::Status::failed,
                      "Couldn't put back " + mac.display(item.from) + ": " + describeFailure(error), std::move(back));
    }

    // A stop after some items came back: History notes what did, and keeps the rest as the line a
    // later Put Back brings back. That line is no marker: a version that knows nothing of `back`
    // takes it for a clean-up in force and brings back the rest too.
    CleanResult stopped(const std::vector<Relocation>& items, std::size_t already, std::vector<Relocation> back) const
    {
        HistoryEntry rest = entry;
        rest.at = std::chrono::time_point_cast<std::chrono::seconds>(Clock::now());
        std::vector<Relocation> noted = entry.back.value_or(std::vector<Relocation> {});
        // Those back are the first of `items`: the ones back before, then this time's.
        const auto backEnd = items.begin() + std::ptrdiff_t(already + back.size());
        const auto cameBack = [&](const Relocation& relocation) {
            return std::find(items.begin(), backEnd, relocation) != backEnd;
        };
        rest.relocated.clear();
        for (const auto& relocation : entry.relocated) {
            if (cameBack(relocation))
                noted.push_back(Relocation { relocation.to, relocation.from, std::nullopt, std::nullopt });
            else
                rest.relocated.push_back(relocation);
        }
        rest.back = std::move(noted);
        const std::size_t done = already + back.size();
        const bool nothingNew = back.empty() && already == 0;
        CleanResult result = this->result(CleanResult::Status::done,
                                          "Stopped after putting back " + std::to_string(done) + " of "
                                              + std::to_string(items.size())
                                              + " items; the others stay where Gorrin put them until you put "
                                                "them back.",
                                          std::move(back));
        if (nothingNew) // History says all there is already
            return result;
        const History::Appended appended = History::append(rest, mac);
        if (!appended) {
            result.notInHistory = true;
            result.detail += " History couldn't note what's back: " + appended.whyNot + ".";
        }
        return result;
    }

    // 6. History marks the line undone; when it can't, the result says so, as History would go on
    // offering Put Back for what is back already.
    void markUndone(CleanResult& done) const
    {
        HistoryEntry marker = entry;
        marker.at = Clock::now();
        marker.undone = true;
        const History::Appended appended = History::append(marker, mac);
        if (appended)
            return;
        done.notInHistory = true;
        done.detail += " History couldn't note that it's back, so it still offers Put Back for it: " + appended.whyNot
            + ".";
    }
};

// A folder that went to the Trash after an item it held must come back first: the item would
// otherwise make a new, empty folder in its place and the folder could never return. Unrelated
// items keep their order.
std::vector<Relocation> ancestorsFirst(std::vector<Relocation> items)
{
    std::vector<Relocation> ordered;
    ordered.reserve(items.size());
    for (auto& item : items) {
        const auto inside = std::find_if(ordered.begin(), ordered.end(), [&](const Relocation& earlier) {
            return Platform::below(earlier.from, item.from);
        });
        ordered.insert(inside, std::move(item));
    }
    return ordered;
}

} // namespace

bool Cleaner::adminMoveNoReplace(const std::string& from, const std::string& to, const Mac& mac, FileOps& files)
{
    const auto before = itemAt(from);
    // The privileged move resolves paths by name: a link on either way could send it anywhere.
    if (!before || Platform::nameTaken(to) || linkOnTheWay(from) || linkOnTheWay(to))
        return false;
    // "mv -n" alone would report success when it skipped, and "mv" onto a folder moves into it: the
    // line checks the place is free, never clobbers, treats `to` as the name itself, and the outcome
    // is verified here rather than trusted.
    const bool ran = files.runAsAdmin(mac,
                                      { { "/usr/bin/test", "!", "-e", to },
                                        { "/usr/bin/test", "!", "-L", to },
                                        { "/bin/mv", "-n", "-T", "--", from, to } });
    if (!ran || Platform::nameTaken(from))
        return false;
    const auto after = itemAt(to);
    if (!after || (after->st_mode & S_IFMT) != (before->st_mode & S_IFMT))
        return false;
    return after->st_dev != before->st_dev || after->st_ino == before->st_ino;
}

CleanResult Cleaner::undo(const std::string& id, const Mac& mac, bool dryRun, FileOps& files,
                          const std::function<bool()>& stop)
{
    const History::Loaded loaded = History::read(mac);
    const auto& history = loaded.entries;
    const HistoryEntry* chosen = latestToUndo(history, id);
    if (!chosen)
        return CleanResult { id,
                             id,
                             CleanResult::Status::refused,
                             loaded.whyNot.empty() ? "Nothing in the history to undo for this."
                                                   : "Nothing in the history to undo for this: " + loaded.whyNot + ".",
                             0,
                             {} };
    const Undo undo { id, mac, files, *chosen };

    if (auto refusal = undo.untrustworthy())
        return std::move(*refusal);
    const auto items = ancestorsFirst(putBackSet(*chosen, mac));
    if (items.empty())
        return undo.nothingInATrash();
    // What a put-back cut short brought back stays where it is; those come first in `items`.
    std::vector<Relocation> ordered, away;
    for (const auto& item : items)
        (alreadyBack(item) ? ordered : away).push_back(item);
    const std::size_t already = ordered.size();
    ordered.insert(ordered.end(), away.begin(), away.end());

    const auto links = undo.linksStillInPlace();
    Merges merges { history, mac, std::nullopt };
    if (auto obstacle = undo.firstObstacle(away, links, merges))
        return std::move(*obstacle);
    if (dryRun)
        return undo.result(CleanResult::Status::wouldDo,
                           "Would put " + std::to_string(away.size()) + " item(s) back where they were.");
    if (stop && stop())
        return undo.result(CleanResult::Status::refused, "Stopped before it started; nothing was touched.");

    // The partial copies of a move that was cut short, with their locks (a move held by a running
    // process keeps its own), and the records of items that came back just before.
    std::set<std::string> folders;
    for (const auto& item : items)
        if (const std::string folder = Platform::parentOf(item.from); !fenced(folder) && folders.insert(folder).second)
            Platform::reclaimPartials(folder, true);
    if (!mac.isFake())
        for (std::size_t i = 0; i < already; ++i)
            Platform::removeTrashRecord(ordered[i].to, ordered[i].from);

    if (auto failure = undo.removeLinks(links))
        return std::move(*failure);
    // A long copy across drives heeds the stop too: it removes its partial and counts as cut.
    const Platform::StopInForce heeding(stop);
    std::vector<Relocation> back;
    for (const auto& item : away) {
        if (!back.empty() && stop && stop())
            return undo.stopped(ordered, already, std::move(back));
        bool cut = false;
        if (auto failure = undo.putBack(item, merges, back, cut))
            return std::move(*failure);
        if (cut)
            return undo.stopped(ordered, already, std::move(back));
    }
    std::string detail = "Put back where it was.";
    if (!links.items.empty())
        detail += " The copy on " + mac.display(links.items.front().to) + " stays until you remove it.";
    CleanResult done = undo.result(CleanResult::Status::done, std::move(detail), std::move(back));
    undo.markUndone(done);
    return done;
}

} // namespace Quandril
