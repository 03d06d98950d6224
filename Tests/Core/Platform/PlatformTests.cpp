// The live layers that stand in for the system services: the home folder, volumes, processes, running apps.

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/Home.h"
#include "QuandrilCore/Platform/Plist.h"
#include "QuandrilCore/Platform/Process.h"
#include "QuandrilCore/Platform/RunningApps.h"
#include "QuandrilCore/Platform/Volumes.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/SystemState.h"

extern char** environ;

using namespace Quandril;
using namespace Quandril::Platform;
using Quandril::Testing::CaseNamed;
using Quandril::Testing::makeFolders;
using Quandril::Testing::readFile;
using Quandril::Testing::ScopedEnv;
using Quandril::Testing::TempDir;
using Quandril::Testing::writeFile;

namespace {

// Gone, or a zombie waiting for a parent that no longer cares.
bool processEnded(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

const char* sampleMountInfo = R"(22 27 0:21 / /proc rw,relatime - proc proc rw
27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw
28 27 0:25 / /tmp rw,nosuid - tmpfs tmpfs rw,size=4k
29 27 8:17 / /media/me/My\040Disk rw,nosuid shared:40 master:2 - exfat /dev/sdb1 rw
30 27 254:0 /@home /home rw - btrfs /dev/vda rw
31 27 0:40 / /mnt/nas rw - nfs4 nas:/export rw
32 27 0:41 / /mnt/ssh rw - fuse.sshfs me@host:/ rw
33 27 8:1 / /boot/efi rw - vfat /dev/sda1 rw
34 27 0:42 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw
35 27 8:33 / /run/media/me/Stick rw - ext4 /dev/sdc1 rw
36 27 8:49 / /mnt/back\134slash\011tab rw - xfs /dev/sdd1 rw
37 27 0:43 / /snap/core/1 ro - squashfs /dev/loop0 ro
too few fields here
38 27 8:50 / /mnt/x rw no separator ext4 /dev/sde1 rw
39 27 8:51 / /mnt/only-type rw - ext4
)";

} // namespace

TEST(Volumes, ParsesMountInfoAndTellsWhichMountsAreDrives)
{
    auto entries = parseMountInfo(sampleMountInfo);
    ASSERT_EQ(entries.size(), 12u); // the three malformed lines are passed over
    EXPECT_EQ(entries[1], (MountEntry { "254:0", "/", "/", "ext4", "/dev/vda" }));
    EXPECT_EQ(entries[3], (MountEntry { "8:17", "/", "/media/me/My Disk", "exfat", "/dev/sdb1" }));
    EXPECT_EQ(entries[4].root, "/@home");
    EXPECT_EQ(entries[11].type, "squashfs");

    auto volumes = describeMounts(entries);
    ASSERT_EQ(volumes.size(), 12u);
    struct Expected {
        const char* path;
        bool browsable;
        bool local;
    };
    const std::vector<Expected> expected {
        { "/proc", false, true },
        { "/", true, true },
        { "/tmp", false, true },
        { "/media/me/My Disk", true, true },
        { "/home", false, true }, // the same file system as "/" again
        { "/mnt/nas", true, false },
        { "/mnt/ssh", true, false },
        { "/boot/efi", false, true },
        { "/sys/fs/cgroup", false, true },
        { "/run/media/me/Stick", true, true },
        { "/mnt/back\\slash\ttab", true, true },
        { "/snap/core/1", false, true },
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].path);
        EXPECT_EQ(entries[i].mountPoint, expected[i].path);
        EXPECT_EQ(volumes[i].path, expected[i].path);
        EXPECT_EQ(volumes[i].browsable, expected[i].browsable);
        EXPECT_EQ(volumes[i].local, expected[i].local);
        EXPECT_EQ(volumes[i].isRoot, std::string(expected[i].path) == "/");
    }
    EXPECT_EQ(volumes[3].name, "My Disk");

    // The startup volume stays even where it is a container's overlay.
    EXPECT_EQ(describeMounts(parseMountInfo("1 0 0:30 / / rw - overlay overlay rw\n")).at(0).browsable, true);
}

// The volumes a mount table shows, "path (startup)" for the startup one, with the home where it is.
struct StartupTable {
    const char* name;
    std::string mountInfo;
    std::string home;
    std::vector<std::string> shown;
};

class StartupVolume : public ::testing::TestWithParam<StartupTable> {};

