#include "QuandrilCore/Rules/Steam.h"

#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/Mac.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/SteamFixtures.h"

using namespace Quandril;
using Quandril::Testing::FakeMachine;
using Quandril::Testing::manifest;
using Quandril::Testing::steamFolder;
using Quandril::Testing::steamPath;

namespace {

// A library as the test sees it: display path, mounted, listed app ids.
struct Seen {
    std::string path;
    bool mounted;
    std::set<std::string> listed;

    friend bool operator==(const Seen&, const Seen&) = default;
};

void PrintTo(const Seen& seen, std::ostream* out)
{
    *out << seen.path << (seen.mounted ? " mounted [" : " gone [");
    for (const std::string& id : seen.listed)
        *out << id << ' ';
    *out << ']';
}

std::vector<Seen> seen(const Mac& mac, const std::vector<SteamLibrary>& libraries)
{
    std::vector<Seen> out;
    for (const SteamLibrary& library : libraries)
        out.push_back({ mac.display(library.path), library.mounted, library.listedAppIDs });
    return out;
}

TEST(SteamLibraries, NothingWithoutSteamapps)
{
    FakeMachine bare;
    EXPECT_TRUE(SteamLibrary::load(bare.mac()).empty());

    // Other libraries are not looked for when the Steam folder itself has no "steamapps".
    FakeMachine noSteamapps;
    noSteamapps.folder(steamFolder).folder("/Volumes/Games/steamapps");
    noSteamapps.text(steamPath("/libraryfolders.vdf"), "\"libraryfolders\" { \"1\" { \"path\" \"/Volumes/Games\" } }");
    EXPECT_TRUE(SteamLibrary::load(noSteamapps.mac()).empty());
}

struct ListCase {
    const char* name;
    std::string list; // libraryfolders.vdf; empty for no file
    std::vector<std::string> mountedFolders;
    std::vector<Seen> expected;
};

const std::string S(steamFolder);
const std::string steamReal = "/Users/me/Library/Application Support/Steam";

const ListCase listCases[] = {
    { "no library list", "", {}, { { S, true, {} } } },
    { "unreadable library list", "\xFF\xFE", {}, { { S, true, {} } } },
    { "steam folder first with its entry's apps, then a drive",
      "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + steamReal
          + "\"\n\t\t\"apps\"\n\t\t{\n\t\t\t\"10\"\t\t\"100\"\n\t\t}\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"/Volumes/Games\"\n"
            "\t\t\"apps\"\n\t\t{\n\t\t\t\"20\"\t\t\"200\"\n\t\t\t\"30\"\t\t\"300\"\n\t\t}\n\t}\n}\n",
      { "/Volumes/Games" },
      { { S, true, { "10" } }, { "/Volumes/Games", true, { "20", "30" } } } },
    { "entries in key order compared as text",
      R"("libraryfolders" { "2" { "path" "/L2" } "10" { "path" "/L10" } "0" { "path" "/L0" } })",
      { "/L0", "/L2", "/L10" },
      { { S, true, {} }, { "/L0", true, {} }, { "/L10", true, {} }, { "/L2", true, {} } } },
    { "same folder written three ways is one library",
      R"("libraryfolders" { "1" { "path" "/Volumes/Games/" "apps" { "1" "0" } } )"
      R"("2" { "path" "/Volumes/./Games" "apps" { "2" "0" } } "3" { "path" "/Volumes/x/../Games//" "apps" { "1" "0" "3" "0" } } })",
      { "/Volumes/Games" },
      { { S, true, {} }, { "/Volumes/Games", true, { "1", "2", "3" } } } },
    { "home forms are taken against the home folder",
      R"("libraryfolders" { "1" { "path" "~/Games" "apps" { "7" "0" } } "2" { "path" "~" } "3" { "path" "~/Library/Application Support/Steam/" "apps" { "8" "0" } } })",
      { "~/Games" },
      { { S, true, { "8" } }, { "~/Games", true, { "7" } }, { "~", false, {} } } },
    { "unplugged library keeps its listed apps",
      R"("libraryfolders" { "1" { "path" "/Volumes/Gone" "apps" { "42" "0" } } })",
      {},
      { { S, true, {} }, { "/Volumes/Gone", false, { "42" } } } },
    { "malformed and relative entries are skipped",
      R"("libraryfolders" { "0" { "apps" { "1" "0" } } "1" { "path" { "x" "y" } } "2" "/Volumes/Plain" )"
      R"("3" { "path" "Games/Relative" } "4" { "path" "" } "5" { "path" "./Games" } "6" { "path" "~other/Games" } )"
      R"("7" { "path" "/Volumes/Good" "apps" "none" } })",
      { "/Volumes/Good" },
      { { S, true, {} }, { "/Volumes/Good", true, {} } } },
    { "entries at the top level without the wrapping key",
      R"("0" { "path" "/Volumes/A" } "contentstatsid" "123" "1" { "path" "/Volumes/B" })",
      {},
      { { S, true, {} }, { "/Volumes/A", false, {} }, { "/Volumes/B", false, {} } } },
    { "a text under the wrapping key holds no entries",
      R"("libraryfolders" "none" "1" { "path" "/Volumes/A" })",
      {},
      { { S, true, {} } } },
    { "paths with spaces, quotes and letters beyond ASCII",
      R"("LibraryFolders" { "1" { "Path" "/Volumes/Spiele Sammlung/Stéam \"Ä\"" "Apps" { "5" "0" } } })",
      { "/Volumes/Spiele Sammlung/Stéam \"Ä\"" },
      { { S, true, {} }, { "/Volumes/Spiele Sammlung/Stéam \"Ä\"", true, { "5" } } } },
};

class SteamLibraryLists : public ::testing::TestWithParam<ListCase> {};

