#include "QuandrilCore/Platform/Move.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/PartialCopy.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/RemoveTree.h"
#include "QuandrilCore/Platform/Stop.h"
#include "QuandrilCore/Platform/Sync.h"

// Every step here names an item relative to the open folder that holds it, and every folder is
// entered without following a link, so a folder swapped for a link while a move or copy runs can
// never lead it outside the two trees it works on.

namespace Quandril::Platform {

namespace {

[[noreturn]] void fail(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

bool readFully(int fd, char* data, std::size_t size, std::size_t& got)
{
    got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

constexpr std::size_t chunk = 1 << 20;

// The chunks a copy or a comparison reads into, made once for each thread: a fresh buffer for
// every file of a tree of small files costs more than copying them.
char* chunkBuffer(int which)
{
    thread_local std::unique_ptr<char[]> buffers[2];
    auto& buffer = buffers[which];
    if (!buffer)
        buffer.reset(new char[chunk]);
    return buffer.get();
}

// A copy and its check heed the stop in force between entries and chunks; the move then removes
// its partial copy and leaves the original whole.
constexpr const char* stoppedCopy = "stopped part way through a copy";

// A regular file of the tree, opened for reading; a pipe put in its place never blocks the open.
Descriptor openRegular(int folder, const std::string& name)
{
    Descriptor fd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (fd && (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))) {
        errno = EINVAL;
        return Descriptor {};
    }
    return fd;
}

void keepOwnerModeTimes(int fd, const struct stat& info, const std::string& shown)
{
    // Owner first: changing it clears set-id bits that the mode then restores.
    (void)::fchown(fd, info.st_uid, info.st_gid);
    if (::fchmod(fd, info.st_mode & 07777) != 0)
        fail(errno, "can't set the mode of " + shown);
    const struct timespec times[2] = { info.st_atim, info.st_mtim };
    if (::futimens(fd, times) != 0)
        fail(errno, "can't set the times of " + shown);
}

// The folder that holds the item `names` leads to from the folder `top` inside `folder`, never
// through a link.
Descriptor holderOf(int folder, const std::string& top, const std::vector<std::string>& names)
{
    Descriptor current(::openat(folder, top.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    for (std::size_t i = 0; current && i + 1 < names.size(); ++i)
        current = Descriptor(::openat(current.get(), names[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return current;
}

// Copies the bytes of one open file to another, its holes left as holes: a sparse file takes no
// more room in its copy than it does where it is, so a drive with room for what it holds never
// fills up with zeros.
void copyData(int in, int out, const std::string& shownFrom, const std::string& shownTo)
{
    char* const buffer = chunkBuffer(0);
    off_t at = 0;
    for (;;) {
        const off_t data = ::lseek(in, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // nothing but a hole up to the end
        const off_t hole = data < 0 ? -1 : ::lseek(in, data, SEEK_HOLE);
        // Finding the hole moved the reading offset there.
        if (hole < 0 || ::lseek(in, data, SEEK_SET) < 0 || ::lseek(out, data, SEEK_SET) < 0)
            fail(errno, "can't read " + shownFrom);
        for (at = data; at < hole;) {
            throwIfStopAsked(workPerMiB, stoppedCopy);
            std::size_t got = 0;
            const auto want = static_cast<std::size_t>(std::min<off_t>(hole - at, off_t(chunk)));
            if (!readFully(in, buffer, want, got))
                fail(errno, "can't read " + shownFrom);
            if (got == 0)
                break; // it shrank meanwhile
            if (const int error = writeAll(out, std::string_view(buffer, got)))
                fail(error, "can't write " + shownTo);
            at += off_t(got);
        }
        if (at < hole)
            break;
    }
    // The hole at the end has no data to write, only a length.
    const off_t end = ::lseek(in, 0, SEEK_END);
    if (end < 0 || ::ftruncate(out, std::max(end, at)) != 0)
        fail(errno, "can't write " + shownTo);
}

// Copies a tree, never replacing anything, keeping what a move keeps.
class TreeCopy {
public:
    bool madeAny = false;

    void copy(int from, const std::string& name, int to, const std::string& toName, const std::string& shownFrom,
              const std::string& shownTo)
    {
        relative_.clear();
        hardLinks_.clear();
        const auto info = statAt(from, name);
        if (!info)
            fail(errno, "can't read " + shownFrom);
        if (S_ISDIR(info->st_mode))
            copyFolder(from, name, to, toName, *info, shownFrom, shownTo);
        else
            copyLeaf(from, name, to, toName, *info, shownFrom, shownTo);
    }

private:
    struct Frame {
        std::vector<std::string> names;
        std::size_t next = 0;
        struct stat info {};
    };

    void copyFolder(int from, const std::string& name, int to, const std::string& toName, const struct stat& info,
                    const std::string& shownFrom, const std::string& shownTo)
    {
        if (::mkdirat(to, toName.c_str(), 0700) != 0)
            fail(errno, "can't make " + shownTo);
        madeAny = true;
        copyTop_ = { to, toName };
        FolderChain source(from, name, shownFrom), copy(to, toName, shownTo);
        std::vector<Frame> frames;
        frames.push_back(Frame { namesIn(source.fd(), source.shown()), 0, info });
        while (!frames.empty()) {
            Frame& frame = frames.back();
            if (frame.next < frame.names.size()) {
                throwIfStopAsked(1, stoppedCopy);
                const std::string entry = frame.names[frame.next++];
                const auto entryInfo = statAt(source.fd(), entry);
                if (!entryInfo)
                    fail(errno, "can't read " + source.shown(entry));
                if (!S_ISDIR(entryInfo->st_mode)) {
                    relative_ = copy.names();
                    relative_.push_back(entry);
                    copyLeaf(source.fd(), entry, copy.fd(), entry, *entryInfo, source.shown(entry), copy.shown(entry));
                    continue;
                }
                if (::mkdirat(copy.fd(), entry.c_str(), 0700) != 0)
                    fail(errno, "can't make " + copy.shown(entry));
                source.enter(entry);
                copy.enter(entry);
                frames.push_back(Frame { namesIn(source.fd(), source.shown()), 0, *entryInfo });
                continue;
            }
            // Set last: adding entries changes a folder's times, and a read-only mode would stop the filling.
            keepOwnerModeTimes(copy.fd(), frame.info, copy.shown());
            frames.pop_back();
            if (!frames.empty()) {
                source.leave();
                copy.leave();
            }
        }
        relative_.clear();
    }

    void copyLeaf(int from, const std::string& name, int to, const std::string& toName, const struct stat& info,
                  const std::string& shownFrom, const std::string& shownTo)
    {
        if (S_ISLNK(info.st_mode)) {
            if (::symlinkat(readLinkAt(from, name, shownFrom).c_str(), to, toName.c_str()) != 0)
                fail(errno, "can't make the link " + shownTo);
            madeAny = true;
            (void)::fchownat(to, toName.c_str(), info.st_uid, info.st_gid, AT_SYMLINK_NOFOLLOW);
            const struct timespec times[2] = { info.st_atim, info.st_mtim };
            (void)::utimensat(to, toName.c_str(), times, AT_SYMLINK_NOFOLLOW);
        } else if (S_ISREG(info.st_mode)) {
            copyFile(from, name, to, toName, info, shownFrom, shownTo);
        } else if (S_ISFIFO(info.st_mode)) {
            if (::mkfifoat(to, toName.c_str(), 0600) != 0)
                fail(errno, "can't make " + shownTo);
            madeAny = true;
            (void)::fchownat(to, toName.c_str(), info.st_uid, info.st_gid, AT_SYMLINK_NOFOLLOW);
            if (::fchmodat(to, toName.c_str(), info.st_mode & 07777, 0) != 0)
                fail(errno, "can't set the mode of " + shownTo);
            const struct timespec times[2] = { info.st_atim, info.st_mtim };
            if (::utimensat(to, toName.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
                fail(errno, "can't set the times of " + shownTo);
        } else {
            fail(ENOTSUP, "can't copy the special file " + shownFrom);
        }
    }

    void copyFile(int from, const std::string& name, int to, const std::string& toName, const struct stat& info,
                  const std::string& shownFrom, const std::string& shownTo)
    {
        const auto key = std::make_pair(info.st_dev, info.st_ino);
        const bool inside = !relative_.empty();
        if (inside && info.st_nlink > 1) {
            if (auto earlier = hardLinks_.find(key); earlier != hardLinks_.end()) {
                const Descriptor holder = holderOf(copyTop_.first, copyTop_.second, earlier->second);
                if (!holder || ::linkat(holder.get(), earlier->second.back().c_str(), to, toName.c_str(), 0) != 0)
                    fail(errno, "can't make " + shownTo);
                madeAny = true;
                return;
            }
        }
        const Descriptor in = openRegular(from, name);
        if (!in)
            fail(errno, "can't read " + shownFrom);
        Descriptor out(::openat(to, toName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out)
            fail(errno, "can't make " + shownTo);
        madeAny = true;
        copyData(in.get(), out.get(), shownFrom, shownTo);
        keepOwnerModeTimes(out.get(), info, shownTo);
        if (out.close() != 0)
            fail(errno, "can't write " + shownTo);
        if (inside && info.st_nlink > 1)
            hardLinks_.emplace(key, relative_);
    }

    std::pair<int, std::string> copyTop_ { -1, {} };
    std::vector<std::string> relative_; // the names leading from the copy's top to the file being copied
    std::map<std::pair<dev_t, ino_t>, std::vector<std::string>> hardLinks_;
};

bool sameContent(int leftFolder, const std::string& leftName, int rightFolder, const std::string& rightName)
{
    const Descriptor left = openRegular(leftFolder, leftName), right = openRegular(rightFolder, rightName);
    if (!left || !right)
        return false;
    char* const one = chunkBuffer(0);
    char* const two = chunkBuffer(1);
    for (;;) {
        throwIfStopAsked(workPerMiB, stoppedCopy);
        std::size_t gotOne = 0, gotTwo = 0;
        if (!readFully(left.get(), one, chunk, gotOne) || !readFully(right.get(), two, chunk, gotTwo))
            return false;
        if (gotOne != gotTwo || std::memcmp(one, two, gotOne) != 0)
            return false;
        if (gotOne == 0)
            return true;
    }
}

// One entry of each tree: the same kind, mode, link text and bytes.
bool sameEntry(int leftFolder, const std::string& leftName, const struct stat& a, int rightFolder,
               const std::string& rightName, const struct stat& b, bool modes)
{
    if ((a.st_mode & S_IFMT) != (b.st_mode & S_IFMT))
        return false;
    if (S_ISLNK(a.st_mode))
        return readLinkAt(leftFolder, leftName, leftName) == readLinkAt(rightFolder, rightName, rightName);
    if (modes && (a.st_mode & 07777) != (b.st_mode & 07777))
        return false;
    if (S_ISREG(a.st_mode))
        return a.st_size == b.st_size && sameContent(leftFolder, leftName, rightFolder, rightName);
    return true;
}

// The copy must hold every entry of the original with the same kind, mode, link target and bytes.
bool sameTree(int fromFolder, const std::string& fromName, int toFolder, const std::string& toName, bool modes = true)
{
    const auto a = statAt(fromFolder, fromName), b = statAt(toFolder, toName);
    if (!a || !b || !sameEntry(fromFolder, fromName, *a, toFolder, toName, *b, modes))
        return false;
    if (!S_ISDIR(a->st_mode))
        return true;
    FolderChain left(fromFolder, fromName, fromName), right(toFolder, toName, toName);
    std::vector<std::pair<std::vector<std::string>, std::size_t>> frames;
    const auto begin = [&] {
        auto names = namesIn(left.fd(), left.shown());
        if (namesIn(right.fd(), right.shown()).size() != names.size())
            return false;
        frames.emplace_back(std::move(names), 0);
        return true;
    };
    if (!begin())
        return false;
    while (!frames.empty()) {
        auto& [names, next] = frames.back();
        if (next == names.size()) {
            frames.pop_back();
            if (!frames.empty()) {
                left.leave();
                right.leave();
            }
            continue;
        }
        throwIfStopAsked(1, stoppedCopy);
        const std::string entry = names[next++];
        const auto one = statAt(left.fd(), entry), two = statAt(right.fd(), entry);
        if (!one || !two || !sameEntry(left.fd(), entry, *one, right.fd(), entry, *two, modes))
            return false;
        if (S_ISDIR(one->st_mode)) {
            left.enter(entry);
            right.enter(entry);
            if (!begin())
                return false;
        }
    }
    return true;
}

// Puts back into the original, from the checked copy, whatever a removal that stopped part-way
// took, never replacing anything still there.
void restoreFrom(int copyFolder, const std::string& copyName, int originalFolder, const std::string& originalName,
                 const std::string& shownOriginal, TreeCopy& copier)
{
    const auto info = statAt(copyFolder, copyName);
    if (!info)
        fail(errno, "can't read the copy of " + shownOriginal);
    const auto there = statAt(originalFolder, originalName);
    if (!there) {
        if (errno != ENOENT)
            fail(errno, "can't read " + shownOriginal);
        copier.copy(copyFolder, copyName, originalFolder, originalName, copyName, shownOriginal);
        return;
    }
    if (!S_ISDIR(info->st_mode) || !S_ISDIR(there->st_mode))
        return;
    FolderChain copy(copyFolder, copyName, copyName), original(originalFolder, originalName, shownOriginal);
    struct Frame {
        std::vector<std::string> names;
        std::size_t next = 0;
        struct stat info {};
    };
    std::vector<Frame> frames;
    frames.push_back(Frame { namesIn(copy.fd(), copy.shown()), 0, *info });
    while (!frames.empty()) {
        Frame& frame = frames.back();
        if (frame.next == frame.names.size()) {
            // Removing entries changed the folder's times; a folder that refused changes needs none.
            try {
                keepOwnerModeTimes(original.fd(), frame.info, original.shown());
            } catch (const std::system_error&) {
            }
            frames.pop_back();
            if (!frames.empty()) {
                copy.leave();
                original.leave();
            }
            continue;
        }
        const std::string entry = frame.names[frame.next++];
        const auto kept = statAt(copy.fd(), entry);
        if (!kept)
            fail(errno, "can't read the copy of " + original.shown(entry));
        const auto left = statAt(original.fd(), entry);
        if (!left) {
            if (errno != ENOENT)
                fail(errno, "can't read " + original.shown(entry));
            copier.copy(copy.fd(), entry, original.fd(), entry, copy.shown(entry), original.shown(entry));
            continue;
        }
        if (S_ISDIR(kept->st_mode) && S_ISDIR(left->st_mode)) {
            copy.enter(entry);
            original.enter(entry);
            frames.push_back(Frame { namesIn(copy.fd(), copy.shown()), 0, *kept });
        }
    }
}

// The original didn't all go: make it whole again from the copy and remove the copy, so the failed
// move leaves things as they were. When that can't be done, both stay and the error says where.
[[noreturn]] void undoHalfRemoval(const Place& from, const Place& to, const std::string& shownFrom,
                                  const std::string& shownTo, int error)
{
    // Making the original whole again must finish, stop or no stop.
    const StopInForce finishing({});
    bool whole = false;
    try {
        TreeCopy copier;
        restoreFrom(to.folder.get(), to.name, from.folder.get(), from.name, shownFrom, copier);
        whole = sameTree(from.folder.get(), from.name, to.folder.get(), to.name);
    } catch (const std::system_error&) {
    }
    if (!whole)
        fail(error,
             "copied " + shownFrom + " to " + shownTo
                 + " but couldn't remove the original, nor make it whole "
                   "again; the whole item is at "
                 + shownTo + " and part of it is still at " + shownFrom);
    // The copy is our own, read-only folders and all.
    if (!removeTree(to.folder.get(), to.name, { .ownCopy = true }).gone())
        fail(error,
             "couldn't remove " + shownFrom
                 + " after copying it, so it stays whole where it was, and "
                   "couldn't remove the copy at "
                 + shownTo);
    fail(error, "couldn't remove " + shownFrom + " after copying it, so it stays whole where it was");
}

void moveByClaimingTarget(const Place& from, const Place& to, const std::string& shownFrom, const std::string& shownTo);

void moveAcrossDevices(const Place& from, const Place& to, const std::string& shownFrom, const std::string& shownTo)
{
    if (statAt(to.folder.get(), to.name))
        fail(EEXIST, shownTo + " already exists");
    reclaimPartialsAt(to.folder.get(), true);
    HeldPartial held(to);
    const Place partial { Descriptor(::fcntl(to.folder.get(), F_DUPFD_CLOEXEC, 0)), held.name() };
    if (!partial.folder)
        fail(errno, "can't move " + shownFrom + " to " + shownTo);
    const std::string shownPartial = parentOf(shownTo) + "/" + partial.name;
    TreeCopy copier;
    bool verified = false;
    try {
        copier.copy(from.folder.get(), from.name, partial.folder.get(), partial.name, shownFrom, shownPartial);
        // On the disk before it counts: the original goes once the copy holds.
        syncItem(partial.folder.get(), partial.name, shownPartial);
        verified = sameTree(from.folder.get(), from.name, partial.folder.get(), partial.name);
    } catch (const std::system_error&) {
        // The top item is made first, so anything made at all is this copy's own.
        if (copier.madeAny)
            held.discard();
        else
            held.disown();
        throw;
    }
    if (!verified) {
        held.discard();
        fail(EIO, "the copy of " + shownFrom + " at " + shownTo + " differs from the original");
    }
    const int error = renameNoReplaceAt(partial.folder.get(), partial.name, to.folder.get(), to.name);
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
        try {
            moveByClaimingTarget(partial, to, shownPartial, shownTo);
        } catch (const std::system_error&) {
            held.discard();
            throw;
        }
    } else if (error != 0) {
        held.discard();
        fail(error, error == EEXIST ? shownTo + " already exists" : "can't move " + shownFrom + " to " + shownTo);
    }
    // The copy's new name is on the disk too before the original goes; a disk that won't take it
    // keeps the original and loses our copy.
    try {
        syncNames(to.folder.get(), shownTo);
    } catch (const std::system_error&) {
        removeTree(to.folder.get(), to.name, { .ownCopy = true });
        throw;
    }
    if (const int removal = removeTreeAt(from.folder.get(), from.name))
        undoHalfRemoval(from, to, shownFrom, shownTo, removal);
}

// For file systems that refuse the no-replace flag: claim the target name first, then move onto the claim.
void moveByClaimingTarget(const Place& from, const Place& to, const std::string& shownFrom, const std::string& shownTo)
{
    const int fromFolder = from.folder.get(), toFolder = to.folder.get();
    const auto info = statAt(fromFolder, from.name);
    if (!info)
        fail(errno, "can't move " + shownFrom);
    const bool folder = S_ISDIR(info->st_mode);
    if (!folder) {
        // A second name made with link() cannot replace anything; the first is then removed.
        if (::linkat(fromFolder, from.name.c_str(), toFolder, to.name.c_str(), 0) == 0) {
            if (::unlinkat(fromFolder, from.name.c_str(), 0) != 0) {
                const int error = errno;
                ::unlinkat(toFolder, to.name.c_str(), 0);
                fail(error, "can't move " + shownFrom);
            }
            return;
        }
        if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK && errno != ENOSYS)
            fail(errno, "can't move " + shownFrom + " to " + shownTo);
    }
    bool claimed = false;
    if (folder) {
        claimed = ::mkdirat(toFolder, to.name.c_str(), 0700) == 0;
    } else {
        Descriptor claim(
            ::openat(toFolder, to.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        claimed = claim && claim.close() == 0;
    }
    if (!claimed)
        fail(errno, "can't move " + shownFrom + " to " + shownTo);
    if (::renameat(fromFolder, from.name.c_str(), toFolder, to.name.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(toFolder, to.name.c_str(), folder ? AT_REMOVEDIR : 0);
        if (error == EXDEV)
            return moveAcrossDevices(from, to, shownFrom, shownTo);
        fail(error, "can't move " + shownFrom + " to " + shownTo);
    }
}

} // namespace

void copyNoReplace(const std::string& from, const std::string& to)
{
    const Place source = placeOf(from), target = placeOf(to);
    TreeCopy copier;
    copier.copy(source.folder.get(), source.name, target.folder.get(), target.name, from, to);
    syncItem(target.folder.get(), target.name, to);
}

bool sameTree(const std::string& original, const std::string& copy, bool modes)
{
    const Place left = placeOf(original), right = placeOf(copy);
    return sameTree(left.folder.get(), left.name, right.folder.get(), right.name, modes);
}

void moveNoReplace(const std::string& from, const std::string& to)
{
    const Place source = placeOf(from), target = placeOf(to);
    const int error = renameNoReplaceAt(source.folder.get(), source.name, target.folder.get(), target.name);
    if (error == 0)
        return;
    if (error == EXDEV)
        return moveAcrossDevices(source, target, from, to);
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP)
        return moveByClaimingTarget(source, target, from, to);
    if (error == EEXIST)
        fail(error, to + " already exists");
    fail(error, "can't move " + from + " to " + to);
}

} // namespace Quandril::Platform
