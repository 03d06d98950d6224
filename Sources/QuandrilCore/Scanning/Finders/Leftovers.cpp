// The data-folder finders' rules: leftovers of removed apps, data on the Mac of apps installed on
// another drive, and caches of apps that aren't open. The look inside for personal files is in
// PersonalContent.cpp.

#include "QuandrilCore/Scanning/Finders/Leftovers.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/ParallelMap.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/Scanning/Finders/Finders.h"
#include "QuandrilCore/Scanning/Report.h"

namespace Quandril {

namespace {

using Platform::lastComponent;

// A real folder of its own: not behind the fence, present, not a link, not a catalog place.
bool isOwnFolder(const ScanContext& context, const std::string& path)
{
    return !PrivacyFence::shared().blocks(path) && isDirectory(path) && !isSymlink(path) && !context.isClaimed(path);
}

std::optional<std::string> insideCaution(const std::string& path, const Catalog::Markers& markers)
{
    return personalContent(path, markers, personalSampleLimit);
}

// MARK: Leftover groups

struct Candidate {
    std::string path;
    std::string key;
    std::optional<std::string> name;
    bool sure = false;
};

struct LeftoverRoot {
    std::string_view display;
    OwnerResolver::Kind kind;
};

constexpr LeftoverRoot leftoverRoots[] = {
    { "~/Library/Containers", OwnerResolver::Kind::container },
    { "~/Library/Group Containers", OwnerResolver::Kind::groupContainer },
    { "~/Library/Application Support", OwnerResolver::Kind::supportFolder },
};

std::optional<Candidate> leftoverCandidate(const ScanContext& context, const std::string& path,
                                           OwnerResolver::Kind kind)
{
    using Case = OwnerResolver::Verdict::Case;
    std::string name = lastComponent(path);
    OwnerResolver::Verdict verdict = context.owners().resolve(name, kind);
    switch (verdict.kind) {
    case Case::installed:
    case Case::system:
        return std::nullopt;
    case Case::unknown:
        // Keyed by its own path, so an unknown folder never joins another.
        return Candidate { path, path, name, false };
    case Case::uninstalled:
        break;
    }
    std::string base = Platform::lowercased(name).starts_with("group.") ? name.substr(6) : name;
    if (verdict.name)
        return Candidate { path, Platform::lowercased(*verdict.name), *verdict.name, true };
    std::string shown = looksLikeBundleID(base) ? displayName(base) : base;
    return Candidate { path, Platform::lowercased(base), shown, true };
}

// MARK: Split installs

// An identifier from an app's Info.plist names one folder beside others; anything that would lead
// elsewhere ("..", a "/") is not followed.
bool isSingleName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

struct SplitCandidate {
    const InstalledApp* app;
    DriveInfo drive;
    std::string path;
};

// The normalized names an app's data folders may carry: its own, its bundle ID's, and its catalog owners'.
std::set<std::string> splitKeys(const ScanContext& context, const InstalledApp& app, const std::string& appKey)
{
    const std::optional<std::string> lowerID = app.bundleID ? std::optional(Platform::lowercased(*app.bundleID))
                                                            : std::nullopt;
    std::set<std::string> keys { appKey };
    if (app.bundleID) {
        keys.insert(normalized(*app.bundleID));
        std::string shown = normalized(displayName(*app.bundleID));
        if (!genericBundleWords().count(shown))
            keys.insert(shown);
    }
    for (const auto& owner : context.catalog.owners) {
        bool matches = !appKey.empty() && normalized(owner.app) == appKey;
        if (!matches && lowerID && owner.bundleIDs)
            matches = std::any_of(owner.bundleIDs->begin(), owner.bundleIDs->end(),
                                  [&](const std::string& id) { return Platform::lowercased(id) == *lowerID; });
        if (matches)
            for (const auto& name : owner.names)
                keys.insert(normalized(name));
    }
    // A name of symbols alone says nothing about whose folder it is.
    keys.erase(std::string {});
    return keys;
}

// The folders on the Mac that bear one of the app's names.
std::vector<std::string> splitFolders(const ScanContext& context, const InstalledApp& app,
                                      const std::set<std::string>& keys, const std::vector<std::string>& listing)
{
    std::vector<std::string> folders;
    for (const auto& entry : listing)
        if (keys.count(normalized(lastComponent(entry))))
            folders.push_back(entry);
    if (app.bundleID && isSingleName(*app.bundleID)) {
        for (std::string_view parent : { "~/Library/Containers/", "~/Library/Caches/" }) {
            std::string folder = context.mac.path(std::string(parent) + *app.bundleID);
            if (!PrivacyFence::shared().blocks(folder) && isDirectory(folder))
                folders.push_back(std::move(folder));
        }
    }
    return folders;
}

// Every app on another drive with the folders of its data left on the Mac.
std::vector<SplitCandidate> splitCandidates(const ScanContext& context)
{
    // Listed once for all apps.
    const std::string support = context.mac.path("~/Library/Application Support");
    const std::vector<std::string> listing = children(support);

    std::set<std::string> considered;
    std::vector<SplitCandidate> candidates;
    for (const InstalledApp& app : context.apps.apps) {
        if (app.onStartupDisk)
            continue;
        auto drive = context.drive(app.path);
        if (!drive || !drive->isExternal())
            continue;

        const std::string appKey = normalized(app.name);
        for (auto& folder : splitFolders(context, app, splitKeys(context, app, appKey), listing)) {
            if (isSymlink(folder) || context.isClaimed(folder))
                continue;
            // The first app that names a folder decides it, whatever the checks below say.
            if (!considered.insert(folder).second)
                continue;
            if (folder.starts_with(support + "/")) {
                auto verdict = context.owners().resolve(lastComponent(folder), OwnerResolver::Kind::supportFolder);
                if (verdict.kind == OwnerResolver::Verdict::Case::installed && verdict.name
                    && normalized(*verdict.name) != appKey)
                    continue;
            }
            candidates.push_back({ &app, *drive, std::move(folder) });
        }
    }
    return candidates;
}

Finding splitFinding(const ScanContext& context, const SplitCandidate& candidate, std::int64_t bytes)
{
    const InstalledApp& app = *candidate.app;
    const std::string& name = app.name;
    const std::string& driveName = candidate.drive.name;

    std::optional<std::string> caution;
    if (auto inside = insideCaution(candidate.path, context.catalog.personalMarkers))
        caution = "Inside: " + *inside + ".";
    std::optional<std::string> blockedBy;
    if (app.bundleID)
        if (auto open = context.openApp({ *app.bundleID }))
            blockedBy = *open + " is open. Quit it first.";

    return Finding("split-" + normalized(name) + "-" + normalized(lastComponent(candidate.path)), "split-installs",
                   name + " data on your Mac",
                   name + " is installed on " + driveName + ", but " + Report::bytes(bytes)
                       + " of its data is on your Mac.",
                   "Look inside first: it may hold settings or downloads " + name
                       + " needs. Some apps let you point this folder at " + driveName + " instead.",
                   Tier::reinstallable, bytes, std::vector<std::string> { candidate.path }, name, Action::review(),
                   std::move(caution), std::move(blockedBy), false, std::nullopt);
}

} // namespace

FinderResult SplitInstallsFinder::find(const ScanContext& context) const
{
    if (context.apps.apps.empty())
        return {};
    const std::vector<SplitCandidate> candidates = splitCandidates(context);

    std::vector<std::string> paths;
    for (const auto& candidate : candidates)
        paths.push_back(candidate.path);
    const auto sizes = context.usageOf(paths);
    const std::int64_t threshold = context.threshold(context.catalog.thresholds.splitInstall);

    FinderResult result;
    for (const auto& candidate : candidates) {
        const std::int64_t bytes = sizes.at(candidate.path).bytes;
        if (bytes >= threshold)
            result.findings.push_back(splitFinding(context, candidate, bytes));
    }
    return result;
}

FinderResult LeftoversFinder::find(const ScanContext& context) const
{
    std::vector<Candidate> candidates;
    for (const auto& root : leftoverRoots) {
        for (const auto& child : children(context.mac.path(root.display))) {
            if (!isOwnFolder(context, child))
                continue;
            if (auto candidate = leftoverCandidate(context, child, root.kind))
                candidates.push_back(std::move(*candidate));
        }
    }

    std::vector<std::string> paths;
    for (const auto& candidate : candidates)
        paths.push_back(candidate.path);
    const auto sizes = context.usageOf(paths);

    // Keys compared as characters, so one name spelled with composed or decomposed accents is one
    // key; the map's order is then that of the Unicode scalars.
    std::map<std::string, std::vector<const Candidate*>> groups;
    for (const auto& candidate : candidates)
        groups[Platform::nfc(candidate.key)].push_back(&candidate);

    struct Group {
        const std::string* key;
        const Candidate* first;
        std::int64_t bytes;
        std::vector<std::string> folders;
    };
    const auto& thresholds = context.catalog.thresholds;
    std::vector<Group> kept;
    for (const auto& [key, group] : groups) {
        Group entry { &key, group.front(), 0, {} };
        for (const Candidate* candidate : group) {
            entry.bytes = Saturating::add(entry.bytes, sizes.at(candidate->path).bytes);
            entry.folders.push_back(candidate->path);
        }
        if (entry.bytes >= context.threshold(entry.first->sure ? thresholds.leftover : thresholds.unknownLeftover))
            kept.push_back(std::move(entry));
    }

    // The groups looked into at once; within a group the first folder with personal files speaks.
    const auto cautions = parallelMap(kept, [&](const Group& group) -> std::optional<std::string> {
        for (const auto& folder : group.folders) {
            if (auto inside = insideCaution(folder, context.catalog.personalMarkers))
                return "Inside: " + *inside + ". Check before removing.";
        }
        return std::nullopt;
    });

    FinderResult result;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        Group& group = kept[i];
        const std::string& key = *group.key;
        const Candidate& first = *group.first;
        const std::string name = first.name.value_or(key);
        std::optional<std::string> caution = cautions[i];
        if (first.sure) {
            result.findings.emplace_back("leftover-" + normalized(key), "leftovers", name + " leftovers",
                                         name + " is no longer installed, but its data stayed behind.",
                                         "It stays in the Trash until you empty it. Reinstalled, " + name
                                             + " would start fresh without it.",
                                         Tier::reinstallable, group.bytes, std::move(group.folders), name,
                                         Action::trash(), std::move(caution), std::nullopt, false, std::nullopt);
        } else {
            result.findings.emplace_back(
                "unknown-" + normalized(context.mac.display(first.path)), "leftovers", name + " (owner unknown)",
                "This folder doesn't match any installed app; it may be left over from something you removed.",
                "Look inside before deciding; if it goes, it goes to the Trash first.", Tier::reinstallable,
                group.bytes, std::move(group.folders), std::nullopt, Action::review(), std::move(caution), std::nullopt,
                true, std::nullopt);
        }
    }
    return result;
}

