// Never-touch rules must see everything they name, however the user wrote it, and a clean-up must not
// take away a folder whose every part it couldn't examine for them.

#include "QuandrilCore/Cleaning/Cleaner.h"

#include <climits>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Platform/PathText.h"
#include "Support/CaseName.h"
#include "Support/CleanPrinting.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"
#include "Support/Records.h"
#include "Support/Unprivileged.h"

using namespace Quandril;
using namespace Quandril::Testing;
using Status = CleanResult::Status;

namespace {

const std::string place = "~/Movies/Old";

// One place at ~/Movies/Old that goes to the Trash; no other finder speaks.
Catalog moviesCatalog()
{
    Catalog catalog = guardedCatalog();
    Catalog::Place old = Testing::place("old-movies", place);
    old.tier = Tier::reinstallable;
    old.action = Action::trash();
    catalog.places = { old };
    onlyPlacesSpeak(catalog);
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
        EXPECT_EQ(records(report.skipped),
                  records(std::vector<Skipped> { { machine.at(place), "never touched: " + why } }));
    } else {
        EXPECT_EQ(ids(report), std::vector<std::string> { "old-movies" });
    }

    // The cleaner's own guard, asked directly about the finding the scan would have made.
    const Finding finding = makeFinding("old-movies", Tier::reinstallable, Action::trash(), { machine.at(place) });
    const PathGuard guardian(catalog, mac, PathGuard::userRules(row.user, mac));
    const CleanResult checked = Cleaner::act(finding, report, mac, guardian, optionsWith(FileOps::liveShared(), true));
    EXPECT_EQ(checked.detail,
              row.protects ? "It reaches " + why + ", which is never touched." : "Would move to the Trash.");

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
    { "a link to the folder", { { "~/Films", "my films" } }, {}, [](FakeMachine& m) { m.link("~/Films", "Movies"); } },
    { "a place not made yet behind a link",
      { { "~/Films/Old/later", "my films" } },
      {},
      [](FakeMachine& m) { m.link("~/Films", "Movies"); } },
    { "the catalog's top folder", {}, { { "/", "the whole disk" } } },
    { "a catalog entry with a trailing slash", {}, { { "~/Movies/", "films" } } },
    { "a sibling's name protects nothing", { { "~/Movies Backup", "my films" } }, {}, [](FakeMachine&) {}, false },
};

INSTANTIATE_TEST_SUITE_P(Guard, NeverTouchEntry, ::testing::ValuesIn(entryCases), CaseNamed {});

// ---- A folder that can't be examined whole is not taken away ----

