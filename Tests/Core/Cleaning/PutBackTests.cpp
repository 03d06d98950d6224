#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "Support/CaseName.h"
#include "Support/CleanPrinting.h"
#include "Support/FaultyFileOps.h"
#include "Support/PutBackScene.h"
#include "Support/SystemState.h"
#include "Support/TreeSnapshot.h"

using namespace Quandril;
using Quandril::Testing::CaseNamed;
using Quandril::Testing::FaultyFileOps;
using Quandril::Testing::FileOp;
using Quandril::Testing::historyLines;
using Quandril::Testing::present;
using Quandril::Testing::readFile;
using Quandril::Testing::reversed;
using Quandril::Testing::Scene;
using Quandril::Testing::TreeSnapshot;
using Quandril::Testing::writeFile;
using Status = CleanResult::Status;
namespace fs = std::filesystem;

namespace {

// ---- A full put-back restores every original exactly ----

struct RestoreCase {
    const char* name;
    std::function<HistoryEntry(const Scene&)> clean;
    std::vector<std::string> watched; // display paths of the folders compared before and after
    std::string note;                 // what the detail adds after "Put back where it was."
};

class PutBackRestores : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(PutBackRestores, EveryOriginalPathExactly)
{
    const auto& row = GetParam();
    Scene scene;
    std::vector<TreeSnapshot> before;
    for (const auto& folder : row.watched)
        before.push_back(TreeSnapshot::take(scene.at(folder)));
    const auto everything = TreeSnapshot::take(scene.machine.root());

    const HistoryEntry entry = row.clean(scene);
    const auto items = Cleaner::putBackSet(entry, scene.mac);
    ASSERT_FALSE(items.empty());
    EXPECT_TRUE(History::offersPutBack(History::load(scene.mac).back(), scene.mac));

    // A dry run changes nothing, and does not take the clean-up's own links for something new.
    const auto lines = historyLines(scene.mac);
    const auto cleaned = TreeSnapshot::take(scene.machine.root());
    EXPECT_EQ(Cleaner::undo(entry.id, scene.mac, true),
              (CleanResult { entry.id,
                             entry.title,
                             Status::wouldDo,
                             "Would put " + std::to_string(items.size()) + " item(s) back where they were.",
                             entry.bytes,
                             {} }));
    EXPECT_EQ(cleaned.differences(), std::vector<std::string> {});

    EXPECT_EQ(Cleaner::undo(entry.id, scene.mac, false),
              (CleanResult { entry.id, entry.title, Status::done, "Put back where it was." + row.note, entry.bytes,
                             reversed(items) }));
    for (const auto& snapshot : before)
        EXPECT_EQ(snapshot.differences(), std::vector<std::string> {}) << snapshot.root();
    EXPECT_EQ(everything.lost(), std::vector<std::string> {});

