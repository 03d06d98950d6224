// Looking through iCloud Drive for copies of one file and for big files, from metadata alone:
// no file is opened, so no placeholder is ever downloaded.

#include "QuandrilCore/ICloud/ICloud.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include <openssl/evp.h>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "QuandrilCore/ICloud/ICloudSteps.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/Unicode.h"

namespace Quandril {

using namespace ICloudSteps;

namespace {

constexpr std::size_t biggestLimit = 50;
constexpr std::string_view thisMac = "this Mac";
constexpr std::string_view inICloud = "iCloud";
constexpr std::array<std::string_view, 6> macFolders { "~/Movies",    "~/Music",   "~/Pictures",
                                                       "~/Downloads", "~/Desktop", "~/Documents" };

// Where the run of decimal digits (any script's) that ends at `end` begins.
std::size_t digitsBefore(const std::string& text, std::size_t end)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    auto start = static_cast<std::int32_t>(end);
    while (start > 0) {
        std::int32_t previous = start;
        UChar32 c = 0;
        U8_PREV(bytes, 0, previous, c);
        if (c < 0 || !u_isdigit(c))
            break;
        start = previous;
    }
    return static_cast<std::size_t>(start);
}

// " copy( \d+)?$"
bool dropCopyWord(std::string& base)
{
    if (endsWith(base, " copy")) {
        base.resize(base.size() - 5);
        return true;
    }
    const std::size_t digits = digitsBefore(base, base.size());
    if (digits == base.size() || digits < 6 || base.compare(digits - 6, 6, " copy ") != 0)
        return false;
    base.resize(digits - 6);
    return true;
}

// " \(\d+\)$"
bool dropBracketedNumber(std::string& base)
{
    if (!endsWith(base, ")"))
        return false;
    const std::size_t close = base.size() - 1;
    const std::size_t digits = digitsBefore(base, close);
    if (digits == close || digits < 2 || base.compare(digits - 2, 2, " (") != 0)
        return false;
    base.resize(digits - 2);
    return true;
}

// " \d+$"
bool dropTrailingNumber(std::string& base)
{
    const std::size_t digits = digitsBefore(base, base.size());
    if (digits == base.size() || digits < 1 || base[digits - 1] != ' ')
        return false;
    base.resize(digits - 1);
    return true;
}

bool isPackage(std::string_view name)
{
    const auto extension = splitExtension(name).second;
    if (extension.empty())
        return false;
    return ICloud::packageExtensions().count(Platform::lowercased(extension)) != 0;
}

// What makes files copies of one another: the same size and, below the size that decides alone,
// the same normalized name.
struct CopyKey {
    std::int64_t bytes = 0;
    std::optional<std::string> name;

    friend bool operator==(const CopyKey&, const CopyKey&) = default;
};

struct CopyKeyHash {
    std::size_t operator()(const CopyKey& key) const
    {
        const std::size_t bytes = std::hash<std::int64_t> {}(key.bytes);
        if (!key.name)
            return bytes;
        return bytes ^ (std::hash<std::string> {}(*key.name) + 0x9e3779b9 + (bytes << 6) + (bytes >> 2));
    }
};

template <typename Value>
using ByKey = std::unordered_map<CopyKey, Value, CopyKeyHash>;

CopyKey copyKey(const ICloud::Entry& entry, std::int64_t sizeOnlyBytes)
{
    CopyKey key { entry.bytes, std::nullopt };
    if (entry.bytes < sizeOnlyBytes)
        key.name = ICloud::normalizedName(lastComponent(entry.path));
    return key;
}

struct PlaceEntry {
    ICloud::Entry entry;
    std::string label;
};

CloudItem makeItem(const ICloud::Entry& entry)
{
    CloudItem item;
    item.id = ICloud::itemID(entry.path);
    item.path = entry.path;
    item.bytes = entry.bytes;
    item.onMac = entry.onMac;
    return item;
}

// Oldest first; of two as old, the shorter path stays.
void sortOldestFirst(std::vector<const ICloud::Entry*>& copies)
{
    std::vector<std::pair<const ICloud::Entry*, std::size_t>> keyed;
    keyed.reserve(copies.size());
    for (const auto* entry : copies)
        keyed.emplace_back(entry, Platform::graphemeCount(entry->path));
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        if (a.first->modified != b.first->modified)
            return a.first->modified < b.first->modified;
        return a.second < b.second;
    });
    for (std::size_t i = 0; i < copies.size(); ++i)
        copies[i] = keyed[i].first;
}

