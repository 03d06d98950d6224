// A put-back stopped or cut short part way: History says what came back, a later Put Back brings
// back the rest and leaves what is back alone, and no partial copy stays in the user's folders.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Platform/Move.h"
#include "QuandrilCore/Platform/PartialCopy.h"
#include "QuandrilCore/Platform/PathText.h"
#include "Support/FaultyFileOps.h"
#include "Support/LiveHome.h"
#include "Support/PutBackScene.h"
#include "Support/TrashClient.h"
#include "Support/TreeSnapshot.h"

using namespace Quandril;
using Quandril::Testing::FaultyFileOps;
using Quandril::Testing::FileOp;
using Quandril::Testing::historyLines;
using Quandril::Testing::LiveHome;
using Quandril::Testing::present;
using Quandril::Testing::reversed;
using Quandril::Testing::Scene;
using Quandril::Testing::TreeSnapshot;
using Status = CleanResult::Status;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> documents { "~/Documents/report.txt", "~/Documents/b.txt", "~/Documents/Project" };

// Trashed as a clean-up does, on a line that notes each item as the cleaner's lines do.
HistoryEntry trashedAndNoted(const Scene& scene)
{
    HistoryEntry entry { Clock::now(), "docs", "Documents", Action::Kind::trash, 4321, {}, {} };
    for (const auto& display : documents)
        entry.relocated.push_back({ scene.at(display), FileOps::live().trash(scene.mac, scene.at(display)), {}, {} });
    CleanResult result;
    History::record(entry, result, scene.mac);
    EXPECT_FALSE(result.notInHistory);
    return History::load(scene.mac).back();
}

std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<Relocation> slice(const std::vector<Relocation>& items, std::size_t from, std::size_t to)
{
    return { items.begin() + std::ptrdiff_t(from), items.begin() + std::ptrdiff_t(to) };
}

TEST(PutBackResumes, AfterAStopHistorySaysWhatCameBackAndTheRestFollows)
{
    const struct {
        const char* label;
        std::size_t back;                           // the items back when it stopped
        std::function<void(FaultyFileOps&)> within; // a stop heeded within a move, as a copy across drives does
    } rows[] = {
        { "stopped after the first item", 1, {} },
        { "stopped after the second item", 2, {} },
        { "a copy stopped within the second item", 1,
          [](FaultyFileOps& files) { files.failAt(2, FileOp::moveNoReplace, ECANCELED); } },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Scene scene;
        const auto before = TreeSnapshot::take(scene.at("~/Documents"));
        const HistoryEntry entry = trashedAndNoted(scene);
        FaultyFileOps files;
        std::function<bool()> stop = [&] { return files.count(FileOp::moveNoReplace) >= int(row.back); };
        if (row.within) {
            row.within(files);
            stop = [] { return false; };
        }
        const auto first = Cleaner::undo("docs", scene.mac, false, files, stop);
        EXPECT_EQ(first,
                  (CleanResult { "docs", "Documents", Status::done,
                                 "Stopped after putting back " + std::to_string(row.back)
                                     + " of 3 items; the others stay where Gorrin put them until you put them back.",
                                 4321, reversed(slice(entry.relocated, 0, row.back)) }));

        // History notes what came back and keeps the rest in force.
        const HistoryEntry rest = History::load(scene.mac).back();
        EXPECT_EQ(rest.undone, std::nullopt);
        EXPECT_EQ(rest.relocated, slice(entry.relocated, row.back, 3));
        EXPECT_EQ(rest.back, reversed(slice(entry.relocated, 0, row.back)));
        EXPECT_TRUE(History::offersPutBack(rest, scene.mac));

        const auto second = Cleaner::undo("docs", scene.mac, false);
        EXPECT_EQ(second,
                  (CleanResult { "docs", "Documents", Status::done, "Put back where it was.", 4321,
                                 reversed(slice(entry.relocated, row.back, 3)) }));
        EXPECT_EQ(before.differences(), std::vector<std::string> {});
        EXPECT_EQ(Cleaner::undo("docs", scene.mac, false).detail, "Nothing in the history to undo for this.");
    }
}

