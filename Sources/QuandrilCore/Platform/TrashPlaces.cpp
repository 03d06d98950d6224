// Where this user's Trash folders are, and whether a path lies in one.

#include "QuandrilCore/Platform/Trash.h"

#include <climits>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Platform/Home.h"
#include "QuandrilCore/Platform/PathText.h"

namespace Quandril::Platform {

namespace {

// The place the folder really is, links on the way resolved: the real path of its nearest existing
// folder followed by the names still missing. The lexically normal text when nothing can be resolved.
std::string realPlace(const std::string& path)
{
    std::string known = lexicallyNormal(path), rest;
    for (;;) {
        char resolved[PATH_MAX];
        if (::realpath(known.c_str(), resolved))
            return rest.empty() ? std::string(resolved) : joinPath(resolved, rest);
        if (errno != ENOENT || known == "/")
            return lexicallyNormal(path);
        rest = rest.empty() ? lastComponent(known) : joinPath(lastComponent(known), rest);
        known = parentOf(known);
    }
}

// False only for a folder seen to lie on the same file system as its parent: a copy of a
// Trash folder, not one at the top of a mount. An unplugged drive's folder can't be examined.
bool mayBeMountTop(const std::string& folder)
{
    struct stat self {
    }, up {};
    if (folder == "/" || ::stat(folder.c_str(), &self) != 0 || ::stat(parentOf(folder).c_str(), &up) != 0)
        return true;
    return self.st_dev != up.st_dev || self.st_ino == up.st_ino;
}

// Whether the path lies in "$topdir/.Trash-UID/files/" or "$topdir/.Trash/UID/files/" with this user's
// UID, for a $topdir that `isTop` accepts.
bool inDriveTrash(std::string_view path, const std::function<bool(const std::string&)>& isTop)
{
    const std::string uid = std::to_string(::getuid());
    constexpr std::string_view files = "/files/";
    for (auto at = path.find(files); at != std::string_view::npos; at = path.find(files, at + 1)) {
        if (at + files.size() >= path.size())
            continue; // the files folder itself, not an item in it
        const std::string_view before = path.substr(0, at);
        const auto slash = before.rfind('/');
        if (slash == std::string_view::npos)
            continue;
        const std::string_view last = before.substr(slash + 1);
        std::string_view top;
        if (last.starts_with(".Trash-") && last.substr(7) == uid)
            top = before.substr(0, slash);
        else if (last == uid && before.substr(0, slash).ends_with("/.Trash"))
            top = before.substr(0, slash - 7);
        else
            continue;
        if (isTop(top.empty() ? std::string("/") : std::string(top)))
            return true;
    }
    return false;
}

} // namespace

std::string homeTrashFolder(const std::string& home)
{
    // Where the user keeps the data folders is their own choice, links included: the Trash is
    // resolved here once, and everything beneath it is then reached without following links.
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/' && mayUseUserFolder(data))
        return realPlace(joinPath(data, "Trash"));
    return realPlace(joinPath(home, ".local/share/Trash"));
}

std::string homeTrashFiles(const std::string& home)
{
    return homeTrashFolder(home) + "/files";
}

bool isTrashPath(std::string_view path, const std::string& home)
{
    return TrashPaths(home).holds(path);
}

TrashPaths::TrashPaths(std::string home)
    : home_(std::move(home))
{
}

bool TrashPaths::holds(std::string_view path) const
{
    // Items trashed while XDG_DATA_HOME named another place still lie in a Trash of this user.
    if (!files_)
        files_.emplace(homeTrashFiles(home_), realPlace(joinPath(home_, ".local/share/Trash/files")));
    for (const auto* files : { &files_->first, &files_->second }) {
        if (below(path, *files) && path.size() > files->size() + 1)
            return true;
    }
    return inDriveTrash(path, [this](const std::string& top) {
        auto known = tops_.find(top);
        if (known == tops_.end())
            known = tops_.emplace(top, mayBeMountTop(top)).first;
        return known->second;
    });
}

bool looksLikeDriveTrashItem(std::string_view path)
{
    return inDriveTrash(path, [](const std::string&) { return true; });
}

std::optional<std::string> driveTrashTop(std::string_view path)
{
    std::optional<std::string> found;
    inDriveTrash(path, [&](const std::string& top) {
        found = top;
        return true;
    });
    return found;
}

bool isMountTop(const std::string& folder)
{
    struct stat self {
    }, up {};
    if (::stat(folder.c_str(), &self) != 0 || !S_ISDIR(self.st_mode))
        return false;
    if (folder == "/" || ::stat(parentOf(folder).c_str(), &up) != 0)
        return true;
    return self.st_dev != up.st_dev || self.st_ino == up.st_ino;
}

} // namespace Quandril::Platform
