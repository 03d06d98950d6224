#include "QuandrilCore/Platform/Move.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "QuandrilCore/Platform/Files.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace Quandril::Platform {

namespace {

[[noreturn]] void fail(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

int renameNoReplace(const std::string& from, const std::string& to)
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
#else
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE));
#endif
}

struct FileDescriptor {
    int fd = -1;
    explicit FileDescriptor(int value)
        : fd(value)
    {
    }
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    // Closing is where some file systems report a failed write.
    int release()
    {
        const int result = ::close(fd);
        fd = -1;
        return result;
    }
};

std::vector<std::string> entryNames(const std::string& folder)
{
    int error = 0;
    auto names = readEntryNames(folder, &error);
    if (!names)
        fail(error, "can't read " + folder);
    return std::move(*names);
}

std::string readLink(const std::string& path)
{
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (length < 0)
            fail(errno, "can't read the link " + path);
        if (static_cast<std::size_t>(length) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
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

void writeFully(int fd, const char* data, std::size_t size, const std::string& path)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno, "can't write " + path);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

constexpr std::size_t chunk = 1 << 20;

void keepOwnerModeTimes(const std::string& to, const struct stat& info)
{
    (void)::lchown(to.c_str(), info.st_uid, info.st_gid);
    if (::chmod(to.c_str(), info.st_mode & 07777) != 0)
        fail(errno, "can't set the mode of " + to);
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        fail(errno, "can't set the times of " + to);
}

// Copies a tree across file systems, never replacing anything, keeping what a move keeps.
class TreeCopy {
public:
    bool madeAny = false;

    void copy(const std::string& from, const std::string& to)
    {
        struct stat info {};
        if (::lstat(from.c_str(), &info) != 0)
            fail(errno, "can't read " + from);
        if (S_ISDIR(info.st_mode))
            copyFolder(from, to, info);
        else if (S_ISLNK(info.st_mode))
            copyLink(from, to, info);
        else if (S_ISREG(info.st_mode))
            copyFile(from, to, info);
        else if (S_ISFIFO(info.st_mode)) {
            if (::mkfifo(to.c_str(), info.st_mode & 07777) != 0)
                fail(errno, "can't make " + to);
            madeAny = true;
            keepOwnerModeTimes(to, info);
        } else {
            fail(ENOTSUP, "can't copy the special file " + from);
        }
    }

private:
    void copyFolder(const std::string& from, const std::string& to, const struct stat& info)
    {
        if (::mkdir(to.c_str(), 0700) != 0)
            fail(errno, "can't make " + to);
        madeAny = true;
        for (const auto& name : entryNames(from))
            copy(from + "/" + name, to + "/" + name);
        // Set last: adding entries changes a folder's times, and a read-only mode would stop the filling.
        keepOwnerModeTimes(to, info);
    }

    void copyLink(const std::string& from, const std::string& to, const struct stat& info)
    {
        if (::symlink(readLink(from).c_str(), to.c_str()) != 0)
            fail(errno, "can't make the link " + to);
        madeAny = true;
        (void)::lchown(to.c_str(), info.st_uid, info.st_gid);
        const struct timespec times[2] = {info.st_atim, info.st_mtim};
        (void)::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }

    void copyFile(const std::string& from, const std::string& to, const struct stat& info)
    {
        const auto key = std::make_pair(info.st_dev, info.st_ino);
        if (info.st_nlink > 1) {
            if (auto earlier = hardLinks_.find(key); earlier != hardLinks_.end()) {
                if (::link(earlier->second.c_str(), to.c_str()) != 0)
                    fail(errno, "can't make " + to);
                madeAny = true;
                return;
            }
        }
        FileDescriptor in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (in.fd < 0)
            fail(errno, "can't read " + from);
        FileDescriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (out.fd < 0)
            fail(errno, "can't make " + to);
        madeAny = true;
        std::vector<char> buffer(chunk);
        for (;;) {
            std::size_t got = 0;
            if (!readFully(in.fd, buffer.data(), buffer.size(), got))
                fail(errno, "can't read " + from);
            if (got == 0)
                break;
            writeFully(out.fd, buffer.data(), got, to);
        }
        // Owner first: changing it clears set-id bits that the mode then restores.
        (void)::fchown(out.fd, info.st_uid, info.st_gid);
        if (::fchmod(out.fd, info.st_mode & 07777) != 0)
            fail(errno, "can't set the mode of " + to);
        const struct timespec times[2] = {info.st_atim, info.st_mtim};
        if (::futimens(out.fd, times) != 0)
            fail(errno, "can't set the times of " + to);
        if (out.release() != 0)
            fail(errno, "can't write " + to);
        if (info.st_nlink > 1)
            hardLinks_.emplace(key, to);
    }

    std::map<std::pair<dev_t, ino_t>, std::string> hardLinks_;
};

bool sameContent(const std::string& a, const std::string& b)
{
    FileDescriptor left(::open(a.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    FileDescriptor right(::open(b.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (left.fd < 0 || right.fd < 0)
        return false;
    std::vector<char> one(chunk), two(chunk);
    for (;;) {
        std::size_t gotOne = 0, gotTwo = 0;
        if (!readFully(left.fd, one.data(), one.size(), gotOne) || !readFully(right.fd, two.data(), two.size(), gotTwo))
            return false;
        if (gotOne != gotTwo || std::memcmp(one.data(), two.data(), gotOne) != 0)
            return false;
        if (gotOne == 0)
            return true;
    }
}

// The copy must hold every entry of the original with the same kind, mode, link target and bytes.
bool sameTree(const std::string& from, const std::string& to)
{
    struct stat a {}, b {};
    if (::lstat(from.c_str(), &a) != 0 || ::lstat(to.c_str(), &b) != 0)
        return false;
    if ((a.st_mode & S_IFMT) != (b.st_mode & S_IFMT))
        return false;
    if (S_ISLNK(a.st_mode))
        return readLink(from) == readLink(to);
    if ((a.st_mode & 07777) != (b.st_mode & 07777))
        return false;
    if (S_ISREG(a.st_mode))
        return a.st_size == b.st_size && sameContent(from, to);
    if (S_ISDIR(a.st_mode)) {
        const auto names = entryNames(from);
        if (entryNames(to).size() != names.size())
            return false;
        for (const auto& name : names)
            if (!sameTree(from + "/" + name, to + "/" + name))
                return false;
    }
    return true;
}

// Removes a tree; returns the first errno that stopped it, 0 when all is gone.
int removeTree(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? 0 : errno;
    if (!S_ISDIR(info.st_mode))
        return ::unlink(path.c_str()) == 0 ? 0 : errno;
    try {
        for (const auto& name : entryNames(path))
            if (const int error = removeTree(path + "/" + name))
                return error;
    } catch (const std::system_error& error) {
        return error.code().value();
    }
    return ::rmdir(path.c_str()) == 0 ? 0 : errno;
}

// Puts back into `original` from the checked `copy` whatever a removal that stopped part-way
// took, never replacing anything still there.
void restoreFrom(const std::string& copy, const std::string& original, TreeCopy& copier)
{
    struct stat info {}, there {};
    if (::lstat(copy.c_str(), &info) != 0)
        fail(errno, "can't read " + copy);
    if (::lstat(original.c_str(), &there) != 0) {
        if (errno != ENOENT)
            fail(errno, "can't read " + original);
        copier.copy(copy, original);
        return;
    }
    if (!S_ISDIR(info.st_mode) || !S_ISDIR(there.st_mode))
        return;
    for (const auto& name : entryNames(copy))
        restoreFrom(copy + "/" + name, original + "/" + name, copier);
    // Removing entries changed the folder's times; a folder that refused changes needs none.
    try {
        keepOwnerModeTimes(original, info);
    } catch (const std::system_error&) {
    }
}

// The original didn't all go: make it whole again from the copy and remove the copy, so the failed
// move leaves things as they were. When that can't be done, both stay and the error says where.
[[noreturn]] void undoHalfRemoval(const std::string& from, const std::string& to, int error)
{
    bool whole = false;
    try {
        TreeCopy copier;
        restoreFrom(to, from, copier);
        whole = sameTree(from, to);
    } catch (const std::system_error&) {
    }
    if (!whole)
        fail(error, "copied " + from + " to " + to + " but couldn't remove the original, nor make it whole again; "
                        "the whole item is at " + to + " and part of it is still at " + from);
    if (removeTree(to) != 0)
        fail(error, "couldn't remove " + from + " after copying it, so it stays whole where it was, and "
                        "couldn't remove the copy at " + to);
    fail(error, "couldn't remove " + from + " after copying it, so it stays whole where it was");
}

void moveAcrossDevices(const std::string& from, const std::string& to)
{
    struct stat target {};
    if (::lstat(to.c_str(), &target) == 0)
        fail(EEXIST, to + " already exists");
    TreeCopy copier;
    bool verified = false;
    try {
        copier.copy(from, to);
        verified = sameTree(from, to);
    } catch (const std::system_error&) {
        // The top item is made first, so anything made at all is this copy's own.
        if (copier.madeAny)
            removeTree(to);
        throw;
    }
    if (!verified) {
        removeTree(to);
        fail(EIO, "the copy of " + from + " at " + to + " differs from the original");
    }
    if (const int error = removeTree(from))
        undoHalfRemoval(from, to, error);
}

// Makes an empty placeholder at `path`; fails when anything is there already.
bool claimName(const std::string& path, bool folder)
{
    if (folder)
        return ::mkdir(path.c_str(), 0700) == 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    return fd >= 0 && ::close(fd) == 0;
}

// For file systems that refuse the no-replace flag: claim the target name first, then move onto the claim.
void moveByClaimingTarget(const std::string& from, const std::string& to)
{
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0)
        fail(errno, "can't move " + from);
    if (!S_ISDIR(info.st_mode)) {
        // A second name made with link() cannot replace anything; the first is then removed.
        if (::link(from.c_str(), to.c_str()) == 0) {
            if (::unlink(from.c_str()) != 0) {
                const int error = errno;
                ::unlink(to.c_str());
                fail(error, "can't move " + from);
            }
            return;
        }
        if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK && errno != ENOSYS)
            fail(errno, "can't move " + from + " to " + to);
    }
    if (!claimName(to, S_ISDIR(info.st_mode)))
        fail(errno, "can't move " + from + " to " + to);
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        if (S_ISDIR(info.st_mode))
            ::rmdir(to.c_str());
        else
            ::unlink(to.c_str());
        if (error == EXDEV)
            return moveAcrossDevices(from, to);
        fail(error, "can't move " + from + " to " + to);
    }
}

} // namespace

void copyNoReplace(const std::string& from, const std::string& to)
{
    TreeCopy copier;
    copier.copy(from, to);
}

void moveNoReplace(const std::string& from, const std::string& to)
{
    if (renameNoReplace(from, to) == 0)
        return;
    const int error = errno;
    if (error == EXDEV)
        return moveAcrossDevices(from, to);
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP)
        return moveByClaimingTarget(from, to);
    if (error == EEXIST)
        fail(error, to + " already exists");
    fail(error, "can't move " + from + " to " + to);
}

} // namespace Quandril::Platform
