#include "QuandrilCore/Rules/Catalog.h"

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Platform/ExecutablePath.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/PathText.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace Quandril {

namespace {

constexpr const char* notFoundMessage = "Couldn't find the rules (engine/rules/catalog.json). Pass --catalog <path>.";

[[noreturn]] void failReading(int error, const std::string& path)
{
    throw std::system_error(error, std::generic_category(), "Couldn't read the rules at " + path);
}

// The shipped rules are well under a megabyte; anything near this is not a catalog.
constexpr std::size_t maxCatalogBytes = 32 * 1024 * 1024;

// The whole file, or the file layer's error naming the path. A folder, a named pipe or a device
// where the file should be is refused rather than read (or waited on).
std::string readWhole(const std::string& path)
{
    int error = 0;
    auto content = Platform::readFile(path, &error, { .maxBytes = maxCatalogBytes });
    if (!content)
        failReading(error, path);
    return std::move(*content);
}

} // namespace

CatalogError::CatalogError(Case c, const std::string& message)
    : std::runtime_error(message)
    , case_(c)
{
}

CatalogError CatalogError::notFound()
{
    return CatalogError(Case::notFound, notFoundMessage);
}

std::string normalizedPath(std::string_view path)
{
    bool absolute = !path.empty() && path.front() == '/';
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        auto part = path.substr(start, end - start);
        if (part.empty() || part == ".") {
            // Doubled slashes and "." say nothing.
        } else if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (!absolute)
                parts.push_back(part); // a relative path keeps what it cannot cancel
        } else {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out = absolute ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out += '/';
        out += parts[i];
    }
    if (out.empty())
        out = ".";
    return out;
}

std::optional<std::string> Catalog::defaultPath()
{
    std::vector<std::string> candidates;
    if (const char* variable = std::getenv("QUANDRIL_CATALOG"))
        candidates.emplace_back(variable);
    if (auto executable = Platform::executablePath()) {
        std::string folder = Platform::parentOf(*executable);
        candidates.push_back(normalizedPath(folder + "/../rules/catalog.json"));
        candidates.push_back(normalizedPath(folder + "/../Resources/engine/rules/catalog.json"));
    }
#ifdef QUANDRIL_CATALOG_SOURCE_DIR
    candidates.push_back(normalizedPath(std::string(QUANDRIL_CATALOG_SOURCE_DIR) + "/../../engine/rules/catalog.json"));
#endif
    for (const auto& candidate : candidates) {
        // exists() answers false inside a fenced folder, so a running scan's fence is respected.
        if (exists(candidate))
            return candidate;
    }
    return std::nullopt;
}

Catalog Catalog::load(const std::optional<std::string>& from)
{
    std::string path;
    if (from) {
        path = *from;
    } else if (auto found = defaultPath()) {
        path = *found;
    } else {
        throw CatalogError::notFound();
    }
    return Json::decodeAs<Catalog>(Json::parse(readWhole(path)));
}

// JSON forms -----------------------------------------------------------------------------------

Json::Value toJson(const Catalog::Protected& value)
{
    Json::Value out = Json::Value::object();
    out["path"] = value.path;
    out["why"] = value.why;
    return out;
}

Json::Value toJson(const Catalog::Place& value)
{
    Json::Value out = Json::Value::object();
    out["id"] = value.id;
    out["title"] = value.title;
    out["paths"] = value.paths;
    out["tier"] = toJson(value.tier);
    Json::putOptional(out, "owner", value.owner);
    Json::putOptional(out, "ownerBundleIDs", value.ownerBundleIDs);
    Json::putOptional(out, "tool", value.tool);
    Json::putOptional(out, "app", value.app);
    out["action"] = toJson(value.action);
    if (value.actionIfToolMissing)
        out["actionIfToolMissing"] = toJson(*value.actionIfToolMissing);
    out["reason"] = value.reason;
    Json::putOptional(out, "reasonIfUninstalled", value.reasonIfUninstalled);
    Json::putOptional(out, "onlyIfUninstalled", value.onlyIfUninstalled);
    out["getBack"] = value.getBack;
    Json::putOptional(out, "marker", value.marker);
    Json::putOptional(out, "minBytes", value.minBytes);
    Json::putOptional(out, "caution", value.caution);
    return out;
}

Json::Value toJson(const Catalog::Owner& value)
{
    Json::Value out = Json::Value::object();
    out["names"] = value.names;
    out["app"] = value.app;
    Json::putOptional(out, "bundleIDs", value.bundleIDs);
    Json::putOptional(out, "bundlePrefix", value.bundlePrefix);
    Json::putOptional(out, "steamAppID", value.steamAppID);
    return out;
}

Json::Value toJson(const Catalog::AppLibrary& value)
{
    Json::Value out = Json::Value::object();
    out["match"] = value.match;
    out["app"] = value.app;
    out["how"] = value.how;
    return out;
}

Json::Value toJson(const Catalog::Markers& value)
{
    Json::Value out = Json::Value::object();
    out["folders"] = value.folders;
    out["extensions"] = value.extensions;
    return out;
}

Json::Value toJson(const Catalog::Thresholds& value)
{
    Json::Value out = Json::Value::object();
    out["leftover"] = value.leftover;
    out["unknownLeftover"] = value.unknownLeftover;
    out["appCaches"] = value.appCaches;
    out["appCacheEach"] = value.appCacheEach;
    out["splitInstall"] = value.splitInstall;
    out["workshop"] = value.workshop;
    out["installerBytes"] = value.installerBytes;
    out["installerDays"] = value.installerDays;
    out["unusedAppBytes"] = value.unusedAppBytes;
    out["unusedAppDays"] = value.unusedAppDays;
    out["personalFolder"] = value.personalFolder;
    out["staleMount"] = value.staleMount;
    out["place"] = value.place;
    return out;
}

