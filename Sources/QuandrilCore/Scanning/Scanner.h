#pragma once

// The scan: gathers what every finder shares into one context, runs the ten finders in a fixed
// order, settles each finding (never-touch, reached through a link, overlap, drive) and sorts them.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "QuandrilCore/Machine/DiskUsage.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Rules/Catalog.h"
#include "QuandrilCore/Rules/Inventory.h"
#include "QuandrilCore/Rules/Steam.h"
#include "QuandrilCore/Values/Json.h"
#include "QuandrilCore/Values/Model.h"

namespace Quandril {

// A never-touch path the user added, in display form.
struct ProtectedPath {
    std::string path;
    std::string why;

    friend bool operator==(const ProtectedPath&, const ProtectedPath&) = default;
};

Json::Value toJson(const ProtectedPath& value);
void decode(const Json::Value& value, ProtectedPath& out);

// How one scan runs. Built with designated initializers that name only what differs from the
// defaults; every field has an initializer, so leaving one out is never a slip.
struct ScanOptions {
    std::optional<std::int64_t> minimumBytes {};
    TimePoint now {};
    std::vector<ProtectedPath> extraProtected {};
    bool avoidPrivacyPrompts = false;
};

// Sizes measured during one scan. A scan is one moment, so a path two finders ask about is
// measured once. Safe from any thread.
class UsageCache {
public:
    explicit UsageCache(const Mac& mac);

    Usage usage(const std::string& path) const;
    // Measures the paths not yet known in parallel.
    std::map<std::string, Usage> usageOf(const std::vector<std::string>& paths) const;

private:
    const Mac& mac_;
    mutable std::mutex lock_;
    mutable std::map<std::string, Usage> known_;
};

struct ScanContext {
    Mac mac;
    Catalog catalog;
    std::vector<DriveInfo> drives;
    AppIndex apps;
    std::shared_ptr<const OwnerResolver> ownerResolver;
    std::vector<SteamLibrary> steam;
    std::set<std::string> running;
    ScanOptions options;
    std::set<std::string> claimed;
    std::shared_ptr<UsageCache> sizes;

    const OwnerResolver& owners() const { return *ownerResolver; }

    // The display name of the first of these apps that is running.
    std::optional<std::string> openApp(const std::vector<std::string>& bundleIDs) const;
    // The path is a claimed path, lies inside one, or holds one.
    bool isClaimed(std::string_view path) const;
    // The drive that holds the path: the longest drive path that equals or contains it.
    std::optional<DriveInfo> drive(std::string_view path) const;
    // The first startup drive, else the first drive; absent on a machine with no drives.
    std::optional<DriveInfo> startup() const;

    // Sizes through the scan's shared cache.
    Usage usage(const std::string& path) const { return sizes->usage(path); }
    std::map<std::string, Usage> usageOf(const std::vector<std::string>& paths) const { return sizes->usageOf(paths); }

    // The catalog threshold, or the scan's minimum size when one was given.
    std::int64_t threshold(std::int64_t catalogBytes) const { return options.minimumBytes.value_or(catalogBytes); }
};

struct FinderResult {
    std::vector<Finding> findings;
    std::vector<Skipped> skipped;
    std::vector<std::string> notes;
};

class SpaceFinder {
public:
    virtual ~SpaceFinder() = default;
    virtual FinderResult find(const ScanContext& context) const = 0;
};

namespace Scanner {

// The ten finders in the order their findings are settled.
const std::vector<std::unique_ptr<SpaceFinder>>& finders();

// Never throws. May run on any thread, several at once.
ScanReport scan(const Mac& mac, const Catalog& catalog, const ScanOptions& options);

// Builds the context a scan's finders share (fence not included). For explaining a path and tests.
ScanContext makeContext(const Mac& mac, const Catalog& catalog, const ScanOptions& options);

} // namespace Scanner

} // namespace Quandril
