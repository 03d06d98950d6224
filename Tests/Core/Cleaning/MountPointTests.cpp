// Other file systems mounted where the engine moves and removes things: a removal never crosses into
// one, and a move that copies across mounts takes nothing of anyone else's on its way. This
// executable moves into a mount namespace of its own before any test runs, so the mounts it makes
// are seen by no other process and go with it.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/Token.h"
#include "Support/CaseName.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/MoveBench.h"
#include "Support/SystemState.h"
#include "Support/TrashClient.h"

using namespace Quandril;
using namespace Quandril::Testing;
using Status = CleanResult::Status;

namespace {

// Before main, while the process has one thread: a namespace holds a thread, not its whole process.
const bool ownMounts = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
    && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;

#define NEEDS_OWN_MOUNTS()                                                                                             \
    if (!ownMounts)                                                                                                    \
    GTEST_SKIP() << "mounting needs root and a mount namespace of its own"

// A mount for as long as the value lives: a small tmpfs, or with `from` a bind mount of that folder.
class Mounted {
public:
    explicit Mounted(std::string at, const std::string& from = {})
        : at_(std::move(at))
    {
        makeFolders(at_);
        const int result = from.empty() ? ::mount("gorrin-test", at_.c_str(), "tmpfs", 0, "size=1m")
                                        : ::mount(from.c_str(), at_.c_str(), nullptr, MS_BIND, nullptr);
        if (result != 0)
            throw std::runtime_error("can't mount at " + at_);
    }
    ~Mounted() { unmount(); }
    Mounted(const Mounted&) = delete;
    Mounted& operator=(const Mounted&) = delete;