// Stopped again on the line the first stop wrote: History notes all that came back so far.
TEST(PutBackResumes, StoppedTwiceHistoryNotesAllThatCameBack)
{
    Scene scene;
    const HistoryEntry entry = trashedAndNoted(scene);
    for (const std::size_t back : { 1u, 2u }) {
        FaultyFileOps files;
        const auto result = Cleaner::undo("docs", scene.mac, false, files,
                                          [&] { return files.count(FileOp::moveNoReplace) >= 1; });
        EXPECT_EQ(result.detail,
                  "Stopped after putting back 1 of " + std::to_string(4 - back)
                      + " items; the others stay where Gorrin put them until you put them back.");
        const HistoryEntry rest = History::load(scene.mac).back();
        EXPECT_EQ(rest.relocated, slice(entry.relocated, back, 3));
        EXPECT_EQ(rest.back, reversed(slice(entry.relocated, 0, back)));
    }
    EXPECT_EQ(Cleaner::undo("docs", scene.mac, false).relocated, reversed(slice(entry.relocated, 2, 3)));
    EXPECT_TRUE(History::load(scene.mac).back().isUndone());
}

// Cut short on the desktop Trash right after an item came back, before its record went: the next
// Put Back leaves the item be, takes its record away and brings back the rest.
TEST(PutBackResumes, FromTheDesktopTrashAfterBeingCutShortBeforeARecordWent)
{
    NEEDS_TRASH_CLI();
    LiveHome h;
    const std::vector<std::string> places { h.at("Documents/a.txt"), h.at("Documents/b.txt") };
    HistoryEntry entry { Clock::now(), "docs", "Documents", Action::Kind::trash, 9, {}, {} };
    for (const auto& place : places) {
        Testing::writeFile(place, place);
        entry.relocated.push_back({ place, h.mac.trash(place), {}, {} });
    }
    CleanResult recorded;
    History::record(entry, recorded, h.mac);
    ASSERT_FALSE(recorded.notInHistory);
    ASSERT_EQ(::rename(entry.relocated[0].to.c_str(), places[0].c_str()), 0);

    const auto result = Cleaner::undo("docs", h.mac, false);
    EXPECT_EQ(result,
              (CleanResult { "docs", "Documents", Status::done, "Put back where it was.", 9,
                             reversed(slice(entry.relocated, 1, 2)) }));
    for (const auto& place : places)
        EXPECT_EQ(Testing::readFile(place), place);
    EXPECT_EQ(h.listed(), std::vector<std::string> {});
}

// The first part of what a move across drives does, then the end of the process, as when the
// session ends while the second item is copied: the partial copy and its lock stay behind.
class CutShortWhileCopying : public LiveFileOps {
public:
    void moveNoReplace(const std::string& from, const std::string& to) override
    {
        if (++moves_ < 2)
            return LiveFileOps::moveNoReplace(from, to);
        Platform::HeldPartial held(to);
        Platform::copyNoReplace(from, Platform::parentOf(to) + "/" + held.name());
        std::_Exit(0);
    }

private:
    int moves_ = 0;
};

// The old places lie on a drive of their own (a tmpfs in the test's own mount namespace), so every
// item comes back as a copy.
TEST(PutBackResumes, AfterBeingCutShortWhileCopyingAcrossDrives)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a drive needs root";
    Scene scene;
    const HistoryEntry entry = trashedAndNoted(scene);
    const std::string folder = scene.at("~/Documents");
    const std::size_t lines = historyLines(scene.mac);
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || ::mount("quandril-test", folder.c_str(), "tmpfs", 0, "size=4m") != 0)
                std::_Exit(2);
            const auto check = [](bool ok, const std::string& what) {
                if (!ok)
                    std::cerr << "not so: " << what << "\n";
                return ok;
            };
            const pid_t child = ::fork();
            if (child == 0) {
                CutShortWhileCopying files;
                Cleaner::undo("docs", scene.mac, false, files);
                std::_Exit(3);
            }
            int status = 0;
            ::waitpid(child, &status, 0);
            const auto names = namesIn(folder);
            bool ok = check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "cut short while copying")
                && check(names.size() == 3 && names[2] == "report.txt"
                             && Platform::isPartialName(std::string_view(names[0])) && names[1] == names[0] + ".lock",
                         "the first item back, a partial copy and its lock beside it")
                && check(historyLines(scene.mac) == lines, "nothing written to History");

            const auto again = Cleaner::undo("docs", scene.mac, false);
            ok = check(again
                           == CleanResult { "docs", "Documents", Status::done, "Put back where it was.", 4321,
                                            reversed(slice(entry.relocated, 1, 3)) },
                       "the rest put back: " + again.detail)
                && ok;
            ok = check(namesIn(folder) == std::vector<std::string> { "Project", "b.txt", "report.txt" },
                       "no partial copy nor lock left")
                && ok;
            ok = check(Testing::readFile(folder + "/b.txt") == "bee" && present(folder + "/Project/notes.md"),
                       "each item whole")
                && ok;
            ok = check(History::load(scene.mac).back().isUndone(), "History says it's back") && ok;
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
