// Steam: workshop mods kept on the startup drive for games that are not installed next to them, and
// big games on the startup drive while a Steam library waits on an external drive.

#include "QuandrilCore/Scanning/Finders/Finders.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuandrilCore/Machine/Compare.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/Scanning/Report.h"

namespace Quandril {

namespace {

constexpr const char* steamBundleID = "com.valvesoftware.steam";
constexpr const char* finderName = "steam";
constexpr const char* owner = "Steam";

std::string workshopContent(const SteamLibrary& library)
{
    return library.path + "/steamapps/workshop/content";
}

std::string workshopRecord(const SteamLibrary& library, const std::string& appID)
{
    return library.path + "/steamapps/workshop/appworkshop_" + appID + ".acf";
}

std::string modsOf(const SteamLibrary& library, const std::string& appID)
{
    return library.path + "/steamapps/workshop/content/" + appID;
}

std::string gameFolder(const SteamLibrary& library, const SteamGame& game)
{
    return library.path + "/steamapps/common/" + game.installDir;
}

// The manifest's install folder must be one name inside "common": "." or ".." or a nested path
// would measure (and offer to move) some other folder than the game's.
bool isOneFolderName(std::string_view installDir)
{
    return !installDir.empty() && installDir != "." && installDir != ".."
        && installDir.find('/') == std::string_view::npos;
}

// A drive the scan does not know counts as the startup drive: nothing on it is called external.
bool onExternalDrive(const ScanContext& context, const std::string& path)
{
    const std::optional<DriveInfo> drive = context.drive(path);
    if (!drive)
        return false;
    const std::optional<DriveInfo> startup = context.startup();
    return drive->isExternal() && (!startup || drive->path != startup->path);
}

std::string gameName(const std::string& appID, const ScanContext& context)
{
    for (const auto& catalogOwner : context.catalog.owners)
        if (catalogOwner.steamAppID && *catalogOwner.steamAppID == appID)
            return catalogOwner.app;
    return "Steam app " + appID;
}

const SteamLibrary* libraryWithGame(const std::vector<SteamLibrary>& libraries, const std::string& appID)
{
    for (const auto& library : libraries)
        if (library.mounted && library.games.contains(appID))
            return &library;
    return nullptr;
}

const SteamLibrary* unpluggedListing(const std::vector<SteamLibrary>& libraries, const std::string& appID)
{
    for (const auto& library : libraries)
        if (!library.mounted && library.listedAppIDs.contains(appID))
            return &library;
    return nullptr;
}

Finding steamFinding(std::string id, std::string title, std::string reason, std::string getBack, std::int64_t bytes,
                     std::vector<std::string> paths, Action action, std::optional<std::string> caution = std::nullopt)
{
    return Finding(std::move(id), finderName, std::move(title), std::move(reason), std::move(getBack),
                   Tier::reinstallable, bytes, std::move(paths), std::string(owner), std::move(action),
                   std::move(caution), std::nullopt, false, std::nullopt);
}

Finding modsOfGoneGame(const std::string& id, const std::string& name, std::int64_t bytes,
                       std::vector<std::string> paths)
{
    return steamFinding(id, name + " workshop mods", "Workshop mods for " + name + ", which isn't installed anymore.",
                        "Steam downloads them again if you reinstall the game while still subscribed to them.", bytes,
                        std::move(paths), Action::trash());
}

Finding secondCopy(const std::string& id, const std::string& name, const std::string& driveName, std::int64_t bytes,
                   std::vector<std::string> paths)
{
    return steamFinding(id, name + " workshop mods (second copy)",
                        "Steam keeps a second copy of " + name
                            + "'s workshop mods here; the game and an identical copy are on " + driveName + ".",
                        "The copy on " + driveName + " stays, and it's the one the game uses.", bytes, std::move(paths),
                        Action::trash());
}

Finding twoDifferentCopies(const std::string& id, const std::string& name, const std::string& driveName,
                           std::int64_t differing, std::int64_t bytes, std::vector<std::string> paths)
{
    return steamFinding(id, name + " workshop mods (two different copies)",
                        "Steam left " + name + "'s workshop mods here when the game moved to " + driveName + "; "
                            + driveName + " has its own copy, and " + std::to_string(differing) + " files differ.",
                        "Keep whichever copy is newer; the other can go.", bytes, std::move(paths), Action::review(),
                        "The copies differ: compare dates before removing either.");
}

Finding leftBehind(const std::string& id, const std::string& name, const std::string& driveName,
                   const std::string& destination, std::int64_t bytes, std::vector<std::string> paths)
{
    return steamFinding(id, name + " workshop mods",
                        "Steam left " + name + "'s workshop mods here when the game moved to " + driveName + ".",
                        "Moved, not removed: they go next to the game on " + driveName + ".", bytes, std::move(paths),
                        Action(Action::Kind::move, std::nullopt, destination));
}

Finding gameToMove(const SteamGame& game, const std::string& driveName, std::int64_t bytes, std::string folder)
{
    Action action(Action::Kind::handOff, std::nullopt, std::nullopt, std::string(owner),
                  "In Steam: Settings → Storage → pick " + game.name + " → Move, and choose " + driveName + ".", true);
    return steamFinding("steam-game-" + game.appID, game.name,
                        game.name + " is installed on your Mac, and you have a Steam library on " + driveName + ".",
                        "Moved, not removed: it plays from " + driveName + " whenever it's plugged in.", bytes,
                        { std::move(folder) }, std::move(action));
}

// One workshop folder worth a look: its game is not installed in its own library.
struct Mods {
    std::string folder;
    std::string appID;
};

// What one library on the startup drive offers, before sizes are known.
struct Candidates {
    const SteamLibrary* library = nullptr;
    std::vector<Mods> mods;
    std::vector<const SteamGame*> games;
};

Candidates candidatesOf(const SteamLibrary& library, bool offersGames)
{
    Candidates out;
    out.library = &library;
    const PrivacyFence& fence = PrivacyFence::shared();
    for (auto& folder : children(workshopContent(library))) {
        if (fence.blocks(folder) || !isDirectory(folder))
            continue;
        std::string appID = Platform::lastComponent(folder);
        if (library.games.contains(appID))
            continue;
        out.mods.push_back({ std::move(folder), std::move(appID) });
    }
    if (!offersGames)
        return out;
    for (const auto& entry : library.games)
        if (isOneFolderName(entry.second.installDir))
            out.games.push_back(&entry.second);
    std::stable_sort(out.games.begin(), out.games.end(),
                     [](const SteamGame* a, const SteamGame* b) { return Platform::compareNFC(a->name, b->name) < 0; });
    return out;
}

std::int64_t bytesOf(const std::map<std::string, Usage>& sizes, const std::string& path)
{
    const auto found = sizes.find(path);
    return found == sizes.end() ? 0 : found->second.bytes;
}

// What one workshop folder of a library on the startup drive gives: a finding, a note in its place
// when the game's library is unplugged, or nothing when the other copy cannot be looked at.
std::optional<Finding> modsFinding(const ScanContext& context, const SteamLibrary& library, const Mods& mods,
                                   std::int64_t bytes, std::vector<std::string>& notes)
{
    const std::vector<SteamLibrary>& libraries = context.steam;
    const std::string& appID = mods.appID;
    const std::string id = "steam-workshop-" + appID;
    std::vector<std::string> paths { mods.folder };
    if (std::string record = workshopRecord(library, appID); exists(record))
        paths.push_back(std::move(record));

    const SteamLibrary* gameLibrary = libraryWithGame(libraries, appID);
    if (!gameLibrary) {
        const std::string name = gameName(appID, context);
        if (const SteamLibrary* unplugged = unpluggedListing(libraries, appID)) {
            notes.push_back(name + "'s workshop mods (" + Report::bytes(bytes)
                            + ") are on the Mac, and the game is in the Steam library at "
                            + context.mac.display(unplugged->path)
                            + ", which isn't plugged in. Plug it in to compare.");
            return std::nullopt;
        }
        return modsOfGoneGame(id, name, bytes, std::move(paths));
    }

    const std::string& name = gameLibrary->games.at(appID).name;
    const std::optional<DriveInfo> gameDrive = context.drive(gameLibrary->path);
    const std::string driveName = gameDrive ? gameDrive->name : "another drive";
    const std::string other = modsOf(*gameLibrary, appID);
    // Behind the fence the other copy can be neither compared nor ruled out, and a move must never
    // be aimed at a folder that may already be there.
    if (PrivacyFence::shared().blocks(other))
        return std::nullopt;
    if (exists(other)) {
        const TreeComparison comparison = compareTreesFully(mods.folder, other, false);
        // A copy only partly read is never taken for an identical one.
        if (!comparison.incomplete && comparison.diff.identical())
            return secondCopy(id, name, driveName, bytes, std::move(paths));
        return twoDifferentCopies(id, name, driveName, comparison.diff.onlyHere + comparison.diff.differing, bytes,
                                  std::move(paths));
    }
    // A dangling link holds the name the move would need.
    if (isSymlink(other))
        return std::nullopt;
    return leftBehind(id, name, driveName, other, bytes, std::move(paths));
}

// Libraries Steam lists that aren't there: gone from an attached drive, or on a drive not plugged in.
void noteMissingLibraries(const ScanContext& context, std::vector<std::string>& notes)
{
    const std::optional<DriveInfo> startup = context.startup();
    for (const auto& library : context.steam) {
        if (library.mounted)
            continue;
        const std::string shown = context.mac.display(library.path);
        const bool driveAttached = std::any_of(context.drives.begin(), context.drives.end(),
                                               [&](const DriveInfo& drive) {
                                                   return (!startup || drive.path != startup->path)
                                                       && library.path.starts_with(drive.path + "/");
                                               });
        if (driveAttached)
            notes.push_back("Steam still lists a library at " + shown + ", but that folder is gone.");
        else
            notes.push_back("Steam has a library at " + shown + " whose drive isn't plugged in, so it wasn't checked.");
    }
}

const SteamLibrary* firstExternalLibrary(const ScanContext& context)
{
    for (const auto& library : context.steam)
        if (library.mounted && onExternalDrive(context, library.path))
            return &library;
    return nullptr;
}

} // namespace

FinderResult SteamFinder::find(const ScanContext& context) const
{
    FinderResult result;
    const std::vector<SteamLibrary>& libraries = context.steam;
    if (libraries.empty())
        return result;

    std::optional<std::string> blocked;
    if (const std::optional<std::string> open = context.openApp({ steamBundleID }))
        blocked = *open + " is open. Quit it first.";

    noteMissingLibraries(context, result.notes);
    // Only the first library on an external drive is ever offered as the games' new home.
    const SteamLibrary* destination = firstExternalLibrary(context);

    std::vector<Candidates> candidates;
    std::vector<std::string> toMeasure;
    for (const auto& library : libraries) {
        if (!library.mounted || onExternalDrive(context, library.path))
            continue;
        candidates.push_back(candidatesOf(library, destination != nullptr));
        for (const Mods& mods : candidates.back().mods)
            toMeasure.push_back(mods.folder);
        for (const SteamGame* game : candidates.back().games)
            toMeasure.push_back(gameFolder(library, *game));
    }
    // Every folder in one batch, measured side by side.
    const std::map<std::string, Usage> sizes = toMeasure.empty() ? std::map<std::string, Usage> {}
                                                                 : context.usageOf(toMeasure);

    const std::int64_t workshopMinimum = context.threshold(context.catalog.thresholds.workshop);
    const std::int64_t gameMinimum = context.threshold(context.catalog.thresholds.personalFolder);

    for (const Candidates& found : candidates) {
        const SteamLibrary& library = *found.library;

        for (const Mods& mods : found.mods) {
            const std::int64_t bytes = bytesOf(sizes, mods.folder);
            if (bytes < workshopMinimum)
                continue;
            std::optional<Finding> finding = modsFinding(context, library, mods, bytes, result.notes);
            if (!finding)
                continue;
            finding->blockedBy = blocked;
            result.findings.push_back(std::move(*finding));
        }

        if (!destination)
            continue;
        const std::string driveName = context.drive(destination->path)->name;
        for (const SteamGame* game : found.games) {
            std::string folder = gameFolder(library, *game);
            const std::int64_t bytes = bytesOf(sizes, folder);
            if (bytes >= gameMinimum)
                result.findings.push_back(gameToMove(*game, driveName, bytes, std::move(folder)));
        }
    }
    return result;
}

} // namespace Quandril
