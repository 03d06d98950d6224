// A folder above an item swapped for a link to a place outside the fake machine, right before a
// file operation or over and over while operations run, never leads a change outside: the
// operation fails, or acts on the item inside, and what lies outside stays exactly as it was.

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Platform/AtPath.h"
#include "Support/CaseName.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"
#include "Support/MiniCatalog.h"
#include "Support/TreeSnapshot.h"

using namespace Quandril;
using namespace Quandril::Testing;
using Status = CleanResult::Status;

namespace {

// A fake machine whose ~/Library/Caches has a twin outside it, with the same names and other bytes.
struct Scene {
    FakeMachine machine;
    TempDir outside;
    Mac mac;
    std::string caches;

    Scene()
        : mac(populate(machine, outside))
        , caches(machine.at("~/Library/Caches"))
    {
    }

    static Mac populate(FakeMachine& m, const TempDir& outside)
    {
        m.drive("Backup", "/Volumes/Backup", 2'000'000'000, 1'000'000'000).folder("/Volumes/Backup");
        m.text("~/Library/Caches/a/1.bin", "inside").text("~/Library/Caches/a/sub/2.bin", "inside too");
        m.link("~/Library/Caches/link", "x").folder("~/Library/Caches/empty");
        m.text("~/Documents/note.txt", "note").folder("~/Copies").folder("~/.Trash");
        for (const auto* name : { "/Caches/a/1.bin", "/Caches/a/sub/2.bin" })
            writeFile(outside.path() + name, "outside");
        makeFolders(outside.path() + "/Caches/empty");
        ::symlink("y", (outside.path() + "/Caches/link").c_str());
        return m.mac();
    }

    std::string at(std::string_view display) const { return machine.at(display); }

    // ~/Library/Caches becomes a link to the twin; the real folder waits next to it.
    void swap() const
    {
        ASSERT_EQ(::rename(caches.c_str(), (caches + ".away").c_str()), 0);
        ASSERT_EQ(::symlink((outside.path() + "/Caches").c_str(), caches.c_str()), 0);
    }

    void unswap() const
    {
        ASSERT_EQ(::unlink(caches.c_str()), 0);
        ASSERT_EQ(::rename((caches + ".away").c_str(), caches.c_str()), 0);
    }
};

struct OperationCase {
    const char* name;
    std::function<void(FileOps&, const Scene&)> run;
};

class SwappedParent : public ::testing::TestWithParam<OperationCase> {};

TEST_P(SwappedParent, FailsAndTouchesNothing)
{
    const auto& row = GetParam();
    Scene scene;
    const auto machineBefore = TreeSnapshot::take(scene.machine.root());
    const auto outsideBefore = TreeSnapshot::take(scene.outside.path());
    FaultyFileOps files;
    files.before([&](const FileOpCall&, int) { scene.swap(); });

    try {
        row.run(files, scene);
        ADD_FAILURE() << "the operation went through the link";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::too_many_symbolic_link_levels) << error.what();
    }
    EXPECT_EQ(files.calls().size(), 1u);
    EXPECT_EQ(outsideBefore.differences(), std::vector<std::string> {});
    scene.unswap();
    EXPECT_EQ(machineBefore.differences(), std::vector<std::string> {});
}

INSTANTIATE_TEST_SUITE_P(
    FileOps, SwappedParent,
    ::testing::Values(
        OperationCase { "remove", [](FileOps& f, const Scene& s) { f.remove(s.at("~/Library/Caches/a")); } },
        OperationCase { "trash", [](FileOps& f, const Scene& s) { f.trash(s.mac, s.at("~/Library/Caches/a")); } },
        OperationCase {
            "move from",
            [](FileOps& f, const Scene& s) { f.moveNoReplace(s.at("~/Library/Caches/a"), s.at("~/Copies/a")); } },
        OperationCase { "move into",
                        [](FileOps& f, const Scene& s) {
                            f.moveNoReplace(s.at("~/Documents/note.txt"), s.at("~/Library/Caches/note.txt"));
                        } },
        OperationCase { "move to a drive",
                        [](FileOps& f, const Scene& s) {
                            f.moveNoReplace(s.at("~/Library/Caches/a"), s.at("/Volumes/Backup/a"));
                        } },
        OperationCase { "copy from",
                        [](FileOps& f, const Scene& s) { f.copy(s.at("~/Library/Caches/a"), s.at("~/Copies/a")); } },
        OperationCase {
            "copy into",
            [](FileOps& f, const Scene& s) { f.copy(s.at("~/Documents/note.txt"), s.at("~/Library/Caches/n")); } },
        OperationCase { "make a link",
                        [](FileOps& f, const Scene& s) { f.createLink(s.at("~/Library/Caches/new"), "z"); } },
        OperationCase { "remove a link",
                        [](FileOps& f, const Scene& s) { f.removeLink(s.at("~/Library/Caches/link")); } },
        OperationCase { "make a folder",
                        [](FileOps& f, const Scene& s) { f.createFolder(s.at("~/Library/Caches/new/deeper")); } },
        OperationCase { "remove a folder",
                        [](FileOps& f, const Scene& s) { f.removeFolder(s.at("~/Library/Caches/empty")); } }),
    CaseNamed {});

