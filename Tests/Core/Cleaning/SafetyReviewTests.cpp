// Faults found by reading the code that touches the user's data, each shown failing before it was
// mended: a folder swapped for a link after the checks, copies that verify against too little, a
// copy of a Trash folder taken for a Trash, a move whose original can't be removed, a copy made
// inside its own original.

#include "QuandrilCore/Cleaning/Cleaner.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Platform/Move.h"
#include "QuandrilCore/Platform/Trash.h"
#include "Support/CaseName.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"
#include "Support/SystemState.h"
#include "Support/TreeSnapshot.h"

using namespace Quandril;
using namespace Quandril::Testing;
using Status = CleanResult::Status;

namespace {

// Puts a link to `target` where the folder `folder` was; the folder itself moves aside, untouched.
void swapForLink(const std::string& folder, const std::string& target)
{
    ASSERT_EQ(::rename(folder.c_str(), (folder + ".aside").c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), folder.c_str()), 0);
}

// ---- A folder above a path becomes a link after the checks passed ----

struct SwapCase {
    const char* name;
    std::function<Finding(FakeMachine&)> finding;
    FileOp swapAt;       // the swap happens right before the first operation of this kind
    std::string swapped; // display path of the folder that becomes a link to ~/Documents
    bool permanent = false;
};

void PrintTo(const SwapCase& row, std::ostream* out)
{
    *out << row.name;
}

Finding cacheFinding(FakeMachine& machine, Action::Kind kind)
{
    machine.file("~/Library/Caches/a/1.bin", 100).file("~/Library/Caches/b/Work/2.bin", 100);
    return makeFinding("caches", Tier::rebuilds, Action(kind),
                       { machine.at("~/Library/Caches/a"), machine.at("~/Library/Caches/b/Work") });
}

Finding movieMove(FakeMachine& machine)
{
    machine.file("~/Movies/Work/clip.mov", 300);
    return makeFinding("move", Tier::personal, Action(Action::Kind::move), { machine.at("~/Movies/Work") }, 300);
}

Finding soundLibraries(FakeMachine& machine)
{
    machine.file("~/Library/Sounds/First/a.wav", 100).file("~/Library/Loops/Work/b.wav", 100);
    Finding finding = makeFinding("sounds", Tier::reinstallable,
                                  Action(Action::Kind::handOff, std::nullopt, std::nullopt, std::string("Synth"),
                                         std::string("Use its Library menu"), std::nullopt, true),
                                  { machine.at("~/Library/Sounds/First"), machine.at("~/Library/Loops/Work") }, 200);
    finding.owner = "Synth";
    return finding;
}

class LinkSwappedIn : public ::testing::TestWithParam<SwapCase> {};

// ~/Documents/Work is the user's own; the finding named another Work that a link now leads here.
TEST_P(LinkSwappedIn, NothingBeyondTheLinkIsTouched)
{
    const auto& row = GetParam();
    FakeMachine machine;
    machine.drive("Backup", "/Volumes/Backup", 2'000'000'000, 1'000'000'000);
    machine.text("~/Documents/Work/thesis.txt", "mine");
    const Finding finding = row.finding(machine);
    const Mac mac = machine.mac();

    auto files = std::make_shared<FaultyFileOps>();
    bool swapped = false;
    files->before([&](const FileOpCall& call, int) {
        if (!swapped && call.op == row.swapAt) {
            swapped = true;
            swapForLink(machine.at(row.swapped), machine.at("~/Documents"));
        }
    });
    CleanOptions options = optionsWith(files);
    options.moveTo = "Backup";
    options.permanentCaches = row.permanent;

    const auto result = Cleaner::act(finding, reportOf(mac), mac, PathGuard(guardedCatalog(), mac), options);
    ASSERT_TRUE(swapped);
    EXPECT_NE(result.status, Status::done) << result.detail;
    ASSERT_TRUE(exists(machine.at("~/Documents/Work/thesis.txt"))) << result.detail;
    EXPECT_EQ(readFile(machine.at("~/Documents/Work/thesis.txt")), "mine");
    EXPECT_FALSE(isSymlink(machine.at("~/Documents/Work"))) << "no link was left inside the linked-to folder";
}

