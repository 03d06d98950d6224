#include "QuandrilCore/Machine/DiskUsage.h"

#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "QuandrilCore/Machine/PrivacyFence.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/SystemState.h"

using namespace Quandril;
using Quandril::Testing::makeFolders;
using Quandril::Testing::TempDir;
using Quandril::Testing::writeFile;

namespace {

// The oracle: what one entry itself occupies.
const auto own = Testing::ownBytes;

// Lets permissions stop this thread for its lifetime: root gives up, on this thread only, the
// capabilities that pass over them, so the unreadable cases run under root too.
class PermissionsApply {
public:
    PermissionsApply()
    {
        if (::geteuid() != 0) {
            applies_ = true;
            return;
        }
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = { saved_[0], saved_[1] };
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        dropped_ = ::syscall(SYS_capset, &header_, reduced) == 0;
        applies_ = dropped_;
    }
    ~PermissionsApply()
    {
        if (dropped_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    PermissionsApply(const PermissionsApply&) = delete;
    PermissionsApply& operator=(const PermissionsApply&) = delete;

    bool applies() const { return applies_; }

private:
    __user_cap_header_struct header_ { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct saved_[2] {};
    bool dropped_ = false;
    bool applies_ = false;
};

// root/
//   empty/
//   data/ a (40 KB), b (second name of a), c (3 KB), sub/ d (5 KB)
//   linked/ to-data -> ../data
//   sparse/ s (8 MiB long, nothing written)
class Tree {
public:
    Tree()
    {
        machine_.folder("/empty").file("/data/a", 40'000).hardLink("/data/b", "/data/a").file("/data/c", 3'000);
        machine_.file("/data/sub/d", 5'000).link("/linked/to-data", "../data").sparse("/sparse/s", 8 << 20);
    }

    std::string at(const std::string& relative) const
    {
        return relative.empty() ? machine_.root() : machine_.at("/" + relative);
    }

    std::int64_t sum(const std::vector<std::string>& relatives) const
    {
        std::int64_t total = 0;
        for (const auto& relative : relatives)
            total += own(at(relative));
        return total;
    }

private:
    Testing::FakeMachine machine_;
};

struct MeasureCase {
    const char* name;
    std::string path;
    std::vector<std::string> skipping;
    std::vector<std::string> counted; // entries whose own allocation makes up the bytes
    std::int64_t unreadable;
};

const MeasureCase measureCases[] = {
    { "empty folder is its own entry", "empty", {}, { "empty" }, 0 },
    { "hard-linked file counts once", "data", {}, { "data", "data/a", "data/c", "data/sub", "data/sub/d" }, 0 },
    { "a name whose twin stays outside frees nothing", "data/b", {}, {}, 0 },
    { "link is not followed", "linked", {}, { "linked", "linked/to-data" }, 0 },
    { "single file", "data/c", {}, { "data/c" }, 0 },
    { "sparse file counts allocation, not length", "sparse", {}, { "sparse", "sparse/s" }, 0 },
    { "skipped folder counts only its own entry",
      "data",
      { "data/sub" },
      { "data", "data/a", "data/c", "data/sub" },
      0 },
    { "a skipped file is counted as usual",
      "data",
      { "data/c" },
      { "data", "data/a", "data/c", "data/sub", "data/sub/d" },
      0 },
    { "skipping the start itself counts its own entry", "data", { "data" }, { "data" }, 0 },
    { "missing path is one unreadable entry", "missing", {}, {}, 1 },
    { "a start with a trailing slash names its entries with one",
      "data/",
      { "data/sub" },
      { "data", "data/a", "data/c", "data/sub" },
      0 },
    { "a skip entry with a doubled slash matches nothing",
      "data/",
      { "data//sub" },
      { "data", "data/a", "data/c", "data/sub", "data/sub/d" },
      0 },
    { "a start with a trailing slash is skipped as spelled", "data/", { "data/" }, { "data" }, 0 },
};

class Measure : public ::testing::TestWithParam<MeasureCase> {};

TEST_P(Measure, CountsAllocatedBlocks)
{
    const auto& c = GetParam();
    Tree tree;
    std::set<std::string> skipping;
    for (const auto& relative : c.skipping)
        skipping.insert(tree.at(relative));
    Usage usage = diskUsage(tree.at(c.path), skipping);
    EXPECT_EQ(usage.bytes, tree.sum(c.counted));
    EXPECT_EQ(usage.unreadable, c.unreadable);
}

INSTANTIATE_TEST_SUITE_P(DiskUsage, Measure, ::testing::ValuesIn(measureCases), Testing::CaseNamed {});

TEST(DiskUsage, SparseFileReallyIsSmallAndAnEmptyPathIsNothing)
{
    // Guards the sparse case above against a file system that allocates the whole length.
    Tree tree;
    EXPECT_LT(own(tree.at("sparse/s")), 8 << 20);
    EXPECT_GT(own(tree.at("data/a")), 0);
    EXPECT_EQ(diskUsage(""), (Usage { 0, 0 }));
}

// What goes with an item: a file with a name in each of two folders goes with neither alone.
TEST(DiskUsage, HardLinkSharedByTwoMeasurementsCountsInNeither)
{
    TempDir dir;
    writeFile(dir.path() + "/p/f", std::string(20'000, 'f'));
    makeFolders(dir.path() + "/q");
    ASSERT_EQ(::link((dir.path() + "/p/f").c_str(), (dir.path() + "/q/f").c_str()), 0);
    const std::int64_t file = own(dir.path() + "/p/f");

    auto usages = diskUsageOf({ dir.path() + "/p", dir.path() + "/q" });
    EXPECT_EQ(usages[dir.path() + "/p"].bytes, own(dir.path() + "/p"));
    EXPECT_EQ(usages[dir.path() + "/q"].bytes, own(dir.path() + "/q"));
    EXPECT_EQ(diskUsage(dir.path()).bytes, own(dir.path()) + own(dir.path() + "/p") + own(dir.path() + "/q") + file);
}

// data/sub holds d (5 KB) and e/ f (1 KB); sub's mode decides what the walk may do with it.
struct PermissionCase {
    const char* name;
    mode_t mode;
    std::vector<std::string> counted;
    std::int64_t unreadable;
};

const PermissionCase permissionCases[] = {
    { "listed but nothing inside examined: each entry unreadable",
      0444,
      { "data", "data/a", "data/c", "data/sub" },
      2 },
    { "entered but not listed: the folder is unreadable", 0111, { "data", "data/a", "data/c" }, 1 },
    { "neither: the folder is unreadable, nothing else", 0, { "data", "data/a", "data/c" }, 1 },
};

class Permission : public ::testing::TestWithParam<PermissionCase> {};

TEST_P(Permission, CountsWhatCanBeExamined)
{
    const auto& c = GetParam();
    PermissionsApply permissions;
    if (!permissions.applies())
        GTEST_SKIP() << "permissions do not stop root";
    Tree tree;
    writeFile(tree.at("data/sub/e/f"), std::string(1'000, 'f'));
    ASSERT_EQ(::chmod(tree.at("data/sub").c_str(), c.mode), 0);
    Usage usage = diskUsage(tree.at("data"));
    ::chmod(tree.at("data/sub").c_str(), 0755);
    EXPECT_EQ(usage, (Usage { tree.sum(c.counted), c.unreadable }));
}

INSTANTIATE_TEST_SUITE_P(DiskUsage, Permission, ::testing::ValuesIn(permissionCases), Testing::CaseNamed {});

TEST(DiskUsage, FolderListedInManyReadsKeepsEveryEntry)
{
    // More entries than one read of a listing returns, with subfolders spread among them.
    TempDir dir;
    const std::string folder = dir.path() + "/many";
    std::int64_t expected = 0;
    std::vector<std::string> paths = { folder };
    for (int i = 0; i < 3'000; ++i) {
        std::string name = folder + "/entry-with-a-rather-long-name-" + std::to_string(i);
        if (i % 97 == 0) {
            writeFile(name + "/inner", "x");
            paths.push_back(name + "/inner");
        } else {
            writeFile(name, "x");
        }
        paths.push_back(name);
    }
    for (const auto& path : paths)
        expected += own(path);
    EXPECT_EQ(diskUsage(folder), (Usage { expected, 0 }));
}

TEST(DiskUsage, RelativeStartAndSkipAreTakenFromTheWorkingFolder)
{
    Tree tree;
    const std::string before = std::filesystem::current_path();
    ASSERT_EQ(::chdir(tree.at("").c_str()), 0);
    Usage usage = diskUsage("data", { "data/sub" });
    ASSERT_EQ(::chdir(before.c_str()), 0);
    EXPECT_EQ(usage, (Usage { tree.sum({ "data", "data/a", "data/c", "data/sub" }), 0 }));
}

TEST(DiskUsage, AnotherVolumeCountsOnlyItsOwnEntry)
{
    // Needs a folder that is the top of another volume; /dev/shm usually is one.
    struct stat dev {
    }, shm {};
    if (::stat("/dev", &dev) != 0 || ::stat("/dev/shm", &shm) != 0 || dev.st_dev == shm.st_dev
        || ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no writable volume mounted inside /dev";
    const std::string file = "/dev/shm/quandril-disk-usage-" + std::to_string(::getpid());
    writeFile(file, std::string(1 << 20, 'v'));
    Usage passedOver = diskUsage("/dev");
    Usage skipped = diskUsage("/dev", { "/dev/shm" });
    ::unlink(file.c_str());
    EXPECT_EQ(passedOver, skipped);
}

// A chain of `levels` folders, each holding a file "f" and a folder "s" with a file. The chain's
// names vary, so the order of listing puts "s" after the way down in some folders and before it in
// others, whatever the file system's order. Folders past the longest path the system takes must
// still be measured.
class DeepTree {
public:
    explicit DeepTree(int levels)
        : levels_(levels)
        , top_(openFolder(AT_FDCWD, dir_.path().c_str()))
    {
        int fd = ::dup(top_);
        for (int level = 0; level < levels_; ++level) {
            make(fd, "f", 1'000 + level);
            if (::mkdirat(fd, "s", 0755) != 0)
                throw std::runtime_error("mkdir s");
            int inner = openFolder(fd, "s");
            make(inner, "f", 7'000);
            ::close(inner);
            if (level == levels_ - 1 && ::linkat(top_, "f", fd, "second-name", 0) != 0)
                throw std::runtime_error("link");
            if (::mkdirat(fd, down(level).c_str(), 0755) != 0)
                throw std::runtime_error("mkdir " + down(level));
            int next = openFolder(fd, down(level).c_str());
            ::close(fd);
            fd = next;
        }
        ::close(fd);
    }

    ~DeepTree()
    {
        // Lifted up one by one, so the temporary folder can be removed by path.
        int fd = ::openat(top_, down(0).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int level = 1; fd >= 0 && level < levels_; ++level) {
            std::string name = "lifted-" + std::to_string(level);
            int next = ::renameat(fd, down(level).c_str(), top_, name.c_str()) == 0
                ? ::openat(top_, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                : -1;
            ::close(fd);
            fd = next;
        }
        if (fd >= 0)
            ::close(fd);
        ::close(top_);
    }

    const std::string& path() const { return dir_.path(); }

    // What each entry occupies, read level by level through descriptors.
    Usage expected() const
    {
        std::int64_t bytes = ownAt(AT_FDCWD, dir_.path().c_str());
        int fd = openFolder(AT_FDCWD, dir_.path().c_str());
        for (int level = 0; level < levels_; ++level) {
            for (const std::string& name : { std::string("f"), std::string("s"), std::string("s/f"), down(level) })
                bytes += ownAt(fd, name.c_str());
            int next = openFolder(fd, down(level).c_str());
            ::close(fd);
            fd = next;
        }
        ::close(fd);
        return { bytes, 0 };
    }

private:
    static std::string down(int level) { return "c" + std::to_string(level % 10); }

    static int openFolder(int at, const char* name)
    {
        int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            throw std::runtime_error(std::string("open ") + name);
        return fd;
    }

    static void make(int at, const char* name, std::size_t bytes)
    {
        int fd = ::openat(at, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const std::string content(bytes, 'x');
        bool written = fd >= 0 && ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
        if (fd >= 0)
            ::close(fd);
        if (!written)
            throw std::runtime_error(std::string("write ") + name);
    }

    static std::int64_t ownAt(int at, const char* name)
    {
        struct stat status {};
        if (::fstatat(at, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            throw std::runtime_error(std::string("lstat ") + name);
        return static_cast<std::int64_t>(status.st_blocks) * 512;
    }

    TempDir dir_;
    int levels_;
    int top_;
};

int openDescriptors()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

TEST(DiskUsage, DeepTreeIsMeasuredWithFewDescriptors)
{
    DeepTree tree(2'000);
    const Usage expected = tree.expected();
    const int before = openDescriptors();

    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(before) + 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const Usage usage = diskUsage(tree.path());
    const Usage starved = [&] {
        // Fewer descriptors than the walk keeps by choice: it must give up more of them, not entries.
        tight.rlim_cur = static_cast<rlim_t>(before) + 3;
        ::setrlimit(RLIMIT_NOFILE, &tight);
        return diskUsage(tree.path());
    }();
    ::setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_EQ(usage, expected);
    EXPECT_EQ(starved, expected);
    EXPECT_EQ(openDescriptors(), before);
}

TEST(DiskUsage, ManyPathsMatchOneByOneAndRepeatsGiveOneEntry)
{
    Tree tree;
    const std::vector<std::string> paths = { tree.at("data"),    tree.at("empty"),  tree.at("data"),
                                             tree.at("missing"), tree.at("sparse"), tree.at("empty") };
    auto usages = diskUsageOf(paths);
    ASSERT_EQ(usages.size(), 4u);
    for (const auto& path : paths)
        EXPECT_EQ(usages.at(path), diskUsage(path)) << path;
    EXPECT_TRUE(diskUsageOf({}).empty());

    std::set<std::string> skipping = { tree.at("data/sub") };
    EXPECT_EQ(diskUsageOf({ tree.at("data") }, skipping).at(tree.at("data")), diskUsage(tree.at("data"), skipping));
}

// home/
//   Desktop/ x/ f (9 KB)
//   Desktop2/ g (7 KB)
//   h (2 KB)
struct FenceCase {
    const char* name;
    std::string path;
    std::vector<std::string> counted;
};

const FenceCase fenceCases[] = {
    { "inside the root", "Desktop/x", {} },
    { "file inside the root", "Desktop/x/f", {} },
    { "the root itself", "Desktop", {} },
    { "above the root the root is entered no further", "", { "", "Desktop", "Desktop2", "Desktop2/g", "h" } },
    { "a sibling sharing the prefix is measured", "Desktop2", { "Desktop2", "Desktop2/g" } },
};

class Fence : public ::testing::TestWithParam<FenceCase> {};

TEST_P(Fence, NeverLooksInside)
{
    const auto& c = GetParam();
    TempDir home;
    writeFile(home.path() + "/Desktop/x/f", std::string(9'000, 'f'));
    writeFile(home.path() + "/Desktop2/g", std::string(7'000, 'g'));
    writeFile(home.path() + "/h", std::string(2'000, 'h'));
    auto at = [&](const std::string& relative) {
        return relative.empty() ? home.path() : home.path() + "/" + relative;
    };
    std::int64_t expected = 0;
    for (const auto& relative : c.counted)
        expected += own(at(relative));

    PrivacyFence::Registration registration(PrivacyFence::shared(), { home.path() + "/Desktop" });
    EXPECT_EQ(diskUsage(at(c.path)), (Usage { expected, 0 }));
    EXPECT_EQ(diskUsageOf({ at(c.path) }).at(at(c.path)), (Usage { expected, 0 }));
}

INSTANTIATE_TEST_SUITE_P(DiskUsage, Fence, ::testing::ValuesIn(fenceCases), Testing::CaseNamed {});

TEST(DiskUsage, FencedRootThatIsMissingIsNotReportedUnreadable)
{
    TempDir home;
    PrivacyFence::Registration registration(PrivacyFence::shared(), { home.path() + "/Desktop" });
    EXPECT_EQ(diskUsage(home.path() + "/Desktop"), (Usage { 0, 0 }));
    EXPECT_EQ(diskUsage(home.path() + "/Desktop/missing"), (Usage { 0, 0 }));
}

TEST(Usage, JsonKeepsKeyOrderAndRequiresBothKeys)
{
    EXPECT_EQ(Json::dump(toJson(Usage { 5, 2 })), R"({"bytes":5,"unreadable":2})");
    EXPECT_EQ(Json::decodeAs<Usage>(Json::parse(R"({"unreadable":1,"bytes":7})")), (Usage { 7, 1 }));
    EXPECT_THROW(Json::decodeAs<Usage>(Json::parse(R"({"bytes":7})")), Json::DecodeError);
    EXPECT_THROW(Json::decodeAs<Usage>(Json::parse(R"({"bytes":1.5,"unreadable":0})")), Json::DecodeError);
}

} // namespace
