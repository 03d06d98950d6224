// Put Back knows its own items in the shared Trash whatever the time zone was when they were
// trashed and is now, across a change of the clock too, and says so when one changed in the Trash.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "Support/LiveHome.h"
#include "Support/OwnMounts.h"
#include "Support/PutBackScene.h"
#include "Support/SystemState.h"
#include "Support/TrashClient.h"

using namespace Quandril;
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

bool haveZone(const std::string& name)
{
    return fs::exists("/usr/share/zoneinfo/" + name);
}

// An hour after New York's clock fell back from 02:00 EDT to 01:00 EST on 2026-11-01: the item went
// to the Trash at 01:55 EDT, and the clean-up's line was written at 01:10 EST.
struct FallBack {
    std::string deletionDate;
    TimePoint at;
};

TEST(PutBackAcrossZones, BringsBackWhatGorrinTrashedInAnotherZone)
{
    const FallBack fallBack { "2026-11-01T01:55:00", *Platform::parseIso8601("2026-11-01T06:10:00Z") };
    const struct {
        const char* label;
        std::string trashedIn, putBackIn;
        bool recordNoted; // the line notes the Trash's record, as lines do now; else only the item
        std::optional<FallBack> clock;
    } rows[] = {
        { "Tokyo, then Los Angeles", "Asia/Tokyo", "America/Los_Angeles", true, {} },
        { "Tokyo, then Los Angeles; a line that notes only the item", "Asia/Tokyo", "America/Los_Angeles", false, {} },
        { "Berlin, then New York", "Europe/Berlin", "America/New_York", true, {} },
        { "Berlin, then New York; a line that notes only the item", "Europe/Berlin", "America/New_York", false, {} },
        { "a clean-up across the fall-back", "America/New_York", "America/New_York", true, fallBack },
        { "a clean-up across the fall-back; a line that notes only the item", "America/New_York", "America/New_York",
          false, fallBack },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        if (!haveZone(row.trashedIn) || !haveZone(row.putBackIn))
            GTEST_SKIP() << "the zone files aren't installed (tzdata)";
        LiveHome h;
        const std::string place = h.at("Documents/a.txt");
        writeFile(place, "documents");
        std::string arrived;
        {
            ScopedZone zone(row.trashedIn);
            arrived = h.mac.trash(place);
            TimePoint at = std::chrono::time_point_cast<std::chrono::seconds>(Clock::now());
            if (row.clock) {
                const std::string record = LiveHome::recordOf(arrived);
                const std::string text = readFile(record);
                writeFile(record,
                          text.substr(0, text.find("DeletionDate=")) + "DeletionDate=" + row.clock->deletionDate
                              + "\n");
                at = row.clock->at;
            }
            Relocation noted = Cleaner::withIdentity({ place, arrived, {}, {} }, h.mac);
            ASSERT_TRUE(noted.kind && noted.modified);
            if (!row.recordNoted) {
                noted.deletionDate.reset();
                noted.recordWritten.reset();
            }
            ASSERT_TRUE(History::append({ at, "a", "a", Action::Kind::trash, 9, { noted }, {} }, h.mac));
        }
        ScopedZone zone(row.putBackIn);
        const auto result = Cleaner::undo("a", h.mac, false);
        EXPECT_EQ(result.status, Status::done);
        EXPECT_EQ(result.detail, "Put back where it was.");
        EXPECT_EQ(readFile(place), "documents");
        EXPECT_FALSE(present(arrived));
    }
}

// Any zone will do for an older line only while the item is the one it noted: what another client
// put under the Trash name after the move west stays in the Trash.
TEST(PutBackAcrossZones, LeavesAnotherClientsItemUnderTheNameAfterAMoveWest)
{
    NEEDS_TRASH_CLI();
    if (!haveZone("Asia/Tokyo") || !haveZone("America/Los_Angeles"))
        GTEST_SKIP() << "the zone files aren't installed (tzdata)";
    for (const bool recordNoted : { true, false }) {
        SCOPED_TRACE(recordNoted ? "the line notes the record" : "a line that notes only the item");
        LiveHome h;
        const std::string place = h.at("Documents/a.txt");
        writeFile(place, "documents");
        std::string arrived;
        {
            ScopedZone zone("Asia/Tokyo");
            arrived = h.trashed("a", place, {}, true);
            if (!recordNoted) {
                auto entry = History::load(h.mac).back();
                entry.relocated.front().deletionDate.reset();
                entry.relocated.front().recordWritten.reset();
                ASSERT_TRUE(History::append(entry, h.mac));
            }
        }
        ScopedZone zone("America/Los_Angeles");
        ASSERT_TRUE(runTool({ "trash-restore", h.at("Documents") }, "0\n"));
        writeFile(place, "documents, edited");
        ASSERT_TRUE(runTool({ "trash-put", place }));

        const auto result = Cleaner::undo("a", h.mac, false);
        EXPECT_EQ(result.status, Status::failed);
        EXPECT_EQ(result.detail, h.mac.display(arrived) + Testing::goneFromTrash);
        EXPECT_FALSE(present(place));
        EXPECT_EQ(readFile(arrived), "documents, edited");
    }
}