    void unmount()
    {
        if (!at_.empty())
            ::umount2(at_.c_str(), MNT_DETACH);
        at_.clear();
    }

private:
    std::string at_;
};

std::vector<std::string> sortedNames(const std::string& folder)
{
    auto names = listNames(folder);
    std::sort(names.begin(), names.end());
    return names;
}

std::string partialName(const std::string& name)
{
    return "." + name + ".gorrin-partial-" + Platform::Token::random().text();
}

std::string contentOf(const std::string& path)
{
    return exists(path) ? readFile(path) : "(gone)";
}

// ---- Moves across mounts take only our own partial copies ----

// ~/Documents is another mount of the home's own file system, so a rename out of it or into it
// fails and moves copy, then remove. On the way, names of our partial copies' shape that aren't
// ours stay: an item trash-put put in the Trash (its lock-shaped twin too), and a file in
// ~/Documents without a lock file.
TEST(AcrossMounts, MovesLeaveNamesOfOurShapeThatArentOurs)
{
    NEEDS_OWN_MOUNTS();
    if (!haveTool("trash-put") || !haveTool("trash-restore"))
        GTEST_SKIP() << "trash-cli isn't installed (scripts/install-deps installs it)";
    TempDir dir;
    const std::string home = dir.path() + "/home";
    const ScopedEnv homeVariable("HOME", home), dataVariable("XDG_DATA_HOME", std::nullopt);
    const Mounted documents(home + "/Documents", home + "/Documents");
    writeFile(home + "/Documents/probe", "");
    ASSERT_NE(std::rename((home + "/Documents/probe").c_str(), (home + "/probe").c_str()), 0);
    ASSERT_EQ(errno, EXDEV);

    const std::string shaped = partialName("note.txt");
    writeFile(home + "/Desktop/a/" + shaped, "in the Trash");
    writeFile(home + "/Desktop/b/" + shaped + ".lock", "");
    ASSERT_TRUE(runTool({ "trash-put", home + "/Desktop/a/" + shaped, home + "/Desktop/b/" + shaped + ".lock" }));
    const std::string draft = home + "/Documents/" + partialName("draft.txt");
    writeFile(draft, "a draft");
    const std::string old = home + "/Documents/old.bin";
    writeFile(old, "old");

    const Mac mac { "", home, std::nullopt };
    const std::string arrived = mac.trash(old);
    History::append(
        HistoryEntry { Clock::now(), "old", "old", Action::Kind::trash, 3, { { old, arrived, {}, {} } }, {} }, mac);
    runTool({ "trash-restore", home + "/Desktop/a" }, "0\n");
    const auto back = Cleaner::undo("old", mac, false);

    EXPECT_EQ((std::vector<std::string> { contentOf(home + "/Desktop/a/" + shaped), contentOf(draft),
                                          std::string(rawValue(back.status)), contentOf(old) }),
              (std::vector<std::string> { "in the Trash", "a draft", "done", "old" }))
        << back.detail;
}

// ---- Removals stop at mount points ----

// A drive mounted inside a partial copy that a killed move left keeps what it holds, however many
// moves come; once it is unmounted, the next move reclaims the rest.
TEST(AtMountPoints, AStalePartialCopyKeepsWhatIsMountedInIt)
{
    NEEDS_OWN_MOUNTS();
    Bench bench;
    for (const char* name : { "One", "Two", "Three" })
        bench.machine.text(std::string("~/Movies/") + name + "/a.txt", name);
    const std::string folder = bench.backup("/Moved from Mac/Movies");
    const std::string partial = folder + "/" + partialName("Trip");
    writeFile(partial + ".lock", "");
    writeFile(partial + "/own.txt", "ours");
    Mounted drive(partial + "/ram");
    writeFile(partial + "/ram/theirs.txt", "theirs");

    std::vector<std::string> seen;
    const auto move = [&](const char* name) {
        const auto result = bench.run(personalMove({ std::string("~/Movies/") + name }), bench.options());
        seen.push_back(std::string(rawValue(result.status)) + ", " + contentOf(partial + "/own.txt") + ", "
                       + contentOf(partial + "/ram/theirs.txt") + ", lock "
                       + (exists(partial + ".lock") ? "kept" : "gone"));
    };
    move("One");
    move("Two");
    drive.unmount();
    move("Three");
    EXPECT_EQ(seen,
              (std::vector<std::string> { "done, (gone), theirs, lock kept", "done, (gone), theirs, lock kept",
                                          "done, (gone), (gone), lock gone" }));
    EXPECT_EQ(sortedNames(folder), (std::vector<std::string> { "One", "Three", "Two" }));
}

// A copy into the drive that fails once a drive is mounted inside its partial copy, then a retry.
struct CutShortCase {
    const char* name;
    bool linked;         // a sound library, else personal files
    std::string failure; // what the failed move says before the partial copy's path
};

class MountedInAPartialCopy : public ::testing::TestWithParam<CutShortCase> {};

// The partial copy of a failed move stays while a drive is mounted in it, and the result says why;
// the next move there, which succeeds, says that it stays, and it keeps what is mounted there.
TEST_P(MountedInAPartialCopy, StaysAndIsSaidToStay)
{
    NEEDS_OWN_MOUNTS();
    const auto& row = GetParam();
    Bench bench;
    const std::string folder = row.linked ? "~/Library/Sounds" : "~/Movies";
    for (const char* name : { "/Strings/a.txt", "/Brass/a.txt" })
        bench.machine.text(folder + name, name);
    const auto move = [&](const char* name) {
        const std::vector<std::string> paths { folder + "/" + name };
        return bench.run(row.linked ? soundLibrary(paths) : personalMove(paths), bench.options());
    };
    std::string partial;
    std::optional<Mounted> drive;
    bench.files->failAll(FileOp::copy, ENOSPC).before([&](const FileOpCall& call, int) {
        if (call.op != FileOp::copy)
            return;
        partial = call.second;
        writeFile(partial + "/a.txt", "the first bytes");
        drive.emplace(partial + "/ram");
        writeFile(partial + "/ram/theirs.txt", "theirs");
    });
    const auto failed = move("Strings");
    bench.files = std::make_shared<FaultyFileOps>();
    const auto retried = move("Brass");

    const Mac& mac = bench.mac();
    const std::string moved = row.linked ? "Moved to /Volumes/Backup/Sound Libraries/Synth and checked file by file, "
                                           "with a link where each was, so Synth find them while Backup is plugged "
                                           "in. The originals are in the Trash."
                                         : "Moved to /Volumes/Backup/Moved from Mac/Movies/Brass and checked file "
                                           "by file; the original is in the Trash.";
    EXPECT_EQ((std::vector<std::string> { std::string(rawValue(failed.status)), failed.detail,
                                          std::string(rawValue(retried.status)), retried.detail,
                                          contentOf(partial + "/a.txt"), contentOf(partial + "/ram/theirs.txt") }),
              (std::vector<std::string> {
                  "failed", row.failure + mac.display(partial) + ": another drive is mounted in it.", "done",
                  moved + " A partial copy Gorrin left at " + mac.display(partial)
                      + " earlier stays: another drive is mounted in it.",
                  "(gone)", "theirs" }));
}

const CutShortCase cutShortCases[] = {
    { "personal files", false, "The copy didn't finish; the original is untouched, and the partial copy is at " },
    { "a sound library", true,
      "The copy of ~/Library/Sounds/Strings doesn't match the original; it's untouched, and the partial copy is "
      "at " },
};

INSTANTIATE_TEST_SUITE_P(Move, MountedInAPartialCopy, ::testing::ValuesIn(cutShortCases), CaseNamed {});

struct DeleteCase {
    const char* name;
    std::vector<std::string> mounts; // below the cache folder ("" the folder itself); "+" marks a bind mount
    std::string detail;
    std::vector<std::string> left; // what the cache folder holds afterwards
    bool stopped = false;          // a stop comes before a second cache folder goes
};

class DeletingForGood : public ::testing::TestWithParam<DeleteCase> {};

// A cache deleted for good loses everything but the drives mounted inside it, and the result says
// which were left and why.
TEST_P(DeletingForGood, LeavesDrivesMountedInside)
{
    NEEDS_OWN_MOUNTS();
    const auto& row = GetParam();
    FakeMachine machine;
    machine.text("~/Library/Caches/App/a.bin", "a").text("~/Library/Caches/App/sub/b.bin", "b");
    machine.text("~/Elsewhere/kept.txt", "kept");
    machine.text("~/Library/Caches/Other/c.bin", "c");
    const std::string cache = machine.at("~/Library/Caches/App");
    std::vector<std::unique_ptr<Mounted>> mounts;
    std::vector<std::string> mountedFiles;
    for (const auto& mount : row.mounts) {
        const bool bind = mount.starts_with("+");
        const std::string at = cache + (bind ? mount.substr(1) : mount);
        mounts.push_back(std::make_unique<Mounted>(at, bind ? machine.at("~/Elsewhere") : std::string()));
        if (!bind)
            writeFile(at + "/theirs.txt", "theirs");
        mountedFiles.push_back(bind ? at + "/kept.txt" : at + "/theirs.txt");
    }
    const Mac mac = machine.mac();
    CleanOptions options = optionsWith(std::make_shared<LiveFileOps>());
    options.permanentCaches = true;
    options.stop = [&] { return row.stopped; };
    const auto result = Cleaner::act(makeFinding("f", Tier::rebuilds, Action::delete_(),
                                                 { cache, machine.at("~/Library/Caches/Other") }),
                                     reportOf(mac), mac, PathGuard(guardedCatalog(), mac), options);

    EXPECT_EQ(result.status, Status::failed);
    EXPECT_EQ(contentOf(machine.at("~/Library/Caches/Other/c.bin")), row.stopped ? "c" : "(gone)");
    EXPECT_EQ(result.detail, row.detail);
    EXPECT_EQ(sortedNames(cache), row.left);
    for (const auto& file : mountedFiles)
        EXPECT_NE(contentOf(file), "(gone)") << file;
}

const DeleteCase deleteCases[] = {
    { "a drive mounted inside",
      { "/ram" },
      "Deleted, but ~/Library/Caches/App/ram was left: it is another drive mounted there.",
      { "ram" } },
    { "the same drive mounted again inside",
      { "+/sub/bound" },
      "Deleted, but ~/Library/Caches/App/sub/bound was left: it is another drive mounted there.",
      { "sub" } },
    { "a drive mounted at the cache itself",
      { "" },
      "Deleted, but ~/Library/Caches/App was left: it is another drive mounted there.",
      { "theirs.txt" } },
    { "two drives",
      { "/ram", "+/sub/bound" },
      "Deleted, but ~/Library/Caches/App/ram and 1 more were left: they are other drives mounted there.",
      { "ram", "sub" } },
    { "a stop after a drive mounted inside",
      { "/ram" },
      "Stopped after 1 of 2 items; the others are still there, and ~/Library/Caches/App/ram was left: it is another "
      "drive mounted there.",
      { "ram" },
      true },
};

INSTANTIATE_TEST_SUITE_P(Cleaner, DeletingForGood, ::testing::ValuesIn(deleteCases), CaseNamed {});

} // namespace
