#include "QuandrilCore/Machine/FileOps.h"

#include <cerrno>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/Move.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/RemoveTree.h"

namespace Quandril {

namespace {

[[noreturn]] void fail(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

} // namespace

FileOps& FileOps::live()
{
    static LiveFileOps ops;
    return ops;
}

std::shared_ptr<FileOps> FileOps::liveShared()
{
    // Shares the one live value without ever deleting it.
    return std::shared_ptr<FileOps>(std::shared_ptr<FileOps> {}, &live());
}

void FileOps::removeLink(const std::string& path)
{
    const auto place = Platform::placeOf(path);
    const auto info = Platform::statAt(place.folder.get(), place.name);
    if (!info)
        fail(errno, "can't remove the link " + path);
    if (!S_ISLNK(info->st_mode))
        fail(EINVAL, path + " is not a link any more");
    if (::unlinkat(place.folder.get(), place.name.c_str(), 0) != 0)
        fail(errno, "can't remove the link " + path);
}

void FileOps::removeFolder(const std::string& path)
{
    const auto place = Platform::placeOf(path);
    const auto info = Platform::statAt(place.folder.get(), place.name);
    if (!info)
        fail(errno, "can't remove the folder " + path);
    if (!S_ISDIR(info->st_mode))
        fail(ENOTDIR, path + " is not a folder any more");
    if (::unlinkat(place.folder.get(), place.name.c_str(), AT_REMOVEDIR) != 0)
        fail(errno == EEXIST ? ENOTEMPTY : errno, "can't remove the folder " + path);
}

std::string LiveFileOps::trash(const Mac& mac, const std::string& path)
{
    return mac.trash(path);
}

std::int64_t LiveFileOps::remove(const std::string& path)
{
    const auto place = Platform::placeOf(path);
    if (!Platform::statAt(place.folder.get(), place.name))
        fail(errno, "can't remove " + path);
    auto removal = Platform::removeTree(place.folder.get(), place.name, { .stoppable = true });
    if (removal.error != 0)
        throw PartlyRemoved(removal.error, "can't remove " + path, removal.freed);
    if (removal.stopped)
        throw PartlyRemoved(ECANCELED, "stopped part way through removing " + path, removal.freed);
    if (removal.mountsLeft.empty() && removal.subvolumesLeft.empty())
        return removal.freed;
    const std::string folder = Platform::parentOf(path);
    for (auto* left : { &removal.mountsLeft, &removal.subvolumesLeft })
        for (auto& name : *left)
            name = folder == "/" ? "/" + name : folder + "/" + name;
    throw MountsLeft(path, std::move(removal.mountsLeft), std::move(removal.subvolumesLeft), removal.freed);
}

void LiveFileOps::moveNoReplace(const std::string& from, const std::string& to)
{
    Platform::moveNoReplace(from, to);
}

void LiveFileOps::createFolder(const std::string& path)
{
    Platform::makeFolders(path);
}

void LiveFileOps::createLink(const std::string& at, const std::string& target)
{
    const auto place = Platform::placeOf(at);
    if (::symlinkat(target.c_str(), place.folder.get(), place.name.c_str()) != 0)
        fail(errno, "can't make the link " + at);
}

void LiveFileOps::copy(const std::string& from, const std::string& to)
{
    Platform::copyNoReplace(from, to);
}

bool LiveFileOps::runAsAdmin(const Mac& mac, const std::vector<std::vector<std::string>>& commands)
{
    return mac.runAsAdmin(commands);
}

MountsLeft::MountsLeft(const std::string& path, std::vector<std::string> mountPoints,
                       std::vector<std::string> subvolumes, std::int64_t freed)
    : PartlyRemoved(EBUSY,
                    "can't remove all of " + path + ": "
                        + (mountPoints.empty() ? subvolumes.front() + " is a subvolume of its own"
                                               : mountPoints.front() + " is another drive mounted there"),
                    freed)
    , mountPoints_(std::move(mountPoints))
    , subvolumes_(std::move(subvolumes))
{
}

std::string describeFailure(const std::exception& error)
{
    return error.what();
}

} // namespace Quandril
