// The catalog the app ships with, checked for the mistakes that would quietly break it: a place no
// scan could ever report, an action the cleaner refuses, or a tool the wrong command runs.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fnmatch.h>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "QuandrilCore/Rules/Catalog.h"
#include "QuandrilCore/Scanning/Explain.h"
#include "QuandrilCore/Scanning/PathGuard.h"
#include "QuandrilCore/Scanning/Scanner.h"
#include "Support/AppBundles.h"
#include "Support/Archives.h"
#include "Support/FakeMachine.h"
#include "Support/SteamFixtures.h"

using namespace Quandril;
using namespace Quandril::Testing;

namespace {

const Catalog& shipped()
{
    static const Catalog catalog = Catalog::load(std::string(QUANDRIL_SOURCE_DIR) + "/engine/rules/catalog.json");
    return catalog;
}

bool displayForm(const std::string& path)
{
    return path == "~" || path.starts_with("~/") || path.starts_with("/");
}

// A name every star of the pattern matches, so the pattern finds the folder made for it.
std::string concrete(std::string pattern)
{
    std::replace(pattern.begin(), pattern.end(), '*', 'x');
    return pattern;
}

bool meets(const std::string& a, const std::string& b)
{
    auto under = [](const std::string& path, const std::string& folder) {
        return path.size() > folder.size() && path[folder.size()] == '/' && path.starts_with(folder);
    };
    return a == b || under(a, b) || under(b, a);
}

// A fake machine holding every protected path and one folder for every place pattern, with each
// place's patterns expanded on it. A pattern whose star could reach a protected folder finds it.
struct Expanded {
    FakeMachine machine;
    Mac mac;
    std::vector<std::vector<std::string>> paths; // per place, in catalog order

    Expanded()
        : mac(build(machine))
    {
        for (const auto& place : shipped().places) {
            std::vector<std::string> found;
            for (const auto& pattern : place.paths) {
                auto each = expand(pattern, mac);
                EXPECT_FALSE(each.empty()) << place.id << ": " << pattern << " finds nothing, not even its own folder";
                found.insert(found.end(), each.begin(), each.end());
            }
            paths.push_back(found);
        }
    }

    static Mac build(FakeMachine& machine)
    {
        for (const auto& rule : shipped().protected_)
            machine.folder(rule.path);
        for (const auto& place : shipped().places) {
            for (const auto& pattern : place.paths)
                machine.folder(concrete(pattern));
        }
        return machine.mac();
    }
};

} // namespace

TEST(ShippedCatalog, LoadsWithEnoughPlacesAndOwners)
{
    EXPECT_GE(shipped().places.size(), 110u);
    EXPECT_GE(shipped().owners.size(), 40u);
    EXPECT_FALSE(shipped().protected_.empty());
    EXPECT_FALSE(shipped().protectedSuffixes.empty());
    EXPECT_GT(shipped().thresholds.place, 0);
    EXPECT_GT(shipped().thresholds.installerDays, 0);
    EXPECT_GT(shipped().thresholds.unusedAppDays, 0);
}

TEST(ShippedCatalog, PlaceIdsAreUniqueHyphenatedWords)
{
    const std::regex shape("[a-z0-9]+(-[a-z0-9]+)*");
    std::set<std::string> seen;
    for (const auto& place : shipped().places) {
        EXPECT_TRUE(std::regex_match(place.id, shape)) << place.id;
        EXPECT_TRUE(seen.insert(place.id).second) << "repeated id " << place.id;
    }
}

TEST(ShippedCatalog, PathsAreInDisplayForm)
{
    for (const auto& place : shipped().places) {
        EXPECT_FALSE(place.paths.empty()) << place.id;
        for (const auto& pattern : place.paths)
            EXPECT_TRUE(displayForm(pattern)) << place.id << ": " << pattern;
    }
    for (const auto& rule : shipped().protected_)
        EXPECT_TRUE(displayForm(rule.path)) << rule.path;
    for (const auto& suffix : shipped().protectedSuffixes)
        EXPECT_EQ(suffix.path.find('/'), std::string::npos) << "a name ending holds no '/': " << suffix.path;
}