// The files of at least `minBytes` below the roots, each once: a root listed inside another would
// offer a file as its own copy. Every file counts in the tally.
std::vector<ICloud::Entry> walkRoots(const std::vector<std::string>& roots, const Mac& mac, std::int64_t minBytes,
                                     ICloud::Tally& tally)
{
    std::vector<ICloud::Entry> entries;
    std::unordered_set<std::string> seen;
    for (const auto& root : roots) {
        for (auto& entry : ICloud::walk(root, mac, minBytes, tally)) {
            if (seen.insert(entry.path).second)
                entries.push_back(std::move(entry));
        }
    }
    return entries;
}

// A folder outside iCloud where copies may lie, and how the user knows it.
struct Place {
    std::string path;
    std::string label;
};

// The Mac's own folders that iCloud doesn't sync, then every external drive.
std::vector<Place> placesOutside(const Mac& mac, const std::vector<DriveInfo>& drives)
{
    std::vector<Place> places;
    for (const auto folder : macFolders) {
        std::string path = mac.path(folder);
        if (!PrivacyFence::shared().blocks(path) && isDirectory(path) && !mac.cloudFolder(path))
            places.push_back(Place { std::move(path), std::string(thisMac) });
    }
    for (const auto& drive : drives) {
        if (drive.isExternal())
            places.push_back(Place { drive.path, drive.name });
    }
    return places;
}

// The iCloud files by key, each key in the order first met, and every size met.
struct CloudIndex {
    ByKey<std::vector<std::size_t>> byKey;
    std::vector<CopyKey> order;
    std::unordered_set<std::int64_t> sizes;
};

CloudIndex indexByKey(const std::vector<ICloud::Entry>& entries, std::int64_t sizeOnlyBytes)
{
    CloudIndex index;
    for (std::size_t at = 0; at < entries.size(); ++at) {
        auto key = copyKey(entries[at], sizeOnlyBytes);
        auto& list = index.byKey[key];
        if (list.empty())
            index.order.push_back(std::move(key));
        list.push_back(at);
        index.sizes.insert(entries[at].bytes);
    }
    return index;
}

// The files in the places that share a key with an iCloud file.
ByKey<std::vector<PlaceEntry>> copiesOutside(const std::vector<Place>& places, const CloudIndex& cloud,
                                             const std::vector<std::string>& roots, const Mac& mac,
                                             std::int64_t minBytes, std::int64_t sizeOnlyBytes)
{
    ByKey<std::vector<PlaceEntry>> found;
    for (const auto& place : places) {
        ICloud::Tally ignored;
        for (auto& entry : ICloud::walk(place.path, mac, minBytes, ignored)) {
            // A drive that holds the home folder must not offer an iCloud file as its own copy.
            if (!cloud.sizes.count(entry.bytes) || rootOf(entry.path, roots))
                continue;
            auto key = copyKey(entry, sizeOnlyBytes);
            if (cloud.byKey.count(key))
                found[std::move(key)].push_back(PlaceEntry { std::move(entry), place.label });
        }
    }
    return found;
}

// The copy that stays, and the iCloud copies that go.
struct Choice {
    const ICloud::Entry* keeper = nullptr;
    bool keeperOnMac = true;
    std::string keepPlace;
    std::optional<std::string> caution;
    std::vector<const ICloud::Entry*> leaving;
};

// Of several copies in iCloud the oldest stays there; a single one goes, and a copy on a drive
// is kept over one on the Mac.
Choice chooseKeeper(std::vector<const ICloud::Entry*>& copies, std::vector<PlaceEntry>& others)
{
    Choice choice;
    if (copies.size() >= 2) {
        sortOldestFirst(copies);
        choice.keeper = copies.front();
        choice.keeperOnMac = choice.keeper->onMac;
        choice.keepPlace = inICloud;
        choice.leaving.assign(copies.begin() + 1, copies.end());
        return choice;
    }
    std::stable_partition(others.begin(), others.end(), [](const PlaceEntry& place) { return place.label != thisMac; });
    choice.keeper = &others.front().entry;
    choice.keepPlace = others.front().label;
    choice.caution = "Afterwards it's no longer in iCloud: the copy on " + choice.keepPlace + " is the one that stays.";
    choice.leaving.push_back(copies.front());
    return choice;
}

