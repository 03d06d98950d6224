// The search for never-touch paths inside a folder that an action would take away whole. What it
// can't see might hold one, so every part it couldn't examine is reported, never passed over.

#include "QuandrilCore/Cleaning/Cleaner.h"

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/PathText.h"

namespace Quandril {

namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
// Folders this deep give up their descriptor while a subfolder is searched and take it back through
// the subfolder's "..", so a tree of any depth holds about this many open at once.
constexpr std::size_t keptLevels = 48;

// An entry removed between the listing and the look is no part of the item any more.
bool vanished(int error)
{
    return error == ENOENT;
}

// Walks by names relative to each open folder: a path from the top fails past the longest path the
// system takes, and a tree may go deeper than that.
class InsideWalk {
public:
    InsideWalk(const PathGuard& guardian, std::size_t limit)
        : guardian_(guardian)
        , fence_(PrivacyFence::shared())
        , limit_(limit)
    {
    }

    InsideWalk(const InsideWalk&) = delete;
    InsideWalk& operator=(const InsideWalk&) = delete;

    ~InsideWalk()
    {
        for (auto& level : levels_)
            close(level.fd);
    }

    Cleaner::InsideSearch run(const std::string& path)
    {
        // Inside a folder no rule reaches, no rule reaches an entry either: only entries' own names
        // can meet one, which spares looking each whole path up.
        namesOnly_ = !guardian_.protection(path, true);
        // A link given as the folder itself is followed, as the folder is what it names.
        const int fd = ::open(path.c_str(), folderFlags);
        if (fd < 0) {
            if (!vanished(errno))
                unexamined(path);
            return result_;
        }
        path_ = Platform::withoutTrailingSlashes(path);
        if (path_ == "/")
            path_.clear();
        struct stat status {};
        if (::fstat(fd, &status) != 0) {
            ::close(fd);
            unexamined(path);
            return result_;
        }
        enter(fd, status);

        while (!done_ && !levels_.empty()) {
            Level& level = levels_.back();
            if (level.next == level.subfolders.size()) {
                leave();
                continue;
            }
            const std::string name = std::move(level.subfolders[level.next++]);
            path_.resize(level.pathLength);
            path_ += '/';
            path_ += name;
            const int child = ::openat(level.fd, name.c_str(), folderFlags | O_NOFOLLOW);
            if (child < 0) {
                // No folder any more (a file or a link took its place): nothing below it to search.
                if (vanished(errno) || errno == ENOTDIR || errno == ELOOP)
                    continue;
                // A folder that lists but can't be searched keeps all its entries from being looked at.
                const bool searchable = errno != EACCES || ::faccessat(level.fd, ".", X_OK, AT_EACCESS) == 0;
                unexamined(searchable ? path_ : path_.substr(0, level.pathLength));
                continue;
            }
            struct stat childStatus {};
            if (::fstat(child, &childStatus) != 0) {
                ::close(child);
                unexamined(path_);
                continue;
            }
            // A folder met again on the way down (a mount of one of its own parents) holds nothing new.
            if (isBeingSearched(childStatus)) {
                ::close(child);
                continue;
            }
            if (levels_.size() > keptLevels)
                close(level.fd);
            enter(child, childStatus);
        }
        return result_;
    }

private:
    struct Level {
        int fd;
        dev_t dev;
        ino_t ino;
        std::size_t pathLength; // its path is path_[0, pathLength)
        std::vector<std::string> subfolders;
        std::size_t next = 0; // the next subfolder to search
    };

    static void close(int& fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    bool isBeingSearched(const struct stat& status) const
    {
        return std::any_of(levels_.begin(), levels_.end(), [&](const Level& level) {
            return level.dev == status.st_dev && level.ino == status.st_ino;
        });
    }

    // Takes a folder just opened as the deepest one: lists it and queues its subfolders.
    void enter(int fd, const struct stat& status)
    {
        levels_.push_back(Level { fd, status.st_dev, status.st_ino, path_.size(), {}, 0 });
        list(levels_.back());
    }

    void list(Level& level)
    {
        const int copy = ::dup(level.fd);
        DIR* folder = copy < 0 ? nullptr : ::fdopendir(copy);
        if (!folder) {
            if (copy >= 0)
                ::close(copy);
            unexamined(path_.substr(0, level.pathLength));
            return;
        }
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(folder);
            if (!entry) {
                if (errno != 0)
                    unexamined(path_.substr(0, level.pathLength));
                break;
            }
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            if (examined_ == limit_) {
                done_ = true;
                break;
            }
            ++examined_;
            path_.resize(level.pathLength);
            path_ += '/';
            path_ += name;
            if (auto why = namesOnly_ ? guardian_.nameProtection(name) : guardian_.protection(path_, true)) {
                result_ = { std::move(why), std::nullopt };
                done_ = true;
                break;
            }
            // The listing's type says which entries are folders; only where it doesn't is the entry
            // looked at. Entering a folder checks what it is.
            bool folder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat status {};
                if (::fstatat(level.fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
                    if (!vanished(errno))
                        unexamined(path_.substr(0, level.pathLength));
                    continue;
                }
                folder = S_ISDIR(status.st_mode);
            }
            // A folder the fence holds is not opened; its entries count as holding nothing.
            if (folder && !fence_.isFenced(path_))
                level.subfolders.emplace_back(name);
        }
        ::closedir(folder);
    }

    // Done with the deepest folder; its parent takes back the descriptor it gave up, through "..",
    // and only if that is still the folder it was.
    void leave()
    {
        Level finished = std::move(levels_.back());
        levels_.pop_back();
        if (!levels_.empty() && levels_.back().fd < 0) {
            Level& parent = levels_.back();
            parent.fd = ::openat(finished.fd, "..", folderFlags | O_NOFOLLOW);
            struct stat status {};
            if (parent.fd >= 0
                && (::fstat(parent.fd, &status) != 0 || status.st_dev != parent.dev || status.st_ino != parent.ino))
                close(parent.fd);
            if (parent.fd < 0) {
                // Neither its other subfolders nor any folder above can be reached from here now.
                unexamined(path_.substr(0, parent.pathLength));
                done_ = true;
            }
        }
        close(finished.fd);
    }

    void unexamined(const std::string& path)
    {
        if (!result_.unexamined)
            result_.unexamined = path.empty() ? std::string("/") : path;
    }

    const PathGuard& guardian_;
    PrivacyFence& fence_;
    const std::size_t limit_;
    std::size_t examined_ = 0;
    bool done_ = false;
    bool namesOnly_ = false; // entries need only their names looked up
    std::string path_;       // the path of the entry at hand
    std::vector<Level> levels_;
    Cleaner::InsideSearch result_;
};

} // namespace

Cleaner::InsideSearch Cleaner::protectedInside(const std::string& path, const PathGuard& guardian, std::size_t limit)
{
    if (PrivacyFence::shared().blocks(path) || !isDirectory(path))
        return {};
    return InsideWalk(guardian, limit).run(path);
}

} // namespace Quandril
