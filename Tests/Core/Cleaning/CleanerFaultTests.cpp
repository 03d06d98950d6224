// Whatever single step of a clean-up breaks, nothing of the user's is lost: every file's content
// still exists somewhere on the machine (except what a permanent cache delete removes on purpose),
// and whatever left its place is named in History, so Put Back can bring it home.

#include "QuandrilCore/Cleaning/Cleaner.h"

#include <chrono>
#include <climits>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Machine/Compare.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "Support/CaseName.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"
#include "Support/MiniCatalog.h"
#include "Support/TreeSnapshot.h"

using namespace Quandril;
using namespace Quandril::Testing;
using Status = CleanResult::Status;

namespace {

const auto longAgo = std::chrono::system_clock::now() - std::chrono::hours(24 * 400);

// One clean-up of one finding, on a machine of its own.
struct Scenario {
    FakeMachine machine;
    Catalog catalog = guardedCatalog();
    CleanOptions options;
    std::string id;
    std::vector<std::string> watched; // display paths of the folders the originals lie in
    bool deletesForGood = false;
};

using Builder = std::function<void(Scenario&)>;

// A file whose modification time lies far back, so the personal finder offers it for moving.
void oldFile(FakeMachine& machine, const std::string& display, std::int64_t bytes)
{
    machine.file(display, bytes).modified(display, longAgo);
}

Catalog::Place cachePlace(const std::string& id, Action action)
{
    auto place = Testing::place(id, "~/Library/Caches/*");
    place.tier = Tier::rebuilds;
    place.action = std::move(action);
    return place;
}

void caches(Scenario& s, Action action, bool permanent)
{
    s.machine.file("~/Library/Caches/a/1.bin", 3000).file("~/Library/Caches/a/sub/2.bin", 100);
    s.machine.file("~/Library/Caches/b b/3.bin", 2000).file("~/Library/Caches/c\u00e9/4.bin", 1000);
    s.catalog.places = { cachePlace("caches", std::move(action)) };
    s.options.permanentCaches = permanent;
    s.deletesForGood = permanent;
    s.id = "caches";
    s.watched = { "~/Library/Caches" };
}

// The personal finder's finding for the item.
std::string personalID(const Scenario& s, const std::string& display)
{
    const Mac mac = s.machine.mac();
    const auto report = Scanner::scan(mac, s.catalog, s.options.scan);
    for (const auto& finding : report.findings)
        if (finding.paths.front() == s.machine.at(display))
            return finding.id;
    return {};
}

const struct {
    const char* name;
    Builder build;
} scenarios[] = {
    { "trash", [](Scenario& s) { caches(s, Action::trash(), false); } },
    { "delete through the Trash", [](Scenario& s) { caches(s, Action::delete_(), false); } },
    { "delete for good", [](Scenario& s) { caches(s, Action::delete_(), true); } },
    { "move to a drive",
      [](Scenario& s) {
          oldFile(s.machine, "~/Movies/Trip/clip.mov", 5000);
          oldFile(s.machine, "~/Movies/Trip/more/notes.txt", 30);
          s.machine.modified("~/Movies/Trip/more", longAgo).modified("~/Movies/Trip", longAgo);
          s.id = personalID(s, "~/Movies/Trip");
          s.watched = { "~/Movies" };
      } },
    { "move a game with its record",
      [](Scenario& s) {
          s.machine.file("~/Steam/steamapps/common/Game/game.bin", 4000)
              .text("~/Steam/steamapps/appmanifest_7.acf", "7");
          auto game = Testing::place("game", "~/Steam/steamapps/common/Game");
          game.paths.push_back("~/Steam/steamapps/appmanifest_7.acf");
          game.tier = Tier::reinstallable;
          game.action = Action(Action::Kind::move, std::nullopt,
                               s.machine.at("/Volumes/Backup/Lib/steamapps/common/Game"));
          s.catalog.places = { game };
          s.id = "game";
          s.watched = { "~/Steam" };
      } },
    { "move with links",
      [](Scenario& s) {
          s.machine.file("~/Library/Sounds/Strings/s.wav", 4000).file("~/Library/Sounds/Brass/b.wav", 2000);
          s.machine.file("~/Library/Sounds/Brass/more/c.wav", 10);
          auto sounds = Testing::place("sounds", "~/Library/Sounds/*");
          sounds.tier = Tier::reinstallable;
          sounds.owner = "Synth";
          sounds.action = Action(Action::Kind::handOff, std::nullopt, std::nullopt, std::string("Finder"),
                                 std::string("Move it in Synth"), std::nullopt, true);
          s.catalog.places = { sounds };
          s.id = "sounds";
          s.watched = { "~/Library/Sounds" };
      } },
    { "remove a copy",
      [](Scenario& s) {
          for (const char* at : { "~/Documents/Archive", "/Volumes/Backup/Archive" })
              s.machine.file(std::string(at) + "/a.bin", 3000).text(std::string(at) + "/sub/b.txt", "same");
          s.id = personalID(s, "~/Documents/Archive");
          s.watched = { "~/Documents" };
      } },
};

// One planted fault.
struct Fault {
    std::string name;
    std::function<void(FaultyFileOps&, const Mac&)> plant;
    bool occupies = false; // something new may stand in an old place, which Put Back rightly leaves alone
};

std::string lastName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// Something appears where the k-th operation is about to put an item.
void occupyBefore(FaultyFileOps& files, const Mac& mac, int k)
{
    files.before([k, mac](const FileOpCall& call, int position) {
        if (position != k)
            return;
        switch (call.op) {
        case FileOp::copy:
        case FileOp::moveNoReplace:
            writeFile(call.second, "something new");
            break;
        case FileOp::createLink:
        case FileOp::createFolder:
            writeFile(call.first, "something new");
            break;
        case FileOp::trash:
            writeFile(mac.path("~/.Trash/" + lastName(call.first)), "something new");
            break;
        default:
            break;
        }
    });
}

std::vector<Fault> faultsFor(int operations)
{
    std::vector<Fault> faults;
    for (int k = 1; k <= operations; ++k) {
        faults.push_back({ "operation " + std::to_string(k) + " fails",
                           [k](FaultyFileOps& files, const Mac&) { files.failAt(k); } });
        faults.push_back({ "something appears before operation " + std::to_string(k),
                           [k](FaultyFileOps& files, const Mac& mac) { occupyBefore(files, mac, k); }, true });
    }
    using CopyFault = FaultyFileOps::CopyFault;
    for (const auto& [name, fault] :
         { std::pair { "short copy", CopyFault::shortFile }, std::pair { "flipped byte", CopyFault::flippedByte },
           std::pair { "missing file", CopyFault::missingFile } })
        faults.push_back({ name, [fault = fault](FaultyFileOps& files, const Mac&) { files.damageCopies(fault); } });
    return faults;
}

bool under(const std::string& path, const std::string& folder)
{
    return path == folder
        || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/');
}

// The original file is no longer where it was, as itself: gone, something else now, or reached
// through a link.
bool leftItsPlace(const std::string& path, const TreeSnapshot::Entry& was)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return true;
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved) || path != resolved)
        return true;
    return sha256(path).value_or("") != was.sha256;
}

