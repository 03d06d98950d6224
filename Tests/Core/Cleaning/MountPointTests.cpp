// Other file systems mounted where the engine moves and removes things: a removal never crosses into
// one, and a move that copies across mounts takes nothing of anyone else's on its way. This
// executable moves into a mount namespace of its own before any test runs, so the mounts it makes
// are seen by no other process and go with it.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
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
#include "QuandrilCore/Platform/Trash.h"
#include "Support/CaseName.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/MiniCatalog.h"
#include "Support/MoveBench.h"
#include "Support/OwnMounts.h"
#include "Support/SystemState.h"
#include "Support/TrashClient.h"

using namespace Quandril;
using namespace Quandril::Testing;
using Status = CleanResult::Status;

namespace {

// Before main, while the process has one thread.
const bool ownMounts = enterOwnMounts();

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
    bool alone = false;            // the cache folder is the finding's only path
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
    std::vector<std::string> paths { cache };
    if (!row.alone)
        paths.push_back(machine.at("~/Library/Caches/Other"));
    const auto result = Cleaner::act(makeFinding("f", Tier::rebuilds, Action::delete_(), paths), reportOf(mac), mac,
                                     PathGuard(guardedCatalog(), mac), options);

    EXPECT_EQ(result.status, Status::failed);
    EXPECT_EQ(contentOf(machine.at("~/Library/Caches/Other/c.bin")), row.stopped || row.alone ? "c" : "(gone)");
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
    { "a drive mounted at the only path",
      { "" },
      "Nothing was deleted: ~/Library/Caches/App is another drive mounted there.",
      { "theirs.txt" },
      false,
      true },
};

INSTANTIATE_TEST_SUITE_P(Cleaner, DeletingForGood, ::testing::ValuesIn(deleteCases), CaseNamed {});

// A deletion for good that leaves a drive mounted inside, stopped or not, is in History with the
// bytes that went; one that deleted nothing isn't.
TEST(AtMountPoints, HistoryNotesWhatADeletionLeavingADriveDid)
{
    NEEDS_OWN_MOUNTS();
    struct Row {
        const char* name;
        std::vector<std::string> paths;
        bool stopped;
        std::string detail;
    };
    const std::string ram = "~/Library/Caches/App/ram";
    const Row rows[] = {
        { "a drive left",
          { "~/Library/Caches/App", "~/Library/Caches/Other" },
          false,
          "Deleted, but " + ram + " was left: it is another drive mounted there." },
        { "stopped after it",
          { "~/Library/Caches/App", "~/Library/Caches/Other" },
          true,
          "Stopped after 1 of 2 items; the others are still there, and " + ram
              + " was left: it is another drive mounted there." },
        { "the drive alone", { ram }, false, "Nothing was deleted: " + ram + " is another drive mounted there." },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeMachine machine;
        machine.file("~/Library/Caches/App/a.bin", 5000);
        machine.file("~/Library/Caches/Other/c.bin", 5000);
        const Mounted drive(machine.at(ram));
        writeFile(machine.at(ram) + "/theirs.bin", std::string(5000, 't'));
        Catalog catalog = guardedCatalog();
        auto caches = place("caches", row.paths.front());
        caches.paths = row.paths;
        caches.action = Action::delete_();
        catalog.places = { caches };
        const Mac mac = machine.mac();
        std::vector<std::string> paths;
        for (const auto& path : row.paths)
            paths.push_back(machine.at(path));
        const auto taken = [&] {
            std::int64_t bytes = 0;
            for (const auto& [path, usage] : mac.usageOf(paths))
                bytes += usage.bytes;
            return bytes;
        };
        const std::int64_t before = taken();

        auto files = std::make_shared<FaultyFileOps>();
        int removals = 0;
        files->before([&](const FileOpCall& call, int) { removals += call.op == FileOp::remove ? 1 : 0; });
        CleanOptions options = optionsWith(files);
        options.permanentCaches = true;
        options.stop = [&] { return row.stopped && removals >= 1; };
        const auto results = Cleaner::clean({ "caches" }, mac, catalog, options);
        ASSERT_EQ(results.size(), 1u);
        const std::int64_t freed = before - taken();

        std::vector<std::string> noted;
        for (const auto& entry : History::load(mac))
            noted.push_back(entry.id + " " + std::to_string(entry.bytes));
        EXPECT_EQ((std::vector<std::string> { std::string(rawValue(results[0].status)), results[0].detail,
                                              contentOf(machine.at(ram) + "/theirs.bin").substr(0, 1) }),
                  (std::vector<std::string> { "failed", row.detail, "t" }));
        EXPECT_EQ(noted,
                  freed > 0 ? std::vector<std::string> { "caches " + std::to_string(freed) }
                            : std::vector<std::string> {});
        EXPECT_EQ(freed > 0, row.paths.size() > 1);
    }
}

