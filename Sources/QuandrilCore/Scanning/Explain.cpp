#include "QuandrilCore/Scanning/Explain.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string_view>

#include <sys/stat.h>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Rules/Inventory.h"
#include "QuandrilCore/Rules/Steam.h"
#include "QuandrilCore/Scanning/PathGuard.h"
#include "QuandrilCore/Scanning/Report.h"

namespace Quandril {

namespace {

// Paths are compared in composed form, so a name typed with decomposed accents still meets its
// drive, place, owner folder and cloud folder. Every path lies inside "/".
using Platform::composed;
using Platform::inside;
using Platform::within;
// Every lexical test runs on the path its text names, so "~/Library/" and "~/Library//" are
// "~/Library" and a cloud folder inside is recognised however the path was typed.
using Platform::lexicallyNormal;

std::optional<std::string> resolved(const std::string& path)
{
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real)
        return std::nullopt;
    return std::string(real.get());
}

std::string join(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The machine's cloud folders, each known by its own path and by where that path really leads, so
// that neither a link nor ".." in a path can lead a measurement into one.
class CloudFolders {
public:
    struct Spot {
        const CloudFolder* folder;
        std::string path;                // composed
        std::optional<std::string> real; // composed; absent when unresolvable or fenced
    };

    explicit CloudFolders(const Mac& mac)
    {
        const auto& fence = PrivacyFence::shared();
        for (const auto& folder : mac.cloud) {
            Spot spot { &folder, composed(folder.path), std::nullopt };
            if (!fence.blocks(folder.path)) {
                if (auto real = resolved(folder.path))
                    spot.real = composed(*real);
            }
            spots_.push_back(std::move(spot));
        }
    }

    const std::vector<Spot>& spots() const { return spots_; }

    // The folder that holds a path as typed (`path`) or as resolved (`real`); both composed. The path
    // as typed is tried first against every folder, as the machine itself answers.
    const CloudFolder* holding(std::string_view path, const std::optional<std::string>& real) const
    {
        for (const auto& spot : spots_) {
            if (within(path, spot.path))
                return spot.folder;
        }
        for (const auto& spot : spots_) {
            bool held = (real && within(*real, spot.path))
                || (spot.real && (within(path, *spot.real) || (real && within(*real, *spot.real))));
            if (held)
                return spot.folder;
        }
        return nullptr;
    }

private:
    std::vector<Spot> spots_;
};

std::optional<std::string> driveName(const std::vector<DriveInfo>& drives, std::string_view path)
{
    const DriveInfo* best = nullptr;
    std::size_t bestLength = 0;
    for (const auto& drive : drives) {
        if (drive.path.empty())
            continue;
        const std::string drivePath = composed(lexicallyNormal(drive.path));
        // Longer wins; of two of equal length the earlier one keeps its place.
        if (within(path, drivePath) && (!best || drivePath.size() > bestLength)) {
            best = &drive;
            bestLength = drivePath.size();
        }
    }
    if (!best)
        return std::nullopt;
    return best->name;
}

std::optional<std::string> knownPlace(const Catalog& catalog, const Mac& mac, std::string_view path)
{
    for (const auto& place : catalog.places) {
        for (const auto& pattern : place.paths) {
            for (const auto& found : expand(pattern, mac)) {
                if (within(path, composed(found)))
                    return place.title + " [" + place.id + "]";
            }
        }
    }
    return std::nullopt;
}

struct OwnerRow {
    const char* prefix;
    OwnerResolver::Kind kind;
};

constexpr OwnerRow ownerRows[] = {
    { "~/Library/Containers/", OwnerResolver::Kind::container },
    { "~/Library/Group Containers/", OwnerResolver::Kind::groupContainer },
    { "~/Library/Application Support/", OwnerResolver::Kind::supportFolder },
    { "~/Library/Caches/", OwnerResolver::Kind::supportFolder },
};

// The same resolver a scan builds: apps found on the drives and in the mounted Steam libraries,
// the games of those libraries, and the app ids every library lists.
std::optional<std::string> ownerOf(std::string_view name, OwnerResolver::Kind kind, const Mac& mac,
                                   const Catalog& catalog, const std::vector<DriveInfo>& drives)
{
    std::vector<std::string> extraRoots;
    std::vector<SteamGame> games;
    const std::vector<SteamLibrary> libraries = SteamLibrary::load(mac);
    for (const auto& library : libraries) {
        if (!library.mounted)
            continue;
        extraRoots.push_back(library.path + "/steamapps/common");
        for (const auto& [id, game] : library.games)
            games.push_back(game);
    }
    const OwnerResolver resolver(AppIndex::discover(mac, drives, extraRoots), catalog, std::move(games), mac,
                                 listedSteamAppIDs(libraries));

    const OwnerResolver::Verdict verdict = resolver.resolve(name, kind);
    switch (verdict.kind) {
    case OwnerResolver::Verdict::Case::installed:
        return "installed: " + verdict.name.value_or(std::string(name));
    case OwnerResolver::Verdict::Case::uninstalled:
        return "uninstalled: " + (verdict.name ? *verdict.name : displayName(name));
    case OwnerResolver::Verdict::Case::system:
        return std::string("macOS");
    case OwnerResolver::Verdict::Case::unknown:
        break;
    }
    return std::string("unknown");
}

std::optional<std::string> owner(std::string_view path, const Mac& mac, const Catalog& catalog,
                                 const std::vector<DriveInfo>& drives)
{
    for (const auto& row : ownerRows) {
        const std::string prefix = composed(mac.path(row.prefix));
        if (!path.starts_with(prefix))
            continue;
        // The path has no empty names, so the owned name runs to the next "/".
        std::string_view rest = path.substr(prefix.size());
        std::string_view name = rest.substr(0, rest.find('/'));
        if (name.empty())
            return std::nullopt;
        return ownerOf(name, row.kind, mac, catalog, drives);
    }
    return std::nullopt;
}

// Each child of the folder with its size, biggest first, listing order kept among equals.
std::vector<Explanation::Child> biggestChildren(const std::string& real, const std::string& spelled,
                                                const CloudFolders& clouds, const Mac& mac)
{
    std::vector<std::string> names;
    std::vector<std::string> paths;
    for (auto& name : listNames(real)) {
        std::string child = join(real, name);
        if (clouds.holding(composed(join(spelled, name)), composed(child)))
            continue;
        paths.push_back(std::move(child));
        names.push_back(std::move(name));
    }

    const auto sizes = mac.usageOf(paths);
    std::vector<Explanation::Child> children;
    children.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto found = sizes.find(paths[i]);
        children.push_back({ std::move(names[i]), found == sizes.end() ? 0 : found->second.bytes });
    }
    std::stable_sort(children.begin(), children.end(),
                     [](const Explanation::Child& a, const Explanation::Child& b) { return a.bytes > b.bytes; });
    if (children.size() > Explainer::biggestCount)
        children.resize(Explainer::biggestCount);
    return children;
}

} // namespace

