// Never-touch rules must see everything they name, however the user wrote it.

#include "QuandrilCore/Cleaner.h"

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/FileHelpers.h"
#include "Support/CaseName.h"
#include "Support/CleanPrinting.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"
#include "Support/Records.h"

using namespace Quandril;
using namespace Quandril::Testing;
using Status = CleanResult::Status;

namespace {

const std::string place = "~/Movies/Old";

// One place at ~/Movies/Old that goes to the Trash; no other finder speaks.
Catalog moviesCatalog()
{
    constexpr std::int64_t never = std::int64_t(1) << 62;
    Catalog catalog = guardedCatalog();
    Catalog::Place old = Testing::place("old-movies", place);
    old.tier = Tier::reinstallable;
    old.action = Action::trash();
    catalog.places = { old };
    catalog.thresholds = { .leftover = never, .unknownLeftover = never, .appCaches = never, .appCacheEach = never,
        .splitInstall = never, .workshop = never, .installerBytes = never, .unusedAppBytes = never,
        .personalFolder = never, .staleMount = never, .place = 0 };
    return catalog;
}

// ---- Never-touch entries protect the place they name ----

struct EntryCase {
    const char* name;
    std::vector<ProtectedPath> user;
    std::vector<Catalog::Protected> catalog {};
    std::function<void(FakeMachine&)> setup = [](FakeMachine&) {};
    bool protects = true;
};

void PrintTo(const EntryCase& row, std::ostream* out)
{
    *out << row.name;
}

class NeverTouchEntry : public ::testing::TestWithParam<EntryCase> {};

TEST_P(NeverTouchEntry, TheScanDoesNotOfferAndTheCleanerRefusesWhatItNames)
{
    const auto& row = GetParam();
    FakeMachine machine;
    machine.file(place + "/clip.mov", 3000);
    row.setup(machine);
    const Mac mac = machine.mac();
    Catalog catalog = moviesCatalog();
    catalog.protected_.insert(catalog.protected_.end(), row.catalog.begin(), row.catalog.end());
    const std::string why = row.user.empty() ? row.catalog.front().why : row.user.front().why;
    CleanOptions options = optionsWith(FileOps::liveShared());
    options.scan.extraProtected = row.user;

    const ScanReport report = Scanner::scan(mac, catalog, options.scan);
    if (row.protects) {
        EXPECT_EQ(ids(report), std::vector<std::string> {});
        EXPECT_EQ(records(report.skipped), records(std::vector<Skipped> { { machine.at(place), "never touched: " + why } }));
    } else {
        EXPECT_EQ(ids(report), std::vector<std::string> { "old-movies" });
    }

    // The cleaner's own guard, asked directly about the finding the scan would have made.
    const Finding finding = makeFinding("old-movies", Tier::reinstallable, Action::trash(), { machine.at(place) });
    const PathGuard guardian(catalog, mac, PathGuard::userRules(row.user, mac));
    const CleanResult checked = Cleaner::act(finding, report, mac, guardian, optionsWith(FileOps::liveShared(), true));
    EXPECT_EQ(checked.detail, row.protects ? "It reaches " + why + ", which is never touched." : "Would move to the Trash.");

    const auto results = Cleaner::clean({ "old-movies" }, mac, catalog, options);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].status, row.protects ? Status::refused : Status::done) << results[0].detail;
    EXPECT_EQ(exists(machine.at(place + "/clip.mov")), row.protects);
}

const EntryCase entryCases[] = {
    { "a trailing slash", { { "~/Movies/", "my films" } } },
    { "a doubled slash", { { "~//Movies", "my films" } } },
    { "a path relative to the home folder", { { "Movies", "my films" } } },
    { "a pasted line break", { { "~/Movies\n", "my films" } } },
    { "a pasted Windows line break after a slash", { { "~/Movies/\r\n", "my films" } } },
    { "a way through dot-dot", { { "~/x/../Movies", "my films" } } },
    { "the home folder's own path, with a dot", { { "/Users/me/./Movies", "my films" } } },
    { "a link to the folder", { { "~/Films", "my films" } }, {},
      [](FakeMachine& m) { m.link("~/Films", "Movies"); } },
    { "a place not made yet behind a link", { { "~/Films/Old/later", "my films" } }, {},
      [](FakeMachine& m) { m.link("~/Films", "Movies"); } },
    { "the catalog's top folder", {}, { { "/", "the whole disk" } } },
    { "a catalog entry with a trailing slash", {}, { { "~/Movies/", "films" } } },
    { "a sibling's name protects nothing", { { "~/Movies Backup", "my films" } }, {}, [](FakeMachine&) {}, false },
};

INSTANTIATE_TEST_SUITE_P(Guard, NeverTouchEntry, ::testing::ValuesIn(entryCases), CaseNamed {});

} // namespace
