// Put Back takes an item from the shared Trash only while it is the very item the engine put there:
// the Trash's record names its old place, can be read and trusted, and was written no later than
// the History line, and the item is what the line noted. Driven with trash-cli and gio on a
// temporary home, and with drives mounted in a mount namespace of the test's own.

#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "Support/FaultyFileOps.h"
#include "Support/LiveHome.h"
#include "Support/OwnMounts.h"
#include "Support/PutBackScene.h"
#include "Support/TrashClient.h"

using namespace Quandril;
using Quandril::Testing::emptyTrash;
using Quandril::Testing::FaultyFileOps;
using Quandril::Testing::goneFromTrash;
using Quandril::Testing::haveTool;
using Quandril::Testing::LiveHome;
using Quandril::Testing::present;
using Quandril::Testing::readFile;
using Quandril::Testing::runTool;
using Quandril::Testing::ScopedZone;
using Quandril::Testing::withOwnMounts;
using Quandril::Testing::writeFile;
using Status = CleanResult::Status;
namespace fs = std::filesystem;

namespace {

// A zone far east of UTC for the scope: a record's local DeletionDate and the line's UTC time then
// differ by hours, as they do for most users.
struct EastOfUTC : ScopedZone {
    EastOfUTC()
        : ScopedZone("XYZ-13:45")
    {
    }
};

void restoreEditAndTrashAgain(const LiveHome& h)
{
    ASSERT_TRUE(runTool({ "trash-restore", h.at("Documents") }, "0\n"));
    writeFile(h.at("Documents/a.txt"), "documents, edited");
    ASSERT_TRUE(runTool({ "trash-put", h.at("Documents/a.txt") }));
}

void trashAFolderFromTheSamePlace(const LiveHome& h)
{
    emptyTrash(h.trash());
    writeFile(h.at("Documents/a.txt/inside"), "inside");
    ASSERT_TRUE(runTool({ "gio", "trash", h.at("Documents/a.txt") }));
}

TEST(PutBackFromSharedTrash, PutBackBringsBackOnlyTheVersionItTrashed)
{
    NEEDS_TRASH_CLI();
    EastOfUTC zone;
    const struct {
        const char* label;
        bool noted;                                     // the line notes what the item is, as the cleaner's do
        std::function<void(const LiveHome&)> meanwhile; // what other Trash clients do after Gorrin trashed it
        bool needsGio;
    } rows[] = {
        { "nothing happened, the line notes the item", true, {}, false },
        { "nothing happened, an older line written an hour ago", false, {}, false },
        { "trash-restore, edit, trash-put; the line notes the item", true, restoreEditAndTrashAgain, false },
        { "trash-restore, edit, trash-put; an older line written an hour ago", false, restoreEditAndTrashAgain, false },
        { "gio trashes a folder from the same place; the line notes the item", true, trashAFolderFromTheSamePlace,
          true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        if (row.needsGio && !haveTool("gio")) {
            std::cout << "skipped \"" << row.label << "\": gio isn't installed\n";
            continue;
        }
        LiveHome h;
        writeFile(h.at("Documents/a.txt"), "documents");
        const auto ago = std::chrono::seconds(row.noted ? 0 : 3600);
        const std::string arrived = h.trashed("a", h.at("Documents/a.txt"), ago, row.noted);
        if (row.meanwhile)
            row.meanwhile(h);

        const auto result = Cleaner::undo("a", h.mac, false);
        if (!row.meanwhile) {
            EXPECT_EQ(result.detail, "Put back where it was.");
            EXPECT_EQ(readFile(h.at("Documents/a.txt")), "documents");
            EXPECT_EQ(h.listed(), std::vector<std::string> {});
            continue;
        }
        EXPECT_EQ(result.status, Status::failed);
        EXPECT_EQ(result.detail, h.mac.display(arrived) + goneFromTrash);
        EXPECT_FALSE(present(h.at("Documents/a.txt")));
        EXPECT_TRUE(present(arrived));
        EXPECT_EQ(h.listed(), std::vector<std::string> { h.at("Documents/a.txt") })
            << "the other client's record stays";
    }
}

// Another client may take the Trash name in the moment between the last check and the move.
TEST(PutBackFromSharedTrash, AnItemSwappedInJustBeforeTheMoveGoesBack)
{
    NEEDS_TRASH_CLI();
    LiveHome h;
    writeFile(h.at("Documents/a.txt"), "documents");
    writeFile(h.at("Desktop/a.txt"), "desktop");
    const std::string arrived = h.trashed("a", h.at("Documents/a.txt"));
    FaultyFileOps files;
    bool swapped = false;
    files.before([&](const Testing::FileOpCall& call, int) {
        if (swapped || call.op != Testing::FileOp::moveNoReplace)
            return;
        swapped = true;
        emptyTrash(h.trash());
        ASSERT_TRUE(runTool({ "trash-put", h.at("Desktop/a.txt") }));
    });
    const auto result = Cleaner::undo("a", h.mac, false, files);
    ASSERT_TRUE(swapped);
    EXPECT_EQ(result.status, Status::failed);
    EXPECT_EQ(result.detail, h.mac.display(arrived) + goneFromTrash);
    EXPECT_FALSE(present(h.at("Documents/a.txt")));
    EXPECT_EQ(readFile(arrived), "desktop");
    EXPECT_EQ(h.listed(), std::vector<std::string> { h.at("Desktop/a.txt") });
}

TEST(PutBackFromSharedTrash, AnotherDrivesItemAtTheSamePlaceStaysInItsTrash)
{
    NEEDS_TRASH_CLI();
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting drives needs root";
    LiveHome h;
    const std::string ours = h.dir.path() + "/ours", theirs = h.dir.path() + "/theirs";
    Testing::makeFolders(ours);
    Testing::makeFolders(theirs);
    withOwnMounts([&] {
        // The other drive's x.txt went to its Trash first; then ours, from a drive at another place.
        if (::mount("quandril-test", theirs.c_str(), "tmpfs", 0, "size=4m") != 0)
            return false;
        writeFile(theirs + "/x.txt", "the other drive's x");
        if (!runTool({ "trash-put", theirs + "/x.txt" }))
            return false;
        if (::mount("quandril-test", ours.c_str(), "tmpfs", 0, "size=4m") != 0)
            return false;
        writeFile(ours + "/x.txt", "our x");
        const std::string arrived = h.trashed("x", ours + "/x.txt", {}, true);
        // Ours is unplugged, and the other drive is mounted where it was.
        if (::umount2(ours.c_str(), MNT_DETACH) != 0
            || ::mount(theirs.c_str(), ours.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return false;
        const auto result = Cleaner::undo("x", h.mac, false);
        if (result.status == Status::failed && result.detail == arrived + goneFromTrash && !present(ours + "/x.txt")
            && readFile(arrived) == "the other drive's x")
            return true;
        std::cerr << result.detail << "\n";
        return false;
    });
}

std::string trashFolder(const std::string& record, const char* name)
{
    return fs::path(record).parent_path().parent_path() / name;
}

// A record that is no regular file of this user's, or none at all, is said to be the trouble; so is
// a files or info folder of another user. The user's own are the user's whatever their modes, as the
// desktop's other Trash clients take them: those items come back.
TEST(PutBackFromSharedTrash, ARecordThatCantBeGoneByIsSaidSo)
{
    const struct {
        const char* label;
        std::function<void(const std::string& record)> spoil;
        std::string says;
        const char* folder = nullptr; // the Trash folder said to be the trouble, when not the record
        bool needsRoot = false;
        bool putBack = false; // it comes back
    } rows[] = {
        { "missing", [](const std::string& record) { fs::remove(record); }, "can't be read (there is none)" },
        { "a named pipe",
          [](const std::string& record) {
              fs::remove(record);
              ::mkfifo(record.c_str(), 0600);
          },
          "can't be read (it is a named pipe)" },
        { "a folder",
          [](const std::string& record) {
              fs::remove(record);
              fs::create_directory(record);
          },
          "can't be read (it is a folder)" },
        { "a link to the record",
          [](const std::string& record) {
              fs::rename(record, record + ".kept");
              fs::create_symlink(record + ".kept", record);
          },
          "can't be read (it is a link, or reached through one)" },
        { "over 64 KiB",
          [](const std::string& record) { writeFile(record, readFile(record) + "#" + std::string(65536, ' ') + "\n"); },
          "can't be read (it is larger than 64 KiB)" },
        { "writable by others", [](const std::string& record) { ::chmod(record.c_str(), 0666); }, "", nullptr, false,
          true },
        { "another user's", [](const std::string& record) { ASSERT_EQ(::lchown(record.c_str(), 65534, 65534), 0); },
          "can't be trusted (it belongs to another user)", nullptr, true },
        { "in a files folder others may write",
          [](const std::string& record) { ::chmod(trashFolder(record, "files").c_str(), 0703); }, "", nullptr, false,
          true },
        { "in another user's files folder",
          [](const std::string& record) { ASSERT_EQ(::lchown(trashFolder(record, "files").c_str(), 65534, 65534), 0); },
          "can't be trusted (it belongs to another user)", "files", true },
        { "beside an info folder others may write",
          [](const std::string& record) { ::chmod(trashFolder(record, "info").c_str(), 0770); }, "", nullptr, false,
          true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        if (row.needsRoot && ::geteuid() != 0) {
            std::cout << "skipped \"" << row.label << "\": giving a file away needs root\n";
            continue;
        }
        LiveHome h;
        writeFile(h.at("Documents/a.txt"), "a");
        const std::string arrived = h.trashed("a", h.at("Documents/a.txt"));
        row.spoil(LiveHome::recordOf(arrived));
        const auto result = Cleaner::undo("a", h.mac, false);
        if (row.putBack) {
            EXPECT_EQ(result.status, Status::done) << result.detail;
            EXPECT_EQ(readFile(h.at("Documents/a.txt")), "a");
            continue;
        }
        EXPECT_EQ(result.status, Status::failed);
        const std::string shown = h.mac.display(arrived);
        EXPECT_EQ(result.detail,
                  row.folder ? "The Trash folder " + h.mac.display(trashFolder(LiveHome::recordOf(arrived), row.folder))
                          + " " + row.says + ", so " + shown + " wasn't put back."
                             : "The Trash's record of " + shown + " " + row.says + ", so it wasn't put back.");
        EXPECT_EQ(readFile(arrived), "a");
        EXPECT_FALSE(present(h.at("Documents/a.txt")));
    }
}

} // namespace
