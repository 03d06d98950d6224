// Put Back: returns what a clean-up moved to a Trash, or parked on a drive, to where it was.
//
// Nothing is touched until every item is known to be there and every old place known to be free,
// so an emptied Trash or a new file at an old place stops it before a single link is removed. Every
// move, privileged or not, refuses to replace or merge into anything, and each old place is checked
// again right before its item moves.

#include <algorithm>
#include <cerrno>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaner.h"
#include "QuandrilCore/FileHelpers.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Trash.h"
#include "QuandrilCore/PrivacyFence.h"

namespace Quandril {

namespace {

std::optional<struct stat> itemAt(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    return info;
}

// The item itself counts, a dangling link included: it still occupies the name.
bool occupied(const std::string& path)
{
    return itemAt(path).has_value();
}

std::optional<std::string> linkTarget(const std::string& path)
{
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (length < 0)
            return std::nullopt;
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool isLinkTo(const std::string& path, const std::string& target)
{
    const auto text = linkTarget(path);
    return text && *text == target;
}

bool fenced(const std::string& path)
{
    return PrivacyFence::shared().blocks(path);
}

bool missingItem(const Relocation& item)
{
    return fenced(item.to) || !occupied(item.to);
}

struct Undo {
    const std::string& id;
    const Mac& mac;
    FileOps& files;
    const HistoryEntry& entry;

    CleanResult result(CleanResult::Status status, std::string detail, std::vector<Relocation> relocated = {}) const
    {
        return CleanResult {id, entry.title, status, std::move(detail), entry.bytes, std::move(relocated)};
    }

    CleanResult missing(const Relocation& item, std::vector<Relocation> back) const
    {
        return result(CleanResult::Status::failed,
                      mac.display(item.to)
                          + " isn't there any more (the Trash was emptied, or the parked copy was deleted).",
                      std::move(back));
    }

    CleanResult taken(const Relocation& item, std::vector<Relocation> back) const
    {
        return result(CleanResult::Status::refused, "Something new is already at " + mac.display(item.from) + ".",
                      std::move(back));
    }

    bool removeLink(const Relocation& link) const
    {
        try {
            files.removeLink(link.from);
            return true;
        } catch (const std::exception&) {
        }
        if (mac.isFake())
            return false;
        // Only a link is ever removed: a file or folder that took its place stays.
        if (!files.runAsAdmin(mac, {{"/usr/bin/test", "-L", link.from}, {"/bin/rm", "--", link.from}}))
            return false;
        return !occupied(link.from);
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
        const auto inside = std::find_if(ordered.begin(), ordered.end(),
                                         [&](const Relocation& earlier) { return Platform::below(earlier.from, item.from); });
        ordered.insert(inside, std::move(item));
    }
    return ordered;
}

} // namespace

bool Cleaner::isInTrash(std::string_view path, const std::string& home)
{
    return path.find("/.Trash/") != std::string_view::npos || path.find("/.Trashes/") != std::string_view::npos
        || Platform::isTrashPath(path, home);
}

std::vector<Relocation> Cleaner::putBackSet(const HistoryEntry& entry, const std::string& home)
{
    std::vector<Relocation> set;
    for (const auto& relocation : entry.relocated)
        if (isInTrash(relocation.to, home) || relocation.parked.value_or(false))
            set.push_back(relocation);
    return set;
}

bool Cleaner::adminMoveNoReplace(const std::string& from, const std::string& to, const Mac& mac, FileOps& files)
{
    const auto before = itemAt(from);
    if (!before || occupied(to))
        return false;
    // "mv -n" alone would report success when it skipped, and "mv" onto a folder moves into it: the
    // line checks the place is free, never clobbers, treats `to` as the name itself, and the outcome
    // is verified here rather than trusted.
    const bool ran = files.runAsAdmin(mac,
                                      {{"/usr/bin/test", "!", "-e", to},
                                       {"/usr/bin/test", "!", "-L", to},
                                       {"/bin/mv", "-n", "-T", "--", from, to}});
    if (!ran || occupied(from))
        return false;
    const auto after = itemAt(to);
    if (!after || (after->st_mode & S_IFMT) != (before->st_mode & S_IFMT))
        return false;
    return after->st_dev != before->st_dev || after->st_ino == before->st_ino;
}

CleanResult Cleaner::undo(const std::string& id, const Mac& mac, bool dryRun, FileOps& files)
{
    const auto history = History::load(mac);
    const HistoryEntry* chosen = nullptr;
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
        if (it->id == id && !it->isUndone()) {
            chosen = &*it;
            break;
        }
    }
    if (!chosen)
        return CleanResult {id, id, CleanResult::Status::refused, "Nothing in the history to undo for this.", 0, {}};
    const Undo undo {id, mac, files, *chosen};

