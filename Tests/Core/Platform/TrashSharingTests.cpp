// The Trash is shared with the desktop's other Trash clients: what the engine trashes, they list and
// restore, and what they put under a name the engine once used is never taken for the engine's.
// These tests drive trash-cli (and gio, where present) on a temporary home and a scratch drive.

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Trash.h"
#include "Support/FakeMachine.h"
#include "Support/LiveHome.h"
#include "Support/PutBackScene.h"
#include "Support/SystemState.h"
#include "Support/TrashClient.h"
#include "Support/Unprivileged.h"

using namespace Quandril;
using Quandril::Testing::emptyTrash;
using Quandril::Testing::goneFromTrash;
using Quandril::Testing::haveTool;
using Quandril::Testing::LiveHome;
using Quandril::Testing::present;
using Quandril::Testing::readFile;
using Quandril::Testing::runTool;
using Quandril::Testing::ScopedEnv;
using Quandril::Testing::ScratchDrive;
using Quandril::Testing::TempDir;
using Quandril::Testing::withoutPrivileges;
using Quandril::Testing::writeFile;
using Status = CleanResult::Status;
namespace fs = std::filesystem;

namespace {

// ---- Put Back moves only what the Trash's record says is ours ----

enum class Refill { gorrin, trashPut, gio };

TEST(SharedTrash, PutBackMovesOnlyTheItemItsRecordNames)
{
    NEEDS_TRASH_CLI();
    const struct {
        const char* label;
        bool restoredByTrashRestore; // else the Trash was emptied
        Refill refill;               // who trashes ~/Desktop/a.txt into the freed name
    } rows[] = {
        { "trash-restore, then the engine trashes another a.txt", true, Refill::gorrin },
        { "emptied, then trash-put", false, Refill::trashPut },
        { "emptied, then gio trash", false, Refill::gio },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        if (row.refill == Refill::gio && !haveTool("gio")) {
            std::cout << "skipped \"" << row.label << "\": gio isn't installed\n";
            continue;
        }
        LiveHome h;
        writeFile(h.at("Documents/a.txt"), "documents");
        writeFile(h.at("Desktop/a.txt"), "desktop");
        const std::string first = h.trashed("first", h.at("Documents/a.txt"));
        ASSERT_EQ(first, h.trash() + "/files/a.txt");
        if (row.restoredByTrashRestore) {
            ASSERT_TRUE(runTool({ "trash-restore", h.at("Documents") }, "0\n"));
            fs::rename(h.at("Documents/a.txt"), h.at("Documents/moved on.txt"));
        } else {
            emptyTrash(h.trash());
        }
        if (row.refill == Refill::gorrin)
            h.trashed("second", h.at("Desktop/a.txt"));
        else if (row.refill == Refill::trashPut)
            ASSERT_TRUE(runTool({ "trash-put", h.at("Desktop/a.txt") }));
        else
            ASSERT_TRUE(runTool({ "gio", "trash", h.at("Desktop/a.txt") }));
        ASSERT_EQ(readFile(first), "desktop") << "the freed name is taken again";

        const auto result = Cleaner::undo("first", h.mac, false);
        EXPECT_EQ(result.status, Status::failed);
        EXPECT_EQ(result.detail, h.mac.display(first) + goneFromTrash);
        EXPECT_EQ(readFile(first), "desktop");
        EXPECT_FALSE(present(h.at("Documents/a.txt")));
        if (row.refill == Refill::gorrin) {
            EXPECT_EQ(Cleaner::undo("second", h.mac, false).status, Status::done);
            EXPECT_EQ(readFile(h.at("Desktop/a.txt")), "desktop");
            EXPECT_EQ(h.listed(), std::vector<std::string> {});
        } else {
            EXPECT_EQ(h.listed(), std::vector<std::string> { h.at("Desktop/a.txt") });
        }
    }
}

// ---- The Trash reached through the user's own links ----

TEST(SharedTrash, WorksThroughLinkedDataFolders)
{
    NEEDS_TRASH_CLI();
    const struct {
        const char* label;
        std::optional<std::string> dataHome;
        std::function<void(const std::string& dir)> layout; // leaves the real folders under dir/disk
    } rows[] = {
        { "~/.local/share is a link", std::nullopt,
          [](const std::string& dir) {
              Testing::makeFolders(dir + "/disk/share");
              Testing::makeFolders(dir + "/home/.local");
              fs::create_directory_symlink(dir + "/disk/share", dir + "/home/.local/share");
          } },
        { "the Trash is a link", std::nullopt,
          [](const std::string& dir) {
              Testing::makeFolders(dir + "/disk/Trash");
              Testing::makeFolders(dir + "/home/.local/share");
              fs::create_directory_symlink(dir + "/disk/Trash", dir + "/home/.local/share/Trash");
          } },
        { "a link on $XDG_DATA_HOME's way", "/linked/data",
          [](const std::string& dir) {
              Testing::makeFolders(dir + "/disk/data");
              fs::create_directory_symlink(dir + "/disk", dir + "/linked");
          } },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        LiveHome h(row.dataHome);
        row.layout(h.dir.path());
        writeFile(h.at("Documents/a.txt"), "a");
        writeFile(h.at("Documents/b.txt"), "b");

        std::string arrived;
        ASSERT_NO_THROW(arrived = h.trashed("a", h.at("Documents/a.txt")));
        EXPECT_TRUE(arrived.starts_with(h.dir.path() + "/disk/")) << arrived;
        EXPECT_TRUE(Cleaner::isInTrash(arrived, h.mac)) << arrived;
        ASSERT_TRUE(runTool({ "trash-put", h.at("Documents/b.txt") }));
        EXPECT_EQ(readFile(Platform::parentOf(arrived) + "/b.txt"), "b") << "the same Trash as trash-put's";
        EXPECT_EQ(h.listed(), (std::vector<std::string> { h.at("Documents/a.txt"), h.at("Documents/b.txt") }));

        const auto result = Cleaner::undo("a", h.mac, false);
        EXPECT_EQ(result.status, Status::done) << result.detail;
        EXPECT_EQ(readFile(h.at("Documents/a.txt")), "a");
        EXPECT_EQ(h.listed(), std::vector<std::string> { h.at("Documents/b.txt") });
    }
}

// ---- However the home and the data folder are spelled ----

TEST(SharedTrash, PutsBackWhateverTheHomesSpelling)
{
    const struct {
        std::string home;
        std::optional<std::string> dataHome;
    } rows[] = {
        { "/./home/", std::nullopt },
        { "//home", "//data/./" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.home + " " + row.dataHome.value_or("(no XDG_DATA_HOME)"));
        TempDir dir;
        ScopedEnv data("XDG_DATA_HOME", row.dataHome ? std::optional(dir.path() + *row.dataHome) : std::nullopt);
        const Mac mac("", dir.path() + row.home, std::nullopt);
        const std::string item = mac.path("~/Documents/a.txt");
        writeFile(item, "a");
        const std::string arrived = mac.trash(item);
        EXPECT_TRUE(Platform::isLexicallyNormal(item) && Platform::isLexicallyNormal(arrived))
            << item << " " << arrived;
        History::append(
            HistoryEntry { Clock::now(), "a", "a", Action::Kind::trash, 1, { { item, arrived, {}, {} } }, {} }, mac);
        const auto result = Cleaner::undo("a", mac, false);
        EXPECT_EQ(result.detail, "Put back where it was.");
        EXPECT_EQ(readFile(dir.path() + "/home/Documents/a.txt"), "a");
    }
}

// ---- A drive's Trash, as any client expects it ----

struct DriveTrashCase {
    const char* label;
    std::function<void(const std::string& top)> prepare;
    std::string trash;   // relative to the drive's top; UID stands for this user's uid
    bool needsOwnDrive;  // it changes the top of the drive
    bool absoluteRecord; // the record is rewritten as older versions wrote it
};

class DriveTrash : public ::testing::TestWithParam<DriveTrashCase> {};

TEST_P(DriveTrash, KeepsRecordsRelativeToTheDrivesTop)
{
    NEEDS_TRASH_CLI();
    const auto& row = GetParam();
    LiveHome h;
    ScratchDrive drive;
    if (!Testing::shmIsAnotherDevice(h.dir.path()))
        GTEST_SKIP() << "/dev/shm is no other file system here";
    if (row.needsOwnDrive && !drive.ownMount())
        GTEST_SKIP() << "can't mount a drive of its own here, and won't change the top of /dev/shm";
    if (row.prepare)
        row.prepare(drive.top());
    std::string trash = row.trash;
    trash.replace(trash.find("UID"), 3, std::to_string(::getuid()));
    trash = drive.top() + "/" + trash;
    const std::string tag = Platform::lastComponent(drive.path()); // a name no other test uses on a shared top
    const std::string x = drive.path() + "/x-" + tag, y = drive.path() + "/y-" + tag;
    writeFile(x, "x");
    writeFile(y, "y");

    // Mounted at another place, the drive's Trash still offers the item there.
    const std::string arrivedY = h.trashed("y", y);
    EXPECT_EQ(arrivedY, trash + "/files/y-" + tag);
    if (const std::string elsewhere = drive.mountedElsewhere(); !elsewhere.empty()) {
        ASSERT_TRUE(runTool({ "trash-restore", elsewhere }, "0\n"));
        EXPECT_EQ(readFile(y), "y");
    } else {
        fs::rename(arrivedY, y);
        fs::remove(trash + "/info/y-" + tag + ".trashinfo");
    }

    const std::string arrived = h.trashed("x", x);
    ASSERT_EQ(arrived, trash + "/files/x-" + tag);
    const std::string record = trash + "/info/x-" + tag + ".trashinfo";
    EXPECT_NE(readFile(record).find("\nPath=" + x.substr(drive.top().size() + 1) + "\n"), std::string::npos)
        << readFile(record);
    EXPECT_EQ(h.listed(drive.path()), std::vector<std::string> { x });
    if (row.absoluteRecord)
        writeFile(record, "[Trash Info]\nPath=" + x + "\nDeletionDate=2020-01-02T03:04:05\n");

    const auto result = Cleaner::undo("x", h.mac, false);
    EXPECT_EQ(result.status, Status::done) << result.detail;
    EXPECT_EQ(readFile(x), "x");
    EXPECT_FALSE(present(record));
    EXPECT_EQ(h.listed(drive.path()), std::vector<std::string> {});
}

const DriveTrashCase driveTrashCases[] = {
    { "no shared Trash", {}, ".Trash-UID", false, false },
    { "an older absolute record", {}, ".Trash-UID", false, true },
    { "an administrator's sticky .Trash",
      [](const std::string& top) {
          fs::create_directory(top + "/.Trash");
          ::chmod((top + "/.Trash").c_str(), 01777);
      },
      ".Trash/UID", true, false },
    { "a .Trash without the sticky bit",
      [](const std::string& top) {
          fs::create_directory(top + "/.Trash");
          ::chmod((top + "/.Trash").c_str(), 0777);
      },
      ".Trash-UID", true, false },
    { "a .Trash that is a link to a sticky folder",
      [](const std::string& top) {
          fs::create_directory(top + "/shared");
          ::chmod((top + "/shared").c_str(), 01777);
          fs::create_directory_symlink(top + "/shared", top + "/.Trash");
      },
      ".Trash-UID", true, false },
};

INSTANTIATE_TEST_SUITE_P(Layouts, DriveTrash, ::testing::ValuesIn(driveTrashCases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

// Where the Trash that took the item isn't where it was, Put Back says where it looked and why.
TEST(SharedTrash, AnItemInATrashThatMovedIsSaidWhereItWasLookedFor)
{
    enum class Moved { unplugged, mountedElsewhere, dataFolderRepointed };
    for (const Moved moved : { Moved::unplugged, Moved::mountedElsewhere, Moved::dataFolderRepointed }) {
        SCOPED_TRACE(static_cast<int>(moved));
        LiveHome h;
        if (moved == Moved::dataFolderRepointed) {
            const std::string disk = h.dir.path() + "/disk";
            Testing::makeFolders(disk + "/one/share");
            Testing::makeFolders(disk + "/two/share");
            Testing::makeFolders(h.at(".local"));
            fs::create_directory_symlink(disk + "/one/share", h.at(".local/share"));
            writeFile(h.at("Documents/a.txt"), "a");
            const std::string arrived = h.trashed("a", h.at("Documents/a.txt"));
            ASSERT_EQ(arrived, disk + "/one/share/Trash/files/a.txt");
            fs::remove(h.at(".local/share"));
            fs::create_directory_symlink(disk + "/two/share", h.at(".local/share"));
            const auto result = Cleaner::undo("a", h.mac, false);
            EXPECT_EQ(result.status, Status::failed);
            EXPECT_EQ(result.detail,
                      "Gorrin looked for " + arrived + ", but " + disk
                          + "/one/share/Trash isn't your Trash any more (it's " + disk
                          + "/two/share/Trash now), so it wasn't put back.");
            EXPECT_EQ(readFile(arrived), "a");
            continue;
        }
        ScratchDrive drive;
        if (!drive.ownMount() || !Testing::shmIsAnotherDevice(h.dir.path()))
            GTEST_SKIP() << "can't mount a drive of its own here";
        writeFile(drive.path() + "/x.txt", "x");
        const std::string arrived = h.trashed("x", drive.path() + "/x.txt");
        const std::string elsewhere = moved == Moved::mountedElsewhere ? drive.mountedElsewhere() : "";
        ASSERT_EQ(elsewhere.empty(), moved == Moved::unplugged);
        drive.unplug();
        const auto result = Cleaner::undo("x", h.mac, false);
        EXPECT_EQ(result.status, Status::failed);
        EXPECT_EQ(result.detail,
                  "Gorrin looked for " + arrived + ", but no drive is mounted at " + drive.path()
                      + " now, so it wasn't put back.");
        if (!elsewhere.empty()) {
            EXPECT_EQ(readFile(elsewhere + arrived.substr(drive.path().size())), "x");
        }
    }
}

// A drive's Trash of another user takes nothing; a shared .Trash whose folder of ours isn't ours
// gives way to .Trash-UID, as other Trash clients do. The user's own is used whatever its mode.
TEST(SharedTrash, ADrivesTrashOfAnotherUserTakesNothing)
{
    const std::string uid = std::to_string(::getuid());
    const struct {
        const char* label;
        std::string folder; // made at the drive's top with `mode`, then given away when `foreign`
        mode_t mode;
        bool foreign;
        std::string outcome; // where the item goes, or the failure
    } rows[] = {
        { "a .Trash-UID others may write", ".Trash-" + uid, 0777, false, "TOP/.Trash-" + uid + "/files/x.txt" },
        { "a .Trash-UID of another user", ".Trash-" + uid, 0700, true,
          "the Trash folder TOP/.Trash-" + uid + " belongs to another user, so Gorrin won't use it" },
        { "a .Trash/UID others may write", ".Trash/" + uid, 0777, false, "TOP/.Trash/" + uid + "/files/x.txt" },
        { "a .Trash/UID of another user", ".Trash/" + uid, 0700, true, "TOP/.Trash-" + uid + "/files/x.txt" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        LiveHome h;
        ScratchDrive drive;
        if (!drive.ownMount() || !Testing::shmIsAnotherDevice(h.dir.path()))
            GTEST_SKIP() << "can't mount a drive of its own here";
        if (row.foreign && ::geteuid() != 0)
            GTEST_SKIP() << "only root can give a folder to another user";
        if (row.folder.starts_with(".Trash/")) {
            fs::create_directory(drive.top() + "/.Trash");
            ::chmod((drive.top() + "/.Trash").c_str(), 01777);
        }
        const std::string folder = drive.top() + "/" + row.folder;
        ASSERT_EQ(::mkdir(folder.c_str(), row.mode), 0);
        ASSERT_EQ(::chmod(folder.c_str(), row.mode), 0);
        if (row.foreign) {
            ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
        }
        writeFile(drive.path() + "/x.txt", "x");
        std::string outcome;
        try {
            outcome = h.mac.trash(drive.path() + "/x.txt");
        } catch (const std::system_error& error) {
            outcome = error.what();
        }
        std::string expected = row.outcome;
        expected.replace(expected.find("TOP"), 3, drive.top());
        if (!row.outcome.ends_with("x.txt"))
            expected += ": " + std::generic_category().message(EPERM);
        EXPECT_EQ(outcome, expected);
        EXPECT_EQ(fs::is_empty(folder), !expected.starts_with(folder + "/"));
    }
}

// A try that fails leaves no Trash folder it made on the drive; one that was there stays.
TEST(SharedTrash, AFailedTryLeavesNoTrashItMadeOnTheDrive)
{
    LiveHome h;
    ScratchDrive drive;
    if (!drive.ownMount() || !Testing::shmIsAnotherDevice(h.dir.path()))
        GTEST_SKIP() << "can't mount a drive of its own here";
    const Platform::TrashMover failing = [](const std::string&, const std::string&) {
        throw std::system_error(EIO, std::generic_category(), "disk trouble");
    };
    const std::string trash = drive.top() + "/.Trash-" + std::to_string(::getuid());
    writeFile(drive.path() + "/x.txt", "x");
    EXPECT_THROW(Platform::moveToTrash(drive.path() + "/x.txt", h.dir.path() + "/home", failing), std::system_error);
    EXPECT_FALSE(present(trash));
    EXPECT_EQ(h.mac.trash(drive.path() + "/x.txt"), trash + "/files/x.txt");
    writeFile(drive.path() + "/y.txt", "y");
    EXPECT_THROW(Platform::moveToTrash(drive.path() + "/y.txt", h.dir.path() + "/home", failing), std::system_error);
    EXPECT_EQ(readFile(trash + "/files/x.txt"), "x");
    EXPECT_EQ(readFile(drive.path() + "/y.txt"), "y");
}

// Under a umask of 002 (user private groups), trash-put and gio leave the user's Trash
// group-writable: it is still the user's, and takes what the engine trashes, run as an ordinary user.
TEST(SharedTrash, TheUsersOwnTrashMadeUnderAGroupMaskIsUsed)
{
    NEEDS_TRASH_CLI();
    LiveHome h;
    for (const char* name : { "a.txt", "b.txt", "c.txt" })
        writeFile(h.at("Documents/") + name, name);
    const bool gio = haveTool("gio");
    withoutPrivileges(h.dir.path(), [&] {
        const mode_t mask = ::umask(002);
        std::vector<std::string> wrong;
        if (!runTool({ "trash-put", h.at("Documents/a.txt") }))
            wrong.push_back("trash-put failed");
        struct stat info {};
        if (::stat(h.trash().c_str(), &info) != 0 || (info.st_mode & S_IWGRP) == 0)
            wrong.push_back("trash-put left no group-writable Trash");
        try {
            if (h.trashed("b", h.at("Documents/b.txt"), {}, true) != h.trash() + "/files/b.txt")
                wrong.push_back("b.txt went elsewhere");
        } catch (const std::exception& error) {
            wrong.push_back(error.what());
        }
        if (gio && !runTool({ "gio", "trash", h.at("Documents/c.txt") }))
            wrong.push_back("gio trash failed");
        std::vector<std::string> expected { h.at("Documents/a.txt"), h.at("Documents/b.txt") };
        if (gio)
            expected.push_back(h.at("Documents/c.txt"));
        if (h.listed() != expected)
            wrong.push_back("trash-list doesn't list all three");
        const auto result = Cleaner::undo("b", h.mac, false);
        if (result.status != Status::done || !present(h.at("Documents/b.txt")))
            wrong.push_back("not put back: " + result.detail);
        ::umask(mask);
        for (const auto& what : wrong)
            std::cerr << what << "\n";
        return wrong.empty();
    });
}

// A file may carry a modification time past 2262, beyond what the clock's nanoseconds hold: History
// notes it whole, and Put Back brings every item of the clean-up back.
TEST(SharedTrash, ItemsModifiedPastTheClocksRangeComeBack)
{
    using namespace std::chrono;
    LiveHome h;
    const struct {
        const char* name;
        const char* modified;
    } rows[] = { { "a.txt", "2262-04-12T00:00:00Z" },
                 { "b.txt", "2300-01-01T00:00:00Z" },
                 { "c.txt", "2025-01-02T03:04:05Z" } };
    HistoryEntry entry { Clock::now(), "far", "far", Action::Kind::trash, 3, {}, {} };
    for (const auto& row : rows) {
        const std::string path = h.at("Documents/") + row.name;
        writeFile(path, row.name);
        const timespec times[2] {
            { 0, UTIME_OMIT },
            { static_cast<time_t>(Platform::parseIso8601Seconds(row.modified)->time_since_epoch().count()), 0 }
        };
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        entry.relocated.push_back({ path, h.mac.trash(path), {}, {} });
    }
    CleanResult result;
    History::record(entry, result, h.mac);
    EXPECT_FALSE(result.notInHistory) << result.detail;
    const std::string text = readFile(History::path(h.mac));
    for (const auto& row : rows)
        EXPECT_NE(text.find(std::string(R"("modified":")") + row.modified + "\""), std::string::npos) << text;

    const auto undone = Cleaner::undo("far", h.mac, false);
    EXPECT_EQ(undone.status, Status::done) << undone.detail;
    for (const auto& row : rows) {
        struct stat info {};
        ASSERT_EQ(::stat(h.at(std::string("Documents/") + row.name).c_str(), &info), 0) << row.name;
        EXPECT_EQ(sys_seconds(seconds(info.st_mtim.tv_sec)), *Platform::parseIso8601Seconds(row.modified));
    }
}

// ---- A Trash item that can't be read ----

TEST(SharedTrash, AnItemThatCantBeReadIsSaidSo)
{
    const struct {
        const char* label;
        std::string locked; // below the Trash folder
        std::string what;   // what the sentence names before the path
    } rows[] = {
        { "the files folder can't be searched", "/files", "" },
        { "the record can't be read", "/info/a.txt.trashinfo", "The Trash's record of " },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        LiveHome h;
        writeFile(h.at("Documents/a.txt"), "a");
        const std::string arrived = h.trashed("a", h.at("Documents/a.txt"));
        const std::string locked = h.trash() + row.locked;
        ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
        withoutPrivileges(h.dir.path(), [&] {
            const auto result = Cleaner::undo("a", h.mac, false);
            const std::string expected = row.what + h.mac.display(arrived)
                + " can't be read (Permission denied), so it wasn't put back.";
            if (result.status == Status::failed && result.detail == expected && !present(h.at("Documents/a.txt")))
                return true;
            std::cerr << result.detail << "\n";
            return false;
        });
        ::chmod(locked.c_str(), 0700);
    }
}

} // namespace
