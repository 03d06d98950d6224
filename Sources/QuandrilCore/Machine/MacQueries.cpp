// The read-only questions the engine asks a machine: volumes, cloud folders, sizes, tools,
// simulator runtimes, last-used dates and running applications.

#include "QuandrilCore/Machine/Mac.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include <sys/stat.h>

#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Process.h"
#include "QuandrilCore/Platform/RunningApps.h"
#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Platform/Trash.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/Platform/Volumes.h"

namespace Quandril {

namespace {

constexpr std::int64_t largestCount = Saturating::most;

std::int64_t scaledBytes(std::int64_t bytes, const Mac& mac)
{
    if (!mac.fixture || !mac.fixture->scale)
        return bytes;
    double scale = *mac.fixture->scale;
    // A NaN factor says nothing about the size; the measurement stands as it was taken.
    if (std::isnan(scale))
        return bytes;
    // A size is never below nothing, whatever the factor.
    if (scale <= 0)
        return 0;
    return Saturating::truncated(static_cast<double>(bytes) * scale);
}

std::set<std::string> cloudPaths(const Mac& mac)
{
    std::set<std::string> paths;
    for (const auto& folder : mac.cloud)
        paths.insert(folder.path);
    return paths;
}

std::string replaceAll(std::string text, std::string_view what)
{
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at))
        text.erase(at, what.size());
    return text;
}

std::string platformName(const Json::Value& runtime)
{
    auto found = runtime.find("platformIdentifier");
    std::string platform = found != runtime.end() && found->is_string() ? found->get<std::string>() : "";
    platform = replaceAll(std::move(platform), "com.apple.platform.");
    platform = replaceAll(std::move(platform), "simulator");
    if (platform == "iphone")
        return "iOS";
    if (platform == "watch")
        return "watchOS";
    if (platform == "appletv")
        return "tvOS";
    if (platform == "xr")
        return "visionOS";
    return platform;
}

std::int64_t sizeBytes(const Json::Value& runtime)
{
    auto found = runtime.find("sizeBytes");
    if (found == runtime.end() || !found->is_number())
        return 0;
    if (found->is_number_unsigned()) {
        auto value = found->get<std::uint64_t>();
        return value > static_cast<std::uint64_t>(largestCount) ? largestCount : static_cast<std::int64_t>(value);
    }
    if (found->is_number_integer())
        return found->get<std::int64_t>();
    return Saturating::truncated(found->get<double>());
}

} // namespace

std::vector<DriveInfo> drivesFrom(const std::vector<Platform::Volume>& volumes)
{
    std::vector<DriveInfo> drives;
    for (const auto& volume : volumes) {
        if (volume.browsable == false || volume.local == false)
            continue;
        if (!volume.total || *volume.total <= 0)
            continue;
        std::int64_t strict = volume.free.value_or(0);
        std::int64_t important = volume.importantFree.value_or(0);
        DriveInfo drive;
        drive.name = volume.name ? *volume.name : Platform::mountName(volume.path);
        drive.path = volume.path;
        drive.isStartup = volume.isRoot.value_or(false);
        drive.totalBytes = *volume.total;
        drive.freeBytes = std::max(strict, important);
        drive.strictFreeBytes = strict;
        drives.push_back(std::move(drive));
    }
    return drives;
}

std::vector<DriveInfo> Mac::drives() const
{
    if (!isFake())
        return drivesFrom(Platform::mountedVolumes(home));
    std::vector<DriveInfo> drives;
    for (const auto& drive : fixture->drives) {
        DriveInfo info;
        info.name = drive.name;
        info.path = drive.path == "/" ? root : root + drive.path;
        info.isStartup = drive.path == "/";
        info.totalBytes = drive.total;
        info.freeBytes = drive.free;
        info.strictFreeBytes = drive.free;
        drives.push_back(std::move(info));
    }
    return drives;
}

std::optional<CloudFolder> Mac::cloudFolder(std::string_view path) const
{
    for (const auto& folder : cloud) {
        if (Platform::atOrBelow(path, folder.path))
            return folder;
    }
    return std::nullopt;
}

Usage Mac::usage(const std::string& path) const
{
    Usage usage = diskUsage(path, cloudPaths(*this));
    usage.bytes = scaledBytes(usage.bytes, *this);
    return usage;
}

std::int64_t Mac::reported(std::int64_t measured) const
{
    return scaledBytes(measured, *this);
}

std::map<std::string, Usage> Mac::usageOf(const std::vector<std::string>& paths) const
{
    auto usages = diskUsageOf(paths, cloudPaths(*this));
    for (auto& [path, usage] : usages)
        usage.bytes = scaledBytes(usage.bytes, *this);
    return usages;
}

