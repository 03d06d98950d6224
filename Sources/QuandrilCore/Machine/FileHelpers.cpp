#include "QuandrilCore/Machine/FileHelpers.h"

#include <algorithm>
#include <utility>

#include <sys/stat.h>

#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/Unicode.h"

namespace Quandril {

namespace {

// Entry names, or nothing at all when the folder cannot be read to the end.
std::vector<std::string> readNames(const std::string& path)
{
    auto names = Platform::readEntryNames(path);
    return names ? std::move(*names) : std::vector<std::string> {};
}

} // namespace

std::vector<std::string> listNames(const std::string& path)
{
    if (PrivacyFence::shared().isFenced(path))
        return {};
    return readNames(path);
}

std::vector<std::string> children(const std::string& path)
{
    // A fence root itself is not blocked, but opening it is what the fence is there to prevent.
    if (PrivacyFence::shared().isFenced(path))
        return {};
    std::vector<std::pair<std::string, std::string>> keyed; // NFC form, name
    for (auto& name : readNames(path)) {
        if (name.starts_with("."))
            continue;
        std::string key = Platform::nfc(name);
        keyed.emplace_back(std::move(key), std::move(name));
    }
    // Byte order of UTF-8 is scalar-value order; names equal once normalised fall back on their own bytes.
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::string> paths;
    paths.reserve(keyed.size());
    for (const auto& [key, name] : keyed)
        paths.push_back(path + "/" + name);
    return paths;
}

bool isDirectory(const std::string& path)
{
    if (PrivacyFence::shared().blocks(path))
        return false;
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool exists(const std::string& path)
{
    if (PrivacyFence::shared().blocks(path))
        return false;
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool isSymlink(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::optional<std::int64_t> size(const std::string& path)
{
    if (PrivacyFence::shared().blocks(path))
        return std::nullopt;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    return static_cast<std::int64_t>(info.st_size);
}

std::optional<TimePoint> modified(const std::string& path)
{
    if (PrivacyFence::shared().blocks(path))
        return std::nullopt;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    const auto since = std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec);
    return TimePoint(std::chrono::duration_cast<TimePoint::duration>(since));
}

} // namespace Quandril
