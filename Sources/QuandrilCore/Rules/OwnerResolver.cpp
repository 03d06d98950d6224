#include <algorithm>
#include <utility>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/ParallelMap.h"
#include "QuandrilCore/Platform/Plist.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/Rules/Inventory.h"
#include "QuandrilCore/Rules/InventoryText.h"

namespace Quandril {

using InventoryText::beginsWith;
using InventoryText::dotParts;
using InventoryText::lowerNFC;

namespace {

// Where the workspace would find the app with a bundle identifier. This system keeps no
// registry of applications by identifier, so nothing is ever found here.
std::optional<std::string> workspaceApplicationPath(std::string_view /*bundleID*/)
{
    return std::nullopt;
}

// The workspace vouches for an app it knows at a readable place that is not in a Trash.
bool workspaceVouches(std::string_view bundleID)
{
    const std::optional<std::string> path = workspaceApplicationPath(bundleID);
    if (!path)
        return false;
    return !PrivacyFence::shared().blocks(*path) && exists(*path) && path->find("/.Trash/") == std::string::npos;
}

// The signing team of a bundle. A fake machine names it in the Info.plist; the live machine here
// has no code-signing service, so its apps have none.
std::optional<std::string> teamIdentifier(const Mac& mac, const std::string& bundle)
{
    if (!mac.isFake())
        return std::nullopt;
    const std::string infoPlist = bundle + "/Contents/Info.plist";
    if (PrivacyFence::shared().blocks(infoPlist))
        return std::nullopt;
    const auto strings = Platform::readPlistStrings(infoPlist, { "QuandrilTeamID" });
    if (!strings)
        return std::nullopt;
    const auto found = strings->find("QuandrilTeamID");
    if (found == strings->end())
        return std::nullopt;
    return found->second;
}

bool isTeamCharacter(UChar32 c)
{
    return u_hasBinaryProperty(c, UCHAR_UPPERCASE) || u_getNumericValue(c) != U_NO_NUMERIC_VALUE;
}

// Whether the text begins with "group." in any letter case. Those letters have no non-ASCII
// spelling that lower-cases to them, so comparing the ASCII bytes is exact.
bool beginsWithGroup(std::string_view text)
{
    static constexpr std::string_view group = "group.";
    if (text.size() < group.size())
        return false;
    for (std::size_t i = 0; i < group.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != group[i])
            return false;
    }
    return true;
}

} // namespace

const std::set<std::string>& genericBundleWords()
{
    static const std::set<std::string> words { "steam",    "app",    "mac",  "macos", "osx",    "client", "desktop",
                                               "launcher", "helper", "main", "game",  "player", "full",   "release" };
    return words;
}

std::string displayName(std::string_view bundleID)
{
    const std::vector<std::string> parts = dotParts(bundleID);
    if (parts.empty())
        return std::string(bundleID);
    const std::string* part = &parts.back();
    if (parts.size() >= 3 && genericBundleWords().contains(normalized(*part)))
        part = &parts[parts.size() - 2];
    return Platform::capitalizedFirst(*part);
}

bool looksLikeBundleID(std::string_view text)
{
    std::size_t count = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part = text.substr(start,
                                                  dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (part.empty() || part.find(' ') != std::string_view::npos)
            return false;
        ++count;
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    return count >= 3;
}

std::optional<std::pair<std::string, std::string>> splitTeamPrefix(std::string_view text)
{
    const std::size_t dot = text.find('.');
    // Without a rest there is no identifier to judge, and an empty one would match every app.
    if (dot == std::string_view::npos || dot + 1 >= text.size())
        return std::nullopt;
    const std::string_view team = text.substr(0, dot);

    // Counted in user-perceived characters: a mark or joiner continues the character before it.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(team.data());
    const auto length = static_cast<std::int32_t>(team.size());
    std::int32_t at = 0;
    std::size_t characters = 0;
    while (at < length) {
        UChar32 c = 0;
        U8_NEXT(bytes, at, length, c);
        if (c < 0)
            return std::nullopt;
        const auto kind = u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK);
        if (characters > 0 && (kind == U_GCB_EXTEND || kind == U_GCB_SPACING_MARK || kind == U_GCB_ZWJ))
            continue;
        if (!isTeamCharacter(c) || ++characters > 10)
            return std::nullopt;
    }
    if (characters != 10)
        return std::nullopt;
    return std::pair { std::string(team), std::string(text.substr(dot + 1)) };
}

OwnerResolver::OwnerResolver(AppIndex apps_, Catalog catalog_, std::vector<SteamGame> steamGames_, Mac mac_,
                             std::set<std::string> steamAppIDs_)
    : apps(std::move(apps_))
    , catalog(std::move(catalog_))
    , steamGames(std::move(steamGames_))
    , mac(std::move(mac_))
    , steamAppIDs(std::move(steamAppIDs_))
{
    for (const std::string& name : catalog.systemNames)
        systemNames_.push_back(lowerNFC(name));
    for (const std::string& prefix : catalog.systemPrefixes)
        systemPrefixes_.push_back(lowerNFC(prefix));
    for (const Catalog::Owner& owner : catalog.owners) {
        std::vector<std::string> keys;
        for (const std::string& name : owner.names)
            keys.push_back(normalized(name));
        ownerNameKeys_.push_back(std::move(keys));
        std::vector<std::string> ids;
        if (owner.bundleIDs)
            for (const std::string& id : *owner.bundleIDs)
                ids.push_back(lowerNFC(id));
        ownerIDs_.push_back(std::move(ids));
    }
}

