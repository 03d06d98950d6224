#include "QuandrilCore/DiskUsage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_set>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/PrivacyFence.h"

namespace Quandril {

namespace {

struct FileID {
    dev_t dev;
    ino_t ino;

    friend bool operator==(const FileID&, const FileID&) = default;
};

struct FileIDHash {
    std::size_t operator()(const FileID& id) const noexcept
    {
        std::size_t h = std::hash<std::uint64_t>()(static_cast<std::uint64_t>(id.ino));
        return h ^ (std::hash<std::uint64_t>()(static_cast<std::uint64_t>(id.dev)) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
    }
};

constexpr std::int64_t maxCount = std::numeric_limits<std::int64_t>::max();

void addSaturating(std::int64_t& sum, std::int64_t amount)
{
    if (__builtin_add_overflow(sum, amount, &sum))
        sum = maxCount;
}

void countOne(std::int64_t& count)
{
    if (count < maxCount)
        ++count;
}

std::int64_t allocatedBytes(const struct stat& status)
{
    std::int64_t bytes = 0;
    if (status.st_blocks < 0 || __builtin_mul_overflow(static_cast<std::int64_t>(status.st_blocks), 512, &bytes))
        return status.st_blocks < 0 ? 0 : maxCount;
    return bytes;
}

void closeFolder(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Folders this deep give up their descriptor while they walk a subfolder, so a tree of any depth
// holds about this many open at once.
constexpr std::size_t keptLevels = 48;
constexpr std::size_t listingBufferSize = 32 * 1024;
constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
constexpr std::size_t noLevel = std::numeric_limits<std::size_t>::max();

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Walks one tree by names relative to each open folder: looking a name up from the top again for
// every entry costs more than the entry itself, and fails past the longest path the system takes.
// Every entry of a folder is examined before any of its subfolders is entered, as the walk used
// before did; the sums are the same in any order.
class Walker {
public:
    Walker(const std::string& root, const std::set<std::string>& skip)
        : root_(root), skip_(skip), buffer_(std::make_unique_for_overwrite<char[]>(listingBufferSize))
    {
    }

    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;

    ~Walker()
    {
        for (auto& level : levels_)
            closeFolder(level.fd);
    }

    Usage run()
    {
        struct stat status;
        if (::lstat(root_.c_str(), &status) != 0) {
            countOne(usage_.unreadable);
            return usage_;
        }
        if (!S_ISDIR(status.st_mode) || skip_.count(root_)) {
            addSaturating(usage_.bytes, allocatedBytes(status));
            return usage_;
        }
        int fd = ::open(root_.c_str(), folderFlags);
        if (fd < 0) {
            countOne(usage_.unreadable);
            return usage_;
        }
        rootDevice_ = status.st_dev;
        // A start spelled with a trailing slash gets no second one before its entries' names.
        path_.assign(root_, 0, root_.back() == '/' ? root_.size() - 1 : root_.size());
        enter(fd, status, 0);

        while (!levels_.empty()) {
            const std::size_t depth = levels_.size() - 1;
            if (levels_[depth].next == levels_[depth].end) {
                leave();
                continue;
            }
            const Subfolder sub = subfolders_[levels_[depth].next++];
            path_.resize(levels_[depth].pathLength);
            path_ += '/';
            const std::size_t nameStart = path_.size();
            path_.append(names_, sub.name, sub.nameLength);
            if (!skip_.empty() && skip_.count(path_)) {
                addSaturating(usage_.bytes, sub.bytes);
                continue;
            }
            fd = openSubfolder(depth, path_.c_str() + nameStart);
            if (fd < 0) {
                countOne(usage_.unreadable);
                continue;
            }
            Level& parent = levels_[depth];
            if (parent.next == parent.end || depth >= keptLevels)
                closeFolder(parent.fd);
            enter(fd, sub, nameStart);
        }
        return usage_;
    }

private:
    // A folder met in a listing, entered once the listing is done.
    struct Subfolder {
        std::size_t name; // where its name starts in names_
        std::size_t nameLength;
        dev_t dev;
        ino_t ino;
        std::int64_t bytes;
    };

    // One folder on the way down. `fd` is -1 while it is not needed or had to be given up.
    struct Level {
        int fd;
        dev_t dev;
        ino_t ino;
        std::int64_t bytes; // its own allocation, counted on the way out
        bool complete;
        std::size_t pathLength; // its walk path is path_[0, pathLength)
        std::size_t nameStart;  // its own name is path_[nameStart, pathLength)
        std::size_t next;       // subfolders still to enter are subfolders_[next, end)
        std::size_t end;
        std::size_t firstSubfolder; // where its listing began in subfolders_ and names_
        std::size_t firstName;
    };

    void enter(int fd, const struct stat& status, std::size_t nameStart)
    {
        enter(fd, Subfolder { 0, 0, status.st_dev, status.st_ino, allocatedBytes(status) }, nameStart);
    }

    void enter(int fd, const Subfolder& folder, std::size_t nameStart)
    {
        levels_.push_back(Level { fd, folder.dev, folder.ino, folder.bytes, true, path_.size(), nameStart,
                                  subfolders_.size(), subfolders_.size(), subfolders_.size(), names_.size() });
        list(levels_.size() - 1);
    }

    // Counts the files, links and other entries of a folder and queues its subfolders.
    void list(std::size_t depth)
    {
        const int fd = levels_[depth].fd;
        char* const buffer = buffer_.get();
        for (;;) {
            const ssize_t count = ::getdents64(fd, buffer, listingBufferSize);
            if (count == 0)
                break;
            if (count < 0) {
                // What was listed before the failure still counts; the folder itself does not.
                countOne(usage_.unreadable);
                levels_[depth].complete = false;
                break;
            }
            for (ssize_t offset = 0; offset < count;) {
                const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + offset);
                offset += entry->d_reclen;
                // The type in the listing is not trusted to pass anything over: every entry is examined.
                const char* name = entry->d_name;
                if (isDotOrDotDot(name))
                    continue;
                struct stat status;
                if (::fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
                    countOne(usage_.unreadable);
                    continue;
                }
                if (!S_ISDIR(status.st_mode)) {
                    if (status.st_nlink < 2 || seen_.insert(FileID { status.st_dev, status.st_ino }).second)
                        addSaturating(usage_.bytes, allocatedBytes(status));
                    continue;
                }
                // Another volume, or a way back up to a folder being walked: its own entry only.
                if (status.st_dev != rootDevice_ || isBeingWalked(status)) {
                    addSaturating(usage_.bytes, allocatedBytes(status));
                    continue;
                }
                const std::size_t length = std::strlen(name);
                subfolders_.push_back(Subfolder { names_.size(), length, status.st_dev, status.st_ino, allocatedBytes(status) });
                names_.append(name, length);
            }
        }
        levels_[depth].end = subfolders_.size();
    }

    void leave()
    {
        Level& level = levels_.back();
        if (level.complete)
            addSaturating(usage_.bytes, level.bytes);
        int fd = level.fd;
        subfolders_.resize(level.firstSubfolder);
        names_.resize(level.firstName);
        levels_.pop_back();
        if (!levels_.empty()) {
            Level& parent = levels_.back();
            // A deep parent gave up its descriptor on the way in: the child's ".." gives it back in one step.
            if (parent.fd < 0 && fd >= 0 && (parent.next < parent.end || levels_.size() - 1 >= keptLevels))
                parent.fd = openSame(fd, "..", parent, O_NOFOLLOW, noLevel);
        }
        closeFolder(fd);
    }

    int openSubfolder(std::size_t depth, const char* name)
    {
        if (levels_[depth].fd < 0) {
            levels_[depth].fd = descendAgain(depth);
            if (levels_[depth].fd < 0)
                return -1;
        }
        return openFolderAt(levels_[depth].fd, name, O_NOFOLLOW, depth);
    }

    // Comes down again to a folder whose descriptor was given up, from the nearest folder still open
    // or else from the start. A folder moved meanwhile is not the one listed, so it is not used.
    int descendAgain(std::size_t depth)
    {
        std::size_t from = depth;
        while (from > 0 && levels_[from - 1].fd < 0)
            --from;
        const std::size_t anchor = from > 0 ? from - 1 : noLevel;
        int fd = -1;
        bool owned = false;
        if (anchor == noLevel) {
            fd = openSame(AT_FDCWD, root_.c_str(), levels_[0], 0, noLevel);
            owned = true;
            from = 1;
        } else {
            fd = levels_[anchor].fd;
        }
        for (std::size_t k = from; fd >= 0 && k <= depth; ++k) {
            const Level& level = levels_[k];
            const std::string name = path_.substr(level.nameStart, level.pathLength - level.nameStart);
            int next = openSame(fd, name.c_str(), level, O_NOFOLLOW, anchor);
            if (owned)
                ::close(fd);
            fd = next;
            owned = true;
        }
        return fd;
    }

    // Opens `name` under `at` and keeps it only if it is the folder that `level` was.
    int openSame(int at, const char* name, const Level& level, int flags, std::size_t keep)
    {
        int fd = openFolderAt(at, name, flags, keep);
        struct stat status;
        if (fd >= 0 && (::fstat(fd, &status) != 0 || status.st_dev != level.dev || status.st_ino != level.ino))
            closeFolder(fd);
        return fd;
    }

    // Out of descriptors, every folder on the way down but `keep` gives its own up (each is opened
    // again when it is needed) and the open is tried once more.
    int openFolderAt(int at, const char* name, int flags, std::size_t keep)
    {
        int fd = ::openat(at, name, folderFlags | flags);
        if (fd < 0 && (errno == EMFILE || errno == ENFILE) && releaseDescriptors(keep))
            fd = ::openat(at, name, folderFlags | flags);
        return fd;
    }

    bool releaseDescriptors(std::size_t keep)
    {
        bool released = false;
        for (std::size_t i = 0; i < levels_.size(); ++i) {
            if (i != keep && levels_[i].fd >= 0) {
                closeFolder(levels_[i].fd);
                released = true;
            }
        }
        return released;
    }

    bool isBeingWalked(const struct stat& status) const
    {
        return std::any_of(levels_.begin(), levels_.end(),
                           [&](const Level& level) { return level.ino == status.st_ino && level.dev == status.st_dev; });
    }

    const std::string& root_;
    const std::set<std::string>& skip_;
    std::unique_ptr<char[]> buffer_;
    dev_t rootDevice_ = 0;
    std::string path_;
    std::string names_;
    std::vector<Level> levels_;
    std::vector<Subfolder> subfolders_;
    std::unordered_set<FileID, FileIDHash> seen_;
    Usage usage_;
};

} // namespace

Json::Value toJson(const Usage& usage)
{
    Json::Value object = Json::Value::object();
    object["bytes"] = usage.bytes;
    object["unreadable"] = usage.unreadable;
    return object;
}

void decode(const Json::Value& value, Usage& out)
{
    Json::expectObject(value);
    out.bytes = Json::required<std::int64_t>(value, "bytes");
    out.unreadable = Json::required<std::int64_t>(value, "unreadable");
}

Usage diskUsage(const std::string& path, const std::set<std::string>& skipping)
{
    auto& fence = PrivacyFence::shared();
    const std::vector<std::string> roots = fence.active();
    if (fence.blocks(path))
        return {};
    if (std::find(roots.begin(), roots.end(), path) != roots.end())
        return {};
    // The empty path names nothing, not the working folder.
    if (path.empty())
        return {};

    // Fenced folders are passed over like skipped ones: their own entry counts, nothing inside.
    const std::set<std::string>* skip = &skipping;
    std::set<std::string> withRoots;
    if (!roots.empty()) {
        withRoots = skipping;
        withRoots.insert(roots.begin(), roots.end());
        skip = &withRoots;
    }
    return Walker(path, *skip).run();
}

std::map<std::string, Usage> diskUsageOf(const std::vector<std::string>& paths, const std::set<std::string>& skipping)
{
    // A repeated path would only be measured again to the same effect.
    std::vector<std::string> unique;
    std::unordered_set<std::string> met;
    unique.reserve(paths.size());
    for (const auto& path : paths) {
        if (met.insert(path).second)
            unique.push_back(path);
    }
    auto usages = parallelMap(unique, [&skipping](const std::string& path) { return diskUsage(path, skipping); });
    std::map<std::string, Usage> result;
    for (std::size_t i = 0; i < unique.size(); ++i)
        result.emplace(unique[i], usages[i]);
    return result;
}

} // namespace Quandril
