// Data that other files share: what a cache gives back is what goes with it, not what it seems to
// hold. Hard links made by `cp -al`, copies made by reference on btrfs, and another process removing
// the same cache at the same time all leave the drive less than the cache's apparent size, and the
// scan, the answer and History say so. This executable moves into a mount namespace of its own
// before any test runs, so the btrfs it mounts is seen by no other process.

#include <cerrno>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Scanning/Scanner.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/MiniCatalog.h"
#include "Support/OwnMounts.h"
#include "Support/TrashClient.h"

using namespace Quandril;
using namespace Quandril::Testing;

namespace {

// Before main, while the process has one thread.
const bool ownMounts = enterOwnMounts();

const char* const deleted = "Deleted; it rebuilds itself.";

std::int64_t own(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_blocks) * 512 : -1;
}

// The folders' own allocation under `path`, the path itself included: all that goes with a tree
// whose files all have names elsewhere.
std::int64_t foldersOf(const std::string& path)
{
    std::int64_t sum = own(path);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
        if (entry.is_directory() && !entry.is_symlink())
            sum += own(entry.path());
    return sum;
}

Catalog cachesCatalog(const std::vector<std::pair<std::string, Action>>& places)
{
    Catalog catalog = miniCatalog();
    onlyPlacesSpeak(catalog);
    for (const auto& [display, action] : places) {
        auto cache = place(std::filesystem::path(display).filename().string(), display);
        cache.action = action;
        catalog.places.push_back(cache);
    }
    return catalog;
}

std::int64_t scanned(const ScanReport& report, const std::string& id)
{
    for (const auto& finding : report.findings)
        if (finding.id == id)
            return finding.bytes;
    return -1;
}

ScanOptions scanNow()
{
    return ScanOptions { .minimumBytes = 0, .now = Clock::now() };
}

CleanOptions deletingForGood()
{
    CleanOptions options = optionsWith(std::make_shared<LiveFileOps>());
    options.permanentCaches = true;
    return options;
}

std::string said(const CleanResult& result)
{
    return std::string(rawValue(result.status)) + ": " + result.detail;
}

