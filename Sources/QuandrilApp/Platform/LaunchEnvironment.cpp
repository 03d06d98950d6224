#include "QuandrilApp/Platform/LaunchEnvironment.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace Quandril::App::LaunchEnvironment {

bool isPlainAbsolute(std::string_view path)
{
    if (!path.starts_with('/'))
        return false;
    for (std::size_t start = 0; start < path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (path.substr(start, end - start) == "..")
            return false;
        start = end + 1;
    }
    return true;
}

bool isPrivateFolder(const char* path)
{
    struct stat info {};
    return path && isPlainAbsolute(path) && ::lstat(path, &info) == 0 && S_ISDIR(info.st_mode)
        && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0 && ::access(path, W_OK | X_OK) == 0;
}

bool isTemporaryFolder(const char* path)
{
    struct stat info {};
    if (!path || !isPlainAbsolute(path) || std::string_view(path).find_first_not_of('/') == std::string_view::npos)
        return false;
    // The system's /tmp may be a link to another folder; what counts is the folder itself.
    if (::stat(path, &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    const bool ownersOnly = (info.st_mode & 022) == 0 || (info.st_mode & S_ISVTX) != 0;
    return (info.st_uid == ::geteuid() || info.st_uid == 0) && ownersOnly;
}

void makeSafe()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && !isPrivateFolder(runtime))
        ::unsetenv("XDG_RUNTIME_DIR");
    if (const char* temporary = std::getenv("TMPDIR"); temporary && !isTemporaryFolder(temporary))
        ::unsetenv("TMPDIR");
}

} // namespace Quandril::App::LaunchEnvironment
