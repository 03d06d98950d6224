#include "QuandrilCore/Rules/Steam.h"

#include <optional>
#include <string_view>
#include <utility>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Rules/VDF.h"

namespace Quandril {

namespace {

constexpr std::string_view steamFolder = "~/Library/Application Support/Steam";
constexpr std::string_view manifestPrefix = "appmanifest_";
constexpr std::string_view manifestSuffix = ".acf";

// "." and ".." resolved, empty segments and a trailing slash dropped; links are not resolved.
std::string standardized(std::string_view path)
{
    std::vector<std::string_view> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        std::string_view segment = path.substr(start, end - start);
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    if (segments.empty())
        return "/";
    std::string out;
    for (std::string_view segment : segments) {
        out += '/';
        out += segment;
    }
    return out;
}

// A library path must name a place on the machine: a relative one would be read against
// whatever folder the process happens to run in.
bool namesAPlace(std::string_view path)
{
    return path == "~" || path.starts_with("~/") || path.starts_with("/");
}

bool isManifestName(std::string_view name)
{
    return name.size() >= manifestPrefix.size() + manifestSuffix.size() && name.starts_with(manifestPrefix)
        && name.ends_with(manifestSuffix);
}

std::optional<SteamGame> readManifest(const std::string& file)
{
    std::optional<VDF> manifest = VDF::parse(file);
    if (!manifest)
        return std::nullopt;
    const VDF* state = manifest->find("appstate");
    if (!state || !state->isBlock())
        return std::nullopt;
    const std::string* appID = state->textAt("appid");
    if (!appID)
        return std::nullopt;
    SteamGame game;
    game.appID = *appID;
    const std::string* name = state->textAt("name");
    game.name = name ? *name : "Steam app " + *appID;
    if (const std::string* installDir = state->textAt("installdir"))
        game.installDir = *installDir;
    return game;
}

struct Candidate {
    std::string path;
    std::set<std::string> appIDs;
};

// The library entries of Steam's library list, in ascending key order.
void appendListed(const std::string& listFile, const Mac& mac, std::vector<Candidate>& candidates)
{
    std::optional<VDF> list = VDF::parse(listFile);
    if (!list)
        return;
    const VDF* folders = list->find("libraryfolders");
    const VDF::Block* entries = folders ? folders->block() : list->block();
    if (!entries)
        return;
    for (const auto& [key, entry] : *entries) {
        const std::string* path = entry.textAt("path");
        if (!path || !namesAPlace(*path))
            continue;
        Candidate candidate { mac.path(*path), {} };
        if (const VDF::Block* apps = entry.blockAt("apps"))
            for (const auto& app : *apps)
                candidate.appIDs.insert(app.first);
        candidates.push_back(std::move(candidate));
    }
}

} // namespace

std::vector<SteamLibrary> SteamLibrary::load(const Mac& mac)
{
    const std::string steam = mac.path(steamFolder);
    if (!isDirectory(steam + "/steamapps"))
        return {};

    std::vector<Candidate> candidates { Candidate { steam, {} } };
    appendListed(steam + "/steamapps/libraryfolders.vdf", mac, candidates);

    std::vector<SteamLibrary> libraries;
    std::map<std::string, std::size_t> indexByPath;
    for (Candidate& candidate : candidates) {
        std::string path = standardized(candidate.path);
        auto [it, fresh] = indexByPath.try_emplace(path, libraries.size());
        if (fresh) {
            SteamLibrary library;
            library.path = std::move(path);
            libraries.push_back(std::move(library));
        }
        libraries[it->second].listedAppIDs.merge(candidate.appIDs);
    }

    for (SteamLibrary& library : libraries) {
        const std::string steamapps = library.path + "/steamapps";
        library.mounted = isDirectory(steamapps);
        if (!library.mounted)
            continue;
        for (const std::string& child : children(steamapps)) {
            if (!isManifestName(Platform::lastComponent(child)))
                continue;
            if (std::optional<SteamGame> game = readManifest(child))
                library.games.insert_or_assign(game->appID, std::move(*game));
        }
    }
    return libraries;
}

std::set<std::string> listedSteamAppIDs(const std::vector<SteamLibrary>& libraries)
{
    std::set<std::string> ids;
    for (const SteamLibrary& library : libraries) {
        ids.insert(library.listedAppIDs.begin(), library.listedAppIDs.end());
        for (const auto& [id, game] : library.games)
            ids.insert(id);
    }
    return ids;
}

std::optional<std::string> steamRecordPlace(const std::string& path, const std::string& movedTo)
{
    if (!path.ends_with(manifestSuffix))
        return std::nullopt;
    return Platform::parentOf(Platform::parentOf(movedTo)) + "/" + Platform::lastComponent(path);
}

} // namespace Quandril
