#include "QuandrilCore/Scanning/Scanner.h"

#include <algorithm>
#include <unordered_set>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/Scanning/Finders/Finders.h"
#include "QuandrilCore/Scanning/PathGuard.h"

namespace Quandril {

namespace {

// Two spellings of one accented name (composed, decomposed) name one folder, so the overlap test
// (equal, or one below the other) compares composed text.
using Platform::composed;
using Platform::overlaps;

// Repeated ids get "-2", "-3", … in report order, so a clean-up that names a finding by id always
// reaches the one the user saw.
void makeIDsUnique(std::vector<Finding>& findings)
{
    std::unordered_set<std::string> used;
    for (const auto& finding : findings)
        used.insert(finding.id);
    std::unordered_set<std::string> seen;
    for (auto& finding : findings) {
        if (seen.insert(finding.id).second)
            continue;
        for (int n = 2;; ++n) {
            std::string candidate = finding.id + "-" + std::to_string(n);
            if (!used.count(candidate)) {
                finding.id = candidate;
                used.insert(candidate);
                seen.insert(candidate);
                break;
            }
        }
    }
}

constexpr const char* fencedWhy = "macOS asks before any app looks inside; give Gorrin Full Disk Access to include it";
constexpr const char* linkWhy = "reached through a link; acting on it could reach somewhere else";

// Why a finding is left out of the report: a protected path, or, where Gorrin itself would act,
// a path reached through a link.
std::optional<Skipped> refusalOf(const Finding& finding, const PathGuard& guard)
{
    for (const auto& path : finding.paths)
        if (auto why = guard.protection(path, true))
            return Skipped { path, "never touched: " + *why };
    if (finding.action.kind == Action::Kind::handOff || finding.action.kind == Action::Kind::review)
        return std::nullopt;
    for (const auto& path : finding.paths)
        if (PathGuard::throughLink(path))
            return Skipped { path, linkWhy };
    return std::nullopt;
}

} // namespace

Json::Value toJson(const ProtectedPath& value)
{
    Json::Value object = Json::Value::object();
    object["path"] = value.path;
    object["why"] = value.why;
    return object;
}

void decode(const Json::Value& value, ProtectedPath& out)
{
    Json::expectObject(value);
    out.path = Json::required<std::string>(value, "path");
    out.why = Json::required<std::string>(value, "why");
}

// MARK: UsageCache

UsageCache::UsageCache(const Mac& mac)
    : mac_(mac)
{
}

Usage UsageCache::usage(const std::string& path) const
{
    return usageOf({ path }).at(path);
}

std::map<std::string, Usage> UsageCache::usageOf(const std::vector<std::string>& paths) const
{
    std::map<std::string, Usage> result;
    std::vector<std::string> missing;
    {
        std::lock_guard guard(lock_);
        for (const auto& path : paths) {
            auto it = known_.find(path);
            if (it != known_.end())
                result.emplace(path, it->second);
            else
                missing.push_back(path);
        }
    }
    if (!missing.empty()) {
        auto measured = mac_.usageOf(missing);
        std::lock_guard guard(lock_);
        for (auto& [path, usage] : measured) {
            known_.emplace(path, usage);
            result.emplace(path, usage);
        }
    }
    return result;
}

// MARK: ScanContext

std::optional<std::string> ScanContext::openApp(const std::vector<std::string>& bundleIDs) const
{
    std::set<std::string> runningLower;
    for (const auto& id : running)
        runningLower.insert(Platform::lowercased(id));
    for (const auto& id : bundleIDs) {
        std::string lower = Platform::lowercased(id);
        if (!runningLower.count(lower))
            continue;
        if (auto app = apps.appForBundleID(id))
            return app->name;
        for (const auto& owner : catalog.owners) {
            if (!owner.bundleIDs)
                continue;
            for (const auto& ownerID : *owner.bundleIDs)
                if (Platform::lowercased(ownerID) == lower)
                    return owner.app;
        }
        return displayName(id);
    }
    return std::nullopt;
}

bool ScanContext::isClaimed(std::string_view path) const
{
    for (const auto& claim : claimed)
        if (overlaps(path, claim))
            return true;
    return false;
}

std::optional<DriveInfo> ScanContext::drive(std::string_view path) const
{
    const DriveInfo* best = nullptr;
    for (const auto& candidate : drives) {
        const std::string& d = candidate.path;
        if (Platform::within(path, d) && (!best || d.size() > best->path.size()))
            best = &candidate;
    }
    if (!best)
        return std::nullopt;
    return *best;
}

std::optional<DriveInfo> ScanContext::startup() const
{
    for (const auto& drive : drives)
        if (drive.isStartup)
            return drive;
    if (!drives.empty())
        return drives.front();
    return std::nullopt;
}

// MARK: Scanner

const std::vector<std::unique_ptr<SpaceFinder>>& Scanner::finders()
{
    static const std::vector<std::unique_ptr<SpaceFinder>> list = [] {
        std::vector<std::unique_ptr<SpaceFinder>> made;
        made.push_back(std::make_unique<PlacesFinder>());
        made.push_back(std::make_unique<SteamFinder>());
        made.push_back(std::make_unique<SimulatorsFinder>());
        made.push_back(std::make_unique<SplitInstallsFinder>());
        made.push_back(std::make_unique<LeftoversFinder>());
        made.push_back(std::make_unique<AppCachesFinder>());
        made.push_back(std::make_unique<InstallersFinder>());
        made.push_back(std::make_unique<UnusedAppsFinder>());
        made.push_back(std::make_unique<StaleMountsFinder>());
        made.push_back(std::make_unique<PersonalFinder>());
        return made;
    }();
    return list;
}

ScanContext Scanner::makeContext(const Mac& mac, const Catalog& catalog, const ScanOptions& options)
{
    ScanContext context { mac, catalog, mac.drives(), {}, nullptr, {}, {}, options, {}, nullptr };

    context.steam = SteamLibrary::load(mac);
    std::vector<std::string> extraRoots;
    std::vector<SteamGame> games;
    for (const auto& library : context.steam) {
        if (!library.mounted)
            continue;
        extraRoots.push_back(library.path + "/steamapps/common");
        for (const auto& [id, game] : library.games)
            games.push_back(game);
    }

    context.apps = AppIndex::discover(mac, context.drives, extraRoots);
    context.ownerResolver = std::make_shared<const OwnerResolver>(context.apps, catalog, games, mac,
                                                                  listedSteamAppIDs(context.steam));

    for (const auto& place : catalog.places)
        for (const auto& pattern : place.paths)
            for (auto& path : expand(pattern, mac))
                context.claimed.insert(std::move(path));

    context.running = mac.runningBundleIDs();
    context.sizes = std::make_shared<UsageCache>(context.mac);
    return context;
}

ScanReport Scanner::scan(const Mac& mac, const Catalog& catalog, const ScanOptions& options)
{
    std::vector<std::string> guarded;
    if (options.avoidPrivacyPrompts)
        guarded = PrivacyFence::guardedRoots(mac.home);
    // Ends the registration on every way out, exceptions included.
    PrivacyFence::Registration fence(PrivacyFence::shared(), guarded);

    ScanContext context = makeContext(mac, catalog, options);

    const PathGuard guard(catalog, mac, PathGuard::userRules(options.extraProtected, mac));

    ScanReport report;
    report.engine = engineName();
    report.scannedAt = options.now;
    report.drives = context.drives;
    report.trashBytes = mac.trashBytes();

    std::vector<std::string> taken; // composed
    for (const auto& finder : finders()) {
        FinderResult result = finder->find(context);
        report.skipped.insert(report.skipped.end(), result.skipped.begin(), result.skipped.end());
        report.notes.insert(report.notes.end(), result.notes.begin(), result.notes.end());

        for (auto& finding : result.findings) {
            if (std::optional<Skipped> refusal = refusalOf(finding, guard)) {
                report.skipped.push_back(std::move(*refusal));
                continue;
            }

            std::vector<std::string> paths;
            for (const auto& path : finding.paths)
                paths.push_back(composed(path));
            bool overlapping = std::any_of(paths.begin(), paths.end(), [&](const std::string& p) {
                return std::any_of(taken.begin(), taken.end(), [&](const std::string& t) { return overlaps(p, t); });
            });
            if (overlapping)
                continue;

            taken.insert(taken.end(), paths.begin(), paths.end());
            auto drive = context.drive(finding.paths.empty() ? std::string_view("/") : finding.paths.front());
            if (!drive)
                drive = context.startup();
            finding.drive = drive ? drive->path : std::string();
            report.findings.push_back(std::move(finding));
        }
    }

    std::stable_sort(report.findings.begin(), report.findings.end(), [](const Finding& a, const Finding& b) {
        if (order(a.tier) != order(b.tier))
            return order(a.tier) < order(b.tier);
        return a.bytes > b.bytes;
    });
    makeIDsUnique(report.findings);

    for (const auto& root : guarded) {
        if (PrivacyFence::shared().blocks(root))
            continue;
        if (isDirectory(root))
            report.skipped.push_back({ root, fencedWhy });
    }
    return report;
}

} // namespace Quandril