const SwapCase swapCases[] = {
    { "delete for good", [](FakeMachine& m) { return cacheFinding(m, Action::Kind::delete_); }, FileOp::remove,
      "~/Library/Caches/b", true },
    { "trash", [](FakeMachine& m) { return cacheFinding(m, Action::Kind::trash); }, FileOp::trash,
      "~/Library/Caches/b" },
    { "move to a drive", movieMove, FileOp::createFolder, "~/Movies" },
    { "move with links", soundLibraries, FileOp::createLink, "~/Library/Loops" },
};

INSTANTIATE_TEST_SUITE_P(Review, LinkSwappedIn, ::testing::ValuesIn(swapCases), CaseNamed {});

// ---- A copy that lacks part of the original never lets the original go ----

// Copies for real, then takes one entry out of the copy.
class LossyCopy : public LiveFileOps {
public:
    explicit LossyCopy(std::string lost)
        : lost_(std::move(lost))
    {
    }
    void copy(const std::string& from, const std::string& to) override
    {
        LiveFileOps::copy(from, to);
        const std::string victim = to + "/" + lost_;
        if (::unlink(victim.c_str()) != 0) {
            ASSERT_EQ(::rmdir(victim.c_str()), 0) << victim;
        }
    }

private:
    std::string lost_;
};

TEST(CopyCheck, EveryLinkFolderAndFileOfTheOriginalMustBeInTheCopy)
{
    for (const std::string lost : { "latest", "empty", "more/.DS_Store" }) {
        FakeMachine machine;
        machine.drive("Backup", "/Volumes/Backup", 2'000'000'000, 1'000'000'000);
        machine.file("~/Movies/Trip/clip.mov", 300).folder("~/Movies/Trip/empty");
        machine.text("~/Movies/Trip/more/.DS_Store", "the window layout");
        machine.link("~/Movies/Trip/latest", "clip.mov");
        const Mac mac = machine.mac();
        const Finding finding = makeFinding("move", Tier::personal, Action(Action::Kind::move),
                                            { machine.at("~/Movies/Trip") }, 300);
        CleanOptions options = optionsWith(std::make_shared<LossyCopy>(lost));
        options.moveTo = "Backup";

        const auto result = Cleaner::act(finding, reportOf(mac), mac, PathGuard(guardedCatalog(), mac), options);
        EXPECT_EQ(result.status, Status::failed) << lost << ": " << result.detail;
        EXPECT_TRUE(result.relocated.empty()) << lost;
        EXPECT_TRUE(isSymlink(machine.at("~/Movies/Trip/latest"))) << lost << ": the original stays in place";
    }
}

// ---- Put Back of an item and a folder that held it ----

TEST(PutBackNested, TheFolderComesBackBeforeWhatItHeld)
{
    FakeMachine machine;
    machine.file("~/Library/Caches/Foo/keep/1.bin", 100).file("~/Library/Caches/Foo/child/2.bin", 100);
    const Mac mac = machine.mac();
    // The item inside went to the Trash first, then the folder that held it.
    const Finding finding = makeFinding("nested", Tier::rebuilds, Action(Action::Kind::trash),
                                        { machine.at("~/Library/Caches/Foo/child"),
                                          machine.at("~/Library/Caches/Foo") });
    const auto cleaned = Cleaner::act(finding, reportOf(mac), mac, PathGuard(guardedCatalog(), mac),
                                      optionsWith(FileOps::liveShared()));
    ASSERT_EQ(cleaned.status, Status::done) << cleaned.detail;
    HistoryEntry entry;
    entry.id = finding.id;
    entry.title = finding.title;
    entry.relocated = cleaned.relocated;
    ASSERT_TRUE(History::append(entry, mac));

    const auto result = Cleaner::undo(finding.id, mac, false);
    EXPECT_EQ(result.status, Status::done) << result.detail;
    EXPECT_TRUE(exists(machine.at("~/Library/Caches/Foo/keep/1.bin")));
    EXPECT_TRUE(exists(machine.at("~/Library/Caches/Foo/child/2.bin")));
    EXPECT_EQ(result.relocated.size(), 2u);
}

