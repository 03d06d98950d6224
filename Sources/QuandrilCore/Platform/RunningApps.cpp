#include "QuandrilCore/Platform/RunningApps.h"

#include <dirent.h>
#include <unistd.h>

#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/Plist.h"

namespace Quandril::Platform {

namespace {

constexpr std::string_view marker = ".app/Contents/";

std::optional<std::string> executableOf(const std::string& processFolder)
{
    auto text = linkText(processFolder + "/exe");
    if (!text || text->empty())
        return std::nullopt;
    return text;
}

bool allDigits(std::string_view name)
{
    if (name.empty())
        return false;
    for (char c : name)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

std::optional<std::string> appBundleOf(std::string_view executable)
{
    auto at = executable.rfind(marker);
    while (at != std::string_view::npos) {
        // The bundle's name needs at least one character of its own after a "/".
        auto slash = executable.rfind('/', at);
        if (slash != std::string_view::npos && slash + 1 < at)
            return std::string(executable.substr(0, at + std::string_view(".app").size()));
        if (at == 0)
            break;
        at = executable.rfind(marker, at - 1);
    }
    return std::nullopt;
}

std::set<std::string> runningBundleIDs()
{
    std::set<std::string> identifiers;
    std::set<std::string> bundlesRead;
    DIR* processes = ::opendir("/proc");
    if (!processes)
        return identifiers;
    while (struct dirent* entry = ::readdir(processes)) {
        if (!allDigits(entry->d_name))
            continue;
        auto executable = executableOf(std::string("/proc/") + entry->d_name);
        if (!executable)
            continue;
        auto bundle = appBundleOf(*executable);
        if (!bundle || !bundlesRead.insert(*bundle).second)
            continue;
        auto info = readPlistStrings(*bundle + "/Contents/Info.plist", { "CFBundleIdentifier" });
        if (!info)
            continue;
        auto identifier = info->find("CFBundleIdentifier");
        if (identifier != info->end() && !identifier->second.empty())
            identifiers.insert(identifier->second);
    }
    ::closedir(processes);
    return identifiers;
}

} // namespace Quandril::Platform