// ---- An overlay whose layers lie on two file systems ----

// An overlay as a live session or an overlay root has it: the lower layer on one tmpfs, the upper on
// another, so every file reports its own layer's device while the whole is one mount. What the
// lower layer holds is written under lower() before mount().
class Overlay {
public:
    std::string lower() const { return dir_.path() + "/lower"; }

    void mount(const std::string& at)
    {
        const std::string upper = dir_.path() + "/upper";
        makeFolders(upper + "/data");
        makeFolders(upper + "/work");
        makeFolders(at);
        const std::string options = "lowerdir=" + lower() + ",upperdir=" + upper + "/data,workdir=" + upper + "/work";
        if (::mount("gorrin-overlay", at.c_str(), "overlay", 0, options.c_str()) != 0)
            throw std::runtime_error("can't mount an overlay at " + at);
        at_ = at;
    }
    ~Overlay()
    {
        if (!at_.empty())
            ::umount2(at_.c_str(), MNT_DETACH);
    }

private:
    TempDir dir_;
    Mounted lower_ { dir_.path() + "/lower" }, upper_ { dir_.path() + "/upper" };
    std::string at_;
};

std::vector<std::string> namesOrNone(const std::string& folder)
{
    return exists(folder) ? sortedNames(folder) : std::vector<std::string> {};
}

// The places trash-list lists, its dates left out.
std::vector<std::string> trashListed()
{
    std::vector<std::string> places;
    const std::string text = runTool({ "trash-list" }).value_or("(trash-list failed)\n");
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = text.substr(at, end - at);
        places.push_back(line.size() > 20 ? line.substr(20) : line);
    }
    std::sort(places.begin(), places.end());
    return places;
}

// A cache folder of the lower layer, deleted for good or trashed (the rename gives EXDEV, so it is
// copied into the Trash), goes whole, and the Trash holds exactly what trash-list lists.
TEST(OverlayHome, AFolderOfTheLowerLayerGoesWhole)
{
    NEEDS_OWN_MOUNTS();
    if (!haveTool("trash-list"))
        GTEST_SKIP() << "trash-cli isn't installed (scripts/install-deps installs it)";
    for (const bool permanent : { true, false }) {
        SCOPED_TRACE(permanent ? "deleted for good" : "moved to the Trash");
        Overlay overlay;
        writeFile(overlay.lower() + "/Library/Caches/App/a.bin", "a");
        writeFile(overlay.lower() + "/Library/Caches/App/sub/b.bin", "b");
        TempDir dir;
        const std::string home = dir.path() + "/home";
        overlay.mount(home);
        const ScopedEnv homeVariable("HOME", home), dataVariable("XDG_DATA_HOME", std::nullopt);
        const std::string cache = home + "/Library/Caches/App", trash = home + "/.local/share/Trash";
        const Mac mac { "", home, std::nullopt };
        CleanOptions options = optionsWith(std::make_shared<LiveFileOps>());
        options.permanentCaches = permanent;
        const auto result = Cleaner::act(makeFinding("f", Tier::rebuilds, Action::delete_(), { cache }), reportOf(mac),
                                         mac, PathGuard(guardedCatalog(), mac), options);

        const auto listed = trashListed();
        EXPECT_EQ((std::vector<std::string> { std::string(rawValue(result.status)), result.detail, contentOf(cache),
                                              contentOf(trash + "/files/App/sub/b.bin") }),
                  (std::vector<std::string> {
                      "done",
                      permanent ? "Deleted; it rebuilds itself."
                                : "Moved to the Trash; the space comes back when the Trash is emptied.",
                      "(gone)", permanent ? "(gone)" : "b" }));
        EXPECT_EQ(namesOrNone(trash + "/files"),
                  permanent ? std::vector<std::string> {} : std::vector<std::string> { "App" });
        EXPECT_EQ(listed, permanent ? std::vector<std::string> {} : std::vector<std::string> { cache });
    }
}

// ---- What a removal or a trash meets at mounts and subvolumes ----

