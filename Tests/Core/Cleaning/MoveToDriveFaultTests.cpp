#include "QuandrilCore/Cleaning/Cleaner.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Platform/PartialCopy.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Token.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"
#include "Support/MoveBench.h"
#include "Support/SystemState.h"
#include "Support/TreeSnapshot.h"
#include "Support/Unprivileged.h"

using namespace Quandril;
using namespace Quandril::Testing;
using Status = CleanResult::Status;

namespace {

struct MoveFailureCase {
    const char* name;
    std::function<void(FaultyFileOps&)> fault;
    const char* detail; // a prefix: failures end with the system's words
    std::size_t records;
};

class MoveFailures : public ::testing::TestWithParam<MoveFailureCase> {};

TEST_P(MoveFailures, TheOriginalStaysUntilItsCopyIsChecked)
{
    const auto& row = GetParam();
    Bench bench;
    bench.machine.file("~/Movies/Trip/clip.mov", 3000).file("~/Movies/Trip/b.txt", 3);
    const auto before = TreeSnapshot::take(bench.machine.at("~/Movies/Trip"));
    row.fault(*bench.files);
    const auto result = bench.run(personalMove({ "~/Movies/Trip" }), bench.options());
    EXPECT_EQ(result.status, Status::failed);
    EXPECT_EQ(result.detail.rfind(row.detail, 0), 0u) << result.detail;
    EXPECT_EQ(result.relocated.size(), row.records);
    EXPECT_EQ(before.differences(), std::vector<std::string> {}) << "the original is untouched";
}

std::function<void(FaultyFileOps&)> failAll(FileOp op)
{
    return [op](FaultyFileOps& f) { f.failAll(op); };
}

std::function<void(FaultyFileOps&)> damage(FaultyFileOps::CopyFault fault)
{
    return [fault](FaultyFileOps& f) { f.damageCopies(fault); };
}

const char* const mismatch = "The copy doesn't match the original file for file; the original is untouched.";

const MoveFailureCase moveFailureCases[] = {
    { "no folder on the drive", failAll(FileOp::createFolder), "Couldn't make the folder on the drive: ", 0 },
    { "copy fails part-way",
      [](FaultyFileOps& f) {
          f.failAll(FileOp::copy, ENOSPC).before([](const FileOpCall& call, int) {
              if (call.op == FileOp::copy)
                  writeFile(call.second + "/clip.mov", "the first bytes");
          });
      },
      "Couldn't copy: planted failure of copy ", 0 },
    { "copy fails before it begins", failAll(FileOp::copy), "Couldn't copy: planted failure of copy ", 0 },
    { "something appears at the target",
      [](FaultyFileOps& f) {
          f.before([](const FileOpCall& call, int) {
              if (call.op == FileOp::copy)
                  writeFile(call.second, "someone else's");
          });
      },
      "Couldn't copy: ", 0 },
    { "short copy", damage(FaultyFileOps::CopyFault::shortFile), mismatch, 0 },
    { "flipped byte", damage(FaultyFileOps::CopyFault::flippedByte), mismatch, 0 },
    { "missing file", damage(FaultyFileOps::CopyFault::missingFile), mismatch, 0 },
    { "the original can't go to the Trash", failAll(FileOp::trash),
      "Copied and checked, but the original couldn't go to the Trash: ", 1 },
};

INSTANTIATE_TEST_SUITE_P(Move, MoveFailures, ::testing::ValuesIn(moveFailureCases), CaseNamed {});

// ---- A copy that doesn't get there ----

// A folder holding a 1 MiB file and a small one, moved as personal files or as a sound library.
struct CutShortBench : Bench {
    bool linked;
    std::string folder; // display path of the folder the item lies in
    std::string target; // display path of the copy's own name on the drive
    TreeSnapshot drive;
    TreeSnapshot originals;

    explicit CutShortBench(bool library)
        : linked(library)
        , folder(linked ? "~/Library/Sounds" : "~/Movies")
        , target(linked ? "/Volumes/Backup/Sound Libraries/Synth/Strings"
                        : "/Volumes/Backup/Moved from Mac/Movies/Strings")
    {
        machine.file(folder + "/Strings/s.wav", 1 << 20).text(folder + "/Strings/notes.txt", "tuning");
        mac();
        drive = TreeSnapshot::take(backup());
        originals = TreeSnapshot::take(machine.at(folder));
    }

