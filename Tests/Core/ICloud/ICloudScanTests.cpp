#include "QuandrilCore/ICloud/ICloud.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Support/CaseName.h"
#include "Support/FakeMachine.h"

using namespace Quandril;
using namespace Quandril::Testing;

namespace {

const std::string cloud = "~/Library/Mobile Documents/com~apple~CloudDocs";

CloudScan scanOf(const Mac& mac, std::int64_t minBytes = 100, std::int64_t bigBytes = 10'000)
{
    return ICloud::scan(mac, std::nullopt, minBytes, bigBytes, 5'000);
}

TimePoint age(int seconds)
{
    return TimePoint(std::chrono::seconds(1'700'000'000 - seconds));
}

TEST(NormalizedName, CopyWordsAndNumbersGoWhateverTheirOrder)
{
    const std::vector<std::pair<std::string, std::string>> cases {
        { "Report copy 2.PDF", "report.pdf" },
        { "report.pdf", "report.pdf" },
        { "photo (1) copy.jpg", "photo.jpg" },
        { "IMG 2024.jpg", "img.jpg" },
        { "notes", "notes." },
        { "Photo 1 (2).JPG", "photo.jpg" },
        { "a copy copy.txt", "a.txt" },
        { "copy.txt", "copy.txt" },
        { "Budget \u0663.xlsx", "budget.xlsx" },
        { "\u00DCber Copy.PDF", "\u00FCber.pdf" },
        { "Archive copy.tar.gz", "archive copy.tar.gz" },
        { "draft(2).txt", "draft(2).txt" },
    };
    for (const auto& [name, normalized] : cases)
        EXPECT_EQ(ICloud::normalizedName(name), normalized) << name;
}

// ---- Which copy stays ----

struct Made {
    std::string path;
    std::int64_t bytes;
    int age = 0;
    bool placeholder = false;
};

struct GroupCase {
    const char* name;
    std::vector<Made> files;
    std::vector<std::string> items; // empty: no group at all
    std::string keep = {};
    std::string keepPlace = "iCloud";
    bool sameName = true;
    std::optional<std::string> caution = {};
    bool keepOnMac = true;
    bool homeDrive = false; // a drive that holds the home folder, iCloud Drive included
};

class CopyGroups : public ::testing::TestWithParam<GroupCase> {};

TEST_P(CopyGroups, KeepTheRightCopyAndOfferOnlyICloudOnes)
{
    const auto& row = GetParam();
    FakeMachine machine;
    machine.drive("Archive", "/Volumes/Archive", 1'000'000, 500'000);
    if (row.homeDrive)
        machine.drive("Home", "/Users", 1'000'000, 500'000);
    for (const auto& made : row.files) {
        made.placeholder ? machine.sparse(made.path, made.bytes) : machine.file(made.path, made.bytes);
        machine.modified(made.path, age(made.age));
    }
    const CloudScan scan = scanOf(machine.mac());
    if (row.items.empty()) {
        EXPECT_TRUE(scan.groups.empty());
        return;
    }
    ASSERT_EQ(scan.groups.size(), 1u);
    const CopyGroup& group = scan.groups.front();
    EXPECT_EQ(group.keep, machine.at(row.keep));
    EXPECT_EQ(group.keepPlace, row.keepPlace);
    EXPECT_EQ(group.sameName, row.sameName);
    ASSERT_EQ(group.items.size(), row.items.size());
    for (std::size_t i = 0; i < row.items.size(); ++i) {
        const CloudItem& item = group.items[i];
        EXPECT_EQ(item.path, machine.at(row.items[i]));
        EXPECT_EQ(item.keep, group.keep);
        EXPECT_EQ(item.keepOnMac, row.keepOnMac);
        EXPECT_EQ(item.caution, row.caution);
    }
}

const std::string onArchive = "Afterwards it's no longer in iCloud: the copy on Archive is the one that stays.";

const GroupCase groupCases[] = {
    { "copy word and case",
      { { cloud + "/Report copy 2.PDF", 1000, 1 }, { cloud + "/report.pdf", 1000, 2 } },
      { cloud + "/Report copy 2.PDF" },
      cloud + "/report.pdf" },
    { "size alone from the threshold",
      { { cloud + "/a.mov", 5000, 2 }, { cloud + "/b.mov", 5000, 1 } },
      { cloud + "/b.mov" },
      cloud + "/a.mov",
      "iCloud",
      false },
    { "other names below the threshold", { { cloud + "/a.txt", 1000 }, { cloud + "/b.txt", 1000 } }, {} },
    { "equal times keep the shorter path",
      { { cloud + "/Deep/Er/x.pdf", 1000, 5 }, { cloud + "/x.pdf", 1000, 5 } },
      { cloud + "/Deep/Er/x.pdf" },
      cloud + "/x.pdf" },
    { "a drive copy beats the Mac's",
      { { cloud + "/film.mov", 1000, 0, true },
        { "~/Downloads/film.mov", 1000 },
        { "/Volumes/Archive/film.mov", 1000 } },
      { cloud + "/film.mov" },
      "/Volumes/Archive/film.mov",
      "Archive",
      true,
      onArchive },
    { "two in iCloud and one on the Mac",
      { { cloud + "/a/scan.pdf", 1000, 3, true },
        { cloud + "/b/scan.pdf", 1000, 1 },
        { "~/Documents/scan.pdf", 1000, 9 } },
      { cloud + "/b/scan.pdf" },
      cloud + "/a/scan.pdf",
      "iCloud",
      true,
      std::nullopt,
      false },
    { "Mac copy by size alone",
      { { cloud + "/clip.mov", 6000 }, { "~/Movies/other.mov", 6000 } },
      { cloud + "/clip.mov" },
      "~/Movies/other.mov",
      "this Mac",
      false,
      "Afterwards it's no longer in iCloud: the copy on this Mac is the one that stays." },
    { "parked files are no copies",
      { { cloud + "/r.pdf", 1000 }, { "/Volumes/Archive/Removed from iCloud/iCloud Drive/r.pdf", 1000 } },
      {} },
    { "hidden folders are no copies", { { cloud + "/x.bin", 1000 }, { "~/Downloads/.cache/x.bin", 1000 } }, {} },
    { "small files are passed over", { { cloud + "/t.txt", 50 }, { "~/Downloads/t.txt", 50 } }, {} },
    { "a file is not its own copy", { { cloud + "/solo.bin", 1000 } }, {}, {}, "iCloud", true, {}, true, true },
};

INSTANTIATE_TEST_SUITE_P(ICloud, CopyGroups, ::testing::ValuesIn(groupCases), CaseNamed {});

// ---- The walk ----

std::int64_t allocated(const std::string& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_blocks * 512 : -1;
}

TEST(ICloudScan, PackagesCountOnceHiddenAndParkedArePrunedAndNothingInsideIsListed)
{
    FakeMachine machine;
    machine.file(cloud + "/a.txt", 300)
        .file(cloud + "/Trip.photoslibrary/db/photo.jpg", 400)
        .file(cloud + "/Trip.photoslibrary/Inner.app/bin", 200)
        .file(cloud + "/Talk.KEY/data", 100)
        .sparse(cloud + "/big.mov", 8000)
        .file(cloud + "/.Hidden.app/x", 500)
        .file(cloud + "/.DS_Store", 10)
        .file(cloud + "/Removed from iCloud/old.txt", 700)
        .file(cloud + "/Sub/Removed from iCloud/old.txt", 700)
        .link(cloud + "/link.txt", "a.txt");
    const CloudScan scan = scanOf(machine.mac(), 0, 0);

    EXPECT_EQ(scan.roots, std::vector<std::string> { machine.at(cloud) });
    EXPECT_EQ(scan.files, 5);
    EXPECT_EQ(scan.bytes, 9000);
    EXPECT_EQ(scan.packages, 2);
    std::int64_t onMac = 0;
    for (const char* name : { "/a.txt", "/Trip.photoslibrary/db/photo.jpg", "/Trip.photoslibrary/Inner.app/bin",
                              "/Talk.KEY/data", "/big.mov" })
        onMac += allocated(machine.at(cloud + name));
    EXPECT_EQ(scan.onMacBytes, onMac);
    ASSERT_EQ(scan.biggest.size(), 2u); // with no size limit every listed file is a big one
    EXPECT_EQ(scan.biggest[0].path, machine.at(cloud + "/big.mov"));
    EXPECT_FALSE(scan.biggest[0].onMac);
    EXPECT_EQ(scan.biggest[1].path, machine.at(cloud + "/a.txt"));
    EXPECT_TRUE(scan.biggest[1].onMac);
}

TEST(ICloudScan, FiftyBiggestLargestFirstAndNoneThatBelongsToAGroup)
{
    FakeMachine machine;
    for (int i = 0; i < 60; ++i)
        machine.sparse(cloud + "/big" + std::to_string(i) + ".bin", 20'000 + i);
    machine.sparse(cloud + "/a/huge.bin", 90'000).sparse(cloud + "/b/huge.bin", 90'000);
    const CloudScan scan = scanOf(machine.mac());
    ASSERT_EQ(scan.biggest.size(), 50u);
    EXPECT_EQ(scan.biggest.front().bytes, 20'059);
    EXPECT_EQ(scan.biggest.back().bytes, 20'010);
    EXPECT_EQ(scan.biggest.front().caution,
              "Afterwards it's no longer in iCloud: the copy moved to your drive is the only one.");
    EXPECT_FALSE(scan.biggest.front().keep);
    ASSERT_EQ(scan.groups.size(), 1u);
    const auto items = scan.items();
    EXPECT_EQ(items.front(), scan.groups.front().items.front());
    EXPECT_EQ(items.size(), 51u);
}

TEST(ICloudScan, SyncedMacFoldersAreRootsAndShowByTheirName)
{
    FakeMachine machine;
    machine.fixture()["cloud"] = Json::Value::array({ "~/Desktop" });
    machine.file("~/Desktop/plan.txt", 1000).file(cloud + "/plan.txt", 1000).file("~/Downloads/x.txt", 10);
    machine.modified("~/Desktop/plan.txt", age(1)).modified(cloud + "/plan.txt", age(2));
    const Mac mac = machine.mac();
    const CloudScan scan = scanOf(mac);
    EXPECT_EQ(scan.roots, (std::vector<std::string> { machine.at(cloud), machine.at("~/Desktop") }));
    ASSERT_EQ(scan.groups.size(), 1u);
    EXPECT_EQ(scan.groups[0].keepPlace, "iCloud");
    EXPECT_EQ(ICloud::display(machine.at("~/Desktop/plan.txt"), mac), "Desktop/plan.txt");
    EXPECT_EQ(ICloud::display(machine.at(cloud + "/plan.txt"), mac), "iCloud Drive/plan.txt");
    EXPECT_EQ(ICloud::display(machine.at("~/Desktop"), mac), "~/Desktop");
    EXPECT_EQ(ICloud::display(machine.at("~/Downloads/x.txt"), mac), "~/Downloads/x.txt");
}

TEST(ICloudScan, IdsComeFromThePathAndSurviveARescan)
{
    EXPECT_EQ(ICloud::itemID("abc"), "icloud-ba7816bf8f01");
    FakeMachine machine;
    machine.sparse(cloud + "/big.bin", 20'000);
    const Mac mac = machine.mac();
    const CloudScan first = scanOf(mac);
    ASSERT_EQ(first.biggest.size(), 1u);
    EXPECT_EQ(first.biggest[0].id, ICloud::itemID(machine.at(cloud + "/big.bin")));
    EXPECT_EQ(scanOf(mac), first);
}

TEST(ICloudScan, JsonLeavesOutWhatIsAbsentAndNeedsTheRest)
{
    CloudScan scan;
    scan.roots = { "/r" };
    scan.biggest.push_back({ "icloud-000000000000", "/r/a", 5, false, std::nullopt, std::nullopt, "Careful." });
    scan.groups.push_back(
        { "b", 7, "/r/b", "iCloud", { { "icloud-111111111111", "/r/c", 7, true, "/r/b", true, {} } }, false });
    const Json::Value json = toJson(scan);
    EXPECT_FALSE(json["biggest"][0].contains("keep"));
    EXPECT_FALSE(json["biggest"][0].contains("keepOnMac"));
    EXPECT_FALSE(json["groups"][0]["items"][0].contains("caution"));
    EXPECT_EQ(Json::decodeAs<CloudScan>(json), scan);
    Json::Value broken = json["biggest"][0];
    broken.erase("onMac");
    EXPECT_THROW(Json::decodeAs<CloudItem>(broken), Json::DecodeError);
}

} // namespace
