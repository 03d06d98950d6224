#include "QuandrilCore/Rules/Inventory.h"

#include <algorithm>
#include <array>
#include <utility>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/ParallelMap.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Plist.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/Rules/InventoryText.h"

namespace Quandril {

namespace InventoryText {

std::string lowerNFC(std::string_view text)
{
    return Platform::nfc(Platform::lowercased(text));
}

bool beginsWith(std::string_view text, std::string_view prefix)
{
    if (!text.starts_with(prefix))
        return false;
    if (prefix.empty() || prefix.size() == text.size())
        return true;
    // A mark or joiner right after the prefix belongs to the prefix's last character, which then
    // differs from the text's.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    auto at = static_cast<std::int32_t>(prefix.size());
    const auto length = static_cast<std::int32_t>(text.size());
    UChar32 next = 0;
    U8_NEXT(bytes, at, length, next);
    if (next < 0)
        return true;
    const auto kind = u_getIntPropertyValue(next, UCHAR_GRAPHEME_CLUSTER_BREAK);
    return kind != U_GCB_EXTEND && kind != U_GCB_SPACING_MARK && kind != U_GCB_ZWJ;
}

std::vector<std::string> dotParts(std::string_view text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t dot = text.find('.', start);
        if (dot == std::string_view::npos)
            dot = text.size();
        if (dot > start)
            parts.emplace_back(text.substr(start, dot - start));
        start = dot + 1;
    }
    return parts;
}

} // namespace InventoryText

using InventoryText::beginsWith;
using InventoryText::dotParts;
using InventoryText::lowerNFC;

namespace {

constexpr int appSearchDepth = 4;

constexpr std::array<std::string_view, 5> pluginExtensions { "component", "vst", "vst3", "aaxplugin", "clap" };

using Platform::lastName;

// A name's extension is what follows its last dot; a name that only begins with a dot has none.
std::string_view extensionOf(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? std::string_view {} : name.substr(dot + 1);
}

std::string_view withoutExtension(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

bool isPluginExtension(std::string_view extension)
{
    const std::string lower = Platform::lowercased(extension);
    return std::find(pluginExtensions.begin(), pluginExtensions.end(), lower) != pluginExtensions.end();
}

void findApps(const std::string& folder, int depth, std::set<std::string>& into)
{
    if (depth < 1)
        return;
    const PrivacyFence& fence = PrivacyFence::shared();
    for (const std::string& entry : children(folder)) {
        if (fence.blocks(entry))
            continue;
        if (!isDirectory(entry) || isSymlink(entry))
            continue;
        if (entry.ends_with(".app"))
            into.insert(entry);
        else
            findApps(entry, depth - 1, into);
    }
}

InstalledApp readApp(const Mac& mac, const std::string& path, const std::vector<std::string>& otherDrives)
{
    const PrivacyFence& fence = PrivacyFence::shared();
    InstalledApp app;
    app.path = path;
    app.name = std::string(withoutExtension(lastName(path)));

    // Spotlight may list a bundle inside a fenced folder; its files stay unopened.
    const std::string infoPlist = path + "/Contents/Info.plist";
    if (!fence.blocks(infoPlist)) {
        if (auto strings = Platform::readPlistStrings(infoPlist, { "CFBundleIdentifier" })) {
            if (auto found = strings->find("CFBundleIdentifier"); found != strings->end())
                app.bundleID = found->second;
        }
    }

    app.onStartupDisk = std::none_of(otherDrives.begin(), otherDrives.end(),
                                     [&](const std::string& drive) { return path.starts_with(drive + "/"); });
    app.lastUsed = mac.lastUsed(path);

    const std::string receipt = path + "/Contents/_MASReceipt";
    app.fromAppStore = !fence.blocks(receipt) && exists(receipt);
    return app;
}

std::set<std::string> findPluginNames(const Mac& mac)
{
    std::set<std::string> names;
    for (std::string_view folder : { "/Library/Audio/Plug-Ins", "~/Library/Audio/Plug-Ins",
                                     "/Library/Application Support/Avid/Audio/Plug-Ins" }) {
        for (const std::string& entry : children(mac.path(folder))) {
            std::vector<std::string> taken;
            if (isPluginExtension(extensionOf(lastName(entry))))
                taken.push_back(entry);
            else
                taken = children(entry); // Components/, VST3/ and the like hold the bundles
            for (const std::string& plugin : taken) {
                const std::string_view name = lastName(plugin);
                if (isPluginExtension(extensionOf(name)))
                    names.insert(normalized(withoutExtension(name)));
            }
        }
    }
    // An empty key would make every app look like a plug-in host.
    names.erase(std::string {});
    return names;
}

} // namespace

std::string normalized(std::string_view text)
{
    return Platform::nfc(Platform::lettersMarksDigits(Platform::lowercased(text)));
}

std::vector<std::string> spotlightBundlePaths(std::string_view output)
{
    std::vector<std::string> paths;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string_view::npos)
            end = output.size();
        const std::string_view line = output.substr(start, end - start);
        start = end + 1;
        if (line.empty())
            continue;
        if (line.find(".app/") != std::string_view::npos || line.find("/.Trash/") != std::string_view::npos
            || line.starts_with("/System/") || line.starts_with("/private/"))
            continue;
        paths.emplace_back(line);
    }
    return paths;
}