TEST_P(StartupVolume, HoldsTheHomeAndEachFileSystemIsShownOnce)
{
    const auto& row = GetParam();
    std::vector<std::string> shown;
    for (const auto& volume : describeMounts(parseMountInfo(row.mountInfo), row.home))
        if (volume.browsable.value_or(false))
            shown.push_back(volume.path + (volume.isRoot.value_or(false) ? " (startup)" : ""));
    EXPECT_EQ(shown, row.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, StartupVolume,
    ::testing::Values(StartupTable { "HomeOnItsOwnFileSystem",
                                     "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n2 1 8:2 / /home rw - ext4 /dev/sda2 rw\n",
                                     "/home/me",
                                     { "/", "/home (startup)" } },
                      StartupTable {
                          "BtrfsSubvolumesOfOneFileSystem",
                          "1 0 0:35 /root / rw - btrfs /dev/vda3 rw\n2 1 0:35 /home /home rw - btrfs /dev/vda3 rw\n",
                          "/home/me",
                          { "/ (startup)" } },
                      StartupTable { "TheHomeFileSystemMountedFirstElsewhere",
                                     "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n2 1 8:2 / /srv rw - ext4 /dev/sda2 rw\n"
                                     "3 1 8:2 /me /home/me rw - ext4 /dev/sda2 rw\n",
                                     "/home/me",
                                     { "/", "/home/me (startup)" } },
                      StartupTable { "AHomeInATmpfs",
                                     "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n2 1 0:40 / /home rw - tmpfs tmpfs rw\n",
                                     "/home/me",
                                     { "/", "/home (startup)" } },
                      StartupTable { "AHomeOnTheNetworkLeavesTheTop",
                                     "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n2 1 0:41 / /home rw - nfs4 nas:/home rw\n",
                                     "/home/me",
                                     { "/ (startup)", "/home" } },
                      StartupTable { "AMountCoveredByALaterOne",
                                     "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n2 1 8:2 / /home rw - ext4 /dev/sda2 rw\n"
                                     "3 2 8:3 / /home rw - ext4 /dev/sda3 rw\n",
                                     "/home/me",
                                     { "/", "/home (startup)" } }),
    CaseNamed {});

TEST(Volumes, DrivesFromVolumeValues)
{
    // path, name, isRoot, total, importantFree, free, browsable, local
    const std::vector<Volume> volumes {
        { "/hidden", {}, {}, 1000, {}, {}, false, {} },
        { "/remote", {}, {}, 1000, {}, {}, {}, false },
        { "/zero", {}, {}, 0, {}, {}, {}, {} },
        { "/unsized", {}, {}, {}, {}, {}, {}, {} },
        { "/media/me/Unreported", {}, {}, 1000, {}, {}, {}, {} }, // neither browsable nor local reported: kept
        { "/", "Root", true, 1000, 500, 300, {}, {} },
        { "/more-strict", {}, {}, 1000, 100, 300, true, true },
    };
    EXPECT_EQ(drivesFrom(volumes),
              (std::vector<DriveInfo> {
                  { "Unreported", "/media/me/Unreported", false, 1000, 0, 0 },
                  { "Root", "/", true, 1000, 500, 300 },
                  { "more-strict", "/more-strict", false, 1000, 300, 300 },
              }));
    EXPECT_EQ(drivesFrom({ { "/", {}, {}, 1000, {}, {}, {}, {} } }).at(0).name, "/");
}

TEST(Volumes, LiveDrivesAreSane)
{
    TempDir home;
    auto drives = Mac("", home.path(), std::nullopt).drives();
    int startups = 0;
    for (const auto& drive : drives) {
        EXPECT_GT(drive.totalBytes, 0) << drive.path;
        EXPECT_GE(drive.freeBytes, drive.strictFreeBytes) << drive.path;
        EXPECT_GE(drive.strictFreeBytes, 0) << drive.path;
        startups += drive.isStartup ? 1 : 0;
    }
    EXPECT_LE(startups, 1);
}

TEST(Process, RunsAndBoundsTheWait)
{
    using namespace std::chrono_literals;
    EXPECT_EQ(runProcess("/bin/sh", { "-c", "echo $0 \"$1\"", "zero", "one two" }), "zero one two\n");
    EXPECT_EQ(runProcess("/no/such/program", {}), std::nullopt);
    EXPECT_EQ(runProcess("/bin/sh", { "-c", "sleep 30" }, 200ms), std::nullopt);
    // A program that closes its output and keeps running is waited for only until the limit.
    EXPECT_EQ(runProcess("/bin/sh", { "-c", "exec >&-; sleep 30" }, 200ms), std::nullopt);

    // What the program started goes with it when the limit passes.
    TempDir dir;
    const std::string pids = dir.path() + "/pids";
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(runProcess("/bin/sh", { "-c", "echo $$ > \"$0\"; sleep 30 & echo $! >> \"$0\"; wait", pids }, 300ms),
              std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
    std::istringstream lines(readFile(pids));
    pid_t shell = 0, sleeper = 0;
    ASSERT_TRUE(lines >> shell >> sleeper);
    EXPECT_TRUE(processEnded(shell));
    // Reaped whenever the machine gets to it: a busy one may take longer than a second.
    for (const auto giveUp = std::chrono::steady_clock::now() + 20s;
         !processEnded(sleeper) && std::chrono::steady_clock::now() < giveUp;)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(processEnded(sleeper));
}

TEST(Process, ExecutableFiles)
{
    TempDir dir;
    const std::string tool = dir.path() + "/tool", plain = dir.path() + "/plain", folder = dir.path() + "/folder";
    writeFile(tool, "#!/bin/sh\n");
    ::chmod(tool.c_str(), 0755);
    writeFile(plain, "text");
    makeFolders(folder);
    ASSERT_EQ(::symlink(tool.c_str(), (dir.path() + "/link").c_str()), 0);
    ASSERT_EQ(::symlink("missing", (dir.path() + "/dangling").c_str()), 0);

    for (const auto& [path, executable] : { std::pair { tool, true },
                                            { dir.path() + "/link", true },
                                            { folder, false },
                                            { dir.path() + "/dangling", false },
                                            { dir.path() + "/missing", false },
                                            { plain, ::geteuid() == 0 && isExecutableFile(plain) } })
        EXPECT_EQ(isExecutableFile(path), executable) << path;
}

TEST(RunningApps, BundleOfAnExecutable)
{
    struct Case {
        const char* executable;
        std::optional<std::string> bundle;
    };
    const std::vector<Case> cases {
        { "/Applications/X.app/Contents/MacOS/X", "/Applications/X.app" },
        { "/Apps/My App.app/Contents/Frameworks/Helper.app/Contents/MacOS/Helper",
          "/Apps/My App.app/Contents/Frameworks/Helper.app" },
        { "/Apps/X.app/Contents/MacOS/X (deleted)", "/Apps/X.app" },
        { "/Apps/.app/Contents/MacOS/x", std::nullopt },
        { "/usr/bin/sleep", std::nullopt },
        { "/Apps/X.app/MacOS/X", std::nullopt },
        { "/Apps/X.application/Contents/MacOS/X", std::nullopt },
    };
    for (const auto& c : cases)
        EXPECT_EQ(appBundleOf(c.executable), c.bundle) << c.executable;
}

TEST(RunningApps, FindsARunningBundle)
{
    TempDir dir;
    const std::string bundle = dir.path() + "/Sleeper.app";
    const std::string executable = bundle + "/Contents/MacOS/sleeper";
    std::string sleep = readFile("/bin/sleep");
    if (sleep.empty())
        GTEST_SKIP() << "no /bin/sleep to run";
    writeFile(executable, sleep);
    ::chmod(executable.c_str(), 0755);
    writeFile(bundle + "/Contents/Info.plist",
              plistData({ { "CFBundleIdentifier", "com.example.quandril-sleeper" } }, PlistFormat::xml));

    std::vector<char*> argv { const_cast<char*>(executable.c_str()), const_cast<char*>("30"), nullptr };
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, executable.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    auto found = runningBundleIDs();
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_TRUE(found.contains("com.example.quandril-sleeper"));
    EXPECT_FALSE(runningBundleIDs().contains("com.example.quandril-sleeper"));
}

TEST(Home, HomeVariableWhenItNamesAFolderElseTheUserDatabase)
{
    TempDir dir;
    const std::string home = dir.path() + "/home";
    makeFolders(home);
    writeFile(dir.path() + "/file", "not a folder");
    ASSERT_EQ(::symlink(home.c_str(), (dir.path() + "/link").c_str()), 0);
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    char resolved[PATH_MAX];
    const std::string database = ::realpath(user->pw_dir, resolved) ? resolved : user->pw_dir;
    struct Row {
        std::optional<std::string> variable;
        std::string home;
    };
    std::vector<Row> rows {
        { home, home },
        { dir.path() + "/link", home },
        { std::nullopt, database },
        { "", database },
        { "relative/home", database },
        { dir.path() + "/missing", database },
        { dir.path() + "/file", database },
    };
    // A folder others may write, /tmp say: whoever writes there could make our Trash and history
    // before we do, so it is no home, though it is ours, also through a link.
    for (const auto& [name, mode] : { std::pair { "shared", 01777 }, std::pair { "group", 0775 } }) {
        const std::string open = dir.path() + "/" + name;
        makeFolders(open);
        ASSERT_EQ(::chmod(open.c_str(), static_cast<mode_t>(mode)), 0);
        ASSERT_EQ(::symlink(open.c_str(), (open + "-link").c_str()), 0);
        rows.push_back({ open, database });
        rows.push_back({ open + "-link", database });
    }
    // Another user's home kept by `sudo -E`: followed only when we own it, also through a link of
    // ours. Only root can give a folder away; elsewhere these rows are left out.
    const std::string foreign = dir.path() + "/foreign";
    makeFolders(foreign);
    ASSERT_EQ(::symlink(foreign.c_str(), (dir.path() + "/foreign-link").c_str()), 0);
    if (::chown(foreign.c_str(), ::geteuid() + 1000, ::getegid()) == 0) {
        rows.push_back({ foreign, database });
        rows.push_back({ dir.path() + "/foreign-link", database });
    }
    for (const auto& row : rows) {
        ScopedEnv variable("HOME", row.variable);
        EXPECT_EQ(homeFolder(), row.home) << row.variable.value_or("(unset)");
        EXPECT_EQ(Mac::real().home, row.home) << row.variable.value_or("(unset)");
    }
}
