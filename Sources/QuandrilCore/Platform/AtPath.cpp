#include "QuandrilCore/Platform/AtPath.h"

#include <cerrno>
#include <system_error>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "QuandrilCore/Platform/Files.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace Quandril::Platform {

namespace {

// Descriptors a FolderChain keeps open; folders further up are opened again on the way back.
constexpr std::size_t keptOpen = 8;

[[noreturn]] void fail(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

// The next name of `path` from `at` on, skipping empty and "." names; empty at the end.
std::string_view nextName(std::string_view path, std::size_t& at)
{
    while (at < path.size()) {
        auto slash = path.find('/', at);
        if (slash == std::string_view::npos)
            slash = path.size();
        const auto name = path.substr(at, slash - at);
        at = slash;
        if (!name.empty() && name != ".")
            return name;
        ++at;
    }
    return {};
}

Descriptor openStart(std::string_view path)
{
    const bool absolute = !path.empty() && path.front() == '/';
    Descriptor start(::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!start)
        fail(errno, "can't open " + std::string(absolute ? "/" : "the working folder"));
    return start;
}

// Opens `name` inside `folder` as a folder of the way, never through a link; nothing (with errno)
// when there is nothing of that name.
Descriptor openOnTheWay(int folder, const std::string& name, std::string_view path, std::size_t end)
{
    Descriptor next(::openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!next)
        return next;
    struct stat info {};
    if (::fstat(next.get(), &info) != 0)
        fail(errno, "can't reach " + std::string(path));
    const std::string upTo(path.substr(0, end));
    if (S_ISLNK(info.st_mode))
        fail(ELOOP, upTo + " is a link now, so nothing was done through it");
    if (!S_ISDIR(info.st_mode))
        fail(ENOTDIR, "can't reach " + std::string(path) + ": " + upTo + " is no folder");
    return next;
}

Descriptor openChild(int folder, const std::string& name, const std::string& shownAs)
{
    Descriptor child(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (child)
        return child;
    int error = errno;
    if (error == ELOOP || error == ENOTDIR) {
        const auto info = statAt(folder, name);
        error = info && S_ISLNK(info->st_mode) ? ELOOP : ENOTDIR;
    }
    fail(error, "can't open " + shownAs);
}

} // namespace

Descriptor::~Descriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

Descriptor::Descriptor(Descriptor&& other) noexcept
    : fd_(std::exchange(other.fd_, -1))
{
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

int Descriptor::close()
{
    return fd_ < 0 ? 0 : ::close(std::exchange(fd_, -1));
}

Descriptor openFolder(std::string_view path)
{
    Descriptor current = openStart(path);
    std::size_t at = 0;
    for (auto name = nextName(path, at); !name.empty(); name = nextName(path, at)) {
        Descriptor next = openOnTheWay(current.get(), std::string(name), path, at);
        if (!next)
            fail(errno, "can't reach " + std::string(path));
        current = std::move(next);
    }
    return current;
}

Place placeOf(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    const auto slash = path.rfind('/');
    const std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
    if (name.empty() || name == "." || name == "..")
        fail(EINVAL, "no item is named by \"" + std::string(path) + "\"");
    std::string_view folder = ".";
    if (slash != std::string_view::npos)
        folder = slash == 0 ? std::string_view("/") : path.substr(0, slash);
    return Place { openFolder(folder), name };
}

std::optional<struct stat> statAt(int folder, const std::string& name)
{
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return info;
}

std::string readLinkAt(int folder, const std::string& name, const std::string& shownAs)
{
    auto text = linkText(folder, name);
    if (!text)
        fail(errno, "can't read the link " + shownAs);
    return std::move(*text);
}

std::vector<std::string> namesIn(int folder, const std::string& shownAs)
{
    // A description of its own, so reading never moves the position of another descriptor.
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        fail(errno, "can't read " + shownAs);
    DIR* listing = ::fdopendir(fd);
    if (!listing) {
        const int error = errno;
        ::close(fd);
        fail(error, "can't read " + shownAs);
    }
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(listing);
        if (!entry)
            break;
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    const int error = errno;
    ::closedir(listing);
    if (error != 0)
        fail(error, "can't read " + shownAs);
    return names;
}

int renameNoReplaceAt(int fromFolder, const std::string& fromName, int toFolder, const std::string& toName)
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
    const int result = ::renameat2(fromFolder, fromName.c_str(), toFolder, toName.c_str(), RENAME_NOREPLACE);
#else
    const int result = static_cast<int>(
        ::syscall(SYS_renameat2, fromFolder, fromName.c_str(), toFolder, toName.c_str(), RENAME_NOREPLACE));
#endif
    return result == 0 ? 0 : errno;
}

void makeFolders(std::string_view path, mode_t mode)
{
    Descriptor current = openStart(path);
    std::size_t at = 0;
    for (auto part = nextName(path, at); !part.empty(); part = nextName(path, at)) {
        const std::string name(part);
        Descriptor next = openOnTheWay(current.get(), name, path, at);
        if (!next) {
            if (errno != ENOENT)
                fail(errno, "can't make the folder " + std::string(path));
            // Another maker may come first; what it made is then checked like any folder on the way.
            if (::mkdirat(current.get(), name.c_str(), mode) != 0 && errno != EEXIST)
                fail(errno, "can't make the folder " + std::string(path.substr(0, at)));
            next = openOnTheWay(current.get(), name, path, at);
            if (!next)
                fail(errno, "can't make the folder " + std::string(path.substr(0, at)));
        }
        current = std::move(next);
    }
}

FolderChain::FolderChain(int folder, const std::string& name, std::string shownAs)
    : top_(std::move(shownAs))
{
    push(openChild(folder, name, top_), top_);
}

std::string FolderChain::shown() const
{
    std::string text = top_;
    for (const auto& name : names_)
        text.append("/").append(name);
    return text;
}

void FolderChain::enter(const std::string& name)
{
    const std::string shownAs = shown(name);
    push(openChild(fd(), name, shownAs), shownAs);
    names_.push_back(name);
}

void FolderChain::leave()
{
    if (levels_.size() < 2)
        fail(EINVAL, "can't leave " + shown() + ": it is where the walk began");
    Level& above = levels_[levels_.size() - 2];
    if (!above.fd) {
        Descriptor up(::openat(fd(), "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (!up || ::fstat(up.get(), &info) != 0)
            fail(errno, "can't go back up from " + shown());
        if (info.st_dev != above.device || info.st_ino != above.inode)
            fail(ESTALE, shown() + " was moved while it was being worked on");
        above.fd = std::move(up);
        ++open_;
    }
    levels_.pop_back();
    --open_;
    names_.pop_back();
}

void FolderChain::push(Descriptor fd, const std::string& shownAs)
{
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        fail(errno, "can't read " + shownAs);
    levels_.push_back(Level { std::move(fd), info.st_dev, info.st_ino });
    if (++open_ > keptOpen) {
        for (auto& level : levels_) {
            if (level.fd) {
                level.fd.close();
                --open_;
                break;
            }
        }
    }
}

} // namespace Quandril::Platform
