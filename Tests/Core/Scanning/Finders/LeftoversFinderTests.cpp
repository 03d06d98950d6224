#include <algorithm>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Scanning/Finders/Finders.h"
#include "QuandrilCore/Scanning/Finders/Leftovers.h"
#include "QuandrilCore/Scanning/Scanner.h"
#include "Support/AppBundles.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/FinderChecks.h"
#include "Support/MiniCatalog.h"
#include "Support/Unprivileged.h"

using namespace Quandril;
using Quandril::Testing::AppSpec;
using Quandril::Testing::FakeMachine;

namespace {

Catalog::Markers markers()
{
    return { { "documents", "m\u00e9dias" }, { "pages", "psd" } };
}

// MARK: Personal-content sampling

struct SampleCase {
    std::string name;
    std::vector<std::string> files; // relative to the sampled folder
    std::int64_t limit;
    std::optional<std::string> sentence;
};

void PrintTo(const SampleCase& c, std::ostream* out)
{
    *out << c.name;
}

class Sampling : public testing::TestWithParam<SampleCase> {};

TEST_P(Sampling, NamesFilesThatLookPersonal)
{
    const SampleCase& c = GetParam();
    Testing::TempDir dir;
    const std::string folder = dir.path() + "/Sampled \"Folder\"";
    Testing::makeFolders(folder);
    for (const auto& file : c.files)
        Testing::writeFile(folder + "/" + file, "x");
    EXPECT_EQ(personalContent(folder, markers(), c.limit), c.sentence);
}

// Deeper than the walk keeps folders open, so it must find its way back up to "Z".
std::string deepFile()
{
    std::string path;
    for (int level = 0; level < 40; ++level)
        path += "A" + std::to_string(level) + "/";
    return path + "x.psd";
}

// 40 folders of 30 personal files: 31 entries each in the walk.
std::vector<std::string> fortyFolders()
{
    std::vector<std::string> files;
    for (int folder = 10; folder < 50; ++folder)
        for (int file = 10; file < 40; ++file)
            files.push_back("a" + std::to_string(folder) + "/f" + std::to_string(file) + ".psd");
    return files;
}

std::vector<std::string> twelveDocuments()
{
    std::vector<std::string> files;
    for (int i = 10; i < 22; ++i)
        files.push_back("Data/Documents/Report " + std::to_string(i) + ".txt");
    files.push_back("Data/plain.txt");
    return files;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Sampling,
    testing::Values(
        SampleCase { "nothing personal", { "cache.db", "Logs/today.log" }, 50'000, std::nullopt },
        SampleCase { "one file under a marker folder in any case",
                     { "Data/DOCUMENTS/Report \"Q1\".txt", "a.db" },
                     50'000,
                     "1 file that looks like your own, Data/DOCUMENTS/Report \"Q1\".txt" },
        SampleCase { "twelve files name the first", twelveDocuments(), 50'000,
                     "12 files that look like your own, such as Data/Documents/Report 10.txt" },
        SampleCase { "a marker extension in any case",
                     { "Work/Plan.PAGES" },
                     50'000,
                     "1 file that looks like your own, Work/Plan.PAGES" },
        SampleCase { "a decomposed marker folder",
                     { "Me\u0301dias/clip.mov" },
                     50'000,
                     "1 file that looks like your own, Me\u0301dias/clip.mov" },
        // Only the folders of a path count, not the file's own name.
        SampleCase { "a file named like a marker folder", { "documents", "Documents" }, 50'000, std::nullopt },
        SampleCase {
            "a marker word that is no extension", { "pages", "notes.pages.bak", ".psd" }, 50'000, std::nullopt },
        // Folders count as entries too: "A" is the first, "A/x.psd" the second.
        SampleCase { "the limit ends the walk", { "A/x.psd" }, 1, std::nullopt },
        SampleCase {
            "the limit counts folders and files", { "A/x.psd" }, 2, "1 file that looks like your own, A/x.psd" },
        SampleCase { "a limit of nothing", { "x.psd" }, 0, std::nullopt },
        SampleCase { "a deep folder and a later sibling",
                     { deepFile(), "Z/y.psd" },
                     50'000,
                     "2 files that look like your own, such as " + deepFile() },
        // Name by name: "a" comes before "a-c", though "a/" comes after "a-" as text.
        SampleCase { "the first in the walk across folders",
                     { "b/x.psd", "a-c/w.psd", "a/z/y.psd" },
                     50'000,
                     "3 files that look like your own, such as a/z/y.psd" },
        SampleCase { "many folders looked at whole", fortyFolders(), 50'000,
                     "1200 files that look like your own, such as a10/f10.psd" },
        // a10, a11 and a12 whole (93 entries), then a13 and six of its files.
        SampleCase { "many folders cut by the limit", fortyFolders(), 100,
                     "96 files that look like your own, such as a10/f10.psd" }),
    Testing::CaseNamed {});

TEST(SamplingLimits, MissingFencedAndLinkedFoldersGiveNothing)
{
    FakeMachine fake;
    fake.file("~/Downloads/Files/a.psd").file("~/Library/Data/Inner/b.psd").file("/Outside/Documents/c.txt");
    fake.link("~/Library/Data/Linked", fake.at("/Outside"));
    fake.link("~/Library/Data/linked.psd", fake.at("/Outside/Documents/c.txt"));

    EXPECT_EQ(personalContent(fake.at("~/Missing"), markers(), 50'000), std::nullopt);
    EXPECT_EQ(personalContent(fake.at("~/Library/Data"), markers(), 50'000),
              "1 file that looks like your own, Inner/b.psd");
    {
        PrivacyFence::Registration fence(PrivacyFence::shared(),
                                         { fake.at("~/Downloads"), fake.at("~/Library/Data/Inner") });
        EXPECT_EQ(personalContent(fake.at("~/Downloads"), markers(), 50'000), std::nullopt);
        EXPECT_EQ(personalContent(fake.at("~/Downloads/Files"), markers(), 50'000), std::nullopt);
        // A fenced folder inside is never opened.
        EXPECT_EQ(personalContent(fake.at("~/Library/Data"), markers(), 50'000), std::nullopt);
    }
}

TEST(SamplingLimits, UnreadableFolderInsideIsPassedOver)
{
    // Root reads every folder.
    Testing::asOrdinaryUser([] {
        FakeMachine fake;
        fake.file("~/Data/Locked/a.psd").file("~/Data/Open/b.psd");
        ::chmod(fake.at("~/Data/Locked").c_str(), 0);
        EXPECT_EQ(personalContent(fake.at("~/Data"), markers(), 50'000), "1 file that looks like your own, Open/b.psd");
    });
}

// MARK: Leftovers finder

const std::string unknownReason
    = "This folder doesn't match any installed app; it may be left over from something you removed.";
const std::string unknownGetBack = "Look inside before deciding; if it goes, it goes to the Trash first.";

Finding leftover(const std::string& id, const std::string& name, std::int64_t bytes, std::vector<std::string> paths,
                 std::optional<std::string> caution = std::nullopt)
{
    return Finding(id, "leftovers", name + " leftovers", name + " is no longer installed, but its data stayed behind.",
                   "It stays in the Trash until you empty it. Reinstalled, " + name + " would start fresh without it.",
                   Tier::reinstallable, bytes, std::move(paths), name, Action::trash(), std::move(caution),
                   std::nullopt, false, std::nullopt);
}

Finding unknown(const std::string& id, const std::string& name, std::int64_t bytes, std::vector<std::string> paths,
                std::optional<std::string> caution = std::nullopt)
{
    return Finding(id, "leftovers", name + " (owner unknown)", unknownReason, unknownGetBack, Tier::reinstallable,
                   bytes, std::move(paths), std::nullopt, Action::review(), std::move(caution), std::nullopt, true,
                   std::nullopt);
}

class Leftovers : public testing::Test {
protected:
    Leftovers()
    {
        catalog.systemNames = { "CloudDocs" };
        catalog.systemPrefixes = { "com.apple." };
        catalog.owners = { Testing::owner("Old Tool", { "Old Tool" }, { "com.gone.oldtool" }) };
        catalog.personalMarkers = markers();
        Testing::addApp(fake, "/Applications/Keeper.app", AppSpec("com.keeper.app"));
    }

    // A data folder holding one file.
    std::string folder(const std::string& display, std::int64_t bytes = 10'000)
    {
        fake.file(display + "/data.bin", bytes);
        return fake.at(display);
    }

    FinderResult find(std::optional<std::int64_t> minimumBytes = std::nullopt)
    {
        Mac mac = fake.mac();
        const ScanOptions options { .minimumBytes = minimumBytes, .now = Clock::now() };
        return LeftoversFinder().find(Scanner::makeContext(mac, catalog, options));
    }

    std::int64_t sizeOf(const std::vector<std::string>& paths) const { return Testing::bytesOf(fake.mac(), paths); }

    FakeMachine fake;
    Catalog catalog = Testing::miniCatalog();
};

TEST_F(Leftovers, OneFindingPerGoneAppAndPerUnknownFolderInKeyOrder)
{
    folder("~/Library/Containers/com.keeper.app");        // installed
    folder("~/Library/Containers/com.apple.Notes");       // macOS
    folder("~/Library/Group Containers/group.CloudDocs"); // macOS once "group." is off
    std::string container = folder("~/Library/Containers/com.example.app");
    std::string group = folder("~/Library/Group Containers/group.com.example.app");
    std::string oldContainer = folder("~/Library/Containers/com.gone.oldtool.agent");
    std::string oldSupport = folder("~/Library/Application Support/Old Tool");
    // One name, composed in one place and decomposed in the other.
    std::string cafe = folder("~/Library/Containers/com.caf\u00e9.app");
    std::string cafeGroup = folder("~/Library/Group Containers/group.com.cafe\u0301.app");
    std::string fooBar = folder("~/Library/Application Support/Foo Bar");
    std::string sharedGroup = folder("~/Library/Group Containers/Shared \"Stuff\"");
    std::string sharedSupport = folder("~/Library/Application Support/Shared \"Stuff\"");
    // Not looked at: a link, a file, a catalog place, and what the fence holds.
    fake.file("/Elsewhere/Data/data.bin", 10'000)
        .link("~/Library/Application Support/Linked", fake.at("/Elsewhere/Data"));
    fake.text("~/Library/Application Support/loose.txt", "x");
    folder("~/Library/Application Support/Claimed/Cache");
    catalog.places = { Testing::place("claimed", "~/Library/Application Support/Claimed/Cache") };

    // Unknown folders are keyed by their paths, which sort before any name.
    Testing::expectOnly(
        find(),
        { unknown("unknown-libraryapplicationsupportfoobar", "Foo Bar", sizeOf({ fooBar }), { fooBar }),
          unknown("unknown-libraryapplicationsupportsharedstuff", "Shared \"Stuff\"", sizeOf({ sharedSupport }),
                  { sharedSupport }),
          unknown("unknown-librarygroupcontainerssharedstuff", "Shared \"Stuff\"", sizeOf({ sharedGroup }),
                  { sharedGroup }),
          leftover("leftover-comcaf\u00e9app", "Caf\u00e9", sizeOf({ cafe, cafeGroup }), { cafe, cafeGroup }),
          leftover("leftover-comexampleapp", "Example", sizeOf({ container, group }), { container, group }),
          leftover("leftover-oldtool", "Old Tool", sizeOf({ oldContainer, oldSupport }),
                   { oldContainer, oldSupport }) });
}

TEST_F(Leftovers, FencedFoldersAreLeftAlone)
{
    folder("~/Library/Containers/com.example.app");
    std::string support = folder("~/Library/Application Support/Foo Bar");
    PrivacyFence::Registration fence(PrivacyFence::shared(), PrivacyFence::guardedRoots(fake.home()));
    Testing::expectOnly(find(),
                        { unknown("unknown-libraryapplicationsupportfoobar", "Foo Bar", sizeOf({ support }),
                                  { support }) });
}

TEST_F(Leftovers, CautionNamesTheFirstFolderWithPersonalFiles)
{
    std::string container = folder("~/Library/Containers/com.example.app");
    std::string group = folder("~/Library/Group Containers/group.com.example.app");
    fake.file("~/Library/Group Containers/group.com.example.app/Documents/Letter.txt");
    std::string mine = folder("~/Library/Application Support/My Stuff");
    for (const char* name : { "a.psd", "b.psd" })
        fake.file(std::string("~/Library/Application Support/My Stuff/Art/") + name);

    Testing::expectOnly(
        find(),
        { unknown("unknown-libraryapplicationsupportmystuff", "My Stuff", sizeOf({ mine }), { mine },
                  "Inside: 2 files that look like your own, such as Art/a.psd. Check before removing."),
          leftover("leftover-comexampleapp", "Example", sizeOf({ container, group }), { container, group },
                   "Inside: 1 file that looks like your own, Documents/Letter.txt. Check before removing.") });
}

struct LeftoverThresholdCase {
    std::string name;
    std::int64_t leftover;        // over the gone app's size
    std::int64_t unknownLeftover; // over the unknown folder's size
    std::optional<std::int64_t> minimum;
    bool goneKept;
    bool unknownKept;
};

void PrintTo(const LeftoverThresholdCase& c, std::ostream* out)
{
    *out << c.name;
}

class LeftoverThresholds : public Leftovers, public testing::WithParamInterface<LeftoverThresholdCase> {};

TEST_P(LeftoverThresholds, EachKindHasItsOwn)
{
    const LeftoverThresholdCase& c = GetParam();
    // The gone app's two folders pass only together.
    std::string container = folder("~/Library/Containers/com.example.app", 300'000);
    std::string group = folder("~/Library/Group Containers/group.com.example.app", 300'000);
    std::string unknownFolder = folder("~/Library/Application Support/Foo Bar", 100'000);
    const std::int64_t gone = sizeOf({ container, group });
    const std::int64_t other = sizeOf({ unknownFolder });
    catalog.thresholds.leftover = gone + c.leftover;
    catalog.thresholds.unknownLeftover = other + c.unknownLeftover;

    std::vector<Finding> expected;
    if (c.unknownKept)
        expected.push_back(unknown("unknown-libraryapplicationsupportfoobar", "Foo Bar", other, { unknownFolder }));
    if (c.goneKept)
        expected.push_back(leftover("leftover-comexampleapp", "Example", gone, { container, group }));
    Testing::expectOnly(find(c.minimum ? std::optional(other + *c.minimum) : std::nullopt), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LeftoverThresholds,
    testing::Values(LeftoverThresholdCase { "sizes equal to the thresholds pass", 0, 0, std::nullopt, true, true },
                    LeftoverThresholdCase { "the gone app below its threshold", 1, 0, std::nullopt, false, true },
                    LeftoverThresholdCase { "the unknown folder below its threshold", 0, 1, std::nullopt, true, false },
                    LeftoverThresholdCase { "a scan minimum of the smaller size lets both through", 1'000'000'000,
                                            1'000'000'000, 0, true, true },
                    LeftoverThresholdCase { "a larger scan minimum raises both", -1'000'000, -1'000'000, 1, true,
                                            false }),
    Testing::CaseNamed {});

TEST_F(Leftovers, ZeroMinimumLetsEveryGroupThrough)
{
    catalog.thresholds.leftover = catalog.thresholds.unknownLeftover = 1'000'000'000'000;
    fake.folder("~/Library/Containers/com.example.empty");
    EXPECT_EQ(find(0).findings.size(), 1u);
    EXPECT_TRUE(find().findings.empty());
}

TEST_F(Leftovers, KeysThatNormaliseAlikeKeepBothFindingsInTheReport)
{
    std::string dashed = folder("~/Library/Containers/com.gone.foo-bar");
    std::string plain = folder("~/Library/Containers/com.gone.foobar");

    ScanReport report = Scanner::scan(fake.mac(), catalog, ScanOptions { .now = Clock::now() });

    std::vector<std::pair<std::string, std::vector<std::string>>> seen;
    for (const auto& finding : report.findings)
        if (finding.finder == "leftovers")
            seen.emplace_back(finding.id, finding.paths);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen,
              (std::vector<std::pair<std::string, std::vector<std::string>>> {
                  { "leftover-comgonefoobar", { dashed } }, { "leftover-comgonefoobar-2", { plain } } }));
}

} // namespace
