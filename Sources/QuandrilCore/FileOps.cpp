#include "QuandrilCore/FileOps.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaner.h"
#include "QuandrilCore/Mac.h"
#include "QuandrilCore/Platform/Move.h"

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
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        fail(errno, "can't remove the link " + path);
    if (!S_ISLNK(info.st_mode))
        fail(EINVAL, path + " is not a link any more");
    if (::unlink(path.c_str()) != 0)
        fail(errno, "can't remove the link " + path);
}

std::string LiveFileOps::trash(const Mac& mac, const std::string& path)
{
    return mac.trash(path);
}

void LiveFileOps::remove(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        fail(errno, "can't remove " + path);
    std::error_code error;
    std::filesystem::remove_all(path, error);
    if (error)
        throw std::system_error(error, "can't remove " + path);
}

void LiveFileOps::moveNoReplace(const std::string& from, const std::string& to)
{
    Platform::moveNoReplace(from, to);
}

void LiveFileOps::createFolder(const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error)
        throw std::system_error(error, "can't make the folder " + path);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        fail(errno, "can't make the folder " + path);
    if (!S_ISDIR(info.st_mode))
        fail(ENOTDIR, "can't make the folder " + path);
}

void LiveFileOps::createLink(const std::string& at, const std::string& target)
{
    if (::symlink(target.c_str(), at.c_str()) != 0)
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

std::string describeFailure(const std::exception& error)
{
    return error.what();
}

namespace Cleaner {

std::string describe(const std::exception& error)
{
    return describeFailure(error);
}

} // namespace Cleaner

} // namespace Quandril