// A folder with a drive mounted inside stays out of the Trash, preview and all, and the refusal
// names the drive: in the Trash, emptying it would delete that drive's files. Both Trash layers
// refuse too, should the drive be mounted after the checks.
TEST(AtMountPoints, AFolderHoldingADriveStaysOutOfTheTrash)
{
    NEEDS_OWN_MOUNTS();
    FakeMachine machine;
    machine.text("~/Library/Caches/App/a.bin", "a");
    const std::string cache = machine.at("~/Library/Caches/App");
    const Mounted drive(cache + "/ram");
    writeFile(cache + "/ram/theirs.txt", "theirs");
    const ScopedEnv dataVariable("XDG_DATA_HOME", std::nullopt);
    const Mac mac = machine.mac();

    std::vector<std::string> seen;
    for (const bool dryRun : { true, false }) {
        const auto result = Cleaner::act(makeFinding("f", Tier::rebuilds, Action::trash(), { cache }), reportOf(mac),
                                         mac, PathGuard(guardedCatalog(), mac),
                                         optionsWith(std::make_shared<LiveFileOps>(), dryRun));
        seen.push_back(std::string(rawValue(result.status)) + ": " + result.detail);
    }
    for (const auto& trash : { std::function<void()>([&] { mac.trash(cache); }),
                               std::function<void()>([&] { Platform::moveToTrash(cache, machine.home()); }) }) {
        try {
            trash();
            seen.push_back("trashed");
        } catch (const std::system_error& error) {
            seen.push_back(error.code() == std::errc::device_or_resource_busy ? "refused" : error.what());
        }
    }
    seen.push_back(contentOf(cache + "/a.bin") + ", " + contentOf(cache + "/ram/theirs.txt"));
    const std::string refusal
        = "refused: ~/Library/Caches/App holds another drive, mounted at ~/Library/Caches/App/ram: "
          "in the Trash, that drive's files would be deleted when the Trash is emptied, so it "
          "stays where it is.";
    EXPECT_EQ(seen, (std::vector<std::string> { refusal, refusal, "refused", "refused", "a, theirs" }));
}

// A btrfs subvolume inside a cache stays whole, like a drive mounted there, and is called what it is.
TEST(AtMountPoints, ASubvolumeInsideACacheIsLeftAndCalledOne)
{
    NEEDS_OWN_MOUNTS();
    const std::string mkfs = ::access("/usr/sbin/mkfs.btrfs", X_OK) == 0 ? "/usr/sbin/mkfs.btrfs"
                                                                         : "/usr/bin/mkfs.btrfs";
    if (::access(mkfs.c_str(), X_OK) != 0 || !haveTool("btrfs"))
        GTEST_SKIP() << "mkfs.btrfs and btrfs (btrfs-progs) aren't installed, so no subvolume can be made here";
    TempDir dir;
    const std::string image = dir.path() + "/btrfs.img";
    writeFile(image, "");
    std::filesystem::resize_file(image, 256 << 20);
    FakeMachine machine;
    machine.text("~/Library/Caches/.keep", "");
    const std::string caches = machine.at("~/Library/Caches");
    if (!runTool({ mkfs, "-q", image }) || !runTool({ "mount", "-o", "loop", image, caches }))
        GTEST_SKIP() << "a btrfs image can't be mounted here (no loop devices?)";
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount { caches };
    machine.text("~/Library/Caches/App/a.bin", "a");
    ASSERT_TRUE(runTool({ "btrfs", "subvolume", "create", caches + "/App/vol" }));
    writeFile(caches + "/App/vol/theirs.txt", "theirs");
    const Mac mac = machine.mac();
    CleanOptions options = optionsWith(std::make_shared<LiveFileOps>());
    options.permanentCaches = true;
    const auto result = Cleaner::act(makeFinding("f", Tier::rebuilds, Action::delete_(), { caches + "/App" }),
                                     reportOf(mac), mac, PathGuard(guardedCatalog(), mac), options);
    EXPECT_EQ(
        (std::vector<std::string> { std::string(rawValue(result.status)), result.detail,
                                    contentOf(caches + "/App/a.bin"), contentOf(caches + "/App/vol/theirs.txt") }),
        (std::vector<std::string> { "failed",
                                    "Deleted, but ~/Library/Caches/App/vol was left: it is a subvolume of its own, "
                                    "where a removal stops as at a drive.",
                                    "(gone)", "theirs" }));
}

// ---- A stop within an item ----

// Files enough that a removal or a copy of the folder asks for the stop part way.
void manyFiles(FakeMachine& machine, const std::string& folder)
{
    for (int d = 0; d < 20; ++d)
        for (int f = 0; f < 30; ++f)
            machine.file(folder + "/d" + std::to_string(d) + "/f" + std::to_string(f) + ".bin", 100);
}

std::size_t filesUnder(const std::string& folder)
{
    std::size_t count = 0;
    if (!exists(folder))
        return count;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        count += entry.is_regular_file() ? 1 : 0;
    return count;
}

