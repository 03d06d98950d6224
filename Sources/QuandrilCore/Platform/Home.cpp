#include "QuandrilCore/Platform/Home.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/PathText.h"

namespace Quandril::Platform {

namespace {

std::string fromUserDatabase()
{
    long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 4096);
    for (;;) {
        struct passwd entry {};
        struct passwd* found = nullptr;
        int error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != 0 || !found || !found->pw_dir)
            return {};
        return found->pw_dir;
    }
}

// Root keeps another user's $HOME under `sudo -E` or `su -m`: anything written there would be
// root's and lock that user out of their own Trash and history. A folder others may write, such
// as /tmp, lets them make the Trash and history before us and read or plant what goes there.
// Only a folder that is ours alone is home.
bool isOwnFolder(const char* path)
{
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode) && whyNotOnlyOurs(info).empty();
}

// $HOME is how a user or a test points programs at another home; the user database answers only
// when $HOME names no folder of ours.
std::string fromEnvironment()
{
    const char* variable = std::getenv("HOME");
    if (!variable || variable[0] != '/' || !isOwnFolder(variable))
        return {};
    return variable;
}

} // namespace

std::string homeFolder()
{
    std::string home = fromEnvironment();
    if (home.empty())
        home = fromUserDatabase();
    if (home.empty())
        return "/";
    char resolved[PATH_MAX];
    if (::realpath(home.c_str(), resolved))
        return resolved;
    return lexicallyNormal(home);
}

bool mayUseUserFolder(const std::string& path)
{
    if (::geteuid() != 0)
        return true;
    // Past a missing folder, a ".." may lead anywhere: the folders above it vouch for nothing.
    if (hasParentName(path))
        return false;
    for (std::string at = path;; at = parentOf(at)) {
        struct stat info {};
        if (::lstat(at.c_str(), &info) == 0)
            return info.st_uid == 0;
        if (at == "/" || at.empty())
            return true;
    }
}

} // namespace Quandril::Platform
