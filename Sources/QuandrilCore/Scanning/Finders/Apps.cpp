// Apps and what installed them: simulator runtimes, old installers in Downloads, apps not opened
// for a long time.

#include "QuandrilCore/Scanning/Finders/Finders.h"

#include <array>
#include <limits>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/Archive.h"
#include "QuandrilCore/Platform/DateText.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Unicode.h"

namespace Quandril {

namespace {

constexpr const char* openSuffix = " is open. Quit it first.";

// `now` moved back by whole days of 86,400 seconds; a day count beyond the clock's range gives
// the clock's far end instead of wrapping round.
TimePoint daysBefore(TimePoint now, std::int64_t days)
{
    using Ticks = TimePoint::duration;
    constexpr std::int64_t ticksPerDay = std::chrono::duration_cast<Ticks>(std::chrono::hours(24)).count();
    const std::int64_t nowTicks = now.time_since_epoch().count();
    std::int64_t span = 0;
    std::int64_t cut = 0;
    if (__builtin_mul_overflow(days, ticksPerDay, &span) || __builtin_sub_overflow(nowTicks, span, &cut))
        return days > 0 ? TimePoint::min() : TimePoint::max();
    return TimePoint(Ticks(cut));
}

// Name and extension of a file name; a leading dot starts no extension.
std::pair<std::string, std::string> splitExtension(const std::string& name)
{
    auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return { name, "" };
    return { name.substr(0, dot), name.substr(dot + 1) };
}

bool isInstallerExtension(const std::string& extension)
{
    static constexpr std::array<std::string_view, 4> kinds { "dmg", "pkg", "xip", "zip" };
    const std::string lower = Platform::lowercased(extension);
    for (auto kind : kinds)
        if (lower == kind)
            return true;
    return false;
}

// Entries read from a zip's directory before giving up on finding an installer in it.
constexpr std::size_t zipEntryLimit = 20'000;

// A zip installs something when it holds an app bundle (a folder named X.app) or an installer
// package (X.pkg or X.mpkg, file or folder). The Finder's resource-fork copies under "__MACOSX/"
// hold only shadows of such names.
bool zipHoldsInstaller(const std::string& path)
{
    const auto names = Platform::zipEntryNames(path, zipEntryLimit);
    if (!names)
        return false;
    for (const std::string& name : *names) {
        if (name.starts_with("__MACOSX/"))
            continue;
        std::size_t start = 0;
        while (start < name.size()) {
            const std::size_t slash = name.find('/', start);
            const std::string component = Platform::lowercased(name.substr(start, slash - start));
            const bool folder = slash != std::string::npos;
            if ((folder && component.ends_with(".app")) || component.ends_with(".pkg") || component.ends_with(".mpkg"))
                return true;
            if (!folder)
                break;
            start = slash + 1;
        }
    }
    return false;
}

struct Installer {
    std::string path;
    std::string name;
    TimePoint downloaded;
    const InstalledApp* app = nullptr;
};

} // namespace

FinderResult SimulatorsFinder::find(const ScanContext& context) const
{
    FinderResult result;
    const auto runtimes = context.mac.simulatorRuntimes();
    if (!runtimes) {
        if (context.mac.isFake())
            return result;
        auto output = context.mac.run({ "/usr/bin/xcode-select", "-p" });
        if (!output)
            return result;
        const auto first = output->find_first_not_of(" \t\r\n");
        if (first == std::string::npos)
            return result;
        const std::string developer = output->substr(first, output->find_last_not_of(" \t\r\n") - first + 1);
        if (PrivacyFence::shared().blocks(developer) || !exists(developer))
            result.notes.push_back("Xcode isn't reachable at " + developer
                                   + " (its drive may be unplugged), so simulators weren't checked.");
        return result;
    }

    const auto open = context.openApp({ "com.apple.dt.Xcode", "com.apple.iphonesimulator" });
    std::optional<std::string> blockedBy;
    if (open)
        blockedBy = *open + openSuffix;
    const std::int64_t minimum = context.threshold(context.catalog.thresholds.place);
    for (const auto& runtime : *runtimes) {
        if (runtime.bytes < minimum)
            continue;
        result.findings.emplace_back("sim-runtime-" + runtime.id, "simulators", runtime.name + " simulator",
                                     "The " + runtime.name + " simulator Xcode uses to run apps on a pretend device.",
                                     "Xcode downloads it again (Settings → Components) when you need it.",
                                     Tier::reinstallable, runtime.bytes, std::vector<std::string> {},
                                     std::string("Xcode"),
                                     Action(Action::Kind::command,
                                            std::vector<std::string> { "xcrun", "simctl", "runtime", "delete",
                                                                       runtime.id }),
                                     std::nullopt, blockedBy, false, std::nullopt);
    }
    return result;
}

FinderResult InstallersFinder::find(const ScanContext& context) const
{
    const TimePoint cutoff = daysBefore(context.options.now, context.catalog.thresholds.installerDays);

    // Name keys of the apps long enough to say something, worked out once and only when needed.
    std::optional<std::vector<std::pair<std::string, const InstalledApp*>>> appKeys;
    auto matchingApp = [&](const std::string& key) -> const InstalledApp* {
        if (!appKeys) {
            appKeys.emplace();
            for (const auto& app : context.apps.apps) {
                std::string appKey = normalized(app.name);
                if (Platform::graphemeCount(appKey) >= 5)
                    appKeys->emplace_back(std::move(appKey), &app);
            }
        }
        for (const auto& [appKey, app] : *appKeys)
            if (key.starts_with(appKey))
                return app;
        return nullptr;
    };

    // The cheap tests first; only what passes them is measured, all in one batch.
    std::vector<Installer> candidates;
    for (const auto& path : children(context.mac.path("~/Downloads"))) {
        if (isDirectory(path))
            continue;
        const std::string name = Platform::lastComponent(path);
        const auto [stem, extension] = splitExtension(name);
        if (!isInstallerExtension(extension))
            continue;
        const auto date = modified(path);
        if (!date || !(*date < cutoff))
            continue;
        const InstalledApp* app = matchingApp(normalized(stem));
        const std::string kind = Platform::lowercased(extension);
        // A name alone doesn't make an installer: a chat export named after the chat app is none,
        // and neither is an encrypted image the user made to keep files safe.
        if (kind == "zip" && (!app || !zipHoldsInstaller(path)))
            continue;
        if (kind == "dmg" && Platform::isEncryptedDiskImage(path))
            continue;
        candidates.push_back({ path, name, *date, app });
    }
    if (candidates.empty())
        return {};

    std::vector<std::string> paths;
    for (const auto& candidate : candidates)
        paths.push_back(candidate.path);
    const auto sizes = context.usageOf(paths);
    const std::int64_t minimum = context.threshold(context.catalog.thresholds.installerBytes);

    const Platform::DateFormatter dates("d MMMM yyyy");
    FinderResult result;
    for (const auto& candidate : candidates) {
        auto size = sizes.find(candidate.path);
        if (size == sizes.end() || size->second.bytes < minimum)
            continue;
        std::string reason = "An installer you downloaded on " + dates.format(candidate.downloaded);
        reason += candidate.app ? "; " + candidate.app->name + " is already installed." : ".";
        result.findings.emplace_back("installer-" + normalized(candidate.name), "installers", candidate.name, reason,
                                     "Download it again from its maker if you ever need it.", Tier::reinstallable,
                                     size->second.bytes, std::vector<std::string> { candidate.path }, std::nullopt,
                                     Action::trash(), std::nullopt, std::nullopt, false, std::nullopt);
    }
    return result;
}

FinderResult UnusedAppsFinder::find(const ScanContext& context) const
{
    const TimePoint cutoff = daysBefore(context.options.now, context.catalog.thresholds.unusedAppDays);
    const std::array<std::string, 2> roots { context.mac.path("/Applications/"), context.mac.path("~/Applications/") };

    std::vector<const InstalledApp*> candidates;
    for (const auto& app : context.apps.apps) {
        if (!app.onStartupDisk)
            continue;
        if (!app.path.starts_with(roots[0]) && !app.path.starts_with(roots[1]))
            continue;
        if (!app.lastUsed || !(*app.lastUsed < cutoff))
            continue;
        if (app.bundleID) {
            // Apple's apps that come with the system cannot be removed; those from the App Store can.
            if (Platform::lowercased(*app.bundleID).starts_with("com.apple.") && !app.fromAppStore)
                continue;
            if (context.running.count(*app.bundleID))
                continue;
        }
        if (context.apps.isPluginHost(app, context.catalog.pluginVendors))
            continue;
        candidates.push_back(&app);
    }
    if (candidates.empty())
        return {};

    std::vector<std::string> paths;
    for (const auto* app : candidates)
        paths.push_back(app->path);
    const auto sizes = context.usageOf(paths);
    const std::int64_t minimum = context.threshold(context.catalog.thresholds.unusedAppBytes);

    const Platform::DateFormatter dates("MMMM yyyy");
    FinderResult result;
    for (const auto* app : candidates) {
        auto size = sizes.find(app->path);
        if (size == sizes.end() || size->second.bytes < minimum)
            continue;
        result.findings.emplace_back(
            "unused-app-" + normalized(app->name), "unused-apps", app->name,
            "You last opened " + app->name + " in " + dates.format(*app->lastUsed) + ".",
            app->fromAppStore ? "Download it again from the App Store." : "Download it again from its maker.",
            Tier::reinstallable, size->second.bytes, std::vector<std::string> { app->path }, app->name, Action::trash(),
            std::string("Its settings stay behind until you remove them too; they show up as leftovers once the app "
                        "is gone."),
            std::nullopt, false, std::nullopt);
    }
    return result;
}

} // namespace Quandril