// Whether every copy has one normalized name; a key with a name already says so.
bool namedAlike(const CopyKey& key, const std::vector<const ICloud::Entry*>& copies,
                const std::vector<PlaceEntry>& others)
{
    if (key.name)
        return true;
    std::set<std::string> names;
    for (const auto* entry : copies)
        names.insert(ICloud::normalizedName(lastComponent(entry->path)));
    for (const auto& place : others)
        names.insert(ICloud::normalizedName(lastComponent(place.entry.path)));
    return names.size() == 1;
}

CopyGroup makeGroup(const Choice& choice, bool sameName)
{
    CopyGroup group;
    group.name = std::string(lastComponent(choice.keeper->path));
    group.bytes = choice.keeper->bytes;
    group.keep = choice.keeper->path;
    group.keepPlace = choice.keepPlace;
    group.sameName = sameName;
    for (const auto* entry : choice.leaving) {
        CloudItem item = makeItem(*entry);
        item.keep = choice.keeper->path;
        item.keepOnMac = choice.keeperOnMac;
        item.caution = choice.caution;
        group.items.push_back(std::move(item));
    }
    return group;
}

// A group for each key with two copies or more, largest saving first; `grouped` marks the iCloud
// files that went into one.
std::vector<CopyGroup> groupCopies(const std::vector<ICloud::Entry>& entries, const CloudIndex& cloud,
                                   const ByKey<std::vector<PlaceEntry>>& outside, std::vector<bool>& grouped)
{
    std::vector<CopyGroup> groups;
    for (const auto& key : cloud.order) {
        const auto& indices = cloud.byKey.at(key);
        const auto found = outside.find(key);
        std::vector<PlaceEntry> others = found == outside.end() ? std::vector<PlaceEntry> {} : found->second;
        if (indices.size() + others.size() < 2)
            continue;

        std::vector<const ICloud::Entry*> copies;
        for (auto index : indices)
            copies.push_back(&entries[index]);
        const Choice choice = chooseKeeper(copies, others);
        groups.push_back(makeGroup(choice, namedAlike(key, copies, others)));
        for (auto index : indices)
            grouped[index] = true;
    }
    std::stable_sort(groups.begin(), groups.end(), [](const CopyGroup& a, const CopyGroup& b) {
        return Saturating::multiply(static_cast<std::int64_t>(a.items.size()), a.bytes)
            > Saturating::multiply(static_cast<std::int64_t>(b.items.size()), b.bytes);
    });
    return groups;
}

// The big iCloud files in no group, largest first.
std::vector<CloudItem> biggestAlone(const std::vector<ICloud::Entry>& entries, const std::vector<bool>& grouped,
                                    std::int64_t bigBytes)
{
    std::vector<const ICloud::Entry*> big;
    for (std::size_t index = 0; index < entries.size(); ++index) {
        if (!grouped[index] && entries[index].bytes >= bigBytes)
            big.push_back(&entries[index]);
    }
    std::stable_sort(big.begin(), big.end(),
                     [](const ICloud::Entry* a, const ICloud::Entry* b) { return a->bytes > b->bytes; });
    if (big.size() > biggestLimit)
        big.resize(biggestLimit);
    std::vector<CloudItem> items;
    for (const auto* entry : big) {
        CloudItem item = makeItem(*entry);
        item.caution = "Afterwards it's no longer in iCloud: the copy moved to your drive is the only one.";
        items.push_back(std::move(item));
    }
    return items;
}

} // namespace

std::vector<CloudItem> CloudScan::items() const
{
    std::vector<CloudItem> all;
    for (const auto& group : groups)
        all.insert(all.end(), group.items.begin(), group.items.end());
    all.insert(all.end(), biggest.begin(), biggest.end());
    return all;
}

