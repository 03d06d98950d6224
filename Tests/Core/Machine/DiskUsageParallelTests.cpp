#include "QuandrilCore/Machine/DiskUsage.h"

#include <atomic>
#include <dirent.h>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Machine/PrivacyFence.h"
#include "Support/FakeMachine.h"

using namespace Quandril;
using Quandril::Testing::makeFolders;
using Quandril::Testing::TempDir;
using Quandril::Testing::writeFile;

namespace {

// MARK: One tree on many threads

// The rules one entry at a time, on one thread, by full paths: what the walk must add up to.
class SerialRules {
public:
    SerialRules(const std::string& start, std::set<std::string> skip)
        : skip_(std::move(skip))
    {
        struct stat status {};
        device_ = ::lstat(start.c_str(), &status) == 0 ? status.st_dev : 0;
        measure(start);
    }

    Usage usage() const { return usage_; }

private:
    void measure(const std::string& path)
    {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) {
            ++usage_.unreadable;
            return;
        }
        const std::int64_t bytes = static_cast<std::int64_t>(status.st_blocks) * 512;
        if (!S_ISDIR(status.st_mode)) {
            // A file goes with the tree once every name it has was met inside it.
            if (status.st_nlink < 2 || ++met_[{ status.st_dev, status.st_ino }] == status.st_nlink)
                usage_.bytes += bytes;
            return;
        }
        if (status.st_dev != device_ || skip_.count(path)) {
            usage_.bytes += bytes;
            return;
        }
        DIR* dir = ::opendir(path.c_str());
        if (!dir) {
            ++usage_.unreadable;
            return;
        }
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
        usage_.bytes += bytes;
        for (const auto& name : names)
            measure(path + "/" + name);
    }

    std::set<std::string> skip_;
    dev_t device_ = 0;
    std::map<std::pair<dev_t, ino_t>, nlink_t> met_; // names met of files with more than one
    Usage usage_;
};

// A tmpfs mounted on a folder for the scope; nothing when this process may not mount.
class ScopedMount {
public:
    explicit ScopedMount(const std::string& at)
        : at_(at)
    {
        mounted_ = ::mount("quandril-test", at.c_str(), "tmpfs", 0, "size=4m") == 0;
    }
    ~ScopedMount()
    {
        if (mounted_)
            ::umount2(at_.c_str(), MNT_DETACH);
    }
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;
    bool mounted() const { return mounted_; }

private:
    std::string at_;
    bool mounted_ = false;
};

