#include "QuandrilCore/Platform/RemoveTree.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Platform/SharedBlocks.h"
#include "QuandrilCore/Platform/Stop.h"

namespace Quandril::Platform {

namespace {

// What a removal needs to know of one entry, the mount it lies on included.
struct Entry {
    mode_t mode = 0;
    uid_t owner = 0;
    nlink_t links = 0;
    std::int64_t bytes = 0; // what it takes on its drive
    dev_t device = 0;
    ino_t inode = 0;
    std::optional<std::uint64_t> mount;
};

std::int64_t blockBytes(std::uint64_t blocks)
{
    return Saturating::multiply(static_cast<std::int64_t>(std::min<std::uint64_t>(blocks, Saturating::most)), 512);
}

// The entry `name` of the folder, a link not followed; with an empty name and AT_EMPTY_PATH, the
// folder itself. A mount of the same file system elsewhere shares the device number, so the mount
// id tells the two apart.
std::optional<Entry> examine(int folder, const char* name, int flags = 0)
{
    flags |= AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;
    struct statx info {};
    if (::statx(folder, name, flags, STATX_BASIC_STATS | STATX_MNT_ID, &info) == 0) {
        Entry entry { info.stx_mode,
                      info.stx_uid,
                      info.stx_nlink,
                      blockBytes(info.stx_blocks),
                      makedev(info.stx_dev_major, info.stx_dev_minor),
                      info.stx_ino,
                      std::nullopt };
        if ((info.stx_mask & STATX_MNT_ID) != 0)
            entry.mount = info.stx_mnt_id;
        return entry;
    }
    struct stat plain {};
    if (errno != ENOSYS || ::fstatat(folder, name, &plain, flags) != 0)
        return std::nullopt;
    return Entry { plain.st_mode, plain.st_uid, plain.st_nlink, blockBytes(static_cast<std::uint64_t>(plain.st_blocks)),
                   plain.st_dev,  plain.st_ino, std::nullopt };
}

class Remover {
public:
    Remover(int holder, RemovalMode mode)
        : holder_(holder)
        , mode_(mode)
        , self_(::geteuid())
    {
    }

    TreeRemoval run(const std::string& name)
    {
        const auto base = examine(holder_, "", AT_EMPTY_PATH);
        if (!base) {
            result_.error = errno;
            return result_;
        }
        base_ = *base;
        sharesBlocks_ = mayShareBlocks(holder_);
        Frame holder { {}, *base_, true, entriesGo(holder_, *base_, false) };
        const auto top = examine(holder_, name.c_str());
        if (!top) {
            if (errno != ENOENT)
                result_.error = errno;
            return result_;
        }
        if (const Boundary boundary = boundaryAt(*top); boundary != Boundary::none) {
            leave(holder, name, boundary);
        } else if (!S_ISDIR(top->mode)) {
            removeLeaf(holder_, name, *top, holder);
        } else {
            try {
                walk(name, *top, holder);
            } catch (const std::system_error& error) {
                fail(holder, error.code().value());
            }
        }
        return result_;
    }

private:
    struct Folder {
        std::string name;
        Entry info; // as it was listed
    };

    struct Frame {
        std::vector<Folder> folders; // its folders not gone into yet
        Entry info;
        bool whole = true;     // everything in it went (would go)
        bool entriesGo = true; // in a dry run: its entries can be removed
    };

    enum class Boundary { none, mount, subvolume };

    // Where the removal must not go: another mount, told by its mount id where the system gives
    // one (an overlay's files report their layers' devices, yet it is one mount), else by its
    // device; or, within the same mount, a folder on a device of its own (a btrfs subvolume).
    Boundary boundaryAt(const Entry& entry) const
    {
        if (entry.mount && base_->mount) {
            if (*entry.mount != *base_->mount)
                return Boundary::mount;
            return S_ISDIR(entry.mode) && entry.device != base_->device ? Boundary::subvolume : Boundary::none;
        }
        return entry.device != base_->device ? Boundary::mount : Boundary::none;
    }