    // One marker line with the entry's own list; the entry is no longer in force.
    const auto history = History::load(scene.mac);
    ASSERT_EQ(historyLines(scene.mac), lines + 1);
    EXPECT_EQ(history.back().undone, std::optional<bool>(true));
    EXPECT_EQ(history.back().relocated, entry.relocated);
    EXPECT_FALSE(History::offersPutBack(history.front(), scene.mac));
    const auto again = Cleaner::undo(entry.id, scene.mac, false);
    EXPECT_EQ(again.status, Status::refused);
    EXPECT_EQ(again.detail, "Nothing in the history to undo for this.");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PutBackRestores,
    ::testing::Values(RestoreCase { "trashed file and folder",
                                    [](const Scene& s) {
                                        return s.trashed("docs", { "~/Documents/report.txt", "~/Documents/Project" });
                                    },
                                    { "~/Documents" },
                                    "" },
                      RestoreCase {
                          "moved to a drive with links",
                          [](const Scene& s) {
                              return s.linked("sounds", { "~/Library/Sounds/Pack", "~/Library/Sounds/Loop.aif" });
                          },
                          { "~/Library/Sounds" },
                          " The copy on /Volumes/Backup/Sound Libraries/Apple/Pack stays until you remove it." },
                      RestoreCase { "moved to a drive",
                                    [](const Scene& s) { return s.movedToDrive("project", "~/Documents/Project"); },
                                    { "~/Documents" },
                                    "" },
                      RestoreCase { "parked cloud file",
                                    [](const Scene& s) {
                                        return s.parked("cloud",
                                                        "~/Library/Mobile Documents/com~apple~CloudDocs/big.mov");
                                    },
                                    { "~/Library/Mobile Documents" },
                                    "" }),
    CaseNamed {});

// ---- Refusals that touch nothing ----

struct RefusalCase {
    const char* name;
    std::function<void(const Scene&)> prepare;
    std::string id;
    std::string title;
    std::string detail;
};

class PutBackRefuses : public ::testing::TestWithParam<RefusalCase> {};

// Checked whole before anything moves: nothing changes, History included.
TEST_P(PutBackRefuses, WithTheReasonAndNoMarker)
{
    const auto& row = GetParam();
    Scene scene;
    row.prepare(scene);
    const auto before = TreeSnapshot::take(scene.machine.root());
    // An entry found in History lends the answer its title and size.
    const std::int64_t bytes = row.title == row.id ? 0 : 4321;
    for (bool dryRun : { true, false })
        EXPECT_EQ(Cleaner::undo(row.id, scene.mac, dryRun),
                  (CleanResult { row.id, row.title, Status::refused, row.detail, bytes, {} }));
    EXPECT_EQ(before.differences(), std::vector<std::string> {});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PutBackRefuses,
    ::testing::Values(
        RefusalCase { "never cleaned", [](const Scene&) {}, "nope", "nope",
                      "Nothing in the history to undo for this." },
        RefusalCase { "already put back",
                      [](const Scene& s) {
                          s.trashed("docs", { "~/Documents/b.txt" });
                          Cleaner::undo("docs", s.mac, false);
                      },
                      "docs", "docs", "Nothing in the history to undo for this." },
        RefusalCase { "deleted for good", [](const Scene& s) { s.record("caches", {}); }, "caches", "Title of caches",
                      "Nothing of this was moved: it was deleted for good or handled by its own app or tool, so "
                      "there's nothing to put back." },
        RefusalCase {
            "only copied to the drive",
            [](const Scene& s) {
                s.record("copy",
                         { { s.at("~/Documents/b.txt"), s.at("/Volumes/Backup/Moved from Mac/b.txt"), {}, {} },
                           { s.at("~/Music/c"), s.at("/Volumes/Backup/Moved from Mac/c"), {}, {} } });
            },
            "copy", "Title of copy",
            "Nothing went to the Trash; moved files are on the drive at /Volumes/Backup/Moved from Mac/b.txt, "
            "/Volumes/Backup/Moved from Mac/c." },
        RefusalCase { "something new at the second old place",
                      [](const Scene& s) {
                          s.trashed("two", { "~/Documents/report.txt", "~/Documents/b.txt" });
                          writeFile(s.at("~/Documents/b.txt"), "a new b");
                      },
                      "two", "Title of two", "Something new is already at ~/Documents/b.txt." },
        RefusalCase { "a file where the link was",
                      [](const Scene& s) {
                          s.linked("sounds", { "~/Library/Sounds/Loop.aif" });
                          ::unlink(s.at("~/Library/Sounds/Loop.aif").c_str());
                          writeFile(s.at("~/Library/Sounds/Loop.aif"), "recorded since");
                      },
                      "sounds", "Title of sounds", "Something new is already at ~/Library/Sounds/Loop.aif." }),
    CaseNamed {});

TEST(PutBackHistory, ADamagedLineHidesNothingElse)
{
    Scene scene;
    writeFile(History::path(scene.mac), "{\"id\":\"caf\xE9\"}\n");
    scene.trashed("docs", { "~/Documents/b.txt" });
    writeFile(History::path(scene.mac), readFile(History::path(scene.mac)) + "\xFF\xFE garbage\n");
    EXPECT_EQ(Cleaner::undo("docs", scene.mac, false).status, Status::done);
    EXPECT_EQ(readFile(scene.at("~/Documents/b.txt")), "bee");
}

TEST(PutBackHistory, AnUnwritableHistoryIsSaidSo)
{
    Scene scene;
    scene.trashed("docs", { "~/Documents/b.txt" });
    const std::string file = History::path(scene.mac);
    const auto before = readFile(file);
    // Root ignores a read-only mode, so then the file may not grow instead.
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::chmod(file.c_str(), 0444);
    if (Testing::runningAsRoot()) {
        struct rlimit tight = saved;
        tight.rlim_cur = static_cast<rlim_t>(before.size());
        ::setrlimit(RLIMIT_FSIZE, &tight);
    }
    const auto result = Cleaner::undo("docs", scene.mac, false);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    const std::string why = Testing::runningAsRoot() ? "file too large" : "you don't have permission to write it";
    EXPECT_EQ(result,
              (CleanResult { "docs", "Title of docs", Status::done,
                             "Put back where it was. History couldn't note that it's back, so it still offers Put "
                             "Back for it: "
                                 + why + ".",
                             4321, result.relocated, true }));
    EXPECT_EQ(result.relocated.size(), 1u);
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(readFile(scene.at("~/Documents/b.txt")), "bee");
}

// ---- Faults while putting back: nothing is lost, nothing reported done that wasn't ----

// Two sound-library items moved with links: two links to remove, two items to bring back.
struct FaultScene : Scene {
    HistoryEntry entry;
    TreeSnapshot everything;
    TreeSnapshot sounds;
    std::size_t lines = 0;

    FaultScene()
        : everything(TreeSnapshot::take(machine.root()))
        , sounds(TreeSnapshot::take(at("~/Library/Sounds")))
    {
        entry = linked("sounds", { "~/Library/Sounds/Pack", "~/Library/Sounds/Loop.aif" });
        lines = historyLines(mac);
    }