// 24 folders of 4 subfolders of 12 files each, wide enough that every thread of the pool takes
// part; every 5th file a second name of a file in the next folder, so that two threads meet the
// same file; a link to a folder; a fenced folder, a skipped one, a mount point and, where
// permissions stop this process, an unreadable folder, all below the top.
class WideTree {
public:
    WideTree()
    {
        const std::string& top = dir_.path();
        for (int d = 0; d < 24; ++d) {
            for (int s = 0; s < 4; ++s) {
                for (int f = 0; f < 12; ++f)
                    writeFile(at(d, s, f), std::string(static_cast<std::size_t>(500 + 1'000 * f + 37 * d), 'w'));
            }
        }
        for (int d = 0; d < 24; ++d) {
            for (int f = 0; f < 12; f += 5) {
                if (::link(at((d + 1) % 24, 3, f).c_str(), (at(d, 0, f) + "-second").c_str()) != 0)
                    throw std::runtime_error("link");
            }
        }
        writeFile(top + "/d5/s1/private/f", std::string(9'000, 'p'));
        writeFile(top + "/d9/s2/skipped/f", std::string(9'000, 's'));
        writeFile(top + "/d13/locked/inner/f", std::string(9'000, 'l'));
        makeFolders(top + "/d17/s0/mounted");
        if (::symlink((top + "/d1").c_str(), (top + "/d2/s2/to-d1").c_str()) != 0)
            throw std::runtime_error("symlink");
    }

    const std::string& top() const { return dir_.path(); }
    std::vector<std::string> folders() const
    {
        std::vector<std::string> all;
        for (int d = 0; d < 24; ++d)
            all.push_back(top() + "/d" + std::to_string(d));
        return all;
    }

private:
    std::string at(int d, int s, int f) const
    {
        return dir_.path() + "/d" + std::to_string(d) + "/s" + std::to_string(s) + "/f" + std::to_string(f);
    }

    TempDir dir_;
};

TEST(ParallelWalk, GivesTheSerialRulesTotalsOnAHostileTree)
{
    WideTree tree;
    const std::string top = tree.top();
    ScopedMount mount(top + "/d17/s0/mounted");
    if (mount.mounted())
        writeFile(top + "/d17/s0/mounted/f", std::string(100'000, 'm'));
    // Threads of the pool keep what permissions they had: the unreadable folder is checked when
    // permissions stop the whole process, not as root.
    const bool permissionsApply = ::geteuid() != 0;
    if (permissionsApply) {
        ASSERT_EQ(::chmod((top + "/d13/locked").c_str(), 0), 0);
    }
    PrivacyFence::Registration fence(PrivacyFence::shared(), { top + "/d5/s1/private" });
    const std::set<std::string> skipping = { top + "/d9/s2/skipped" };
    std::set<std::string> rules = skipping;
    rules.insert(top + "/d5/s1/private");

    const Usage expected = SerialRules(top, rules).usage();
    std::vector<Usage> expectedEach;
    for (const auto& folder : tree.folders())
        expectedEach.push_back(SerialRules(folder, rules).usage());
    // Many runs, so that the threads meet the shared files in many orders.
    for (int run = 0; run < 20; ++run) {
        ASSERT_EQ(diskUsage(top, skipping), expected) << "run " << run;
        // Many trees at once from the worker threads, each shared out again.
        const auto each = diskUsageOf(tree.folders(), skipping);
        for (std::size_t i = 0; i < expectedEach.size(); ++i)
            ASSERT_EQ(each.at(tree.folders()[i]), expectedEach[i]) << tree.folders()[i] << ", run " << run;
    }
    ::chmod((top + "/d13/locked").c_str(), 0755);
    EXPECT_EQ(expected.unreadable, permissionsApply ? 1 : 0);
}

TEST(ParallelWalk, FoldersTakenAwayDuringTheWalkCountWholeOrNotAtAll)
{
    // Ten folders of three files leave the tree while it is walked. Each is counted whole, or not
    // at all when it was gone before it was listed, or not at all and once unreadable when it went
    // between its listing and its opening; no other total is right.
    WideTree tree;
    const std::string top = tree.top();
    const std::string away = top + "-away";
    makeFolders(away);
    for (int k = 0; k < 10; ++k) {
        for (int f = 0; f < 3; ++f)
            writeFile(top + "/d" + std::to_string(k * 2) + "/m" + std::to_string(k) + "/f" + std::to_string(f),
                      std::string(5'000, 'm'));
    }
    const Usage whole = SerialRules(top, {}).usage();
    const std::int64_t moving = SerialRules(top + "/d0/m0", {}).usage().bytes;
    for (int run = 0; run < 20; ++run) {
        std::atomic<bool> started { false };
        std::thread mover([&] {
            while (!started.load())
                std::this_thread::yield();
            for (int k = 0; k < 10; ++k)
                std::filesystem::rename(top + "/d" + std::to_string(k * 2) + "/m" + std::to_string(k),
                                        away + "/m" + std::to_string(k));
        });
        started = true;
        const Usage usage = diskUsage(top);
        mover.join();
        const std::int64_t missing = whole.bytes - usage.bytes;
        EXPECT_EQ(missing % moving, 0) << "run " << run;
        EXPECT_GE(missing, 0);
        EXPECT_LE(missing / moving, 10);
        EXPECT_LE(usage.unreadable, missing / moving) << "run " << run;
        for (int k = 0; k < 10; ++k)
            std::filesystem::rename(away + "/m" + std::to_string(k),
                                    top + "/d" + std::to_string(k * 2) + "/m" + std::to_string(k));
    }
    std::filesystem::remove_all(away);
}

} // namespace