Json::Value toJson(const Explanation::Child& child)
{
    Json::Value object = Json::Value::object();
    object["name"] = child.name;
    object["bytes"] = child.bytes;
    return object;
}

Json::Value toJson(const Explanation& explanation)
{
    Json::Value object = Json::Value::object();
    object["path"] = explanation.path;
    object["bytes"] = explanation.bytes;
    object["unreadable"] = explanation.unreadable;
    Json::putOptional(object, "drive", explanation.drive);
    Json::putOptional(object, "neverTouch", explanation.neverTouch);
    object["holdsNeverTouch"] = explanation.holdsNeverTouch;
    Json::putOptional(object, "knownAs", explanation.knownAs);
    Json::putOptional(object, "owner", explanation.owner);
    object["throughLink"] = explanation.throughLink;
    object["biggest"] = Json::arrayOf(explanation.biggest);
    object["notLookedInto"] = explanation.notLookedInto;
    return object;
}

void decode(const Json::Value& value, Explanation::Child& out)
{
    Json::expectObject(value);
    Explanation::Child child;
    child.name = Json::required<std::string>(value, "name");
    child.bytes = Json::required<std::int64_t>(value, "bytes");
    out = std::move(child);
}

void decode(const Json::Value& value, Explanation& out)
{
    Json::expectObject(value);
    Explanation explanation;
    explanation.path = Json::required<std::string>(value, "path");
    explanation.bytes = Json::required<std::int64_t>(value, "bytes");
    explanation.unreadable = Json::required<std::int64_t>(value, "unreadable");
    explanation.drive = Json::optional<std::string>(value, "drive");
    explanation.neverTouch = Json::optional<std::string>(value, "neverTouch");
    explanation.holdsNeverTouch = Json::required<std::vector<std::string>>(value, "holdsNeverTouch");
    explanation.knownAs = Json::optional<std::string>(value, "knownAs");
    explanation.owner = Json::optional<std::string>(value, "owner");
    explanation.throughLink = Json::required<bool>(value, "throughLink");
    explanation.biggest = Json::required<std::vector<Explanation::Child>>(value, "biggest");
    explanation.notLookedInto = Json::required<std::vector<std::string>>(value, "notLookedInto");
    out = std::move(explanation);
}

