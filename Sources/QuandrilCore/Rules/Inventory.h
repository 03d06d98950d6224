#pragma once

// The installed applications and audio plug-ins of one scan, and the owner resolver that tells
// who a data folder under ~/Library belongs to.

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Rules/Catalog.h"
#include "QuandrilCore/Rules/Steam.h"
#include "QuandrilCore/Values/Model.h"

namespace Quandril {

// The name key used to compare app, folder and maker names loosely: full Unicode lower-casing,
// then only letters, marks and digits kept. The key is in NFC, so a name spelled with composed or
// decomposed accents gives one key. Empty for a name made only of symbols, spaces or emoji.
std::string normalized(std::string_view text);

// The paths that a Spotlight listing of application bundles contributes: one per non-empty line,
// without bundles nested in another bundle, in a Trash, or under /System/ or /private/.
std::vector<std::string> spotlightBundlePaths(std::string_view output);

struct InstalledApp {
    std::string name;                    // bundle folder name without its extension
    std::optional<std::string> bundleID; // "CFBundleIdentifier", case as written
    std::string path;                    // real path as found, links not resolved
    bool onStartupDisk = true;
    std::optional<TimePoint> lastUsed;
    bool fromAppStore = false;

    friend bool operator==(const InstalledApp&, const InstalledApp&) = default;
};

// Built once per scan or explanation, then only read; safe to read from any thread.
struct AppIndex {
    std::vector<InstalledApp> apps;             // ascending by path (NFC, then scalar values)
    std::map<std::string, InstalledApp> byID;   // lower-cased bundle identifier; first app wins
    std::map<std::string, InstalledApp> byName; // normalized(name); first app wins
    std::set<std::string> pluginNames;          // name keys of audio plug-ins, never empty texts

    AppIndex() = default;
    AppIndex(std::vector<InstalledApp> apps, std::set<std::string> pluginNames);

    // Walks the app folders (and on the live machine asks Spotlight), reads every bundle found,
    // and collects the plug-in names. Never throws.
    static AppIndex discover(const Mac& mac, const std::vector<DriveInfo>& drives,
                             const std::vector<std::string>& extraRoots);

    // The app of the longest identifier prefix of at least two parts: com.example.editor.agent
    // finds com.example.editor. Case-insensitive.
    std::optional<InstalledApp> appForBundleID(std::string_view bundleID) const;
    // Exact name key (3 characters or more), else the first app whose key begins with the name's
    // or is a beginning of it (both 4 characters or more).
    std::optional<InstalledApp> appNamed(std::string_view name) const;
    // The first app whose identifier has an inner part equal to the maker's name key.
    std::optional<InstalledApp> appFromMaker(std::string_view maker) const;
    // The first app whose identifier begins with the prefix, case-insensitively.
    std::optional<InstalledApp> appForBundlePrefix(std::string_view prefix) const;
    // By a vendor identifier prefix, else by a plug-in whose name key begins or is begun by the app's.
    bool isPluginHost(const InstalledApp& app, const std::vector<std::string>& vendors) const;

    friend bool operator==(const AppIndex& a, const AppIndex& b)
    {
        return a.apps == b.apps && a.byID == b.byID && a.byName == b.byName && a.pluginNames == b.pluginNames;
    }

private:
    // Per app, in the order of `apps`: what the list-walking lookups compare, worked out once.
    struct Keys {
        std::string name;                    // normalized(name)
        bool nameLong = false;               // at least 4 characters
        std::optional<std::string> lowerID;  // lower-cased identifier, NFC
        std::vector<std::string> makerParts; // name keys of the identifier's inner parts
    };
    std::vector<Keys> keys_;
};

// Who owns a data folder. One per scan, shared by reference by every finder, so the team
// identifiers of the installed apps are read at most once.
class OwnerResolver {
public:
    enum class Kind { container, groupContainer, supportFolder };

    struct Verdict {
        enum class Case { installed, uninstalled, system, unknown };

        Case kind = Case::unknown;
        // installed: the owner's name (always present); uninstalled: the name when known.
        std::optional<std::string> name;

        static Verdict installed(std::string name) { return { Case::installed, std::move(name) }; }
        static Verdict uninstalled(std::optional<std::string> name = std::nullopt)
        {
            return { Case::uninstalled, std::move(name) };
        }
        static Verdict system() { return { Case::system, std::nullopt }; }
        static Verdict unknown() { return { Case::unknown, std::nullopt }; }

        friend bool operator==(const Verdict&, const Verdict&) = default;
    };

    // `steamAppIDs`: the app ids any Steam library lists, mounted or not (`listedSteamAppIDs(libraries)`).
    OwnerResolver(AppIndex apps, Catalog catalog, std::vector<SteamGame> steamGames, Mac mac,
                  std::set<std::string> steamAppIDs = {});
    OwnerResolver(const OwnerResolver&) = delete;
    OwnerResolver& operator=(const OwnerResolver&) = delete;

    // `name` is the folder's last path component exactly as on disk. Safe from any thread.
    Verdict resolve(std::string_view name, Kind kind) const;
    // Equal to a catalog system name or beginning with a system prefix, case-insensitively.
    bool isSystem(std::string_view name) const;

    const AppIndex apps;
    const Catalog catalog;
    const std::vector<SteamGame> steamGames;
    const Mac mac;
    const std::set<std::string> steamAppIDs;

private:
    bool installed(const Catalog::Owner& owner) const;
    Verdict ownerVerdict(const Catalog::Owner& owner) const;
    Verdict bundleVerdict(std::string_view id) const;
    Verdict groupContainerVerdict(std::string_view name) const;
    Verdict supportFolderVerdict(std::string_view name) const;
    bool launchServicesKnows(std::string_view id) const;
    const std::set<std::string>& teamIDs() const;

    // Catalog texts in the forms the rules compare, worked out once.
    std::vector<std::string> systemNames_;                // lower-cased, NFC
    std::vector<std::string> systemPrefixes_;             // lower-cased, NFC
    std::vector<std::vector<std::string>> ownerNameKeys_; // per owner: normalized(names)
    std::vector<std::vector<std::string>> ownerIDs_;      // per owner: lower-cased bundleIDs, NFC

    mutable std::mutex lock_;
    mutable std::optional<std::set<std::string>> teams_;
};

// The words that say nothing about which app a bundle identifier names.
const std::set<std::string>& genericBundleWords();

// A readable app name from a bundle identifier: com.example.editor.launcher gives Editor.
std::string displayName(std::string_view bundleID);

// Whether the text splits at "." into three or more non-empty parts without spaces.
bool looksLikeBundleID(std::string_view text);

// The 10-character team identifier (upper-case letters and digits) before the first ".", and the
// rest after it; absent when the text does not begin with one.
std::optional<std::pair<std::string, std::string>> splitTeamPrefix(std::string_view text);

} // namespace Quandril