    // Whether to stop here, asked between entries when the removal may be stopped.
    bool stopNow()
    {
        if (mode_.stoppable && !result_.stopped && stopAsked())
            result_.stopped = true;
        return result_.stopped;
    }

    // Whether entries of the folder can be removed: what a dry run goes by.
    bool entriesGo(int folder, const Entry& info, bool ours) const
    {
        if (!mode_.dryRun || self_ == 0)
            return true;
        return ::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) == 0 || (ours && info.owner == self_);
    }

    bool removable(const Frame& frame, const Entry& entry) const
    {
        if (self_ == 0)
            return true;
        // In a sticky folder only the owner of the entry or of the folder may remove it.
        return frame.entriesGo
            && ((frame.info.mode & S_ISVTX) == 0 || entry.owner == self_ || frame.info.owner == self_);
    }

    // A folder of our own copy that refuses changes is opened up before its entries go.
    void prepare(int folder, const std::string& name, const Entry& info) const
    {
        if (!mode_.ownCopy || mode_.dryRun || self_ == 0 || info.owner != self_ || (info.mode & 0700) == 0700)
            return;
        (void)::fchmodat(folder, name.c_str(), (info.mode & 07777) | 0700, AT_SYMLINK_NOFOLLOW);
    }

    void fail(Frame& frame, int error)
    {
        frame.whole = false;
        if (result_.error == 0)
            result_.error = error;
    }

    void leave(Frame& frame, std::string boundary, Boundary kind = Boundary::mount)
    {
        frame.whole = false;
        (kind == Boundary::subvolume ? result_.subvolumesLeft : result_.mountsLeft).push_back(std::move(boundary));
    }

    void count(const Entry& entry)
    {
        // A file with other names is freed only once the last of them goes.
        if (entry.links > 1 && !S_ISDIR(entry.mode)) {
            auto [left, fresh] = names_.try_emplace({ entry.device, entry.inode }, entry.links);
            if (--left->second != 0)
                return;
        }
        result_.freed = Saturating::add(result_.freed, entry.bytes);
    }

    void removeLeaf(int folder, const std::string& name, Entry entry, Frame& frame)
    {
        // Blocks it shares with another file stay on the drive; asked while it still has its name.
        if (sharesBlocks_ && S_ISREG(entry.mode))
            entry.bytes = unsharedBytes(folder, name.c_str(), entry.device, entry.inode, entry.bytes);
        if (mode_.dryRun) {
            if (!removable(frame, entry)) {
                frame.whole = false;
                return;
            }
        } else if (::unlinkat(folder, name.c_str(), 0) != 0) {
            if (errno != ENOENT)
                fail(frame, errno);
            return;
        }
        count(entry);
    }

    void removeFolder(int folder, const std::string& name, const Frame& done, Frame& above)
    {
        if (!done.whole) {
            above.whole = false;
            return;
        }
        if (mode_.dryRun) {
            if (!removable(above, done.info)) {
                above.whole = false;
                return;
            }
        } else if (::unlinkat(folder, name.c_str(), AT_REMOVEDIR) != 0) {
            if (errno != ENOENT)
                fail(above, errno);
            return;
        }
        count(done.info);
    }

    // Lists the folder just entered, removes what in it is no folder and keeps its folders for later.
    Frame list(const FolderChain& chain, const Entry& info)
    {
        Frame frame { {}, info, true, entriesGo(chain.fd(), info, mode_.ownCopy) };
        std::vector<std::string> names;
        try {
            names = namesIn(chain.fd(), chain.shown());
        } catch (const std::system_error& error) {
            fail(frame, error.code().value());
            return frame;
        }
        for (auto& name : names) {
            if (stopNow()) {
                frame.whole = false;
                break;
            }
            const auto entry = examine(chain.fd(), name.c_str());
            if (!entry) {
                if (errno != ENOENT)
                    fail(frame, errno);
            } else if (const Boundary boundary = boundaryAt(*entry); boundary != Boundary::none) {
                leave(frame, chain.shown(name), boundary);
            } else if (S_ISDIR(entry->mode)) {
                frame.folders.push_back({ std::move(name), *entry });
            } else {
                removeLeaf(chain.fd(), name, *entry, frame);
            }
        }
        return frame;
    }