Json::Value toJson(const Catalog& value)
{
    Json::Value out = Json::Value::object();
    out["version"] = value.version;
    out["protected"] = Json::arrayOf(value.protected_);
    out["protectedSuffixes"] = Json::arrayOf(value.protectedSuffixes);
    out["places"] = Json::arrayOf(value.places);
    out["owners"] = Json::arrayOf(value.owners);
    out["pluginVendors"] = value.pluginVendors;
    out["systemNames"] = value.systemNames;
    out["systemPrefixes"] = value.systemPrefixes;
    out["personalMarkers"] = toJson(value.personalMarkers);
    out["appLibraries"] = Json::arrayOf(value.appLibraries);
    out["thresholds"] = toJson(value.thresholds);
    return out;
}

void decode(const Json::Value& value, Catalog::Protected& out)
{
    Json::expectObject(value);
    out.path = Json::required<std::string>(value, "path");
    out.why = Json::required<std::string>(value, "why");
}

void decode(const Json::Value& value, Catalog::Place& out)
{
    Json::expectObject(value);
    out.id = Json::required<std::string>(value, "id");
    out.title = Json::required<std::string>(value, "title");
    out.paths = Json::required<std::vector<std::string>>(value, "paths");
    out.tier = Json::required<Tier>(value, "tier");
    out.owner = Json::optional<std::string>(value, "owner");
    out.ownerBundleIDs = Json::optional<std::vector<std::string>>(value, "ownerBundleIDs");
    out.tool = Json::optional<std::string>(value, "tool");
    out.app = Json::optional<std::string>(value, "app");
    out.action = Json::required<Action>(value, "action");
    out.actionIfToolMissing = Json::optional<Action>(value, "actionIfToolMissing");
    out.reason = Json::required<std::string>(value, "reason");
    out.reasonIfUninstalled = Json::optional<std::string>(value, "reasonIfUninstalled");
    out.onlyIfUninstalled = Json::optional<bool>(value, "onlyIfUninstalled");
    out.getBack = Json::required<std::string>(value, "getBack");
    out.marker = Json::optional<std::string>(value, "marker");
    out.minBytes = Json::optional<std::int64_t>(value, "minBytes");
    out.caution = Json::optional<std::string>(value, "caution");
}

void decode(const Json::Value& value, Catalog::Owner& out)
{
    Json::expectObject(value);
    out.names = Json::required<std::vector<std::string>>(value, "names");
    out.app = Json::required<std::string>(value, "app");
    out.bundleIDs = Json::optional<std::vector<std::string>>(value, "bundleIDs");
    out.bundlePrefix = Json::optional<std::string>(value, "bundlePrefix");
    out.steamAppID = Json::optional<std::string>(value, "steamAppID");
}

void decode(const Json::Value& value, Catalog::AppLibrary& out)
{
    Json::expectObject(value);
    out.match = Json::required<std::string>(value, "match");
    out.app = Json::required<std::string>(value, "app");
    out.how = Json::required<std::string>(value, "how");
}

void decode(const Json::Value& value, Catalog::Markers& out)
{
    Json::expectObject(value);
    out.folders = Json::required<std::vector<std::string>>(value, "folders");
    out.extensions = Json::required<std::vector<std::string>>(value, "extensions");
}

void decode(const Json::Value& value, Catalog::Thresholds& out)
{
    Json::expectObject(value);
    out.leftover = Json::required<std::int64_t>(value, "leftover");
    out.unknownLeftover = Json::required<std::int64_t>(value, "unknownLeftover");
    out.appCaches = Json::required<std::int64_t>(value, "appCaches");
    out.appCacheEach = Json::required<std::int64_t>(value, "appCacheEach");
    out.splitInstall = Json::required<std::int64_t>(value, "splitInstall");
    out.workshop = Json::required<std::int64_t>(value, "workshop");
    out.installerBytes = Json::required<std::int64_t>(value, "installerBytes");
    out.installerDays = Json::required<std::int64_t>(value, "installerDays");
    out.unusedAppBytes = Json::required<std::int64_t>(value, "unusedAppBytes");
    out.unusedAppDays = Json::required<std::int64_t>(value, "unusedAppDays");
    out.personalFolder = Json::required<std::int64_t>(value, "personalFolder");
    out.staleMount = Json::required<std::int64_t>(value, "staleMount");
    out.place = Json::required<std::int64_t>(value, "place");
}

void decode(const Json::Value& value, Catalog& out)
{
    Json::expectObject(value);
    out.version = Json::required<std::int64_t>(value, "version");
    out.protected_ = Json::required<std::vector<Catalog::Protected>>(value, "protected");
    out.protectedSuffixes = Json::required<std::vector<Catalog::Protected>>(value, "protectedSuffixes");
    out.places = Json::required<std::vector<Catalog::Place>>(value, "places");
    out.owners = Json::required<std::vector<Catalog::Owner>>(value, "owners");
    out.pluginVendors = Json::required<std::vector<std::string>>(value, "pluginVendors");
    out.systemNames = Json::required<std::vector<std::string>>(value, "systemNames");
    out.systemPrefixes = Json::required<std::vector<std::string>>(value, "systemPrefixes");
    out.personalMarkers = Json::required<Catalog::Markers>(value, "personalMarkers");
    out.appLibraries = Json::required<std::vector<Catalog::AppLibrary>>(value, "appLibraries");
    out.thresholds = Json::required<Catalog::Thresholds>(value, "thresholds");
}

} // namespace Quandril
