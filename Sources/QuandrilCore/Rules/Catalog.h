#pragma once

// The rules catalog: never-touch paths, known places, folder owners, system names, personal-file
// markers, app-managed libraries and the finders' thresholds, loaded from engine/rules/catalog.json.
// Also the path patterns that the catalog's places are written in.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "QuandrilCore/Values/Json.h"
#include "QuandrilCore/Values/Model.h"

namespace Quandril {

struct Mac;

struct Catalog {
    // A never-touch path (display form) or, in `protectedSuffixes`, a name ending.
    struct Protected {
        std::string path;
        std::string why;

        friend bool operator==(const Protected&, const Protected&) = default;
    };

    struct Place {
        std::string id;
        std::string title;
        std::vector<std::string> paths; // path patterns
        Tier tier = Tier::rebuilds;
        std::optional<std::string> owner;
        std::optional<std::vector<std::string>> ownerBundleIDs;
        std::optional<std::string> tool;
        std::optional<std::string> app; // bundle identifier
        Action action;
        std::optional<Action> actionIfToolMissing;
        std::string reason;
        std::optional<std::string> reasonIfUninstalled;
        std::optional<bool> onlyIfUninstalled;
        std::string getBack;
        std::optional<std::string> marker; // name pattern
        std::optional<std::int64_t> minBytes;
        std::optional<std::string> caution;

        friend bool operator==(const Place&, const Place&) = default;
    };

    struct Owner {
        std::vector<std::string> names;
        std::string app; // display name
        std::optional<std::vector<std::string>> bundleIDs;
        std::optional<std::string> bundlePrefix;
        std::optional<std::string> steamAppID;

        friend bool operator==(const Owner&, const Owner&) = default;
    };

    struct AppLibrary {
        std::string match; // a display path ("~…" or "/…"), else a name ending
        std::string app;
        std::string how;

        friend bool operator==(const AppLibrary&, const AppLibrary&) = default;
    };

    struct Markers {
        std::vector<std::string> folders;
        std::vector<std::string> extensions; // without the dot

        friend bool operator==(const Markers&, const Markers&) = default;
    };

    // Byte thresholds are minimum sizes (equal passes); day thresholds count whole days back.
    struct Thresholds {
        std::int64_t leftover = 0;
        std::int64_t unknownLeftover = 0;
        std::int64_t appCaches = 0;
        std::int64_t appCacheEach = 0;
        std::int64_t splitInstall = 0;
        std::int64_t workshop = 0;
        std::int64_t installerBytes = 0;
        std::int64_t installerDays = 0;
        std::int64_t unusedAppBytes = 0;
        std::int64_t unusedAppDays = 0;
        std::int64_t personalFolder = 0;
        std::int64_t staleMount = 0;
        std::int64_t place = 0;

        friend bool operator==(const Thresholds&, const Thresholds&) = default;
    };

    std::int64_t version = 0;
    std::vector<Protected> protected_; // JSON "protected"
    std::vector<Protected> protectedSuffixes;
    std::vector<Place> places;
    std::vector<Owner> owners;
    std::vector<std::string> pluginVendors;
    std::vector<std::string> systemNames;
    std::vector<std::string> systemPrefixes;
    Markers personalMarkers;
    std::vector<AppLibrary> appLibraries;
    Thresholds thresholds;

    friend bool operator==(const Catalog&, const Catalog&) = default;

    // Loads the catalog at `from`, or at defaultPath() when no path is given.
    // Throws CatalogError (no path given, none found), std::system_error naming the file (it
    // cannot be read, or is a folder) or Json::DecodeError naming the failing key path.
    static Catalog load(const std::optional<std::string>& from = std::nullopt);

    // The first usable catalog file: $QUANDRIL_CATALOG, then ../rules/catalog.json and
    // ../Resources/engine/rules/catalog.json beside the real executable, then the source tree's.
    static std::optional<std::string> defaultPath();
};

class CatalogError : public std::runtime_error {
public:
    enum class Case { notFound };

    static CatalogError notFound();

    Case kind() const noexcept { return case_; }
    friend bool operator==(const CatalogError& a, const CatalogError& b) { return a.case_ == b.case_; }

private:
    CatalogError(Case c, const std::string& message);
    Case case_;
};

// Path patterns: "~", "~/…" or a path from the machine's root; components holding "*" are name
// patterns (fnmatch), all others literal names.

// The existing, unfenced real paths a pattern names on the machine, in a stable order.
std::vector<std::string> expand(std::string_view pattern, const Mac& mac);
// Whether the folder holds an entry matching the name pattern, directly or one folder down.
bool contains(const std::string& folder, std::string_view glob);

// Removes "." components, lets each ".." remove the component before it, drops doubled slashes.
std::string normalizedPath(std::string_view path);

Json::Value toJson(const Catalog::Protected& value);
Json::Value toJson(const Catalog::Place& value);
Json::Value toJson(const Catalog::Owner& value);
Json::Value toJson(const Catalog::AppLibrary& value);
Json::Value toJson(const Catalog::Markers& value);
Json::Value toJson(const Catalog::Thresholds& value);
Json::Value toJson(const Catalog& value);

void decode(const Json::Value& value, Catalog::Protected& out);
void decode(const Json::Value& value, Catalog::Place& out);
void decode(const Json::Value& value, Catalog::Owner& out);
void decode(const Json::Value& value, Catalog::AppLibrary& out);
void decode(const Json::Value& value, Catalog::Markers& out);
void decode(const Json::Value& value, Catalog::Thresholds& out);
void decode(const Json::Value& value, Catalog& out);

} // namespace Quandril