// A chain of `levels` folders, each named with `nameLength` letters, under the folder `top`, with a
// file `leaf` at its bottom: deeper than the longest path the system takes. Taken apart again by
// lifting each level up into `top`, wherever `top` has gone meanwhile.
class DeepChain {
public:
    DeepChain(const std::string& top, int levels, const std::string& leaf)
        : levels_(levels)
        , top_(::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        int fd = ::dup(top_);
        for (int level = 0; fd >= 0 && level < levels_; ++level) {
            int next = ::mkdirat(fd, name().c_str(), 0755) == 0
                ? ::openat(fd, name().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                : -1;
            ::close(fd);
            fd = next;
        }
        const int file = fd >= 0 ? ::openat(fd, leaf.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644) : -1;
        made_ = file >= 0;
        if (file >= 0)
            ::close(file);
        if (fd >= 0)
            ::close(fd);
    }

    ~DeepChain()
    {
        int fd = ::openat(top_, name().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int level = 1; fd >= 0 && level < levels_; ++level) {
            const std::string lifted = "lifted-" + std::to_string(level);
            int next = ::renameat(fd, name().c_str(), top_, lifted.c_str()) == 0
                ? ::openat(top_, lifted.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                : -1;
            ::close(fd);
            fd = next;
        }
        if (fd >= 0)
            ::close(fd);
        if (top_ >= 0)
            ::close(top_);
    }

    DeepChain(const DeepChain&) = delete;
    DeepChain& operator=(const DeepChain&) = delete;

    bool made() const { return made_; }
    static std::size_t length(int levels) { return static_cast<std::size_t>(levels) * (name().size() + 1); }

private:
    static std::string name() { return std::string(60, 'd'); }

    int levels_;
    int top_;
    bool made_ = false;
};

struct UnexaminedCase {
    const char* name;
    std::function<void(FakeMachine&)> setup;
    const char* locked; // display path of a folder whose mode becomes `mode`; none when null
    unsigned mode;
    Cleaner::InsideSearch expected; // display paths
};

void PrintTo(const UnexaminedCase& row, std::ostream* out)
{
    *out << row.name;
}

class UnexaminedInside : public ::testing::TestWithParam<UnexaminedCase> {};

const std::string app = "~/Library/Caches/app";

// Permissions don't hold root back, so these rows run as an ordinary user.
TEST_P(UnexaminedInside, IsRefusedWithWhatCouldNotBeExamined)
{
    const auto& row = GetParam();
    asOrdinaryUser([&] {
        for (const bool permanent : { false, true }) {
            FakeMachine machine;
            machine.file(app + "/data.bin", 300);
            row.setup(machine);
            const Mac mac = machine.mac();
            ASSERT_EQ(::chmod(machine.at(row.locked).c_str(), row.mode), 0);
            Cleaner::InsideSearch expected = row.expected;
            if (expected.unexamined)
                expected.unexamined = machine.at(*expected.unexamined);

            const PathGuard guardian(guardedCatalog(), mac);
            EXPECT_EQ(Cleaner::protectedInside(machine.at(app), guardian), expected);
            CleanOptions options = optionsWith(std::make_shared<FaultyFileOps>());
            options.permanentCaches = permanent;
            const Finding finding = makeFinding("app", Tier::rebuilds, Action::delete_(), { machine.at(app) });
            const CleanResult result = Cleaner::act(finding, reportOf(mac), mac, guardian, options);
            EXPECT_EQ(result.status, Status::refused);
            EXPECT_EQ(result.detail,
                      expected.why ? "It holds " + *expected.why + ", which is never touched."
                                   : "I couldn't look inside " + *row.expected.unexamined
                              + ", so I can't tell whether it holds something that's never "
                                "touched.");
            ::chmod(machine.at(row.locked).c_str(), 0755);
            EXPECT_TRUE(exists(machine.at(app + "/data.bin")));
        }
    });
}

const UnexaminedCase unexaminedCases[] = {
    { "an unreadable subfolder holding a kept file",
      [](FakeMachine& m) { m.file(app + "/locked/login.keepme", 10); },
      "~/Library/Caches/app/locked",
      0,
      { std::nullopt, "~/Library/Caches/app/locked" } },
    { "a subfolder that lists but can't be entered",
      [](FakeMachine& m) { m.file(app + "/locked/inner/login.keepme", 10); },
      "~/Library/Caches/app/locked",
      0644,
      { std::nullopt, "~/Library/Caches/app/locked" } },
    { "the folder itself unreadable",
      [](FakeMachine&) {},
      "~/Library/Caches/app",
      0300,
      { std::nullopt, "~/Library/Caches/app" } },
    { "a rule met elsewhere still gives its reason",
      [](FakeMachine& m) { m.folder(app + "/locked").file(app + "/kept/x.keepme", 1); },
      "~/Library/Caches/app/locked",
      0,
      { "kept things", std::nullopt } },
};

INSTANTIATE_TEST_SUITE_P(Cleaner, UnexaminedInside, ::testing::ValuesIn(unexaminedCases), CaseNamed {});

int openDescriptors()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

TEST(DeepInside, ATreeDeeperThanTheLongestPathIsSearchedToTheBottom)
{
    constexpr int levels = 100; // past the descriptors the search keeps open, and past PATH_MAX
    ASSERT_GT(DeepChain::length(levels), std::size_t(PATH_MAX));
    for (const bool kept : { true, false }) {
        FakeMachine machine;
        machine.file(app + "/data.bin", 300);
        const DeepChain chain(machine.at(app), levels, kept ? "login.keepme" : "notes.txt");
        ASSERT_TRUE(chain.made());
        const Mac mac = machine.mac();
        const PathGuard guardian(guardedCatalog(), mac);
        const int before = openDescriptors();

        EXPECT_EQ(Cleaner::protectedInside(machine.at(app), guardian),
                  (Cleaner::InsideSearch { kept ? std::optional<std::string>("kept things") : std::nullopt,
                                           std::nullopt }));
        const Finding finding = makeFinding("app", Tier::rebuilds, Action::trash(), { machine.at(app) });
        const CleanResult result = Cleaner::act(finding, reportOf(mac), mac, guardian,
                                                optionsWith(FileOps::liveShared()));
        EXPECT_EQ(result.detail,
                  kept ? "It holds kept things, which is never touched."
                       : "Moved to the Trash; the space comes back when the Trash is emptied.");
        EXPECT_EQ(exists(machine.at(app + "/data.bin")), kept);
        EXPECT_EQ(openDescriptors(), before) << "every descriptor the search opened is closed again";
    }
}

} // namespace