    // What a failed or refused put-back must leave: every item it reports back is back, every other
    // item is still where the clean-up put it, every content is somewhere, and no marker line.
    void checkNothingLostNorClaimed(const CleanResult& result, bool trashEmptied = false) const
    {
        EXPECT_NE(result.status, Status::done);
        EXPECT_EQ(historyLines(mac), lines);
        EXPECT_EQ(everything.lost(), std::vector<std::string> {});
        const auto items = Cleaner::putBackSet(entry, mac);
        for (const auto& item : items) {
            const bool reported = std::find(result.relocated.begin(), result.relocated.end(),
                                            Relocation { item.to, item.from, {}, {} })
                != result.relocated.end();
            if (reported) {
                EXPECT_TRUE(present(item.from) && !isSymlink(item.from)) << item.from;
                EXPECT_FALSE(present(item.to)) << item.to;
            } else if (!trashEmptied) {
                EXPECT_TRUE(present(item.to)) << item.to << " was moved without being reported";
            }
        }
    }
};

int operationsOfACleanRun()
{
    FaultScene scene;
    FaultyFileOps counting;
    EXPECT_EQ(Cleaner::undo("sounds", scene.mac, false, counting).status, Status::done);
    return static_cast<int>(counting.calls().size());
}

TEST(PutBackFaults, FailingAnyOneOperationLosesNothing)
{
    const int operations = operationsOfACleanRun();
    ASSERT_EQ(operations, 6); // two link removals, then a folder and a move per item
    for (int k = 1; k <= operations; ++k) {
        SCOPED_TRACE("operation " + std::to_string(k));
        FaultScene scene;
        FaultyFileOps faulty;
        faulty.failAt(k);
        const auto result = Cleaner::undo("sounds", scene.mac, false, faulty);
        EXPECT_EQ(result.status, Status::failed);
        const auto& failed = faulty.calls().at(static_cast<std::size_t>(k - 1));
        if (failed.op == FileOp::removeLink)
            EXPECT_EQ(result.detail, "Couldn't remove the link at " + scene.mac.display(failed.first) + ".");
        else
            EXPECT_EQ(result.detail.rfind("Couldn't put back ~/Library/Sounds/", 0), 0u) << result.detail;
        EXPECT_EQ(faulty.count(FileOp::runAsAdmin), 0) << "a fake machine never asks for a password";
        scene.checkNothingLostNorClaimed(result);

        // Trying again with nothing failing brings back whatever is still in the Trash.
        const auto retry = Cleaner::undo("sounds", scene.mac, false);
        EXPECT_EQ(scene.everything.lost(), std::vector<std::string> {});
        if (result.relocated.empty()) {
            EXPECT_EQ(retry.status, Status::done) << retry.detail;
            EXPECT_EQ(scene.sounds.differences(), std::vector<std::string> {});
        }
    }
}

TEST(PutBackFaults, SomethingCreatedAtTheOldPlaceJustBeforeTheMove)
{
    for (int k = 1; k <= 2; ++k) {
        SCOPED_TRACE("move " + std::to_string(k));
        FaultScene scene;
        FaultyFileOps faulty;
        faulty.occupyBeforeMove(k, "made meanwhile");
        const auto result = Cleaner::undo("sounds", scene.mac, false, faulty);
        const auto item = Cleaner::putBackSet(scene.entry, scene.mac).at(static_cast<std::size_t>(k - 1));
        EXPECT_EQ(result.status, Status::refused);
        EXPECT_EQ(result.detail, "Something new is already at " + scene.mac.display(item.from) + ".");
        EXPECT_EQ(result.relocated.size(), static_cast<std::size_t>(k - 1));
        EXPECT_EQ(readFile(item.from), "made meanwhile");
        scene.checkNothingLostNorClaimed(result);
    }
}

TEST(PutBackFaults, TrashEmptiedBeforeTheLinksGoKeepsTheLinks)
{
    FaultScene scene;
    fs::remove_all(scene.at("~/.Trash"));
    FaultyFileOps faulty;
    const auto result = Cleaner::undo("sounds", scene.mac, false, faulty);
    EXPECT_EQ(result.status, Status::failed);
    EXPECT_EQ(result.detail,
              "~/.Trash/Pack isn't there any more (the Trash was emptied, or the parked copy was deleted).");
    EXPECT_TRUE(faulty.calls().empty());
    // The apps still find their sounds through the links, on the drive.
    EXPECT_EQ(fs::read_symlink(scene.at("~/Library/Sounds/Pack")).string(),
              scene.at("/Volumes/Backup/Sound Libraries/Apple/Pack"));
    scene.checkNothingLostNorClaimed(result, true);
}

TEST(PutBackFaults, TrashEmptiedWhileLinksAreRemovedStopsBeforeAnyMove)
{
    FaultScene scene;
    FaultyFileOps faulty;
    faulty.before([&](const Testing::FileOpCall& call, int) {
        if (call.op == FileOp::removeLink)
            fs::remove_all(scene.at("~/.Trash"));
    });
    const auto result = Cleaner::undo("sounds", scene.mac, false, faulty);
    EXPECT_EQ(result.status, Status::failed);
    EXPECT_NE(result.detail.find("isn't there any more"), std::string::npos) << result.detail;
    EXPECT_EQ(faulty.count(FileOp::moveNoReplace), 0);
    scene.checkNothingLostNorClaimed(result, true);
}

} // namespace