// An item of ours that differs in the Trash from what the line noted is said to have changed, and
// stays; a folder's own size is no part of what it is (ntfs-3g gives 240 before a remount, 0 after).
TEST(PutBackChangedInTheTrash, IsSaidToHaveChangedAndStays)
{
    const struct {
        const char* label;
        bool folder;
        std::function<void(const std::string& trashed)> meanwhile;
        std::function<void(Relocation&)> noting; // how the line noted the item, when not as the cleaner does
        bool comesBack;
    } rows[] = {
        { "a file written to in the Trash",
          false,
          [](const std::string& trashed) { writeFile(trashed, "documents, and more"); },
          {},
          false },
        { "a folder whose time changed in the Trash",
          true,
          [](const std::string& trashed) {
              const struct timespec times[2] = { { 0, UTIME_NOW }, { 1000000000, 0 } };
              ::utimensat(AT_FDCWD, trashed.c_str(), times, AT_SYMLINK_NOFOLLOW);
          },
          {},
          false },
        { "a folder whose own size differs from the noted one",
          true,
          {},
          [](Relocation& noted) {
              struct stat info {};
              ::lstat(noted.to.c_str(), &info);
              noted.size = info.st_size == 240 ? 0 : 240;
          },
          true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        LiveHome h;
        const std::string place = h.at("Documents/a");
        writeFile(row.folder ? place + "/inside.txt" : place, "documents");
        const std::string arrived = h.mac.trash(place);
        Relocation noted = Cleaner::withIdentity({ place, arrived, {}, {} }, h.mac);
        if (row.noting)
            row.noting(noted);
        ASSERT_TRUE(History::append({ Clock::now(), "a", "a", Action::Kind::trash, 9, { noted }, {} }, h.mac));
        if (row.meanwhile)
            row.meanwhile(arrived);

        const auto result = Cleaner::undo("a", h.mac, false);
        if (row.comesBack) {
            EXPECT_EQ(result.detail, "Put back where it was.");
            EXPECT_EQ(readFile(place + "/inside.txt"), "documents");
            continue;
        }
        EXPECT_EQ(result.status, Status::failed);
        EXPECT_EQ(result.detail, h.mac.display(arrived) + " changed since Gorrin put it there, so it wasn't put back.");
        EXPECT_FALSE(present(place));
        EXPECT_TRUE(present(arrived));
        EXPECT_TRUE(present(LiveHome::recordOf(arrived)));
    }
}

bool mountNTFS(const std::string& image, const std::string& at)
{
    return std::system(("ntfs-3g " + image + " " + at + " -o umask=022 >/dev/null 2>&1").c_str()) == 0;
}

// ntfs-3g gives a folder's own size as 224 or 240 while the drive stays mounted and 0 once it is
// mounted again: the folder the line noted comes back after the drive was unplugged and plugged in.
TEST(PutBackChangedInTheTrash, AFolderOnAnNTFSDriveComesBackAfterAReplug)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting drives needs root";
    if (!fs::exists("/usr/bin/ntfs-3g") || !fs::exists("/usr/sbin/mkntfs"))
        GTEST_SKIP() << "ntfs-3g isn't installed (scripts/install-deps installs it)";
    LiveHome h;
    const std::string image = h.dir.path() + "/ntfs.img", drive = h.dir.path() + "/drive";
    writeFile(image, "");
    fs::resize_file(image, 16 << 20);
    ASSERT_EQ(std::system(("/usr/sbin/mkntfs -F -Q -q " + image + " >/dev/null 2>&1").c_str()), 0);
    Testing::makeFolders(drive);
    withOwnMounts([&] {
        if (!mountNTFS(image, drive))
            return false;
        writeFile(drive + "/Project/notes.md", "notes");
        h.trashed("p", drive + "/Project", {}, true);
        const bool replugged = ::umount2(drive.c_str(), 0) == 0 && mountNTFS(image, drive);
        const auto result = Cleaner::undo("p", h.mac, false);
        const bool back = present(drive + "/Project/notes.md") && readFile(drive + "/Project/notes.md") == "notes";
        if (!replugged || result.detail != "Put back where it was." || !back)
            std::cerr << "replugged: " << replugged << ", " << result.detail << "\n";
        ::umount2(drive.c_str(), 0);
        return replugged && result.detail == "Put back where it was." && back;
    });
}

} // namespace