    // Enters the folder `name` of the current one and answers what it found there; nothing (with
    // `frame` told why) when it can't be or it turned out to be a mount point.
    std::optional<Entry> enter(FolderChain& chain, const std::string& name, const Entry& info, Frame& frame)
    {
        prepare(chain.fd(), name, info);
        try {
            chain.enter(name);
        } catch (const std::system_error& error) {
            const int code = error.code().value();
            // No folder any more: what stands there now is removed itself, never followed.
            const auto now = code == ELOOP || code == ENOTDIR ? examine(chain.fd(), name.c_str()) : std::nullopt;
            const Boundary boundary = now ? boundaryAt(*now) : Boundary::none;
            if (boundary != Boundary::none)
                leave(frame, chain.shown(name), boundary);
            else if (now && !S_ISDIR(now->mode))
                removeLeaf(chain.fd(), name, *now, frame);
            else if (code != ENOENT)
                fail(frame, code);
            return std::nullopt;
        }
        // Mounted there since it was looked at: left like any other mount point.
        const auto entered = examine(chain.fd(), "", AT_EMPTY_PATH);
        const int error = errno;
        const Boundary boundary = entered ? boundaryAt(*entered) : Boundary::none;
        if (entered && boundary == Boundary::none)
            return entered;
        chain.leave();
        if (entered)
            leave(frame, chain.shown(name), boundary);
        else
            fail(frame, error);
        return std::nullopt;
    }

    void walk(const std::string& name, const Entry& top, Frame& holder)
    {
        prepare(holder_, name, top);
        FolderChain chain(holder_, name, name);
        const auto entered = examine(chain.fd(), "", AT_EMPTY_PATH);
        if (!entered)
            return fail(holder, errno);
        if (const Boundary boundary = boundaryAt(*entered); boundary != Boundary::none)
            return leave(holder, name, boundary);
        std::vector<Frame> frames;
        frames.push_back(list(chain, *entered));
        for (;;) {
            Frame& frame = frames.back();
            // Stopped: what wasn't reached stays, and so do the folders above it.
            if (!frame.folders.empty() && stopNow()) {
                frame.folders.clear();
                frame.whole = false;
            }
            if (!frame.folders.empty()) {
                const Folder next = std::move(frame.folders.back());
                frame.folders.pop_back();
                // What changed there since the listing shows on entering: enter() deals with it.
                if (const auto entered = enter(chain, next.name, next.info, frame)) {
                    Frame inner = list(chain, *entered);
                    frames.push_back(std::move(inner));
                }
                continue;
            }
            Frame done = std::move(frames.back());
            frames.pop_back();
            if (frames.empty())
                return removeFolder(holder_, name, done, holder);
            const std::string emptied = chain.names().back();
            chain.leave();
            removeFolder(chain.fd(), emptied, done, frames.back());
        }
    }

    int holder_;
    RemovalMode mode_;
    uid_t self_;
    std::optional<Entry> base_;
    bool sharesBlocks_ = false;                        // its file system can share blocks between files
    std::map<std::pair<dev_t, ino_t>, nlink_t> names_; // files with other names: how many are still to go
    TreeRemoval result_;
};

} // namespace

TreeRemoval removeTree(int folder, const std::string& name, RemovalMode mode)
{
    return Remover(folder, mode).run(name);
}

int removeTreeAt(int folder, const std::string& name)
{
    const TreeRemoval removal = removeTree(folder, name);
    if (removal.error != 0)
        return removal.error;
    return removal.mountsLeft.empty() && removal.subvolumesLeft.empty() ? 0 : EBUSY;
}

} // namespace Quandril::Platform
