#pragma once

// Steam's libraries and the games installed in each, read only from Steam's own files.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace Quandril {

struct Mac;

// One installed game, from one app manifest.
struct SteamGame {
    std::string appID;      // as written in the manifest, never converted to a number
    std::string name;       // "Steam app " + appID when the manifest names none
    std::string installDir; // folder name under the library's "/steamapps/common"; may be empty

    friend bool operator==(const SteamGame&, const SteamGame&) = default;
};

// One library folder.
struct SteamLibrary {
    std::string path;                       // real path, standardized
    bool mounted = false;                   // its "steamapps" folder exists now
    std::map<std::string, SteamGame> games; // by app id; empty when not mounted
    std::set<std::string> listedAppIDs;     // what Steam's library list says it holds

    // The Steam folder first, then the other libraries of Steam's library list in key order, each
    // folder once. Empty when Steam is not set up. Never throws.
    static std::vector<SteamLibrary> load(const Mac& mac);

    friend bool operator==(const SteamLibrary&, const SteamLibrary&) = default;
};

// Every app id a library lists or holds a manifest for, mounted or not. A game on a drive that is
// unplugged right now is still installed, so its saves are not left over.
std::set<std::string> listedSteamAppIDs(const std::vector<SteamLibrary>& libraries);

// Where Steam's record at `path` (an app or workshop manifest) belongs once the folder it describes
// has moved to `movedTo` in another library; nothing when `path` is no such record. Steam finds a
// moved game, or its workshop mods, by the record in the library folder two levels above them.
std::optional<std::string> steamRecordPlace(const std::string& path, const std::string& movedTo);

} // namespace Quandril