    CleanResult move()
    {
        return run(linked ? soundLibrary({ folder + "/Strings" }) : personalMove({ folder + "/Strings" }), options());
    }
};

enum class Drive { roomy, fillsUp, crashes };
constexpr rlim_t driveRoom = 64 * 1024; // what a file may grow to on a drive that fills up

struct CutShortCase {
    const char* name;
    bool linked;
    Drive drive;
    std::function<void(FaultyFileOps&)> fault;
    std::string detail; // a prefix; a crash has none
};

class CutShortCopies : public ::testing::TestWithParam<CutShortCase> {};

// Only a checked copy ever takes its own name. A failed one goes with the folders made for it, so
// the drive isn't left full; a crash leaves at most a hidden partial copy. Either way the next try,
// with room, isn't refused as finding something already there.
TEST_P(CutShortCopies, LeaveNothingUnderTheNameAndARetryMoves)
{
    const auto& row = GetParam();
    CutShortBench bench(row.linked);
    if (row.fault)
        row.fault(*bench.files);
    if (row.drive == Drive::crashes) {
        GTEST_FLAG_SET(death_test_style, "fast"); // the crash must happen in this test's own folders
        EXPECT_EXIT(
            {
                // A forked child draws the tokens its parent draws next; one draw of its own gives
                // its partial copy another name than the retry's, as a restarted app would.
                Platform::Token::random();
                FileSizeLimit crash(driveRoom, true);
                bench.move();
                std::_Exit(0);
            },
            ::testing::KilledBySignal(SIGXFSZ), "");
        const std::string target = bench.machine.at(bench.target);
        EXPECT_FALSE(exists(target) || isSymlink(target));
    } else {
        CleanResult result;
        {
            std::optional<FileSizeLimit> full;
            if (row.drive == Drive::fillsUp)
                full.emplace(driveRoom);
            result = bench.move();
        }
        EXPECT_EQ(result.status, Status::failed);
        EXPECT_EQ(result.detail.rfind(row.detail, 0), 0u) << result.detail;
        EXPECT_TRUE(result.relocated.empty());
        EXPECT_EQ(bench.drive.differences(), std::vector<std::string> {});
    }
    EXPECT_EQ(bench.originals.differences(), std::vector<std::string> {});

    bench.files = std::make_shared<FaultyFileOps>();
    const auto retry = bench.move();
    EXPECT_EQ(retry.status, Status::done) << retry.detail;
    EXPECT_EQ(readFile(bench.machine.at(bench.target + "/notes.txt")), "tuning");
    // What a killed copy left beside the target went with the retry; the retry left nothing either.
    EXPECT_EQ(listNames(Platform::parentOf(bench.machine.at(bench.target))), std::vector<std::string> { "Strings" });
}

const CutShortCase cutShortCases[] = {
    { "the drive fills up", false, Drive::fillsUp, {}, "Couldn't copy: can't write " },
    { "the drive fills up under a sound library",
      true,
      Drive::fillsUp,
      {},
      "Couldn't copy ~/Library/Sounds/Strings: can't write " },
    { "the copy layer fails part-way", true, Drive::roomy,
      [](FaultyFileOps& f) {
          f.failAll(FileOp::copy, ENOSPC).before([](const FileOpCall& call, int) {
              if (call.op == FileOp::copy)
                  writeFile(call.second + "/s.wav", "the first bytes");
          });
      },
      "Couldn't copy ~/Library/Sounds/Strings: planted failure of copy " },
    { "the copy differs", true, Drive::roomy, damage(FaultyFileOps::CopyFault::flippedByte),
      "The copy of ~/Library/Sounds/Strings doesn't match the original; it's untouched." },
    { "a crash mid-copy", false, Drive::crashes, {}, "" },
    { "a crash mid-copy of a sound library", true, Drive::crashes, {}, "" },
};

INSTANTIATE_TEST_SUITE_P(Move, CutShortCopies, ::testing::ValuesIn(cutShortCases), CaseNamed {});

// ---- Partial copies that killed moves left ----

std::set<std::string> namesIn(const std::string& folder)
{
    const auto names = listNames(folder);
    return { names.begin(), names.end() };
}

// Killed moves' partial copies take the room a move needs until a move into their folder reclaims
// them (a dry run only counts them). Only exact names of ours go, each beside its own lock file, and
// never one a running move holds.
TEST(StalePartials, AreReclaimedBeforeTheRoomCheck)
{
    for (const bool dryRun : { false, true }) {
        Bench bench;
        bench.machine.text("~/Movies/Trip/a.txt", "trip");
        const std::string folder = bench.backup("/Moved from Mac/Movies");
        const auto partial = [](const std::string& name) {
            return "." + name + ".gorrin-partial-" + Platform::Token::random().text();
        };
        const std::string staleFile = partial("clip.mov"), staleFolder = partial("Trip"),
                          orphanLock = partial("x") + ".lock";
        writeFile(folder + "/" + staleFile, std::string(1 << 20, 'p'));
        writeFile(folder + "/" + staleFile + ".lock", "");
        writeFile(folder + "/" + staleFolder + "/s.wav", "half");
        writeFile(folder + "/" + staleFolder + ".lock", "");
        writeFile(folder + "/" + orphanLock, "");
        // Look-alikes and what isn't plainly ours stay.
        std::string upper = partial("clip.mov"), longer = partial("clip.mov") + "x",
                    noDot = partial("clip.mov").substr(1);
        std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
        std::string dashless = partial("clip.mov");
        dashless.erase(dashless.rfind('-'), 1);
        // A name of our shape without a lock file, or with one that isn't empty, is someone else's.
        const std::string link = partial("clip.mov"), oddLock = partial("y"), noLock = partial("z"),
                          fullLock = partial("w");
        for (const auto& name : { upper, longer, noDot, dashless, oddLock, noLock, fullLock })
            writeFile(folder + "/" + name, "not ours");
        writeFile(folder + "/" + fullLock + ".lock", "theirs");
        makeFolders(folder + "/" + oddLock + ".lock");
        ASSERT_EQ(::symlink("../../elsewhere", (folder + "/" + link).c_str()), 0);
        writeFile(folder + "/" + link + ".lock", "");
        const Platform::HeldPartial running(folder + "/Other");
        writeFile(folder + "/" + running.name() + "/b.wav", "copying");

        std::set<std::string> kept { upper,
                                     longer,
                                     noDot,
                                     dashless,
                                     link,
                                     link + ".lock",
                                     oddLock,
                                     oddLock + ".lock",
                                     noLock,
                                     fullLock,
                                     fullLock + ".lock",
                                     running.name(),
                                     running.name() + ".lock" };
        if (dryRun)
            kept.insert({ staleFile, staleFile + ".lock", staleFolder, staleFolder + ".lock", orphanLock });
        else
            kept.insert("Trip");
        // 1 GB free: a move of this size fits only with the stale copy's 1 MiB.
        const auto result = bench.run(personalMove({ "~/Movies/Trip" }, 909'091'000), bench.options(dryRun));
        EXPECT_EQ(result.status, dryRun ? Status::wouldDo : Status::done) << result.detail;
        EXPECT_EQ(namesIn(folder), kept) << (dryRun ? "dry run" : "move");
    }
}

// ---- Partial copies an ordinary user can't simply remove ----

struct OwnPartialCase {
    const char* name;
    std::function<void(Bench&, const std::string& folder)> prepare; // `folder`: where the copy goes
    std::int64_t bytes;
    std::string seen; // the dry run's status, the move's, and what the copy's folder holds after it
};

class OwnPartials : public ::testing::TestWithParam<OwnPartialCase> {};

// Copies of read-only folders stay read-only, yet the partial copies we make always go again, and
// the dry run counts only what the move itself frees, so its preview and the move agree.
TEST_P(OwnPartials, GoAgainAndCountOnlyWhatTheyFree)
{
    const auto& row = GetParam();
    Bench bench;
    bench.machine.text("~/Movies/Trip/a.txt", "trip");
    const std::string folder = bench.backup("/Moved from Mac/Movies");
    row.prepare(bench, folder);
    bench.mac();
    withoutPrivileges(bench.machine.root(), [&] {
        const Finding move = personalMove({ "~/Movies/Trip" }, row.bytes);
        const auto preview = bench.run(move, bench.options(true));
        const auto result = bench.run(move, bench.options());
        std::string seen = std::string(rawValue(preview.status)) + " / " + std::string(rawValue(result.status)) + " /";
        for (const auto& name : namesIn(folder))
            seen += " " + name;
        if (seen == row.seen)
            return true;
        std::cerr << row.name << ": " << seen << "\n" << preview.detail << "\n" << result.detail << "\n";
        return false;
    });
}

std::string stalePartial(const std::string& folder, const std::string& name)
{
    const std::string partial = folder + "/." + name + ".gorrin-partial-" + Platform::Token::random().text();
    writeFile(partial + ".lock", "");
    return partial;
}

// 1 GB free: a move of this size fits only with the 1 MiB a stale copy holds.
constexpr std::int64_t fitsWithTheStaleCopy = 909'091'000;

const OwnPartialCase ownPartialCases[] = {
    { "a killed copy of read-only folders",
      [](Bench&, const std::string& folder) {
          const std::string partial = stalePartial(folder, "Trip");
          writeFile(partial + "/ro/deeper/clip.mov", std::string(1 << 20, 'c'));
          ::chmod((partial + "/ro/deeper").c_str(), 0555);
          ::chmod((partial + "/ro").c_str(), 0555);
          ::chmod(partial.c_str(), 0555);
      },
      fitsWithTheStaleCopy, "wouldDo / done / Trip" },
    { "a killed copy holding a hard link of a file that stays",
      [](Bench& bench, const std::string& folder) {
          writeFile(bench.backup("/keep.mov"), std::string(1 << 20, 'k'));
          const std::string partial = stalePartial(folder, "clip.mov");
          ASSERT_EQ(::link(bench.backup("/keep.mov").c_str(), partial.c_str()), 0);
      },
      fitsWithTheStaleCopy, "refused / refused /" },
    { "a copy cut short after it made a read-only folder",
      [](Bench& bench, const std::string&) {
          bench.files->failAll(FileOp::copy, ENOSPC).before([](const FileOpCall& call, int) {
              if (call.op != FileOp::copy)
                  return;
              writeFile(call.second + "/ro/a.txt", "the first bytes");
              ::chmod((call.second + "/ro").c_str(), 0555);
          });
      },
      1000, "wouldDo / failed /" },
};

INSTANTIATE_TEST_SUITE_P(Move, OwnPartials, ::testing::ValuesIn(ownPartialCases), CaseNamed {});

} // namespace