    if (chosen->relocated.empty())
        return undo.result(CleanResult::Status::refused,
                           "Nothing of this was moved: it was deleted for good or handled by its own app or tool, "
                           "so there's nothing to put back.");
    const auto items = ancestorsFirst(putBackSet(*chosen, mac.home));
    if (items.empty()) {
        std::string places;
        std::set<std::string> named;
        for (const auto& relocation : chosen->relocated) {
            if (!named.insert(relocation.to).second)
                continue;
            if (!places.empty())
                places += ", ";
            places += mac.display(relocation.to);
        }
        return undo.result(CleanResult::Status::refused,
                           "Nothing went to the Trash; moved files are on the drive at " + places + ".");
    }

    std::vector<Relocation> links;
    std::set<std::string> linkPlaces;
    for (const auto& relocation : chosen->relocated) {
        if (relocation.link.value_or(false) && isSymlink(relocation.from) && isLinkTo(relocation.from, relocation.to)) {
            links.push_back(relocation);
            linkPlaces.insert(relocation.from);
        }
    }

    // Everything is checked before anything changes: a link removed for an item that can't come
    // back would leave its apps with neither.
    for (const auto& item : items) {
        if (missingItem(item))
            return undo.missing(item, {});
        if (!fenced(item.from) && occupied(item.from) && !linkPlaces.count(item.from))
            return undo.taken(item, {});
    }

    if (dryRun)
        return undo.result(CleanResult::Status::wouldDo,
                           "Would put " + std::to_string(items.size()) + " item(s) back where they were.");

    for (const auto& link : links) {
        // Whatever replaced the link since it was found is not ours to remove.
        if (!isLinkTo(link.from, link.to)) {
            if (!occupied(link.from))
                continue;
            return undo.result(CleanResult::Status::refused, "Something new is already at " + mac.display(link.from) + ".");
        }
        if (!undo.removeLink(link))
            return undo.result(CleanResult::Status::failed, "Couldn't remove the link at " + mac.display(link.from) + ".");
    }

    std::vector<Relocation> back;
    for (const auto& item : items) {
        if (missingItem(item))
            return undo.missing(item, std::move(back));
        if (!fenced(item.from) && occupied(item.from))
            return undo.taken(item, std::move(back));
        try {
            files.createFolder(Platform::parentOf(item.from));
            files.moveNoReplace(item.to, item.from);
        } catch (const std::system_error& error) {
            if (error.code() == std::errc::file_exists)
                return undo.taken(item, std::move(back));
            if (mac.isFake() || !adminMoveNoReplace(item.to, item.from, mac, files))
                return undo.result(CleanResult::Status::failed,
                                   "Couldn't put back " + mac.display(item.from) + ": " + describeFailure(error),
                                   std::move(back));
        } catch (const std::exception& error) {
            return undo.result(CleanResult::Status::failed,
                               "Couldn't put back " + mac.display(item.from) + ": " + describeFailure(error),
                               std::move(back));
        }
        back.push_back(Relocation {item.to, item.from, std::nullopt, std::nullopt});
    }

    HistoryEntry marker = *chosen;
    marker.at = Clock::now();
    marker.undone = true;
    History::append(marker, mac);

    std::string detail = "Put back where it was.";
    if (!links.empty())
        detail += " The copy on " + mac.display(links.front().to) + " stays until you remove it.";
    return undo.result(CleanResult::Status::done, std::move(detail), std::move(back));
}

} // namespace Quandril