// ---- A folder named like a Trash is not a Trash ----

// What the user keeps of an old computer: its Trash folders, as plain folders in the home folder.
TEST(TrashLookalike, ADriveCopyIsNoTrashItemAndPutBackBringsTheRealOneBack)
{
    const std::string uid = std::to_string(::getuid());
    const std::vector<std::string> keptFolders = { "Old Laptop/Trash/files/Letters",
                                                   "Old Laptop/.local/share/Trash/files/Letters",
                                                   "Old Stick/.Trash-" + uid + "/files/Letters",
                                                   "Old Stick/.Trash/" + uid + "/files/Letters" };
    for (const auto& kept : keptFolders) {
        SCOPED_TRACE(kept);
        FakeMachine machine;
        machine.drive("Backup", "/Volumes/Backup", 2'000'000'000, 1'000'000'000);
        machine.text("~/" + kept + "/a.txt", "dear");
        const Mac mac = machine.mac();
        const Finding finding = makeFinding("move", Tier::personal, Action(Action::Kind::move),
                                            { machine.at("~/" + kept) }, 4);
        CleanOptions options = optionsWith(FileOps::liveShared());
        options.moveTo = "Backup";
        const auto cleaned = Cleaner::act(finding, reportOf(mac), mac, PathGuard(guardedCatalog(), mac), options);
        ASSERT_EQ(cleaned.status, Status::done) << cleaned.detail;
        const std::string copy = machine.at("/Volumes/Backup/Moved from Mac/" + kept);
        ASSERT_TRUE(exists(copy + "/a.txt"));
        EXPECT_FALSE(Platform::isTrashPath(copy, mac.home));
        EXPECT_FALSE(Platform::isTrashPath(copy + "/a.txt", mac.home));

        HistoryEntry entry;
        entry.id = finding.id;
        entry.title = finding.title;
        entry.relocated = cleaned.relocated;
        ASSERT_TRUE(History::append(entry, mac));
        EXPECT_EQ(Cleaner::putBackSet(entry, mac).size(), 1u);
        const auto result = Cleaner::undo(finding.id, mac, false);
        EXPECT_EQ(result.status, Status::done) << result.detail;
        EXPECT_EQ(readFile(machine.at("~/" + kept + "/a.txt")), "dear");
        EXPECT_EQ(readFile(copy + "/a.txt"), "dear") << "the drive copy stays on the drive";
    }
}

// ---- A move across file systems whose original can't be removed ----