// The clean-up reports the failure in a sentence and records nothing as moved.
TEST(SwappedParent, ACleanUpFailsAndSaysSo)
{
    const struct {
        const char* name;
        Tier tier;
        Action action;
        bool permanent;
        FileOp swapBefore;
        std::string detail;
    } rows[] = {
        { "delete for good", Tier::rebuilds, Action::delete_(), true, FileOp::remove,
          "Couldn't delete ~/Library/Caches/a: " },
        { "trash", Tier::rebuilds, Action::trash(), false, FileOp::trash,
          "Couldn't move ~/Library/Caches/a to the Trash: " },
        { "move to a drive", Tier::personal, Action(Action::Kind::move), false, FileOp::copy, "Couldn't copy: " },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Scene scene;
        const auto outsideBefore = TreeSnapshot::take(scene.outside.path());
        auto files = std::make_shared<FaultyFileOps>();
        files->before([&](const FileOpCall& call, int) {
            if (call.op == row.swapBefore)
                scene.swap();
        });
        CleanOptions options = optionsWith(files);
        options.permanentCaches = row.permanent;
        options.moveTo = "Backup";
        const Finding finding = makeFinding("a", row.tier, row.action, { scene.at("~/Library/Caches/a") });
        const auto result = Cleaner::act(finding, reportOf(scene.mac), scene.mac,
                                         PathGuard(guardedCatalog(), scene.mac), options);
        EXPECT_EQ(result.status, Status::failed);
        EXPECT_EQ(result.detail.rfind(row.detail, 0), 0u) << result.detail;
        EXPECT_TRUE(result.relocated.empty());
        EXPECT_EQ(outsideBefore.differences(), std::vector<std::string> {});
        scene.unswap();
        EXPECT_EQ(readFile(scene.at("~/Library/Caches/a/1.bin")), "inside");
    }
}

// ---- A thread swapping the folder for a link all the while ----

// Exchanges two names atomically, over and over, until it goes.
class Exchanger {
public:
    Exchanger(std::string a, std::string b)
        : thread_([this, a = std::move(a), b = std::move(b)] {
            while (!stop_.load(std::memory_order_relaxed))
                ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
        })
    {
    }
    ~Exchanger()
    {
        stop_ = true;
        thread_.join();
    }
    Exchanger(const Exchanger&) = delete;
    Exchanger& operator=(const Exchanger&) = delete;

private:
    std::atomic<bool> stop_ { false };
    std::thread thread_;
};