AppIndex::AppIndex(std::vector<InstalledApp> list, std::set<std::string> plugins)
    : apps(std::move(list))
    , pluginNames(std::move(plugins))
{
    keys_.reserve(apps.size());
    for (const InstalledApp& app : apps) {
        Keys keys;
        keys.name = normalized(app.name);
        keys.nameLong = Platform::graphemeCount(keys.name) >= 4;
        if (app.bundleID) {
            keys.lowerID = lowerNFC(*app.bundleID);
            byID.emplace(*keys.lowerID, app);
            const std::vector<std::string> parts = dotParts(*keys.lowerID);
            if (parts.size() >= 3)
                for (std::size_t i = 1; i + 1 < parts.size(); ++i)
                    keys.makerParts.push_back(normalized(parts[i]));
        }
        byName.emplace(keys.name, app);
        keys_.push_back(std::move(keys));
    }
}

AppIndex AppIndex::discover(const Mac& mac, const std::vector<DriveInfo>& drives,
                            const std::vector<std::string>& extraRoots)
{
    std::vector<std::string> roots { mac.path("/Applications"), mac.path("~/Applications"),
                                     mac.path("/System/Applications") };
    std::vector<std::string> otherDrives;
    for (const DriveInfo& drive : drives) {
        if (!drive.isExternal())
            continue;
        roots.push_back(drive.path + "/Applications");
        otherDrives.push_back(drive.path);
    }
    roots.insert(roots.end(), extraRoots.begin(), extraRoots.end());

    std::set<std::string> found;
    for (const std::string& root : roots)
        findApps(root, appSearchDepth, found);

    if (!mac.isFake()) {
        if (auto output = mac.run({ "/usr/bin/mdfind", "kMDItemContentType == 'com.apple.application-bundle'" }))
            for (std::string& path : spotlightBundlePaths(*output))
                found.insert(std::move(path));
    }

    // Canonically equivalent spellings sort together; the set's byte order keeps ties stable.
    std::vector<std::pair<std::string, std::string>> sorted;
    sorted.reserve(found.size());
    for (const std::string& path : found)
        sorted.emplace_back(Platform::nfc(path), path);
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> paths;
    paths.reserve(sorted.size());
    for (auto& entry : sorted)
        paths.push_back(std::move(entry.second));

    std::vector<InstalledApp> apps = parallelMap(paths, [&](const std::string& path) {
        return readApp(mac, path, otherDrives);
    });
    return AppIndex(std::move(apps), findPluginNames(mac));
}

std::optional<InstalledApp> AppIndex::appForBundleID(std::string_view bundleID) const
{
    std::vector<std::string> parts = dotParts(lowerNFC(bundleID));
    while (parts.size() >= 2) {
        std::string key;
        for (const std::string& part : parts)
            key += (key.empty() ? "" : ".") + part;
        if (auto found = byID.find(key); found != byID.end())
            return found->second;
        parts.pop_back();
    }
    return std::nullopt;
}

std::optional<InstalledApp> AppIndex::appNamed(std::string_view name) const
{
    const std::string key = normalized(name);
    const std::size_t length = Platform::graphemeCount(key);
    if (length < 3)
        return std::nullopt;
    if (auto found = byName.find(key); found != byName.end())
        return found->second;
    if (length < 4)
        return std::nullopt;
    for (std::size_t i = 0; i < apps.size() && i < keys_.size(); ++i) {
        const Keys& keys = keys_[i];
        if (keys.nameLong && (beginsWith(keys.name, key) || beginsWith(key, keys.name)))
            return apps[i];
    }
    return std::nullopt;
}

std::optional<InstalledApp> AppIndex::appFromMaker(std::string_view maker) const
{
    const std::string key = normalized(maker);
    if (Platform::graphemeCount(key) < 4)
        return std::nullopt;
    for (std::size_t i = 0; i < apps.size() && i < keys_.size(); ++i) {
        const auto& parts = keys_[i].makerParts;
        if (std::find(parts.begin(), parts.end(), key) != parts.end())
            return apps[i];
    }
    return std::nullopt;
}

std::optional<InstalledApp> AppIndex::appForBundlePrefix(std::string_view prefix) const
{
    const std::string lower = lowerNFC(prefix);
    for (std::size_t i = 0; i < apps.size() && i < keys_.size(); ++i) {
        if (keys_[i].lowerID && beginsWith(*keys_[i].lowerID, lower))
            return apps[i];
    }
    return std::nullopt;
}

bool AppIndex::isPluginHost(const InstalledApp& app, const std::vector<std::string>& vendors) const
{
    if (app.bundleID) {
        const std::string id = lowerNFC(*app.bundleID);
        for (const std::string& vendor : vendors)
            if (beginsWith(id, lowerNFC(vendor)))
                return true;
    }
    const std::string key = normalized(app.name);
    if (Platform::graphemeCount(key) < 4)
        return false;
    return std::any_of(pluginNames.begin(), pluginNames.end(),
                       [&](const std::string& plugin) { return beginsWith(plugin, key) || beginsWith(key, plugin); });
}

} // namespace Quandril
