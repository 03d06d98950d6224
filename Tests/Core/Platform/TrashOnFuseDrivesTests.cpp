// Drives whose file systems have no owners or modes of their own (NTFS through ntfs-3g, exFAT
// through exfat-fuse) show every folder 0777: their Trash is used as trash-put and gio use it. Each
// drive is an image file mounted in a mount namespace of this process's own.

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Platform/Trash.h"
#include "Support/LiveHome.h"
#include "Support/OwnMounts.h"
#include "Support/PutBackScene.h"
#include "Support/TrashClient.h"

using namespace Quandril;
using namespace Quandril::Testing;
using Status = CleanResult::Status;
namespace fs = std::filesystem;

namespace {

// Before main, while the process has one thread.
const bool ownMounts = enterOwnMounts();

bool installed(const std::string& path)
{
    return ::access(path.c_str(), X_OK) == 0;
}

struct Format {
    const char* name;
    std::vector<std::string> make;  // the image's path follows
    std::vector<std::string> mount; // the device and the mount point follow
    bool onLoop;                    // it mounts only a block device: the image's loop device
};

// A drive of the format on a sparse image, mounted for as long as the value lives.
class FuseDrive {
public:
    FuseDrive(const Format& format, const std::string& folder)
        : image_(folder + "/drive.img")
        , top_(folder + "/drive")
    {
        fs::create_directory(top_);
        writeFile(image_, "");
        if (::truncate(image_.c_str(), 64 << 20) != 0)
            throw std::runtime_error("can't size " + image_);
        auto make = format.make;
        make.push_back(image_);
        if (!runTool(make))
            throw std::runtime_error(std::string("can't make an ") + format.name + " drive");
        std::string device = image_;
        if (format.onLoop) {
            const auto loop = runTool({ "losetup", "--find", "--show", image_ });
            if (!loop || loop->size() < 2)
                throw std::runtime_error("can't set up a loop device for " + image_);
            loop_ = device = loop->substr(0, loop->size() - 1);
        }
        auto mount = format.mount;
        mount.push_back(device);
        mount.push_back(top_);
        if (!runTool(mount))
            throw std::runtime_error(std::string("can't mount an ") + format.name + " drive");
        mounted_ = true;
    }
    ~FuseDrive()
    {
        // The FUSE daemon ends with its mount.
        if (mounted_ && ::umount2(top_.c_str(), 0) != 0)
            ::umount2(top_.c_str(), MNT_DETACH);
        if (!loop_.empty())
            runTool({ "losetup", "--detach", loop_ });
    }
    FuseDrive(const FuseDrive&) = delete;
    FuseDrive& operator=(const FuseDrive&) = delete;

    const std::string& top() const { return top_; }

private:
    std::string image_, top_, loop_;
    bool mounted_ = false;
};

class TrashOnFuseDrive : public ::testing::TestWithParam<Format> {};

TEST_P(TrashOnFuseDrive, IsUsedAsTheOtherTrashClientsUseIt)
{
    NEEDS_TRASH_CLI();
    const Format& format = GetParam();
    if (!ownMounts)
        GTEST_SKIP() << "mounting needs root and a mount namespace of its own";
    if (!installed(format.make.front()) || !installed(format.mount.front()))
        GTEST_SKIP() << format.mount.front() << " or " << format.make.front()
                     << " isn't installed (scripts/install-deps installs them)";
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "no /dev/fuse here";
    LiveHome h;
    TempDir place;
    const FuseDrive drive(format, place.path());
    const std::string trash = drive.top() + "/.Trash-" + std::to_string(::getuid());
    for (const char* name : { "a.txt", "b.txt", "c.txt" })
        writeFile(drive.top() + "/" + name, name);
    struct stat info {};
    ASSERT_EQ(::stat(drive.top().c_str(), &info), 0);
    ASSERT_EQ(info.st_mode & 0777, 0777u) << "the drive's folders show their default modes";

    // A try that fails leaves no Trash folder behind.
    const Platform::TrashMover failing = [](const std::string&, const std::string&) {
        throw std::system_error(EIO, std::generic_category(), "disk trouble");
    };
    EXPECT_THROW(Platform::moveToTrash(drive.top() + "/a.txt", h.dir.path() + "/home", failing), std::system_error);
    EXPECT_FALSE(present(trash));

    // The engine's Trash folder, though it shows 0777, is the user's, and the other clients share it.
    std::string arrived;
    ASSERT_NO_THROW(arrived = h.trashed("a", drive.top() + "/a.txt", {}, true));
    EXPECT_EQ(arrived, trash + "/files/a.txt");
    ASSERT_EQ(::stat(trash.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0777u);
    ASSERT_TRUE(runTool({ "trash-put", drive.top() + "/b.txt" }));
    EXPECT_EQ(readFile(trash + "/files/b.txt"), "b.txt");
    std::vector<std::string> listed { drive.top() + "/a.txt", drive.top() + "/b.txt" };
    if (haveTool("gio")) {
        ASSERT_TRUE(runTool({ "gio", "trash", drive.top() + "/c.txt" }));
        EXPECT_EQ(readFile(trash + "/files/c.txt"), "c.txt");
        listed.push_back(drive.top() + "/c.txt");
    }
    EXPECT_EQ(h.listed(drive.top()), listed);

    const auto result = Cleaner::undo("a", h.mac, false);
    EXPECT_EQ(result.status, Status::done) << result.detail;
    EXPECT_EQ(readFile(drive.top() + "/a.txt"), "a.txt");
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TrashOnFuseDrive,
    ::testing::Values(Format { "NTFS", { "/usr/sbin/mkntfs", "-F", "-Q", "-q" }, { "/usr/bin/ntfs-3g" }, false },
                      Format { "exFAT", { "/usr/sbin/mkfs.exfat" }, { "/usr/sbin/mount.exfat-fuse" }, true }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
