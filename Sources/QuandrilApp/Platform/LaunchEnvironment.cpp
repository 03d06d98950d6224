#include "QuandrilApp/Platform/LaunchEnvironment.h"

#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Platform/PathText.h"

namespace Quandril::App::LaunchEnvironment {

bool isPlainAbsolute(std::string_view path)
{
    return path.starts_with('/') && !Platform::hasParentName(path);
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