const std::set<std::string, std::less<>>& ICloud::packageExtensions()
{
    static const std::set<std::string, std::less<>> extensions {
        "app",       "photoslibrary", "musiclibrary", "tvlibrary",   "imovielibrary", "fcpbundle", "logicx", "band",
        "aplibrary", "lrlibrary",     "bundle",       "framework",   "plugin",        "component", "vst",    "vst3",
        "aaxplugin", "xcarchive",     "xcodeproj",    "xcworkspace", "sparsebundle",  "rtfd",      "pages",  "numbers",
        "key",       "epub",          "pkg",          "mpkg",        "playground",
    };
    return extensions;
}

std::string ICloud::normalizedName(std::string_view name)
{
    const auto [stem, extension] = splitExtension(name);
    std::string base = Platform::lowercased(stem);
    for (bool removed = true; removed;) {
        removed = false;
        removed |= dropCopyWord(base);
        removed |= dropBracketedNumber(base);
        removed |= dropTrailingNumber(base);
    }
    return base + "." + Platform::lowercased(extension);
}

std::string ICloud::itemID(std::string_view path)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    std::string id = "icloud-";
    if (EVP_Digest(path.data(), path.size(), digest, &length, EVP_sha256(), nullptr) != 1 || length < 6)
        return id;
    static constexpr char hex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < 6; ++i) {
        id += hex[digest[i] >> 4];
        id += hex[digest[i] & 0x0f];
    }
    return id;
}

std::vector<std::string> ICloud::roots(const Mac& mac)
{
    std::vector<std::string> candidates { mac.path("~/Library/Mobile Documents/com~apple~CloudDocs") };
    const std::string library = mac.path("~/Library");
    for (const auto& folder : mac.cloud) {
        if (folder.name == "iCloud Drive" && !below(folder.path, library))
            candidates.push_back(folder.path);
    }
    std::vector<std::string> kept;
    for (auto& candidate : candidates) {
        if (!PrivacyFence::shared().blocks(candidate) && isDirectory(candidate))
            kept.push_back(std::move(candidate));
    }
    return kept;
}

std::string ICloud::display(const std::string& path, const Mac& mac)
{
    return display(path, roots(mac), mac);
}

std::string ICloud::display(const std::string& path, const std::vector<std::string>& roots, const Mac& mac)
{
    for (const auto& root : roots) {
        if (below(path, root))
            return rootLabel(root) + path.substr(root.size());
    }
    return mac.display(path);
}

std::vector<ICloud::Entry> ICloud::walk(const std::string& root, const Mac& mac, std::int64_t minBytes, Tally& tally)
{
    std::vector<Entry> entries;
    Platform::TreeWalk tree(root, FTS_NOCHDIR | FTS_PHYSICAL | FTS_XDEV);
    if (!tree)
        return entries;

    std::optional<short> packageDepth;
    while (FTSENT* item = tree.next()) {
        switch (item->fts_info) {
        case FTS_DP:
        case FTS_DNR: // an unreadable package is reported here instead of after its contents
        case FTS_ERR:
            if (packageDepth && item->fts_level == *packageDepth)
                packageDepth.reset();
            continue;
        case FTS_D:
        case FTS_F:
            break;
        default:
            continue;
        }
        const bool folder = item->fts_info == FTS_D;
        if (folder && item->fts_level == 0)
            continue;
        const std::string_view name(item->fts_name, item->fts_namelen);
        if (name.starts_with('.') || name == parkedFolder) {
            if (folder)
                tree.skip(item);
            continue;
        }
        if (folder) {
            if (!packageDepth && isPackage(name)) {
                tally.packages = Saturating::add(tally.packages, 1);
                packageDepth = item->fts_level;
            }
            continue;
        }

        const struct stat& status = *item->fts_statp;
        const std::int64_t bytes = status.st_size;
        const std::int64_t allocated = Saturating::multiply(status.st_blocks, 512);
        tally.files = Saturating::add(tally.files, 1);
        tally.bytes = Saturating::add(tally.bytes, bytes);
        tally.onMacBytes = Saturating::add(tally.onMacBytes, allocated);
        if (packageDepth || bytes < minBytes)
            continue;
        // Linux has no dataless flag: a live file's data is here. A fake machine's placeholders
        // are sparse files.
        const bool onMac = !mac.isFake() || allocated >= bytes / 2;
        entries.push_back(Entry { std::string(item->fts_path, item->fts_pathlen), bytes, onMac,
                                  TimePoint(std::chrono::seconds(status.st_mtim.tv_sec)) });
    }
    return entries;
}

