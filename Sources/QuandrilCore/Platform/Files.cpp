#include "QuandrilCore/Platform/Files.h"

#include <cerrno>
#include <memory>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Quandril::Platform {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

} // namespace

int readToEnd(int fd, std::string& out)
{
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (count == 0)
            return 0;
        out.append(buffer, static_cast<std::size_t>(count));
    }
}

std::optional<std::string> readFile(const std::string& path, int* error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = errno;
        return std::nullopt;
    }
    std::string content;
    const int failure = readToEnd(fd, content);
    ::close(fd);
    if (failure != 0) {
        if (error)
            *error = failure;
        return std::nullopt;
    }
    return content;
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
