#include "QuandrilCore/Platform/Files.h"

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Platform/AtPath.h"

namespace Quandril::Platform {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

} // namespace

std::optional<std::string> readFile(const std::string& path, int* error, ReadLimits limits, struct stat* examined)
{
    const auto fail = [error](int number) -> std::optional<std::string> {
        if (error)
            *error = number;
        return std::nullopt;
    };
    // O_NONBLOCK: opening a named pipe would otherwise wait for a writer that may never come.
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (!limits.followLink)
        flags |= O_NOFOLLOW;
    const Descriptor opened(::open(path.c_str(), flags));
    if (!opened)
        return fail(errno);
    const int fd = opened.get();

    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return fail(errno);
    if (examined)
        *examined = info;
    if (S_ISDIR(info.st_mode))
        return fail(EISDIR);
    if (!S_ISREG(info.st_mode))
        return fail(EINVAL);
    if (info.st_size > 0 && static_cast<std::uint64_t>(info.st_size) > limits.maxBytes)
        return fail(EFBIG);

    std::string content;
    if (info.st_size > 0)
        content.reserve(static_cast<std::size_t>(info.st_size));
    // The size can change while the file is read, and some files report none at all: the limit is
    // held on what arrives.
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (count == 0)
            return content;
        if (static_cast<std::size_t>(count) > limits.maxBytes - content.size())
            return fail(EFBIG);
        content.append(buffer, static_cast<std::size_t>(count));
    }
}

std::optional<std::vector<std::string>> readEntryNames(const std::string& folder, int* error)
{
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) {
        if (error)
            *error = errno;
        return std::nullopt;
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
        errno = 0;
    }
    // readdir ends with errno unchanged at the end of the folder and sets it when it fails.
    if (errno != 0) {
        if (error)
            *error = errno;
        return std::nullopt;
    }
    return names;
}

std::optional<std::string> linkText(int folder, const std::string& name)
{
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = ::readlinkat(folder, name.c_str(), buffer.data(), buffer.size());
        if (length < 0)
            return std::nullopt;
        // A text that fills the buffer may have been cut short.
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::string> linkText(const std::string& path)
{
    return linkText(AT_FDCWD, path);
}

bool nameTaken(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

int writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

std::string_view whyNotOurs(const struct stat& info)
{
    return info.st_uid != ::geteuid() ? "belongs to another user" : std::string_view();
}

std::string_view whyNotOnlyOurs(const struct stat& info)
{
    if (const auto why = whyNotOurs(info); !why.empty())
        return why;
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return "may be written by others";
    return {};
}

bool sameItem(const std::string& a, const std::string& b)
{
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

TreeWalk::TreeWalk(const std::string& top, int options)
    : top_(top)
{
    char* const starts[] = { top_.data(), nullptr };
    fts_ = ::fts_open(starts, options, nullptr);
}

TreeWalk::~TreeWalk()
{
    if (fts_)
        ::fts_close(fts_);
}

} // namespace Quandril::Platform