TEST(ShippedCatalog, ActionsSuitTheirTier)
{
    for (const auto& place : shipped().places) {
        std::vector<Action> actions { place.action };
        if (place.actionIfToolMissing)
            actions.push_back(*place.actionIfToolMissing);
        for (const auto& action : actions) {
            // The cleaner refuses both outright, so such a place could never be cleaned.
            if (action.kind == Action::Kind::delete_) {
                EXPECT_EQ(std::string(rawValue(place.tier)), "rebuilds") << place.id << " deletes outside \"rebuilds\"";
            }
            if (place.tier == Tier::personal) {
                EXPECT_TRUE(action.kind == Action::Kind::review || action.kind == Action::Kind::handOff
                            || action.kind == Action::Kind::move)
                    << place.id << " acts on the user's own files with " << rawValue(action.kind);
            }
            if (action.kind == Action::Kind::command) {
                EXPECT_TRUE(action.command && !action.command->empty()) << place.id << " has no command line";
            }
            if (action.kind == Action::Kind::handOff) {
                EXPECT_TRUE(action.app && action.steps) << place.id << " hands off without app and steps";
            }
        }
        if (place.onlyIfUninstalled.value_or(false)) {
            EXPECT_TRUE(place.app.has_value()) << place.id << ": onlyIfUninstalled means nothing without app";
        }
    }
}

TEST(ShippedCatalog, EveryToolIsTheCommandItsActionRuns)
{
    for (const auto& place : shipped().places) {
        if (!place.tool) {
            EXPECT_FALSE(place.actionIfToolMissing.has_value()) << place.id << ": a fallback no tool can trigger";
            continue;
        }
        ASSERT_EQ(std::string(rawValue(place.action.kind)), "command") << place.id;
        ASSERT_TRUE(place.action.command && !place.action.command->empty()) << place.id;
        EXPECT_EQ(place.action.command->front(), *place.tool) << place.id;
    }
}

TEST(ShippedCatalog, NoPlaceIsRefusedByTheCatalogsOwnNeverTouchRules)
{
    Expanded expanded;
    PathGuard guard(shipped(), expanded.mac);
    for (std::size_t i = 0; i < shipped().places.size(); ++i) {
        for (const auto& path : expanded.paths[i]) {
            auto why = guard.protection(path, true);
            EXPECT_FALSE(why.has_value()) << shipped().places[i].id << ": " << path << " is never touched: " << *why;
        }
    }
}

TEST(ShippedCatalog, NoPlaceHidesBehindAnEarlierOne)
{
    // The scan keeps the first finding for a path. A place reported only while its app is gone
    // may stand in front of the parts shown while it is installed; nothing else may.
    Expanded expanded;
    const auto& places = shipped().places;
    for (std::size_t later = 0; later < places.size(); ++later) {
        for (std::size_t earlier = 0; earlier < later; ++earlier) {
            if (places[earlier].onlyIfUninstalled.value_or(false))
                continue;
            for (const auto& a : expanded.paths[earlier]) {
                for (const auto& b : expanded.paths[later])
                    EXPECT_FALSE(meets(a, b))
                        << places[later].id << " hides behind " << places[earlier].id << ": " << b << " / " << a;
            }
        }
    }
}

TEST(ShippedCatalog, NoPatternReachesIntoAnAppLibrary)
{
    // The personal-files finder hands a library to its app only while no place claims anything in
    // it; a claimed path inside would silently drop the library's hand-off.
    auto components = [](const std::string& path) {
        std::vector<std::string> parts;
        for (std::size_t start = 0; start <= path.size();) {
            const std::size_t slash = std::min(path.find('/', start), path.size());
            if (slash > start)
                parts.push_back(path.substr(start, slash - start));
            start = slash + 1;
        }
        return parts;
    };
    auto matches = [](const std::string& pattern, const std::string& name) {
        if (pattern.find('*') == std::string::npos)
            return pattern == name;
        return !name.starts_with(".") && ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
    };
    for (const auto& library : shipped().appLibraries) {
        if (!library.match.starts_with("~") && !library.match.starts_with("/"))
            continue;
        const auto folder = components(library.match);
        for (const auto& place : shipped().places) {
            for (const auto& pattern : place.paths) {
                const auto parts = components(pattern);
                if (parts.size() < folder.size())
                    continue;
                bool reaches = true;
                for (std::size_t i = 0; reaches && i < folder.size(); ++i)
                    reaches = matches(parts[i], folder[i]);
                EXPECT_FALSE(reaches) << place.id << ": " << pattern << " reaches into " << library.match;
            }
        }
    }
}