// Keeps the entries of a folder from being removed or added while it lives: immutable for root,
// read-only for anyone else. `locked` is false where the file system or rights don't allow it.
class FolderLock {
public:
    explicit FolderLock(std::string folder)
        : folder_(std::move(folder))
    {
        if (!runningAsRoot()) {
            locked_ = ::chmod(folder_.c_str(), 0555) == 0;
            return;
        }
        locked_ = setImmutable(true);
    }
    ~FolderLock()
    {
        if (!locked_)
            return;
        if (runningAsRoot())
            setImmutable(false);
        else
            ::chmod(folder_.c_str(), 0755);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool locked() const { return locked_; }

private:
    bool setImmutable(bool on) const
    {
        const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }

    std::string folder_;
    bool locked_ = false;
};

// Everything inside the original is removed before its own folder refuses to go: the failed move
// must leave the original whole where it was and no second copy behind.
TEST(MoveAcrossDevices, AnOriginalThatWontGoIsKeptWhole)
{
    TempDir here;
    if (!shmIsAnotherDevice(here.path()))
        GTEST_SKIP() << "no second writable file system at /dev/shm";
    std::string there = "/dev/shm/quandril-review-XXXXXX";
    ASSERT_NE(::mkdtemp(there.data()), nullptr);
    const std::unique_ptr<const std::string, void (*)(const std::string*)> cleanup(
        &there, [](const std::string* folder) { std::filesystem::remove_all(*folder); });
    const std::string from = here.path() + "/holder/Trip", to = there + "/Trip";
    writeFile(from + "/clip.mov", "frames");
    writeFile(from + "/notes/day 1.txt", "sunny");
    ASSERT_EQ(::symlink("clip.mov", (from + "/latest").c_str()), 0);
    ASSERT_EQ(::chmod((from + "/notes").c_str(), 0750), 0);

    std::error_code failure;
    {
        FolderLock lock(here.path() + "/holder");
        if (!lock.locked())
            GTEST_SKIP() << "can't lock a folder here";
        try {
            Platform::moveNoReplace(from, to);
        } catch (const std::system_error& error) {
            failure = error.code();
        }
    }
    EXPECT_NE(failure, std::error_code {}) << "the move reports that it failed";
    EXPECT_EQ(readFile(from + "/clip.mov"), "frames");
    EXPECT_EQ(readFile(from + "/notes/day 1.txt"), "sunny");
    EXPECT_TRUE(isSymlink(from + "/latest"));
    struct stat notes {};
    ASSERT_EQ(::stat((from + "/notes").c_str(), &notes), 0);
    EXPECT_EQ(notes.st_mode & 07777, 0750u);
    EXPECT_FALSE(exists(to)) << "the copy goes once the original is whole again";
}

// ---- A destination inside what would be copied ----

struct InsideCase {
    const char* name;
    std::string drive; // where the drive is mounted, inside the item for some rows
    std::function<Finding(FakeMachine&)> finding;
    std::string watched; // display path of the item that would hold its own copy
    std::string inside;  // display path of the copy's place
};

void PrintTo(const InsideCase& row, std::ostream* out)
{
    *out << row.name;
}

class DestinationInsideSource : public ::testing::TestWithParam<InsideCase> {};

TEST_P(DestinationInsideSource, IsRefusedBeforeAnythingIsCopied)
{
    const auto& row = GetParam();
    for (const bool dryRun : { true, false }) {
        FakeMachine machine;
        machine.drive("Backup", row.drive, 2'000'000'000, 1'000'000'000);
        const Finding finding = row.finding(machine);
        const Mac mac = machine.mac();
        const auto before = TreeSnapshot::take(machine.at(row.watched));
        CleanOptions options = optionsWith(FileOps::liveShared(), dryRun);
        options.moveTo = "Backup";

        const auto result = Cleaner::act(finding, reportOf(mac), mac, PathGuard(guardedCatalog(), mac), options);
        EXPECT_EQ(result.status, Status::refused) << result.detail;
        EXPECT_EQ(result.detail, "It can't be copied into itself: " + row.inside + " lies inside " + row.watched + ".");
        EXPECT_EQ(before.differences(), std::vector<std::string> {}) << "dry run " << dryRun;
    }
}

const InsideCase insideCases[] = {
    { "move to a drive mounted inside it", "/Users/me/Movies/Work/Disk", movieMove, "~/Movies/Work",
      "~/Movies/Work/Disk/Moved from Mac/Movies/Work" },
    { "move to a destination inside it", "/Volumes/Backup",
      [](FakeMachine& m) {
          Finding finding = movieMove(m);
          finding.action.destination = m.at("~/Movies/Work/Archive/Work");
          return finding;
      },
      "~/Movies/Work", "~/Movies/Work/Archive/Work" },
    { "move with links to a drive mounted inside one", "/Users/me/Library/Loops/Work/Disk", soundLibraries,
      "~/Library/Loops/Work", "~/Library/Loops/Work/Disk/Sound Libraries/Synth/Work" },
};

INSTANTIATE_TEST_SUITE_P(Review, DestinationInsideSource, ::testing::ValuesIn(insideCases), CaseNamed {});

} // namespace