Explanation Explainer::explain(const std::string& path, const Mac& mac, const Catalog& catalog)
{
    Explanation result;
    result.path = path;

    // Only an absolute path names something on the machine, and a NUL would cut it short where the
    // system reads it. Either is answered as a path that does not exist.
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) {
        result.unreadable = 1;
        return result;
    }

    const auto& fence = PrivacyFence::shared();
    const std::string spelled = lexicallyNormal(path);
    const std::string key = composed(spelled);

    // Resolving walks every folder on the way; a fenced one stays shut, and the path then counts
    // as reached directly.
    std::optional<std::string> real;
    bool finalLink = false;
    if (!fence.blocks(spelled)) {
        real = resolved(path);
        struct stat item {};
        finalLink = ::lstat(path.c_str(), &item) == 0 && S_ISLNK(item.st_mode);
    }
    const std::optional<std::string> realKey = real ? std::optional<std::string>(composed(*real)) : std::nullopt;

    const std::vector<DriveInfo> drives = mac.drives();
    result.drive = driveName(drives, key);
    result.throughLink = realKey && *realKey != key;

    // The user's own protected paths take no part here.
    const PathGuard guard(catalog, mac);
    const CloudFolders clouds(mac);

    if (const CloudFolder* cloud = clouds.holding(key, realKey)) {
        result.neverTouch = cloud->name;
        result.notLookedInto = { mac.display(spelled) };
        return result;
    }

    // A walk does not follow a link it starts at, so a link is measured as itself; anything else
    // is measured where it really is, which is where the cloud folders to pass over are spelled.
    const Usage usage = mac.usage(real && !finalLink ? *real : spelled);
    result.bytes = usage.bytes;
    result.unreadable = usage.unreadable;

    result.knownAs = knownPlace(catalog, mac, key);
    result.owner = owner(key, mac, catalog, drives);

    if (real && isDirectory(*real))
        result.biggest = biggestChildren(*real, spelled, clouds, mac);

    result.neverTouch = guard.protection(spelled, false);
    result.holdsNeverTouch = guard.protectedInside(spelled);

    for (const auto& spot : clouds.spots()) {
        bool below = inside(spot.path, key)
            || (realKey && (inside(spot.path, *realKey) || (spot.real && inside(*spot.real, *realKey))));
        const std::string& folder = spot.folder->path;
        if (below && !fence.blocks(folder) && exists(folder))
            result.notLookedInto.push_back(mac.display(folder));
    }
    return result;
}

} // namespace Quandril