struct Run {
    Scenario scenario;
    std::vector<CleanResult> results;
    std::shared_ptr<FaultyFileOps> files = std::make_shared<FaultyFileOps>();
};

class FaultInjection : public ::testing::TestWithParam<std::size_t> {
protected:
    static void prepare(Scenario& s, std::size_t index)
    {
        s.machine.drive("Backup", "/Volumes/Backup", 2'000'000'000, 1'000'000'000);
        s.options = optionsWith(nullptr);
        s.options.moveTo = "Backup";
        s.options.scan.now = std::chrono::system_clock::now();
        scenarios[index].build(s);
    }
};

TEST_P(FaultInjection, NothingIsLostAndEverythingMovedIsInHistory)
{
    const auto& scenario = scenarios[GetParam()];

    // A clean run first, to know how many operations there are to break.
    int operations = 0;
    {
        Scenario s;
        prepare(s, GetParam());
        ASSERT_FALSE(s.id.empty()) << "the scan offers no finding for " << scenario.name;
        auto files = std::make_shared<FaultyFileOps>();
        s.options.files = files;
        const auto results = Cleaner::clean({ s.id }, s.machine.mac(), s.catalog, s.options);
        ASSERT_EQ(results.size(), 1u);
        ASSERT_EQ(results[0].status, Status::done) << results[0].detail;
        operations = static_cast<int>(files->calls().size());
        ASSERT_GT(operations, 0);
    }

    for (const auto& fault : faultsFor(operations)) {
        SCOPED_TRACE(std::string(scenario.name) + ", " + fault.name);
        Scenario s;
        prepare(s, GetParam());
        const Mac mac = s.machine.mac();
        auto files = std::make_shared<FaultyFileOps>();
        fault.plant(*files, mac);
        s.options.files = files;

        const auto before = TreeSnapshot::take(s.machine.root());
        std::vector<TreeSnapshot> watched;
        for (const auto& folder : s.watched)
            watched.push_back(TreeSnapshot::take(s.machine.at(folder)));
        std::set<std::string> deleted;
        if (s.deletesForGood)
            for (const auto& [relative, entry] : before.entries())
                if (under(s.machine.root() + "/" + relative, s.machine.at("~/Library/Caches")))
                    deleted.insert(relative);

        const auto results = Cleaner::clean({ s.id }, mac, s.catalog, s.options);
        ASSERT_EQ(results.size(), 1u);
        const auto& result = results[0];
        EXPECT_NE(result.status, Status::wouldDo);

        EXPECT_EQ(before.lost(deleted), std::vector<std::string> {});

        const auto history = History::load(mac);
        std::vector<Relocation> recorded;
        for (const auto& entry : history) {
            // What lies in the Trash is noted, so that Put Back can tell it from another client's item.
            for (const auto& relocation : entry.relocated)
                EXPECT_EQ(relocation.kind.has_value(), Cleaner::isInTrash(relocation.to, mac)) << relocation.to;
            const auto moves = Testing::movesOf(entry.relocated);
            recorded.insert(recorded.end(), moves.begin(), moves.end());
        }
        EXPECT_EQ(recorded, result.relocated) << "exactly the result's moves are on file";
        for (const auto& relocation : recorded)
            EXPECT_TRUE(isSymlink(relocation.to) || exists(relocation.to)) << relocation.to;

        for (const auto& [relative, entry] : before.entries()) {
            if (entry.kind != TreeSnapshot::Entry::Kind::file || deleted.count(relative))
                continue;
            const std::string path = s.machine.root() + "/" + relative;
            if (!leftItsPlace(path, entry))
                continue;
            bool named = false;
            for (const auto& relocation : recorded)
                named = named || under(path, relocation.from);
            EXPECT_TRUE(named) << relative << " left its place unrecorded (" << result.detail << ")";
        }

        // And Put Back brings it all home, unless something new now stands in an old place.
        if (!history.empty() && History::offersPutBack(history.back(), mac)) {
            const auto back = Cleaner::undo(s.id, mac, false);
            if (back.status == Status::done) {
                for (const auto& snapshot : watched)
                    EXPECT_EQ(snapshot.differences(), std::vector<std::string> {});
            } else {
                EXPECT_TRUE(fault.occupies && back.status == Status::refused) << back.detail;
            }
            EXPECT_EQ(before.lost(deleted), std::vector<std::string> {});
        }
        if (::testing::Test::HasFailure())
            return;
    }
}