bool OwnerResolver::isSystem(std::string_view name) const
{
    const std::string lower = lowerNFC(name);
    if (std::find(systemNames_.begin(), systemNames_.end(), lower) != systemNames_.end())
        return true;
    return std::any_of(systemPrefixes_.begin(), systemPrefixes_.end(),
                       [&](const std::string& prefix) { return beginsWith(lower, prefix); });
}

OwnerResolver::Verdict OwnerResolver::resolve(std::string_view name, Kind kind) const
{
    if (isSystem(name))
        return Verdict::system();

    // A name of only symbols or emoji has an empty key, which says nothing about any owner.
    const std::string key = normalized(name);
    if (!key.empty()) {
        for (std::size_t i = 0; i < catalog.owners.size(); ++i) {
            const auto& keys = ownerNameKeys_[i];
            if (std::find(keys.begin(), keys.end(), key) != keys.end())
                return ownerVerdict(catalog.owners[i]);
        }
    }

    const std::string lower = lowerNFC(name);
    for (std::size_t i = 0; i < catalog.owners.size(); ++i) {
        for (const std::string& id : ownerIDs_[i]) {
            if (id.empty())
                continue;
            if (lower == id || beginsWith(lower, id + "."))
                return ownerVerdict(catalog.owners[i]);
        }
    }

    switch (kind) {
    case Kind::container:
        return bundleVerdict(name);
    case Kind::groupContainer:
        return groupContainerVerdict(name);
    case Kind::supportFolder:
        return supportFolderVerdict(name);
    }
    return Verdict::unknown();
}

OwnerResolver::Verdict OwnerResolver::groupContainerVerdict(std::string_view name) const
{
    const std::string_view id = beginsWithGroup(name) ? name.substr(6) : name;
    if (isSystem(id))
        return Verdict::system();

    if (auto team = splitTeamPrefix(id)) {
        const std::string& rest = team->second;
        if (auto app = apps.appForBundleID(rest))
            return Verdict::installed(app->name);
        if (auto app = apps.appForBundlePrefix(rest))
            return Verdict::installed(app->name);
        if (teamIDs().contains(team->first))
            return Verdict::installed(rest);
        return Verdict::uninstalled(rest);
    }

    if (auto app = apps.appForBundleID(id))
        return Verdict::installed(app->name);
    // An empty identifier would begin every app's identifier.
    if (!id.empty()) {
        if (auto app = apps.appForBundlePrefix(id))
            return Verdict::installed(app->name);
    }
    if (looksLikeBundleID(id))
        return bundleVerdict(id);
    return Verdict::unknown();
}

OwnerResolver::Verdict OwnerResolver::supportFolderVerdict(std::string_view name) const
{
    if (looksLikeBundleID(name))
        return bundleVerdict(name);
    if (auto app = apps.appNamed(name))
        return Verdict::installed(app->name);
    if (auto app = apps.appFromMaker(name))
        return Verdict::installed(app->name);

    // A game without an install folder has an empty key; it must not claim symbol-only names.
    const std::string key = normalized(name);
    if (!key.empty()) {
        for (const SteamGame& game : steamGames)
            if (normalized(game.name) == key || normalized(game.installDir) == key)
                return Verdict::installed(game.name);
    }
    return Verdict::unknown();
}

OwnerResolver::Verdict OwnerResolver::ownerVerdict(const Catalog::Owner& owner) const
{
    return installed(owner) ? Verdict::installed(owner.app) : Verdict::uninstalled(owner.app);
}

OwnerResolver::Verdict OwnerResolver::bundleVerdict(std::string_view id) const
{
    if (auto app = apps.appForBundleID(id))
        return Verdict::installed(app->name);
    if (launchServicesKnows(id))
        return Verdict::installed(std::string(id));
    return Verdict::uninstalled();
}

bool OwnerResolver::launchServicesKnows(std::string_view id) const
{
    return !mac.isFake() && workspaceVouches(id);
}

bool OwnerResolver::installed(const Catalog::Owner& owner) const
{
    if (owner.bundleIDs) {
        for (const std::string& id : *owner.bundleIDs)
            if (apps.appForBundleID(id) || launchServicesKnows(id))
                return true;
    }
    if (owner.bundlePrefix && apps.appForBundlePrefix(*owner.bundlePrefix))
        return true;
    if (owner.steamAppID) {
        // A library on an unplugged drive still lists its games; they are installed, only away.
        const std::string& appID = *owner.steamAppID;
        if (steamAppIDs.contains(appID)
            || std::any_of(steamGames.begin(), steamGames.end(),
                           [&](const SteamGame& game) { return game.appID == appID; }))
            return true;
    }
    return std::any_of(owner.names.begin(), owner.names.end(),
                       [&](const std::string& name) { return apps.appNamed(name).has_value(); });
}

const std::set<std::string>& OwnerResolver::teamIDs() const
{
    // Held for the whole first reading, so concurrent callers wait and then share one set. The
    // parallel map lets this thread do the work itself, so holding the lock cannot starve it.
    std::lock_guard guard(lock_);
    if (!teams_) {
        std::vector<std::string> paths;
        paths.reserve(apps.apps.size());
        for (const InstalledApp& app : apps.apps)
            paths.push_back(app.path);
        const auto found = parallelMap(paths, [this](const std::string& path) { return teamIdentifier(mac, path); });
        std::set<std::string> teams;
        for (const auto& team : found)
            if (team)
                teams.insert(*team);
        teams_ = std::move(teams);
    }
    return *teams_;
}

} // namespace Quandril