TEST(LinkRace, NothingOutsideIsEverTouched)
{
    constexpr int rounds = 150;
    Scene scene;
    const auto outsideBefore = TreeSnapshot::take(scene.outside.path());
    // The real folder, whatever name it has at the moment.
    const Platform::Descriptor real(::open(scene.caches.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(real);
    const std::string twin = scene.caches + "-twin";
    ASSERT_EQ(::symlink((scene.outside.path() + "/Caches").c_str(), twin.c_str()), 0);
    const auto refill = [&] {
        ::mkdirat(real.get(), "a", 0755);
        const Platform::Descriptor file(
            ::openat(real.get(), "a/1.bin", O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
        ASSERT_TRUE(file);
        ASSERT_EQ(::write(file.get(), "inside", 6), 6);
    };
    const std::vector<std::function<std::string(int)>> operations {
        [&](int) {
            FileOps::live().remove(scene.at("~/Library/Caches/a"));
            return std::string();
        },
        [&](int) { return FileOps::live().trash(scene.mac, scene.at("~/Library/Caches/a")); },
        [&](int round) {
            const std::string to = scene.at("~/Copies/moved " + std::to_string(round));
            FileOps::live().moveNoReplace(scene.at("~/Library/Caches/a"), to);
            return to;
        },
        [&](int round) {
            const std::string to = scene.at("~/Copies/copied " + std::to_string(round));
            FileOps::live().copy(scene.at("~/Library/Caches/a"), to);
            return to;
        },
    };

    int done = 0;
    {
        const Exchanger exchanger(scene.caches, twin);
        for (int round = 0; round < rounds; ++round) {
            for (const auto& operation : operations) {
                refill();
                try {
                    const std::string arrived = operation(round);
                    ++done;
                    if (!arrived.empty()) {
                        EXPECT_EQ(readFile(arrived + "/1.bin"), "inside") << "round " << round;
                    }
                } catch (const std::system_error&) {
                }
            }
        }
    }
    EXPECT_EQ(outsideBefore.differences(), std::vector<std::string> {});
    RecordProperty("operationsDone", done);
}

// Put Back through an old place whose folder is swapped for a link all the while.
TEST(LinkRace, PutBackNeverLandsOutside)
{
    constexpr int rounds = 60;
    Scene scene;
    writeFile(scene.outside.path() + "/Documents/keep.txt", "outside");
    const auto outsideBefore = TreeSnapshot::take(scene.outside.path());
    const std::string documents = scene.at("~/Documents"), twin = documents + "-twin";
    ASSERT_EQ(::symlink((scene.outside.path() + "/Documents").c_str(), twin.c_str()), 0);
    for (int round = 0; round < rounds; ++round) {
        const std::string id = "round " + std::to_string(round);
        const std::string note = documents + "/" + id + ".txt";
        writeFile(note, id);
        HistoryEntry entry { Clock::now(),
                             id,
                             id,
                             Action::Kind::trash,
                             1,
                             { { note, FileOps::live().trash(scene.mac, note), {}, {} } },
                             {} };
        ASSERT_TRUE(History::append(entry, scene.mac));
        CleanResult result;
        {
            const Exchanger exchanger(documents, twin);
            result = Cleaner::undo(id, scene.mac, false);
        }
        if (isSymlink(documents)) {
            ASSERT_EQ(::renameat2(AT_FDCWD, documents.c_str(), AT_FDCWD, twin.c_str(), RENAME_EXCHANGE), 0);
        }
        if (result.status == Status::done) {
            EXPECT_EQ(readFile(note), id);
        } else {
            EXPECT_EQ(result.status, Status::refused) << result.detail;
        }
    }
    EXPECT_EQ(outsideBefore.differences(), std::vector<std::string> {});
}

// ---- Trees deeper than a path can name ----

TEST(DeepTrees, GoWithFewDescriptors)
{
    TempDir dir;
    // Past PATH_MAX, and past the descriptors allowed below.
    constexpr int depth = 100;
    const std::string name(60, 'd');
    {
        Platform::Descriptor at(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ASSERT_EQ(::mkdirat(at.get(), "deep", 0755), 0);
        at = Platform::Descriptor(::openat(at.get(), "deep", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        for (int level = 0; level < depth; ++level) {
            ASSERT_EQ(::mkdirat(at.get(), name.c_str(), 0755), 0);
            ASSERT_EQ(::symlinkat("..", at.get(), "up"), 0);
            const Platform::Descriptor file(::openat(at.get(), "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
            at = Platform::Descriptor(::openat(at.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            ASSERT_TRUE(at);
        }
    }
    struct rlimit saved {};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    struct rlimit tight = saved;
    tight.rlim_cur = 64;
    ::setrlimit(RLIMIT_NOFILE, &tight);
    std::string failure;
    try {
        FileOps::live().copy(dir.path() + "/deep", dir.path() + "/copied");
        FileOps::live().remove(dir.path() + "/deep");
        FileOps::live().remove(dir.path() + "/copied");
    } catch (const std::system_error& error) {
        failure = error.what();
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(failure, "");
    EXPECT_EQ(listNames(dir.path()), std::vector<std::string> {});
}

} // namespace