TEST_P(SteamLibraryLists, ReadsLibrariesInOrder)
{
    const ListCase& c = GetParam();
    FakeMachine machine;
    machine.folder(steamPath("/steamapps"));
    if (!c.list.empty())
        machine.text(steamPath("/steamapps/libraryfolders.vdf"), c.list);
    for (const std::string& folder : c.mountedFolders)
        machine.folder(folder + "/steamapps");
    Mac mac = machine.mac();
    std::vector<SteamLibrary> libraries = SteamLibrary::load(mac);
    EXPECT_EQ(seen(mac, libraries), c.expected);
    for (const SteamLibrary& library : libraries)
        EXPECT_EQ(library.path, mac.path(mac.display(library.path))) << "real path, standardized";
}

INSTANTIATE_TEST_SUITE_P(Table, SteamLibraryLists, ::testing::ValuesIn(listCases), Quandril::Testing::CaseNamed());

TEST(SteamLibraries, ReadsManifestsOfMountedLibrariesOnly)
{
    FakeMachine machine;
    machine.text(
        steamPath("/steamapps/libraryfolders.vdf"),
        R"("libraryfolders" { "1" { "path" "/Volumes/Games" } "2" { "path" "/Volumes/Gone" "apps" { "9" "0" } } })");
    const std::string here = steamPath("/steamapps/");
    const std::string there = "/Volumes/Games/steamapps/";
    machine.text(here + "appmanifest_10.acf", manifest("10", R"(Half \"Life\" 2)", "Half-Life 2"));
    machine.text(here + "appmanifest_20.acf", manifest("20", "Ōkami HD", "Okami HD\\\\Édition"));
    // Only the id inside counts, and a later manifest of the same id (in listing order) wins.
    machine.text(here + "appmanifest_a.acf", manifest("30", "Old", "old"));
    machine.text(here + "appmanifest_b.acf", manifest("30", "New", "new"));
    machine.text(there + "appmanifest_40.acf", manifest("40", "Far Away", "Far Away"));
    Mac mac = machine.mac();

    std::vector<SteamLibrary> libraries = SteamLibrary::load(mac);
    ASSERT_EQ(libraries.size(), 3u);
    std::map<std::string, SteamGame> expectedHere {
        { "10", { "10", "Half \"Life\" 2", "Half-Life 2" } },
        { "20", { "20", "Ōkami HD", "Okami HD\\Édition" } },
        { "30", { "30", "New", "new" } },
    };
    EXPECT_EQ(libraries[0].games, expectedHere);
    EXPECT_EQ(libraries[1].games, (std::map<std::string, SteamGame> { { "40", { "40", "Far Away", "Far Away" } } }));
    EXPECT_FALSE(libraries[2].mounted);
    EXPECT_TRUE(libraries[2].games.empty());
    EXPECT_EQ(libraries[2].listedAppIDs, std::set<std::string> { "9" });
}

struct ManifestCase {
    const char* name;
    std::string file;
    std::string content;
    std::optional<SteamGame> expected;
};

const ManifestCase manifestCases[] = {
    { "full", "appmanifest_1.acf", manifest("1", "Game One", "Game One"), SteamGame { "1", "Game One", "Game One" } },
    { "no name", "appmanifest_2.acf", R"("AppState" { "appid" "2" "installdir" "Two" })",
      SteamGame { "2", "Steam app 2", "Two" } },
    { "name is a block", "appmanifest_3.acf", R"("AppState" { "appid" "3" "name" { } })",
      SteamGame { "3", "Steam app 3", "" } },
    { "empty name stays empty", "appmanifest_4.acf", R"("AppState" { "appid" "4" "name" "" "installdir" "" })",
      SteamGame { "4", "", "" } },
    { "app id kept as written", "appmanifest_5.acf", R"("appstate" { "AppID" "0050" "Name" "Fifty" })",
      SteamGame { "0050", "Fifty", "" } },
    { "no AppState block", "appmanifest_6.acf", R"("AppState" "6")", std::nullopt },
    { "app id not a text", "appmanifest_7.acf", R"("AppState" { "appid" { "7" "7" } "name" "Seven" })", std::nullopt },
    { "no app id", "appmanifest_8.acf", R"("AppState" { "name" "Eight" })", std::nullopt },
    { "extension in capitals", "appmanifest_9.ACF", manifest("9", "Nine", "Nine"), std::nullopt },
    { "other prefix", "AppManifest_10.acf", manifest("10", "Ten", "Ten"), std::nullopt },
    { "invalid UTF-8", "appmanifest_12.acf", manifest("12", "Tw\xC0lve", "12"), std::nullopt },
    { "name with spaces in the file name", "appmanifest_13 copy.acf", manifest("13", "Thirteen", "13"),
      SteamGame { "13", "Thirteen", "13" } },
};

class SteamManifests : public ::testing::TestWithParam<ManifestCase> {};

TEST_P(SteamManifests, ReadsOneManifest)
{
    const ManifestCase& c = GetParam();
    FakeMachine machine;
    machine.text(steamPath("/steamapps/") + c.file, c.content);
    machine.folder(steamPath("/steamapps/appmanifest_99.acf")); // a folder by that name reads as nothing
    std::vector<SteamLibrary> libraries = SteamLibrary::load(machine.mac());
    ASSERT_EQ(libraries.size(), 1u);
    std::map<std::string, SteamGame> expected;
    if (c.expected)
        expected[c.expected->appID] = *c.expected;
    EXPECT_EQ(libraries[0].games, expected);
}

INSTANTIATE_TEST_SUITE_P(Table, SteamManifests, ::testing::ValuesIn(manifestCases), Quandril::Testing::CaseNamed());

} // namespace