std::optional<std::string> Mac::run(const std::vector<std::string>& command) const
{
    if (isFake() || command.empty())
        return std::nullopt;
    std::string program = command.front();
    if (!program.starts_with("/")) {
        auto found = which(program);
        if (!found)
            return std::nullopt;
        program = *found;
    }
    auto output = Platform::runProcess(program, { command.begin() + 1, command.end() });
    if (!output)
        return std::nullopt;
    return Platform::repairedUTF8(*output);
}

std::optional<std::string> Mac::which(const std::string& tool) const
{
    if (isFake()) {
        if (!fixture->tools)
            return std::nullopt;
        for (const auto& listed : *fixture->tools)
            if (listed == tool)
                return "/fake/bin/" + tool;
        return std::nullopt;
    }
    std::vector<std::string> folders;
    if (const char* variable = std::getenv("PATH")) {
        std::string_view parts = variable;
        while (!parts.empty()) {
            auto colon = parts.find(':');
            auto part = parts.substr(0, colon);
            if (!part.empty())
                folders.emplace_back(part);
            if (colon == std::string_view::npos)
                break;
            parts.remove_prefix(colon + 1);
        }
    }
    // Where package managers put tools that a desktop session's PATH often lacks.
    for (std::string folder : { std::string("/opt/homebrew/bin"), std::string("/usr/local/bin"), home + "/.bun/bin",
                                home + "/.cargo/bin", home + "/.local/bin" })
        folders.push_back(std::move(folder));
    for (const auto& folder : folders) {
        std::string candidate = folder + "/" + tool;
        if (Platform::isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

std::optional<std::vector<SimRuntime>> parseSimulatorRuntimes(std::string_view json)
{
    Json::Value top;
    try {
        top = Json::parse(json);
    } catch (const Json::DecodeError&) {
        return std::nullopt;
    }
    if (!top.is_object())
        return std::nullopt;
    for (const auto& [key, runtime] : top.items())
        if (!runtime.is_object())
            return std::nullopt;

    std::vector<SimRuntime> runtimes;
    for (const auto& [key, runtime] : top.items()) {
        auto identifier = runtime.find("identifier");
        if (identifier == runtime.end() || !identifier->is_string())
            continue;
        auto deletable = runtime.find("deletable");
        if (deletable != runtime.end() && deletable->is_boolean() && !deletable->get<bool>())
            continue;
        auto version = runtime.find("version");
        std::string versionText = version != runtime.end() && version->is_string() ? version->get<std::string>() : "";
        runtimes.push_back(
            { identifier->get<std::string>(), platformName(runtime) + " " + versionText, sizeBytes(runtime) });
    }
    return runtimes;
}

std::optional<std::vector<SimRuntime>> Mac::simulatorRuntimes() const
{
    if (isFake())
        return fixture->simRuntimes;
    auto output = run({ "/usr/bin/xcrun", "simctl", "runtime", "list", "-j" });
    if (!output)
        return std::nullopt;
    return parseSimulatorRuntimes(*output);
}

std::optional<TimePoint> Mac::lastUsed(const std::string& app) const
{
    // The live machine has no metadata index that records when an app was last opened.
    if (!isFake() || !fixture->lastUsed)
        return std::nullopt;
    auto found = fixture->lastUsed->find(display(app));
    if (found == fixture->lastUsed->end())
        return std::nullopt;
    return Platform::parseIso8601(found->second);
}

std::set<std::string> Mac::runningBundleIDs() const
{
    if (!isFake())
        return Platform::runningBundleIDs();
    if (!fixture->running)
        return {};
    return { fixture->running->begin(), fixture->running->end() };
}

std::string Mac::trashFolder() const
{
    // The live Trash is the desktop's, where trashed items really go; a fake machine keeps its own.
    return isFake() ? path("~/.Trash") : Platform::homeTrashFiles(home);
}

std::int64_t Mac::trashBytes() const
{
    const std::string folder = trashFolder();
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return 0;
    if (!isFake() && !Platform::whyNotOurs(info).empty())
        return 0;
    const std::int64_t own = Saturating::multiply(std::max<std::int64_t>(static_cast<std::int64_t>(info.st_blocks), 0),
                                                  512);
    const std::int64_t all = diskUsage(folder, cloudPaths(*this)).bytes;
    return scaledBytes(std::max<std::int64_t>(all - own, 0), *this);
}

ScanReport ScanReport::status(const Mac& mac)
{
    ScanReport report;
    report.scannedAt = Clock::now();
    report.drives = mac.drives();
    report.trashBytes = mac.trashBytes();
    report.engine = engineName();
    return report;
}

} // namespace Quandril