// The stop comes while the second of two cache folders goes, a long one: deleted for good it stops
// between entries, what went counted; trashed across mounts (copied: ~/Library/Caches is mounted
// again on itself) the copy is abandoned and removed, and the folder stays whole. History's line
// says exactly what was done, and the Trash holds only what moved.
TEST(StoppedWithinAnItem, HistorySaysWhatWasDone)
{
    NEEDS_OWN_MOUNTS();
    for (const bool permanent : { true, false }) {
        SCOPED_TRACE(permanent ? "deleted for good" : "moved to the Trash");
        FakeMachine machine;
        machine.file("~/Library/Caches/Small/a.bin", 1000);
        manyFiles(machine, "~/Library/Caches/Big");
        const std::string caches = machine.at("~/Library/Caches");
        const Mounted again(caches, caches);
        Catalog catalog = guardedCatalog();
        auto both = place("two-caches", "~/Library/Caches/Small");
        both.paths = { "~/Library/Caches/Small", "~/Library/Caches/Big" };
        both.action = permanent ? Action::delete_() : Action::trash();
        catalog.places = { both };
        const Mac mac = machine.mac();
        const std::int64_t before = mac.usage(caches + "/Small").bytes + mac.usage(caches + "/Big").bytes;

        auto files = std::make_shared<FaultyFileOps>();
        int items = 0;
        CleanOptions options = stoppingAfter(2, files, items);
        options.permanentCaches = permanent;
        const auto results = Cleaner::clean({ "two-caches" }, mac, catalog, options);
        ASSERT_EQ(results.size(), 1u);
        const std::size_t left = filesUnder(caches + "/Big");
        const std::int64_t freed = before - mac.usage(caches + "/Big").bytes;

        const auto history = History::load(mac);
        ASSERT_EQ(history.size(), 1u);
        EXPECT_EQ((std::vector<std::string> { std::string(rawValue(results[0].status)), results[0].detail,
                                              std::to_string(results[0].bytes), std::to_string(history[0].bytes),
                                              std::to_string(history[0].relocated.size()),
                                              exists(caches + "/Small") ? "Small there" : "Small gone" }),
                  (std::vector<std::string> {
                      "done",
                      permanent
                          ? "Stopped part way through ~/Library/Caches/Big (item 2 of 2); the rest is still there."
                          : "Stopped after 1 of 2 items; the others are still there.",
                      std::to_string(freed), std::to_string(freed), permanent ? "0" : "1", "Small gone" }));
        if (permanent) {
            EXPECT_GT(left, 0u);
            EXPECT_LT(left, 600u);
        } else {
            EXPECT_EQ(left, 600u);
            EXPECT_EQ(Testing::movesOf(history[0].relocated),
                      (std::vector<Relocation> { { caches + "/Small", machine.at("~/.Trash/Small"), {}, {} } }));
            EXPECT_EQ(sortedNames(machine.at("~/.Trash")), (std::vector<std::string> { "Small" }));
        }
    }
}

// The same stop in the middle of a copy into the desktop's Trash, on a home of its own: the
// partial copy and the record of the item not moved are gone, as trash-list shows.
TEST(StoppedWithinAnItem, TheTrashKeepsOnlyWhatMoved)
{
    NEEDS_OWN_MOUNTS();
    if (!haveTool("trash-list"))
        GTEST_SKIP() << "trash-cli isn't installed (scripts/install-deps installs it)";
    FakeMachine machine;
    const Mounted home(machine.home(), {}, "size=64m");
    machine.file("~/Library/Caches/Small/a.bin", 1000);
    manyFiles(machine, "~/Library/Caches/Big");
    const std::string caches = machine.at("~/Library/Caches");
    const Mounted again(caches, caches);
    const ScopedEnv homeVariable("HOME", machine.home()), dataVariable("XDG_DATA_HOME", std::nullopt);
    const Mac mac { "", machine.home(), std::nullopt };

    auto files = std::make_shared<FaultyFileOps>();
    int items = 0;
    const CleanOptions options = stoppingAfter(2, files, items);
    const auto result = Cleaner::act(makeFinding("f", Tier::rebuilds, Action::trash(),
                                                 { caches + "/Small", caches + "/Big" }),
                                     reportOf(mac), mac, PathGuard(guardedCatalog(), mac), options);

    const std::string trash = machine.home() + "/.local/share/Trash";
    EXPECT_EQ((std::vector<std::string> { std::string(rawValue(result.status)), result.detail,
                                          std::to_string(filesUnder(caches + "/Big")) }),
              (std::vector<std::string> { "done", "Stopped after 1 of 2 items; the others are still there.", "600" }));
    EXPECT_EQ(Testing::movesOf(result.relocated),
              (std::vector<Relocation> { { caches + "/Small", trash + "/files/Small", {}, {} } }));
    EXPECT_EQ(sortedNames(trash + "/files"), (std::vector<std::string> { "Small" }));
    EXPECT_EQ(sortedNames(trash + "/info"), (std::vector<std::string> { "Small.trashinfo" }));
    EXPECT_EQ(trashListed(), (std::vector<std::string> { caches + "/Small" }));
}

} // namespace
