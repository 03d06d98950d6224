// The catalog's known places: which of their paths exist here, how much they hold, and whether
// the app they belong to is installed, open, or needs a tool that is missing.

#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Scanning/Finders/Finders.h"

#include <set>

namespace Quandril {

namespace {

constexpr const char* partlyUnreadable = "partly unreadable (Full Disk Access would show all of it)";

// The paths of a place that exist here and, when it names a marker, hold one.
std::vector<std::string> placePaths(const Catalog::Place& place, const Mac& mac)
{
    std::vector<std::string> paths;
    for (const auto& pattern : place.paths) {
        for (auto& path : expand(pattern, mac)) {
            if (!place.marker || contains(path, *place.marker))
                paths.push_back(std::move(path));
        }
    }
    return paths;
}

} // namespace

FinderResult PlacesFinder::find(const ScanContext& context) const
{
    const Catalog& catalog = context.catalog;

    std::vector<std::vector<std::string>> pathsOf;
    pathsOf.reserve(catalog.places.size());
    std::vector<std::string> everyPath;
    for (const auto& place : catalog.places) {
        pathsOf.push_back(placePaths(place, context.mac));
        everyPath.insert(everyPath.end(), pathsOf.back().begin(), pathsOf.back().end());
    }
    // One batch for every place, so the folders are measured side by side.
    const std::map<std::string, Usage> sizes = everyPath.empty() ? std::map<std::string, Usage> {}
                                                                 : context.usageOf(everyPath);

    FinderResult result;
    for (std::size_t index = 0; index < catalog.places.size(); ++index) {
        const Catalog::Place& place = catalog.places[index];
        const std::vector<std::string>& paths = pathsOf[index];
        if (paths.empty())
            continue;

        // A path the patterns name twice is counted once.
        std::int64_t bytes = 0;
        bool unreadable = false;
        for (const auto& path : std::set<std::string>(paths.begin(), paths.end())) {
            auto found = sizes.find(path);
            if (found == sizes.end())
                continue;
            bytes = Saturating::add(bytes, found->second.bytes);
            unreadable = unreadable || found->second.unreadable > 0;
        }

        const std::int64_t threshold = context.options.minimumBytes.value_or(
            place.minBytes.value_or(catalog.thresholds.place));
        if (bytes < threshold)
            continue;
        // Reported even when the place drops out below: the user should know the folder was not all seen.
        if (unreadable)
            result.skipped.push_back({ paths.front(), partlyUnreadable });

        Action action = place.action;
        if (place.tool && place.actionIfToolMissing && !context.mac.which(*place.tool))
            action = *place.actionIfToolMissing;

        std::string reason = place.reason;
        std::optional<std::string> owner = place.owner;
        if (place.app) {
            if (!context.apps.appForBundleID(*place.app)) {
                if (place.reasonIfUninstalled)
                    reason = *place.reasonIfUninstalled;
                if (owner)
                    *owner += " (uninstalled)";
            } else if (place.onlyIfUninstalled.value_or(false)) {
                continue;
            }
        }

        if (action.kind == Action::Kind::handOff && action.app && *action.app != "Finder"
            && !context.apps.appNamed(*action.app))
            action.steps = action.steps.value_or("") + " " + *action.app
                + " isn't on this Mac yet; it's free from its maker.";

        std::vector<std::string> owners = place.ownerBundleIDs.value_or(std::vector<std::string> {});
        if (place.app)
            owners.push_back(*place.app);
        std::optional<std::string> blockedBy;
        if (auto open = context.openApp(owners))
            blockedBy = *open + " is open. Quit it first.";

        result.findings.emplace_back(place.id, "places", place.title, reason, place.getBack, place.tier, bytes, paths,
                                     owner, action, place.caution, blockedBy, false, std::nullopt);
    }
    return result;
}

} // namespace Quandril
