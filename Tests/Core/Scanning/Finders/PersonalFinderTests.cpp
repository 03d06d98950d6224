#include "QuandrilCore/Scanning/Finders/Finders.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "QuandrilCore/Machine/PrivacyFence.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/FinderChecks.h"
#include "Support/MiniCatalog.h"
#include "Support/Records.h"
#include "Support/Thresholds.h"
#include "Support/Unprivileged.h"

using namespace Quandril;
using Quandril::Testing::FakeMachine;
using Quandril::Testing::ids;

namespace {

using namespace std::chrono_literals;

// Everything the test writes is months older than the scan, unless a case dates it otherwise.
const TimePoint now = Clock::now() + 1000 * 24h;
const TimePoint lastWeek = now - 7 * 24h;

constexpr std::int64_t plenty = 1'000'000'000'000;

const std::string photosHow = "In Photos, choose Settings > General > Library Location.";
const std::string musicHow = "In Music, choose Settings > Files > Music Folder Location.";

Catalog catalog()
{
    Catalog c = Testing::miniCatalog();
    c.appLibraries = {
        { ".photoslibrary", "Photos", photosHow },
        { "~/Music/Music", "Music", musicHow },
    };
    return c;
}

FinderResult findPersonal(const Mac& mac, const Catalog& c, std::optional<std::int64_t> minimum = std::nullopt)
{
    return PersonalFinder {}.find(Scanner::makeContext(mac, c, ScanOptions { .minimumBytes = minimum, .now = now }));
}

// Two files in two levels, so a copy has to match by relative path as well as by size.
void holiday(FakeMachine& m, const std::string& at)
{
    m.file(at + "/a.mov", 30'000).file(at + "/sub/b.mov", 5'000);
}

// What is offered for the item, each with its own texts and action.
enum class Offer { move, noRoom, inUse, copy, handOff };

struct WholeCase {
    const char* name;
    std::function<void(FakeMachine&)> build;
    std::string item; // display path of the one item found
    std::string id;
    std::string title;
    std::string reason;
    Offer offer;
    std::optional<std::string> owner = std::nullopt;
    std::string copy = "";                // display path of the copy on Backup
    std::vector<std::string> fenced = {}; // display paths fenced while the finder runs
};

void PrintTo(const WholeCase& c, std::ostream* out)
{
    *out << c.name;
}

std::string movedTo(const std::string& drive)
{
    return "Moved, not removed: it stays on " + drive + ", there whenever the drive is plugged in.";
}
std::string onlyCopyAfterMove(const std::string& drive)
{
    return "After the move, " + drive + " holds the only copy; worth a second one somewhere if it can't be replaced.";
}
const std::string noRoom = "Nothing is removed; there's no drive with room to move it to right now.";

Finding expectedFinding(const WholeCase& c, const FakeMachine& m, const Mac& mac)
{
    const std::string path = m.at(c.item);
    Finding f(c.id, "personal", c.title, c.reason, "", Tier::personal, mac.usage(path).bytes, { path }, c.owner,
              Action::review(), std::nullopt, std::nullopt, false, std::nullopt);
    switch (c.offer) {
    case Offer::move:
        f.getBack = movedTo("Backup");
        f.action = Action(Action::Kind::move);
        f.caution = onlyCopyAfterMove("Backup");
        break;
    case Offer::noRoom:
        f.getBack = noRoom;
        break;
    case Offer::inUse:
        f.getBack = "Still in use, so it isn't offered for moving.";
        break;
    case Offer::copy:
        f.getBack = "The copy on Backup stays.";
        f.caution = "After this, Backup holds the only copy; worth a second one somewhere if it can't be replaced.";
        f.duplicateOf = m.at(c.copy);
        break;
    case Offer::handOff:
        f.getBack = "Moved from inside " + *c.owner + ", it keeps working.";
        f.action = Action(Action::Kind::handOff, std::nullopt, std::nullopt, c.owner,
                          *c.owner == "Photos" ? photosHow : musicHow, true);
        break;
    }
    return f;
}

FakeMachine& backup(FakeMachine& m)
{
    return m.drive("Backup", "/Volumes/Backup", plenty, plenty);
}

// ~/Movies/Holiday with the drive Backup attached, and whatever else the case adds.
std::function<void(FakeMachine&)> holidayWith(std::function<void(FakeMachine&)> more)
{
    return [more](FakeMachine& m) {
        holiday(m, "~/Movies/Holiday");
        more(backup(m));
    };
}

// ~/Movies/Holiday offered for moving to Backup: nothing there counts as its copy.
WholeCase holidayMoved(const char* name, std::function<void(FakeMachine&)> more, std::vector<std::string> fenced = {})
{
    return { name,
             holidayWith(std::move(more)),
             "~/Movies/Holiday",
             "personal-movies-holiday",
             "Holiday (Movies)",
             "Your Holiday folder.",
             Offer::move,
             std::nullopt,
             "",
             std::move(fenced) };
}

const std::string holidayCopied = "Your Holiday folder; an identical copy is on Backup (";

const WholeCase wholeCases[] = {
    { "moved to the drive with room", [](FakeMachine& m) { backup(m.file("~/Movies/Holiday \"Film\"/a.mov", 40'000)); },
      "~/Movies/Holiday \"Film\"", "personal-movies-holidayfilm", "Holiday \"Film\" (Movies)",
      "Your Holiday \"Film\" folder.", Offer::move },
    { "no external drive", [](FakeMachine& m) { m.file("~/Desktop/Big Export.zip", 40'000); },
      "~/Desktop/Big Export.zip", "personal-desktop-bigexportzip", "Big Export.zip (Desktop)",
      "Your Big Export.zip file.", Offer::noRoom },
    { "changed this month deep inside",
      [](FakeMachine& m) {
          backup(m.file("~/Documents/Taxes 2023/receipts/scan.pdf", 40'000))
              .modified("~/Documents/Taxes 2023/receipts/scan.pdf", lastWeek);
      },
      "~/Documents/Taxes 2023", "personal-documents-taxes2023", "Taxes 2023 (Documents)",
      "Your Taxes 2023 folder; you've changed things in it this month.", Offer::inUse },
    { "app library by name ending",
      [](FakeMachine& m) { m.file("~/Pictures/Photos Library.photoslibrary/database/Photos.sqlite", 40'000); },
      "~/Pictures/Photos Library.photoslibrary", "personal-pictures-photoslibraryphotoslibrary",
      "Photos Library.photoslibrary (Pictures)",
      "Your Photos Library.photoslibrary folder belongs to Photos; moved by hand, Photos would lose track of it.",
      Offer::handOff, "Photos" },
    { "app library by path", [](FakeMachine& m) { m.file("~/Music/Music/Media/song.m4a", 40'000); }, "~/Music/Music",
      "personal-music-music", "Music (Music)",
      "Your Music folder belongs to Music; moved by hand, Music would lose track of it.", Offer::handOff, "Music" },
    { "a longer name is not the library path", [](FakeMachine& m) { m.file("~/Music/Music Extra/song.m4a", 40'000); },
      "~/Music/Music Extra", "personal-music-musicextra", "Music Extra (Music)", "Your Music Extra folder.",
      Offer::noRoom },
    { "app library changed this month",
      [](FakeMachine& m) {
          m.file("~/Pictures/Old.photoslibrary/db", 40'000).modified("~/Pictures/Old.photoslibrary/db", lastWeek);
      },
      "~/Pictures/Old.photoslibrary", "personal-pictures-oldphotoslibrary", "Old.photoslibrary (Pictures)",
      "Your Old.photoslibrary folder belongs to Photos; moved by hand, Photos would lose track of it, and you've "
      "changed things in it this month.",
      Offer::inUse, "Photos" },
    { "identical copy three levels down on the second drive",
      [](FakeMachine& m) {
          holiday(m, "~/Movies/Holiday");
          backup(m.drive("Spare", "/Volumes/Spare", plenty, plenty));
          holiday(m, "/Volumes/Backup/Archive/2023/Holiday");
      },
      "~/Movies/Holiday", "personal-movies-holiday", "Holiday (Movies)",
      holidayCopied + "/Volumes/Backup/Archive/2023/Holiday).", Offer::copy, std::nullopt,
      "/Volumes/Backup/Archive/2023/Holiday" },
    { "a copy wins over recent changes", holidayWith([](FakeMachine& m) {
          m.modified("~/Movies/Holiday/a.mov", lastWeek);
          holiday(m, "/Volumes/Backup/Holiday");
      }),
      "~/Movies/Holiday", "personal-movies-holiday", "Holiday (Movies)", holidayCopied + "/Volumes/Backup/Holiday).",
      Offer::copy, std::nullopt, "/Volumes/Backup/Holiday" },
    { "a file of the same size is a copy",
      [](FakeMachine& m) {
          backup(m.file("~/Downloads/it's a video.mp4", 40'000))
              .file("/Volumes/Backup/Videos/it's a video.mp4", 40'000);
      },
      "~/Downloads/it's a video.mp4", "personal-downloads-itsavideomp4", "it's a video.mp4 (Downloads)",
      "Your it's a video.mp4 file; an identical copy is on Backup (/Volumes/Backup/Videos/it's a video.mp4).",
      Offer::copy, std::nullopt, "/Volumes/Backup/Videos/it's a video.mp4" },
    { "a copy spelled with a decomposed accent",
      [](FakeMachine& m) {
          holiday(backup(m), "~/Movies/Caf\xC3\xA9");
          holiday(m, "/Volumes/Backup/Cafe\xCC\x81");
      },
      "~/Movies/Caf\xC3\xA9", "personal-movies-caf\xC3\xA9", "Caf\xC3\xA9 (Movies)",
      "Your Caf\xC3\xA9 folder; an identical copy is on Backup (/Volumes/Backup/Cafe\xCC\x81).", Offer::copy,
      std::nullopt, "/Volumes/Backup/Cafe\xCC\x81" },
    holidayMoved("a copy with a file of another size",
                 [](FakeMachine& m) {
                     m.file("/Volumes/Backup/Holiday/a.mov", 30'000).file("/Volumes/Backup/Holiday/sub/b.mov", 5'001);
                 }),
    holidayMoved("a copy four levels down is not looked for",
                 [](FakeMachine& m) { holiday(m, "/Volumes/Backup/a/b/c/Holiday"); }),
    holidayMoved("an app bundle is not searched",
                 [](FakeMachine& m) { holiday(m, "/Volumes/Backup/Player.app/Holiday"); }),
    holidayMoved("a linked folder on the drive is not searched",
                 [](FakeMachine& m) {
                     holiday(m, "/Elsewhere/Holiday");
                     m.link("/Volumes/Backup/Shortcut", m.at("/Elsewhere"));
                     m.link("/Volumes/Backup/Holiday", m.at("/Elsewhere/Holiday"));
                 }),
    holidayMoved("a fenced folder inside the item hides files the copy lacks",
                 [](FakeMachine& m) {
                     m.file("~/Movies/Holiday/Private/secret.mov", 20'000);
                     holiday(m, "/Volumes/Backup/Holiday");
                 },
                 { "~/Movies/Holiday/Private" }),
    holidayMoved("a fenced folder inside the copy hides files the item lacks",
                 [](FakeMachine& m) {
                     holiday(m, "/Volumes/Backup/Holiday");
                     m.file("/Volumes/Backup/Holiday/Extra/more.mov", 20'000);
                 },
                 { "/Volumes/Backup/Holiday/Extra" }),
    { "a folder of the file's name is no copy",
      [](FakeMachine& m) {
          backup(m.file("~/Downloads/setup.dmg", 40'000)).file("/Volumes/Backup/setup.dmg/inside", 40'000);
      },
      "~/Downloads/setup.dmg", "personal-downloads-setupdmg", "setup.dmg (Downloads)", "Your setup.dmg file.",
      Offer::move },
    { "the item is not its own copy on the drive that holds the home folder",
      [](FakeMachine& m) {
          holiday(m, "~/Movies/Holiday");
          m.drive("Home Disk", "/Users", plenty, 0);
      },
      "~/Movies/Holiday", "personal-movies-holiday", "Holiday (Movies)", "Your Holiday folder.", Offer::noRoom },
};

class PersonalWhole : public testing::TestWithParam<WholeCase> {};

TEST_P(PersonalWhole, GivesTheWholeFinding)
{
    const WholeCase& c = GetParam();
    FakeMachine m;
    c.build(m);
    Mac mac = m.mac();

    std::vector<std::string> fenced;
    for (const auto& display : c.fenced)
        fenced.push_back(m.at(display));
    PrivacyFence::Registration fence(PrivacyFence::shared(), fenced);

    Testing::expectOnly(findPersonal(mac, catalog()), { expectedFinding(c, m, mac) });
}

INSTANTIATE_TEST_SUITE_P(Cases, PersonalWhole, testing::ValuesIn(wholeCases), Testing::CaseNamed {});

TEST(PersonalFinder, UnreadablePartOfACopyIsNoCopy)
{
    // Root reads every folder.
    Testing::asOrdinaryUser([] {
        FakeMachine m;
        holidayWith([](FakeMachine& m) { holiday(m, "/Volumes/Backup/Holiday"); })(m);
        m.file("/Volumes/Backup/Holiday/Locked/more.mov", 20'000);
        const std::string locked = m.at("/Volumes/Backup/Holiday/Locked");
        ASSERT_EQ(::chmod(locked.c_str(), 0), 0);

        FinderResult result = findPersonal(m.mac(), catalog());
        ::chmod(locked.c_str(), 0755);
        ASSERT_EQ(result.findings.size(), 1u);
        EXPECT_EQ(result.findings[0].duplicateOf, std::nullopt);
        EXPECT_EQ(result.findings[0].action.kind, Action::Kind::move);
    });
}

TEST(PersonalFinder, LooksIntoTheSixFoldersInOrder)
{
    FakeMachine m;
    for (const char* item : { "~/Downloads/b", "~/Downloads/a", "~/Pictures/p", "~/Music/m", "~/Movies/v",
                              "~/Documents/d", "~/Desktop/k", "~/Library/l", "~/Public/x" })
        m.file(item, 5'000);
    // Hidden items are not the user's files to move.
    m.file("~/Movies/.hidden", 5'000);
    EXPECT_EQ(ids(findPersonal(m.mac(), catalog())),
              (std::vector<std::string> { "personal-desktop-k", "personal-documents-d", "personal-movies-v",
                                          "personal-music-m", "personal-pictures-p", "personal-downloads-a",
                                          "personal-downloads-b" }));
}

TEST(PersonalFinder, LeavesLinksAndCatalogPlacesAlone)
{
    FakeMachine m;
    m.file("/Elsewhere/big", 40'000).link("~/Movies/Link", m.at("/Elsewhere"));
    m.file("~/Movies/Claimed/x", 40'000);
    m.file("~/Movies/Claimed Too/x", 40'000);
    m.file("~/Documents/Project/build/x", 40'000);
    m.file("~/Downloads/Cache Parent/Inner/Deeper/x", 40'000);
    Catalog c = catalog();
    c.places = { Testing::place("claimed", "~/Movies/Claimed"), Testing::place("build", "~/Documents/Project/build"),
                 Testing::place("deep", "~/Downloads/*/Inner") };
    EXPECT_EQ(ids(findPersonal(m.mac(), c)), (std::vector<std::string> { "personal-movies-claimedtoo" }));
}

TEST(PersonalFinder, ThresholdIsInclusive)
{
    FakeMachine m;
    m.file("~/Movies/Film.mov", 40'000);
    Mac mac = m.mac();
    const std::int64_t bytes = mac.usage(m.at("~/Movies/Film.mov")).bytes;
    ASSERT_GT(bytes, 0);

    for (const auto& c : Testing::thresholdCases(bytes)) {
        Catalog cat = catalog();
        cat.thresholds.personalFolder = c.catalogBytes;
        EXPECT_EQ(findPersonal(mac, cat, c.minimum).findings.size(), c.found ? 1u : 0u) << c;
    }
}

TEST(PersonalFinder, MovesToTheFirstDriveWithRoomToSpare)
{
    FakeMachine m;
    m.file("~/Movies/Film.mov", 40'000);
    const std::int64_t bytes = m.mac().usage(m.at("~/Movies/Film.mov")).bytes;
    const std::int64_t needed = bytes + bytes / 10;
    m.drive("Exact", "/Volumes/Exact", plenty, needed).drive("Roomy", "/Volumes/Roomy", plenty, needed + 1);
    m.drive("Later", "/Volumes/Later", plenty, plenty);

    FinderResult result = findPersonal(m.mac(), catalog());
    ASSERT_EQ(result.findings.size(), 1u);
    EXPECT_EQ(result.findings[0].getBack, movedTo("Roomy"));
    EXPECT_EQ(result.findings[0].caution, onlyCopyAfterMove("Roomy"));
}

TEST(PersonalFinder, AnItemTooBigToAddATenthHasNoDriveWithRoom)
{
    FakeMachine m;
    m.file("~/Movies/Film.mov", 40'000);
    m.fixture()["scale"] = 1e30; // measured sizes saturate at the largest count
    m.drive("Huge", "/Volumes/Huge", std::numeric_limits<std::int64_t>::max(),
            std::numeric_limits<std::int64_t>::max());

    FinderResult result = findPersonal(m.mac(), catalog());
    ASSERT_EQ(result.findings.size(), 1u);
    EXPECT_EQ(result.findings[0].bytes, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(result.findings[0].getBack, noRoom);
    EXPECT_EQ(result.findings[0].action, Action::review());
}

TEST(PersonalFinder, SyncedFoldersAreSkippedUnopened)
{
    FakeMachine m;
    m.file("~/Movies/Film.mov", 40'000).file("~/Music/Mix.m4a", 40'000);
    // Desktop is synced too but does not exist, so there is nothing to report for it.
    m.fixture()["cloud"] = Json::Value::array({ "~/Movies", "~/Desktop" });
    Mac mac = m.mac();

    FinderResult result = findPersonal(mac, catalog());
    EXPECT_EQ(ids(result), (std::vector<std::string> { "personal-music-mixm4a" }));
    EXPECT_EQ(result.skipped, (std::vector<Skipped> { { m.at("~/Movies"), "never looked into: iCloud Drive" } }));
    EXPECT_TRUE(result.notes.empty());
}

TEST(PersonalFinder, FencedFoldersAreNotListed)
{
    FakeMachine m;
    m.file("~/Movies/Film.mov", 40'000).file("~/Downloads/Setup.dmg", 40'000);
    m.file("~/Pictures/Photos Library.photoslibrary/db", 40'000).file("~/Pictures/Trip.jpg", 40'000);
    Mac mac = m.mac();
    PrivacyFence::Registration fence(PrivacyFence::shared(), PrivacyFence::guardedRoots(mac.home));
    FinderResult result = findPersonal(mac, catalog());
    EXPECT_EQ(ids(result), (std::vector<std::string> { "personal-movies-filmmov", "personal-pictures-tripjpg" }));
    EXPECT_TRUE(result.skipped.empty());
}

TEST(PersonalFinder, TheScanMakesRepeatedIdsUnique)
{
    FakeMachine m;
    m.file("~/Movies/My Film", 40'000).file("~/Movies/my-film", 40'000);
    ScanReport report = Scanner::scan(m.mac(), catalog(), ScanOptions { .now = now });
    std::vector<std::string> personal;
    for (const auto& finding : report.findings)
        if (finding.finder == "personal")
            personal.push_back(finding.id);
    std::sort(personal.begin(), personal.end());
    EXPECT_EQ(personal, (std::vector<std::string> { "personal-movies-myfilm", "personal-movies-myfilm-2" }));
}

} // namespace