CloudScan ICloud::scan(const Mac& mac, const std::optional<std::vector<DriveInfo>>& drives, std::int64_t minBytes,
                       std::int64_t bigBytes, std::int64_t sizeOnlyBytes)
{
    CloudScan result;
    result.roots = roots(mac);
    Tally tally;
    const std::vector<Entry> cloudEntries = walkRoots(result.roots, mac, minBytes, tally);
    result.files = tally.files;
    result.bytes = tally.bytes;
    result.onMacBytes = tally.onMacBytes;
    result.packages = tally.packages;

    const CloudIndex cloud = indexByKey(cloudEntries, sizeOnlyBytes);
    const auto outside = copiesOutside(placesOutside(mac, drives ? *drives : mac.drives()), cloud, result.roots, mac,
                                       minBytes, sizeOnlyBytes);
    std::vector<bool> grouped(cloudEntries.size(), false);
    result.groups = groupCopies(cloudEntries, cloud, outside, grouped);
    result.biggest = biggestAlone(cloudEntries, grouped, bigBytes);
    return result;
}

// ---- JSON ----

Json::Value toJson(const CloudItem& item)
{
    Json::Value out = Json::Value::object();
    out["id"] = item.id;
    out["path"] = item.path;
    out["bytes"] = item.bytes;
    out["onMac"] = item.onMac;
    Json::putOptional(out, "keep", item.keep);
    Json::putOptional(out, "keepOnMac", item.keepOnMac);
    Json::putOptional(out, "caution", item.caution);
    return out;
}

Json::Value toJson(const CopyGroup& group)
{
    Json::Value out = Json::Value::object();
    out["name"] = group.name;
    out["bytes"] = group.bytes;
    out["keep"] = group.keep;
    out["keepPlace"] = group.keepPlace;
    out["items"] = Json::Value::array();
    for (const auto& item : group.items)
        out["items"].push_back(toJson(item));
    out["sameName"] = group.sameName;
    return out;
}

Json::Value toJson(const CloudScan& scan)
{
    Json::Value out = Json::Value::object();
    out["roots"] = scan.roots;
    out["files"] = scan.files;
    out["bytes"] = scan.bytes;
    out["onMacBytes"] = scan.onMacBytes;
    out["groups"] = Json::Value::array();
    for (const auto& group : scan.groups)
        out["groups"].push_back(toJson(group));
    out["biggest"] = Json::Value::array();
    for (const auto& item : scan.biggest)
        out["biggest"].push_back(toJson(item));
    out["packages"] = scan.packages;
    return out;
}

void decode(const Json::Value& value, CloudItem& out)
{
    out.id = Json::required<std::string>(value, "id");
    out.path = Json::required<std::string>(value, "path");
    out.bytes = Json::required<std::int64_t>(value, "bytes");
    out.onMac = Json::required<bool>(value, "onMac");
    out.keep = Json::optional<std::string>(value, "keep");
    out.keepOnMac = Json::optional<bool>(value, "keepOnMac");
    out.caution = Json::optional<std::string>(value, "caution");
}

void decode(const Json::Value& value, CopyGroup& out)
{
    out.name = Json::required<std::string>(value, "name");
    out.bytes = Json::required<std::int64_t>(value, "bytes");
    out.keep = Json::required<std::string>(value, "keep");
    out.keepPlace = Json::required<std::string>(value, "keepPlace");
    out.items = Json::required<std::vector<CloudItem>>(value, "items");
    out.sameName = Json::required<bool>(value, "sameName");
}

void decode(const Json::Value& value, CloudScan& out)
{
    out.roots = Json::required<std::vector<std::string>>(value, "roots");
    out.files = Json::required<std::int64_t>(value, "files");
    out.bytes = Json::required<std::int64_t>(value, "bytes");
    out.onMacBytes = Json::required<std::int64_t>(value, "onMacBytes");
    out.groups = Json::required<std::vector<CopyGroup>>(value, "groups");
    out.biggest = Json::required<std::vector<CloudItem>>(value, "biggest");
    out.packages = Json::required<std::int64_t>(value, "packages");
}

} // namespace Quandril