// A cache of package versions hard-linked from a store outside it (`cp -al`, as pnpm and uv do), a
// cache whose second copy is hard-linked within itself, and a tree hard-linked from the store that
// goes to the Trash: the store's files go with none of them, so neither the scan, nor the deletion,
// nor History, nor the Trash's size counts them; a file whose names are all inside counts once.
TEST(SharedData, AHardLinkedFileCountsOnlyWithAllItsNames)
{
    FakeMachine machine;
    for (int v = 0; v < 4; ++v)
        machine.file("~/store/v" + std::to_string(v) + "/pkg.bin", 64'000);
    machine.file("~/Library/Caches/Own/v1/pkg.bin", 64'000);
    const std::string caches = machine.at("~/Library/Caches");
    ASSERT_TRUE(runTool({ "cp", "-al", machine.at("~/store"), caches + "/Linked" }));
    ASSERT_TRUE(runTool({ "cp", "-al", caches + "/Own/v1", caches + "/Own/v2" }));
    ASSERT_TRUE(runTool({ "cp", "-al", machine.at("~/store"), caches + "/Copy" }));
    const Catalog catalog = cachesCatalog({ { "~/Library/Caches/Linked", Action::delete_() },
                                            { "~/Library/Caches/Own", Action::delete_() },
                                            { "~/Library/Caches/Copy", Action::trash() } });
    const Mac mac = machine.mac();
    const std::int64_t linked = foldersOf(caches + "/Linked");
    const std::int64_t copy = foldersOf(caches + "/Copy");
    const std::int64_t ownTree = foldersOf(caches + "/Own") + own(caches + "/Own/v1/pkg.bin");

    const ScanReport report = Scanner::scan(mac, catalog, scanNow());
    CleanOptions options = deletingForGood();
    const auto results = Cleaner::clean({ "Linked", "Copy" }, mac, catalog, options);
    ASSERT_EQ(results.size(), 2u);
    const auto history = History::load(mac);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ((std::vector<std::string> {
                  std::to_string(scanned(report, "Linked")), std::to_string(scanned(report, "Own")),
                  std::to_string(scanned(report, "Copy")), said(results[0]), std::to_string(results[0].bytes),
                  std::to_string(history[0].bytes), std::to_string(mac.trashBytes()),
                  std::to_string(mac.usage(machine.at("~/store")).bytes) }),
              (std::vector<std::string> { std::to_string(linked), std::to_string(ownTree), std::to_string(copy),
                                          std::string("done: ") + deleted, std::to_string(linked),
                                          std::to_string(linked), std::to_string(copy),
                                          // Its files keep names in the Trash, so they aren't the store's alone either.
                                          std::to_string(foldersOf(machine.at("~/store"))) }));
}

// Copies made by reference on btrfs (`cp --reflink=always`) share their blocks with the original:
// removing either gives back nothing of them, so the scan counts none, and deleting the copy says
// so; once the copy is gone, the original's blocks are its own.
TEST(SharedData, ReflinkedCopiesOnBtrfsGiveBackTheirBlocksOnlyWhenAlone)
{
    NEEDS_OWN_MOUNTS();
    const std::string mkfs = ::access("/usr/sbin/mkfs.btrfs", X_OK) == 0 ? "/usr/sbin/mkfs.btrfs"
                                                                         : "/usr/bin/mkfs.btrfs";
    if (::access(mkfs.c_str(), X_OK) != 0)
        GTEST_SKIP() << "mkfs.btrfs (btrfs-progs) isn't installed";
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
    std::string content(1 << 20, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>((i * 2654435761u) >> 13);
    writeFile(caches + "/Original/big.bin", content);
    ASSERT_TRUE(runTool({ "cp", "-r", "--reflink=always", caches + "/Original", caches + "/Clone" }));
    const auto settle = [&] {
        const Platform::Descriptor drive(::open(caches.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ::syncfs(drive.get());
    };
    settle();
    const Catalog catalog = cachesCatalog(
        { { "~/Library/Caches/Original", Action::delete_() }, { "~/Library/Caches/Clone", Action::delete_() } });
    const Mac mac = machine.mac();
    const std::int64_t cloneFolders = foldersOf(caches + "/Clone");
    const std::int64_t originalFolders = foldersOf(caches + "/Original");
    const std::int64_t file = own(caches + "/Original/big.bin");
    ASSERT_GE(file, 1 << 20);

    const ScanReport report = Scanner::scan(mac, catalog, scanNow());
    CleanOptions options = deletingForGood();
    const auto results = Cleaner::clean({ "Clone" }, mac, catalog, options);
    ASSERT_EQ(results.size(), 1u);
    settle();
    EXPECT_EQ((std::vector<std::string> { std::to_string(scanned(report, "Original")),
                                          std::to_string(scanned(report, "Clone")), said(results[0]),
                                          std::to_string(results[0].bytes), std::to_string(History::load(mac)[0].bytes),
                                          std::to_string(mac.usage(caches + "/Original").bytes) }),
              (std::vector<std::string> { std::to_string(originalFolders), std::to_string(cloneFolders),
                                          std::string("done: ") + deleted, std::to_string(cloneFolders),
                                          std::to_string(cloneFolders), std::to_string(originalFolders + file) }));
}

// Two pipes between two removers: each, asked whether to stop, lets the other take a turn first,
// so their removals of one cache interleave. Once one is done, the other goes on alone.
struct Turns {
    int in = -1;
    int out = -1;
    bool alone = false;

    bool operator()()
    {
        char token = 1;
        if (!alone && (::write(out, &token, 1) != 1 || ::read(in, &token, 1) != 1))
            alone = true;
        return false;
    }
};

// Everything under `path` and the path itself, each entry's own allocation, measured on this thread
// alone (no worker threads may run before the removers are forked).
std::int64_t allOf(const std::string& path)
{
    std::int64_t sum = own(path);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
        sum += own(entry.path());
    return sum;
}

// Two processes delete one cache at once, taking turns; run in a process of its own with no other
// thread, so the forked removers inherit no lock held by a thread they lack.
bool removalsAtOnceCountWhatTheyRemoved()
{
    FakeMachine machine;
    for (int d = 0; d < 40; ++d)
        for (int f = 0; f < 100; ++f)
            machine.file("~/Library/Caches/Big/d" + std::to_string(d) + "/f" + std::to_string(f) + ".bin", 100);
    const Catalog catalog = cachesCatalog({ { "~/Library/Caches/Big", Action::delete_() } });
    const Mac mac = machine.mac();
    const std::int64_t before = allOf(machine.at("~/Library/Caches/Big"));

    int toSecond[2];
    int toFirst[2];
    int answers[2];
    if (::pipe(toSecond) != 0 || ::pipe(toFirst) != 0 || ::pipe(answers) != 0)
        return false;
    pid_t children[2];
    for (int k = 0; k < 2; ++k) {
        children[k] = ::fork();
        if (children[k] < 0)
            return false;
        if (children[k] != 0)
            continue;
        Turns turns { k == 0 ? toFirst[0] : toSecond[0], k == 0 ? toSecond[1] : toFirst[1] };
        for (int fd : { toSecond[0], toSecond[1], toFirst[0], toFirst[1], answers[0] })
            if (fd != turns.in && fd != turns.out)
                ::close(fd);
        CleanOptions options = deletingForGood();
        options.stop = [turns]() mutable { return turns(); };
        const auto results = Cleaner::clean({ "Big" }, mac, catalog, options);
        ::close(turns.out);
        const std::string line = results.size() == 1 ? said(results[0]) + "\t" + std::to_string(results[0].bytes) + "\n"
                                                     : "no result\t0\n";
        const bool written = ::write(answers[1], line.data(), line.size()) == static_cast<ssize_t>(line.size());
        std::_Exit(written ? 0 : 1);
    }
    for (int fd : { toSecond[0], toSecond[1], toFirst[0], toFirst[1], answers[1] })
        ::close(fd);
    std::string answered;
    char buffer[256];
    for (ssize_t got; (got = ::read(answers[0], buffer, sizeof buffer)) > 0;)
        answered.append(buffer, static_cast<std::size_t>(got));
    ::close(answers[0]);
    bool exited = true;
    for (pid_t child : children) {
        int status = 0;
        exited = ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0 && exited;
    }

    std::vector<std::string> details;
    std::vector<std::int64_t> bytes;
    for (std::size_t at = 0; at < answered.size();) {
        const std::size_t tab = answered.find('\t', at);
        const std::size_t end = answered.find('\n', at);
        if (tab == std::string::npos || end == std::string::npos)
            return false;
        details.push_back(answered.substr(at, tab - at));
        bytes.push_back(std::stoll(answered.substr(tab + 1, end - tab - 1)));
        at = end + 1;
    }
    if (!exited || bytes.size() != 2) {
        std::cerr << "answers: " << answered << "\n";
        return false;
    }
    std::int64_t noted = 0;
    for (const auto& entry : History::load(mac))
        noted += entry.bytes;
    const std::vector<std::string> seen { details[0],
                                          details[1],
                                          std::to_string(bytes[0] + bytes[1]),
                                          std::to_string(noted),
                                          bytes[0] > 0 && bytes[1] > 0 ? "both" : "one",
                                          exists(machine.at("~/Library/Caches/Big")) ? "there" : "gone" };
    const std::vector<std::string> expected { std::string("done: ") + deleted,
                                              std::string("done: ") + deleted,
                                              std::to_string(before),
                                              std::to_string(before),
                                              "both",
                                              "gone" };
    for (std::size_t i = 0; i < seen.size(); ++i)
        if (seen[i] != expected[i])
            std::cerr << "item " << i << ": " << seen[i] << ", expected " << expected[i] << "\n";
    return seen == expected;
}

// Each answers and notes in History what its own removal took away, so the two together say what
// the drive got back, once.
TEST(SharedData, TwoRemovalsAtOnceEachCountWhatTheyRemoved)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(removalsAtOnceCountWhatTheyRemoved() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

} // namespace