namespace {

// Whether a finding's path is, holds or lies in a display path of the machine.
bool touches(const Finding& finding, const std::string& real)
{
    return std::any_of(finding.paths.begin(), finding.paths.end(),
                       [&](const std::string& path) { return meets(path, real); });
}

// Gorrin itself takes it off the Mac, by deleting, trashing or a command.
bool removes(const Finding& finding)
{
    const auto kind = finding.action.kind;
    return kind == Action::Kind::delete_ || kind == Action::Kind::trash || kind == Action::Kind::command;
}

// ... or moves it by hand, which breaks what an app keeps track of.
bool acts(const Finding& finding)
{
    return removes(finding) || finding.action.kind == Action::Kind::move;
}

// Every item of the tree last changed long ago, so nothing counts as in use.
void age(const FakeMachine& machine, TimePoint when)
{
    namespace fs = std::filesystem;
    for (const auto& entry : fs::recursive_directory_iterator(machine.root()))
        const_cast<FakeMachine&>(machine).modified(entry.path().string().substr(machine.root().size()), when);
}

} // namespace

// A Mac as people have them: the only copy of their databases, vaults, messages, saves, edit
// history and offline music, beside the caches that may go. Every place shows up at any size.
TEST(ShippedCatalogScan, OnlyCopiesAreNeverActedOnAndCachesAreStillFound)
{
    FakeMachine machine;
    Testing::addApp(machine, "/Applications/WhatsApp.app", Testing::AppSpec("net.whatsapp.WhatsApp"));
    Testing::addApp(machine, "/Applications/Telegram.app", Testing::AppSpec("ru.keepcoder.Telegram"));
    Testing::addApp(machine, "/Applications/Spotify.app", Testing::AppSpec("com.spotify.client"));
    machine.drive("Backup", "/Volumes/Backup", 2'000'000'000'000, 1'000'000'000'000).folder("/Volumes/Backup");

    const std::string support = "~/Library/Application Support/";
    const std::vector<std::string> onlyCopies {
        support + "Postgres/var-16/base/1/1259",
        support + "Firefox/Profiles/ab12.default-release/logins.json",
        support + "Firefox/Profiles/ab12.default-release/key4.db",
        support + "Signal/sql/db.sqlite",
        support + "Terraria/Players/Me.plr",
        support + "Terraria/Worlds/Home.wld",
        "~/Library/Group Containers/2BUA8C4S2C.com.agilebits/Library/Application Support/1Password 4/Data/OnePassword.sqlite",
        "~/Library/Group Containers/2BUA8C4S2C.com.1password/Library/Application Support/1Password/Data/1password.sqlite",
        "~/Library/Containers/com.utmapp.UTM/Data/Documents/Linux.utm/Data/disk.qcow2",
        "~/Library/Caches/JetBrains/IntelliJIdea2024.1/LocalHistory/changes.storageData",
        "~/Library/Group Containers/6N38VWS5BX.ru.keepcoder.Telegram/stable/account-1234/postbox/db/db_sqlite",
        support + "Spotify/PersistentCache/Storage/ab/offline.file",
        "~/Music/Audio Music Apps/Patches/Instrument/My Synth.patch",
        "~/Documents/Adobe/Premiere Pro/24.0/Profile-me/Adobe Premiere Pro Prefs",
        "~/Pictures/Photo Booth Library/Pictures/Photo 1.jpg",
        "~/Pictures/Lightroom/Lightroom Catalog.lrcat",
        "~/Music/Music/Media.localized/Apple Music/Song.m4p",
    };
    // Costly to make again, or not known to be a cache: may move with their folder, never go.
    const std::vector<std::string> notCaches {
        "~/Projects/mvn-app/target/classes/App.class",
        "~/Developer/old-site/node_modules/left-pad/index.js",
        "~/Pictures/Lightroom Catalogs/Trip Smart Previews.lrdata/0/photo.dng",
    };
    const std::vector<std::string> caches {
        "~/Library/Caches/Firefox/Profiles/ab12.default-release/cache2/entries/0A1B",
        support + "Steam/appcache/appinfo.vdf",
        support + "Steam/steamapps/downloading/105600/content.bin",
        "~/Library/Containers/com.pixelmatorteam.pixelmator.x/Data/Library/Caches/thumbs",
        "~/Library/Caches/JetBrains/IntelliJIdea2024.1/caches/content.dat",
        "~/Library/Caches/JetBrains/IntelliJIdea2024.1/index/stubs",
        "~/Library/Caches/com.spotify.client/Data/ab/stream.file",
        "~/Library/Group Containers/6N38VWS5BX.ru.keepcoder.Telegram/stable/account-1234/postbox/media/photo-1",
        "~/.m2/repository/com/me/mylib/1.0/mylib-1.0.jar",
        "~/Library/Caches/Homebrew/downloads/abc--wget.bottle.tar.gz",
        "~/Pictures/Lightroom/Lightroom Catalog Previews.lrdata/previews.db",
        "~/Pictures/Lightroom Catalogs/Trip Previews.lrdata/previews.db",
        "~/Pictures/Lightroom Catalogs/Trip.lrcat",
        "~/Developer/site/node_modules/.package-lock.json",
        "~/Developer/site/node_modules/left-pad/index.js",
        "~/Projects/tool/target/CACHEDIR.TAG",
        "~/Projects/tool/target/debug/tool",
        "~/Developer/Kit/.build/workspace-state.json",
        "~/Downloads/Tool 2.0.dmg",
    };
    for (const auto* list : { &onlyCopies, &notCaches, &caches }) {
        for (const auto& path : *list)
            machine.file(path, 5'000);
    }
    Testing::writeLibraryList(machine,
                              { { machine.at(std::string(Testing::steamFolder)), {} },
                                { "/Volumes/Games Drive", { "105600" } } });
    Testing::writeZip(machine.at("~/Downloads/WhatsApp Chat - Mom.zip"), { { "_chat.txt", "[01.02.25] Mom: hi" } });
    machine.text("~/Downloads/Private.dmg", Testing::diskImage(Testing::ImageHeader::encryptedAtStart, 5'000));
    const TimePoint now = *Platform::parseIso8601("2025-03-20T12:00:00Z");
    age(machine, now - std::chrono::hours(24 * 90));
    const Mac mac = machine.mac();

    const ScanReport report = Scanner::scan(mac, shipped(), ScanOptions { .minimumBytes = 0, .now = now });

    for (const auto& finding : report.findings) {
        for (const auto& display : onlyCopies)
            EXPECT_FALSE(acts(finding) && touches(finding, machine.at(display)))
                << finding.id << " " << rawValue(finding.action.kind) << "s " << display;
        for (const auto& display : notCaches)
            EXPECT_FALSE(removes(finding) && touches(finding, machine.at(display)))
                << finding.id << " " << rawValue(finding.action.kind) << "s " << display;
    }

    // Every finding in one list: id, action, owner and paths.
    std::vector<std::string> found;
    for (const auto& finding : report.findings) {
        std::string line = finding.id + " " + std::string(rawValue(finding.action.kind)) + " ("
            + finding.owner.value_or("") + ")";
        for (const auto& path : finding.paths)
            line += " " + mac.display(path);
        found.push_back(line);
    }
    std::sort(found.begin(), found.end());
    const std::vector<std::string> expected {
        "firefox-cache delete (Firefox (uninstalled)) ~/Library/Caches/Firefox/Profiles",
        "homebrew-cache delete (Homebrew) ~/Library/Caches/Homebrew",
        "ide-local-history review (JetBrains IDEs) ~/Library/Caches/JetBrains/IntelliJIdea2024.1/LocalHistory",
        "installer-tool20dmg trash () ~/Downloads/Tool 2.0.dmg",
        "jetbrains-caches delete (JetBrains IDEs) ~/Library/Caches/JetBrains/IntelliJIdea2024.1/caches "
        "~/Library/Caches/JetBrains/IntelliJIdea2024.1/index",
        "leftover-pixelmatorpro trash (Pixelmator Pro) ~/Library/Containers/com.pixelmatorteam.pixelmator.x",
        "lightroom-previews delete (Lightroom Classic) ~/Pictures/Lightroom Catalogs/Trip Previews.lrdata",
        "maven-repository trash (Maven) ~/.m2/repository",
        "personal-documents-adobe handOff (Adobe Premiere Pro) ~/Documents/Adobe",
        "personal-downloads-privatedmg move () ~/Downloads/Private.dmg",
        "personal-downloads-whatsappchatmomzip move () ~/Downloads/WhatsApp Chat - Mom.zip",
        "personal-music-audiomusicapps handOff (GarageBand) ~/Music/Audio Music Apps",
        "personal-music-music handOff (Music) ~/Music/Music",
        "personal-pictures-lightroom handOff (Lightroom Classic) ~/Pictures/Lightroom",
        "personal-pictures-photoboothlibrary handOff (Photo Booth) ~/Pictures/Photo Booth Library",
        "project-node-modules trash (npm) ~/Developer/site/node_modules",
        "rust-targets delete (Cargo) ~/Projects/tool/target",
        "spotify-cache delete (Spotify) ~/Library/Caches/com.spotify.client",
        "spotify-downloads handOff (Spotify) ~/Library/Application Support/Spotify/PersistentCache",
        "steam-caches delete (Steam (uninstalled)) ~/Library/Application Support/Steam/appcache",
        "steam-downloads delete (Steam (uninstalled)) ~/Library/Application Support/Steam/steamapps/downloading",
        "swiftpm-build-folders delete (Swift Package Manager) ~/Developer/Kit/.build",
        "telegram-cache handOff (Telegram) ~/Library/Group Containers/6N38VWS5BX.ru.keepcoder.Telegram/stable/"
        "account-1234/postbox/media",
    };
    EXPECT_EQ(found, expected);

    // A gone app's folders carry its own name, not a piece of an identifier.
    std::vector<std::string> owners;
    for (const char* folder :
         { "~/Library/Group Containers/2BUA8C4S2C.com.agilebits", "~/Library/Group Containers/2BUA8C4S2C.com.1password",
           "~/Library/Containers/com.pixelmatorteam.pixelmator.x" })
        owners.push_back(Explainer::explain(machine.at(folder), mac, shipped()).owner.value_or("none"));
    EXPECT_EQ(owners,
              (std::vector<std::string> { "uninstalled: 1Password", "uninstalled: 1Password",
                                          "uninstalled: Pixelmator Pro" }));

    // The data of gone apps that holds an only copy is refused with its reason, not dropped unseen.
    std::vector<std::string> refused;
    for (const auto& skipped : report.skipped)
        refused.push_back(skipped.why);
    std::sort(refused.begin(), refused.end());
    EXPECT_EQ(refused,
              (std::vector<std::string> {
                  "never touched: your 1Password vaults",
                  "never touched: your Firefox profiles (saved passwords, bookmarks and history)",
                  "never touched: your Postgres.app databases",
                  "never touched: your Signal messages, kept only on this Mac",
                  "never touched: your UTM virtual machines" }));
}

TEST(ShippedCatalog, EntriesComparedAsWrittenAreLowerCase)
{
    // Personal markers are compared with lower-cased names exactly as the catalog spells them.
    const auto& markers = shipped().personalMarkers;
    for (const auto& list : { markers.folders, markers.extensions }) {
        for (const auto& entry : list) {
            std::string lower = entry;
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            EXPECT_EQ(entry, lower);
            EXPECT_FALSE(entry.starts_with(".")) << entry;
        }
    }
}