FinderResult AppCachesFinder::find(const ScanContext& context) const
{
    std::vector<std::string> kept;
    for (const auto& child : children(context.mac.path("~/Library/Caches"))) {
        if (!PrivacyFence::shared().blocks(child) && isDirectory(child) && !isSymlink(child)
            && !context.isClaimed(child) && !context.owners().isSystem(lastComponent(child)))
            kept.push_back(child);
    }
    const auto sizes = context.usageOf(kept);

    std::set<std::string> running;
    for (const auto& id : context.running)
        running.insert(Platform::lowercased(id) + ".");

    const std::int64_t each = context.threshold(context.catalog.thresholds.appCacheEach);
    std::vector<std::string> paths;
    std::vector<std::string> openApps;
    std::int64_t total = 0;
    for (const auto& folder : kept) {
        const std::int64_t bytes = sizes.at(folder).bytes;
        if (bytes < each)
            continue;
        const std::string name = lastComponent(folder);
        auto app = looksLikeBundleID(name) ? context.apps.appForBundleID(name) : context.apps.appNamed(name);
        std::vector<std::string> ids { name };
        if (app && app->bundleID)
            ids.push_back(*app->bundleID);
        // Helpers and agents keep caches named after the app's identifier with a suffix.
        const std::string lower = Platform::lowercased(name);
        bool open = context.openApp(ids).has_value()
            || std::any_of(running.begin(), running.end(),
                           [&](const std::string& id) { return lower.starts_with(id); });
        if (open) {
            openApps.push_back(app ? app->name : name);
        } else {
            paths.push_back(folder);
            total = Saturating::add(total, bytes);
        }
    }

    FinderResult result;
    if (!openApps.empty()) {
        std::stable_sort(openApps.begin(), openApps.end(),
                         [](const std::string& a, const std::string& b) { return Platform::compareNFC(a, b) < 0; });
        std::string note = "Left the caches of open apps alone: ";
        for (std::size_t i = 0; i < openApps.size(); ++i)
            note += (i ? ", " : "") + openApps[i];
        result.notes.push_back(note + ".");
    }
    // With a threshold of 0 or less an empty total would pass; a finding without folders is nothing
    // to offer.
    if (paths.empty() || total < context.threshold(context.catalog.thresholds.appCaches))
        return result;

    const std::string title = paths.size() == 1
        ? std::string("Cache of an app that isn't open")
        : "Caches of " + std::to_string(paths.size()) + " apps that aren't open";
    result.findings.emplace_back("app-caches", "app-caches", title,
                                 "Files apps keep so they start faster; each app makes them again when it needs them.",
                                 "Rebuilds itself: the apps recreate what they need.", Tier::rebuilds, total,
                                 std::move(paths), std::nullopt, Action::delete_(), std::nullopt, std::nullopt, false,
                                 std::nullopt);
    return result;
}

} // namespace Quandril
