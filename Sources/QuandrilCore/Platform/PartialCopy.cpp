#include "QuandrilCore/Platform/PartialCopy.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Platform/RemoveTree.h"
#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Platform/Token.h"

namespace Quandril::Platform {

namespace {

constexpr std::string_view marker = ".gorrin-partial-";
constexpr std::string_view lockEnding = ".lock";
constexpr std::string_view tokenShape = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";

bool endsWith(std::string_view text, std::string_view ending)
{
    return text.size() >= ending.size() && text.substr(text.size() - ending.size()) == ending;
}

bool isToken(std::string_view text)
{
    if (text.size() != tokenShape.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        if (tokenShape[i] == '-' ? c != '-' : !hex)
            return false;
    }
    return true;
}

// Anything at the name, or what can't be examined; a name too long for a file name has nothing.
bool present(int folder, const std::string& name)
{
    return statAt(folder, name) || (errno != ENOENT && errno != ENAMETOOLONG);
}

bool sameFile(int folder, const std::string& name, int fd)
{
    struct stat open {};
    const auto named = statAt(folder, name);
    return named && ::fstat(fd, &open) == 0 && named->st_dev == open.st_dev && named->st_ino == open.st_ino;
}

// The lock of a partial copy that no running move holds, taken. Every partial copy of ours has one,
// made by HeldPartial: an empty plain file of this user with no other name. Whatever else stands
// under that name (or nothing at all) makes the partial name someone else's.
bool takeStaleLock(int folder, const std::string& lockName, Descriptor& lock)
{
    Descriptor fd(::openat(folder, lockName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1
        || info.st_uid != ::geteuid() || info.st_size != 0 || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    lock = std::move(fd);
    return true;
}

// A Trash's "files" folder (beside its "info" folder) holds Trash items, whatever their names: the
// records in "info" speak for them, and another client may restore any of them.
bool isTrashFiles(int folder)
{
    const Descriptor above(::openat(folder, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!above)
        return false;
    const auto info = statAt(above.get(), "info");
    return info && S_ISDIR(info->st_mode) && sameFile(above.get(), "files", folder);
}

// The longest piece of an item's name a partial name keeps: room is left for the lock file's ending.
constexpr std::size_t keptAtMost = NAME_MAX - 1 - marker.size() - tokenShape.size() - lockEnding.size();

bool olderOrSame(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec <= b.tv_nsec);
}

// The record a killed move into the Trash reserved for the item of the partial copy `partial`,
// which the lock file `lock` held: a plain file of this user, written before the lock was made, whose
// name has nothing in "files". A name cut short may be the start of several; then none is taken.
std::optional<std::string> reservedRecord(int files, int info, std::string_view partial, int lock)
{
    constexpr std::string_view ending = ".trashinfo";
    struct stat locked {};
    if (::fstat(lock, &locked) != 0)
        return std::nullopt;
    const std::string kept(partial.substr(1, partial.size() - 1 - marker.size() - tokenShape.size()));
    // Cut at a character boundary, a name keeps at most three bytes less than the most it may.
    std::vector<std::string> names;
    if (kept.size() + 3 < keptAtMost) {
        names.push_back(kept + std::string(ending));
    } else {
        try {
            for (auto& name : namesIn(info, "the Trash's records")) {
                if (name.starts_with(kept) && endsWith(name, ending))
                    names.push_back(std::move(name));
            }
        } catch (const std::system_error&) {
            return std::nullopt;
        }
    }
    std::optional<std::string> found;
    for (auto& name : names) {
        const auto record = statAt(info, name);
        if (!record || !S_ISREG(record->st_mode) || record->st_uid != ::geteuid()
            || !olderOrSame(record->st_mtim, locked.st_mtim)
            || present(files, name.substr(0, name.size() - ending.size())))
            continue;
        if (found)
            return std::nullopt;
        found = std::move(name);
    }
    return found;
}

} // namespace

std::string partialName(std::string_view name)
{
    const std::string suffix = std::string(marker) + Token::random().text();
    std::size_t keep = std::min(name.size(), keptAtMost);
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return "." + std::string(name.substr(0, keep)) + suffix;
}

bool isPartialName(std::string_view name)
{
    const std::size_t least = 2 + marker.size() + tokenShape.size();
    if (name.size() < least || name.front() != '.')
        return false;
    const std::string_view token = name.substr(name.size() - tokenShape.size());
    const std::string_view rest = name.substr(0, name.size() - tokenShape.size());
    return isToken(token) && endsWith(rest, marker);
}

HeldPartial::HeldPartial(const Place& beside)
    : folder_(::fcntl(beside.folder.get(), F_DUPFD_CLOEXEC, 0))
{
    if (!folder_)
        throw std::system_error(errno, std::generic_category(), "can't make a copy of " + beside.name);
    for (int tries = 0; tries < 16; ++tries) {
        std::string candidate = partialName(beside.name);
        const std::string lockName = candidate + std::string(lockEnding);
        Descriptor lock(
            ::openat(folder_.get(), lockName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!lock) {
            if (errno == EEXIST)
                continue;
            throw std::system_error(errno, std::generic_category(), "can't make " + lockName);
        }
        // A reclaim that took the lock file the moment it appeared removes it; a file system that
        // keeps no locks lets no reclaim judge it either, so it stays ours.
        if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
            continue;
        if (!sameFile(folder_.get(), lockName, lock.get()))
            continue;
        lock_ = std::move(lock);
        name_ = std::move(candidate);
        return;
    }
    throw std::system_error(EAGAIN, std::generic_category(), "can't find a free name beside " + beside.name);
}

HeldPartial::HeldPartial(std::string_view besidePath)
    : HeldPartial(placeOf(besidePath))
{
}

HeldPartial::~HeldPartial()
{
    // A partial copy that couldn't all go keeps its lock file, so a later reclaim knows it for ours.
    const std::string lockName = name_ + std::string(lockEnding);
    if ((disowned_ || (!statAt(folder_.get(), name_) && errno == ENOENT))
        && sameFile(folder_.get(), lockName, lock_.get()))
        ::unlinkat(folder_.get(), lockName.c_str(), 0);
}

TreeRemoval HeldPartial::discard() const
{
    return removeTree(folder_.get(), name_, { .ownCopy = true });
}

PartialsReclaimed reclaimPartialsAt(int folder, bool remove)
{
    if (isTrashFiles(folder))
        return {};
    // Only names with a lock file beside them can be ours.
    std::set<std::string> partials;
    try {
        for (auto& name : namesIn(folder, "the folder")) {
            if (!endsWith(name, lockEnding))
                continue;
            name.resize(name.size() - lockEnding.size());
            if (isPartialName(name))
                partials.insert(std::move(name));
        }
    } catch (const std::system_error&) {
        return {};
    }
    PartialsReclaimed reclaimed;
    for (const auto& partial : partials) {
        const std::string lockName = partial + std::string(lockEnding);
        Descriptor lock;
        if (!takeStaleLock(folder, lockName, lock))
            continue;
        const auto info = statAt(folder, partial);
        if ((info && S_ISLNK(info->st_mode)) || (!info && errno != ENOENT))
            continue;
        bool gone = !info;
        if (info) {
            const TreeRemoval removal = removeTree(folder, partial, { .ownCopy = true, .dryRun = !remove });
            reclaimed.freed = Saturating::add(reclaimed.freed, removal.freed);
            gone = removal.gone();
            if (remove && !removal.mountsLeft.empty())
                reclaimed.heldByMounts.push_back(partial);
        }
        // What stays (a drive mounted inside, say) keeps its lock, so a later move tries again.
        if (remove && gone && sameFile(folder, lockName, lock.get()))
            ::unlinkat(folder, lockName.c_str(), 0);
    }
    return reclaimed;
}

void reclaimTrashPartials(std::string_view trash)
{
    Descriptor files, info;
    std::vector<std::string> names;
    try {
        const Descriptor top = openFolder(trash);
        files = Descriptor(::openat(top.get(), "files", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        info = Descriptor(::openat(top.get(), "info", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!files || !info)
            return;
        names = namesIn(files.get(), "the Trash");
    } catch (const std::system_error&) {
        return;
    }
    for (auto& name : names) {
        if (!endsWith(name, lockEnding))
            continue;
        const std::string lockName = name;
        name.resize(name.size() - lockEnding.size());
        // A trashed item that only looks like a partial copy, or its lock, has a record of its own.
        if (!isPartialName(name) || present(info.get(), name + ".trashinfo")
            || present(info.get(), lockName + ".trashinfo"))
            continue;
        Descriptor lock;
        if (!takeStaleLock(files.get(), lockName, lock))
            continue;
        const auto partial = statAt(files.get(), name);
        if ((partial && S_ISLNK(partial->st_mode)) || (!partial && errno != ENOENT))
            continue;
        // A lock without a copy may be a move's that had only just made it: no record is taken then.
        if (partial) {
            if (!removeTree(files.get(), name, { .ownCopy = true }).gone())
                continue;
            if (const auto record = reservedRecord(files.get(), info.get(), name, lock.get()))
                ::unlinkat(info.get(), record->c_str(), 0);
        }
        if (sameFile(files.get(), lockName, lock.get()))
            ::unlinkat(files.get(), lockName.c_str(), 0);
    }
}

PartialsReclaimed reclaimPartials(std::string_view folder, bool remove)
{
    try {
        const Descriptor open = openFolder(folder);
        return reclaimPartialsAt(open.get(), remove);
    } catch (const std::system_error&) {
        return {};
    }
}

} // namespace Quandril::Platform