// A change whose History line can't be written still stands and keeps its status; its result says
// that it isn't in History, and why, as the next best record of where things went.
TEST(UnwrittenHistory, EveryKindOfCleanUpNamesItInItsResult)
{
    const bool asRoot = ::geteuid() == 0; // permissions don't hold root back
    const struct {
        const char* name;
        std::function<void(FakeMachine&)> block;
        std::string why;
    } blockers[] = {
        { "a pipe at its path",
          [](FakeMachine& m) {
              m.folder("~/Library/Application Support/Quandril");
              ASSERT_EQ(::mkfifo(History::path(m.mac()).c_str(), 0600), 0);
          },
          "something other than a file stands in its place" },
        { "a folder at its path", [](FakeMachine& m) { m.folder(std::string(History::displayPath)); },
          "something other than a file stands in its place" },
        { "a read-only Library",
          [](FakeMachine& m) {
              ::chmod(m.folder("~/Library/Application Support").at("~/Library/Application Support").c_str(), 0555);
          },
          "you don't have permission to write it" },
    };
    for (std::size_t index = 0; index < std::size(scenarios); ++index) {
        for (const auto& blocker : blockers) {
            if (asRoot && blocker.why.starts_with("you don't"))
                continue;
            SCOPED_TRACE(std::string(scenarios[index].name) + ", " + blocker.name);
            std::string shown[2]; // each run's result, its machine's root written "<root>"
            for (const bool blocked : { false, true }) {
                Scenario s;
                s.machine.drive("Backup", "/Volumes/Backup", 2'000'000'000, 1'000'000'000);
                s.options = optionsWith(nullptr);
                s.options.moveTo = "Backup";
                s.options.scan.now = std::chrono::system_clock::now();
                scenarios[index].build(s);
                if (blocked)
                    blocker.block(s.machine);
                auto results = Cleaner::clean({ s.id }, s.machine.mac(), s.catalog, s.options);
                ::chmod(s.machine.at("~/Library/Application Support").c_str(), 0755);
                EXPECT_EQ(History::load(s.machine.mac()).size(), blocked ? 0u : 1u);
                ASSERT_EQ(results.size(), 1u);
                if (!blocked) {
                    ASSERT_EQ(results[0].status, Status::done) << results[0].detail;
                    results[0].detail += " It isn't in History, so Put Back can't undo it: " + blocker.why + ".";
                    results[0].notInHistory = true;
                }
                shown[blocked] = Json::dump(toJson(results[0]));
                for (std::size_t at; (at = shown[blocked].find(s.machine.root())) != std::string::npos;)
                    shown[blocked].replace(at, s.machine.root().size(), "<root>");
            }
            EXPECT_EQ(shown[1], shown[0]);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cleaner, FaultInjection, ::testing::Range<std::size_t>(0, std::size(scenarios)),
                         [](const auto& info) { return caseName(scenarios[info.param].name); });

} // namespace
