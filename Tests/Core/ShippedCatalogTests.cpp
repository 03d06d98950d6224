// The catalog the app ships with, checked for the mistakes that would quietly break it: a place no
// scan could ever report, an action the cleaner refuses, or a tool the wrong command runs.

#include <algorithm>
#include <cctype>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Catalog.h"
#include "QuandrilCore/Mac.h"
#include "QuandrilCore/PathGuard.h"
#include "Support/FakeMachine.h"

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
    EXPECT_GE(shipped().places.size(), 60u);
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
                    EXPECT_FALSE(meets(a, b)) << places[later].id << " hides behind " << places[earlier].id
                                              << ": " << b << " / " << a;
            }
        }
    }
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
