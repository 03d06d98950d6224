// Moving 1 GB in 2,000 files to a drive (a file system of its own, Support/Peers.h) beside what a
// careful user types for the same: `cp -a`, `sync`, `diff -rq`, then `gio trash` of the original;
// and Put Back of a trashed folder of 2,000 files beside `trash-restore`. Warm: the files are in
// memory when each round begins, and each round's syncs write the copy out to the drive.
//
// The home with the original lies in a folder of $QUANDRIL_BENCH_DATA, else the build's
// bench-data folder; the drive is an ext4 image there, mounted on a loop device.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Platform/Move.h"
#include "QuandrilCore/Platform/Trash.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/LiveHome.h"
#include "Support/Peers.h"

namespace {

using namespace Quandril;
using namespace Quandril::Testing;
namespace fs = std::filesystem;

constexpr int fileCount = 2'000;
constexpr std::size_t fileBytes = 500'000; // 1 GB in all

void fill(const std::string& folder, std::size_t bytes)
{
    std::string content(bytes, '\0');
    for (int i = 0; i < fileCount; ++i) {
        for (std::size_t at = 0; at < content.size(); at += 4096)
            content[at] = static_cast<char>(i);
        writeFile(folder + "/" + std::to_string(i % 20) + "/f" + std::to_string(i), content);
    }
}

// The home of the moves, with the original in it, and the drive it moves to.
struct MoveScene {
    Bench::Volume drive { "move-drive", 3ull << 30, 20'000, 4096 };
    std::string home = Bench::dataFolder() + "/move-home";
    std::string original = home + "/Movies/Trip";
    ScopedEnv homeVariable { "HOME", home };
    ScopedEnv dataHome { "XDG_DATA_HOME", "" };
    Mac mac { "", home, std::nullopt };

    MoveScene()
    {
        if (!fs::exists(original))
            fill(original, fileBytes);
        fs::remove_all(top() + "/Moved from Mac");
        fs::remove_all(top() + "/peer");
    }

    std::string top() const { return fs::path(drive.path()).parent_path().string(); }

    ScanReport report() const
    {
        ScanReport out = reportOf(mac);
        out.drives = { DriveInfo { .name = "Drive",
                                   .path = top(),
                                   .totalBytes = 3ll << 30,
                                   .freeBytes = 2ll << 30,
                                   .strictFreeBytes = 2ll << 30 } };
        return out;
    }

    // The original back in its place from the home Trash, the copy gone from the drive.
    void undo(const std::string& trashed, const std::string& copy) const
    {
        fs::rename(trashed, original);
        fs::remove(Platform::homeTrashFolder(home) + "/info/" + fs::path(trashed).filename().string() + ".trashinfo");
        fs::remove_all(copy);
    }
};

MoveScene& moveScene()
{
    static MoveScene scene;
    return scene;
}

void BM_MoveToDrive_Gorrin(benchmark::State& state)
{
    MoveScene& scene = moveScene();
    const Finding finding = makeFinding("trip", Tier::personal, Action(Action::Kind::move), { scene.original },
                                        std::int64_t(fileCount) * std::int64_t(fileBytes));
    CleanOptions options;
    options.moveTo = "Drive";
    for (auto _ : state) {
        const ScanReport report = scene.report();
        const auto start = std::chrono::steady_clock::now();
        const auto result = Cleaner::act(finding, report, scene.mac, PathGuard(guardedCatalog(), scene.mac), options);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (result.status != CleanResult::Status::done || result.relocated.size() != 2) {
            state.SkipWithError(result.detail.c_str());
            return;
        }
        scene.undo(result.relocated[1].to, scene.top() + "/Moved from Mac");
    }
}

void BM_MoveToDrive_CpSyncDiffGio(benchmark::State& state)
{
    MoveScene& scene = moveScene();
    const std::string copy = scene.top() + "/peer";
    const std::string line = "cp -a \"$1\" \"$2\" && sync && diff -rq \"$1\" \"$2\" && gio trash \"$1\"";
    for (auto _ : state) {
        const auto done = Bench::run({ "sh", "-c", line, "sh", scene.original, copy });
        if (!done) {
            state.SkipWithError("cp, sync, diff or gio could not be run");
            return;
        }
        state.SetIterationTime(done->seconds);
        scene.undo(Platform::homeTrashFiles(scene.home) + "/Trip", copy);
    }
}

// A trashed folder of 2,000 small files, and History's line for it.
struct PutBackScene {
    LiveHome live;
    std::string folder = live.at("Documents/Letters");

    PutBackScene() { fill(folder, 1000); }
};

void BM_PutBack_Gorrin(benchmark::State& state)
{
    PutBackScene scene;
    for (auto _ : state) {
        scene.live.trashed("letters", scene.folder, {}, true);
        const auto start = std::chrono::steady_clock::now();
        const auto result = Cleaner::undo("letters", scene.live.mac, false);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (result.status != CleanResult::Status::done) {
            state.SkipWithError(result.detail.c_str());
            return;
        }
    }
}

void BM_PutBack_TrashRestore(benchmark::State& state)
{
    PutBackScene scene;
    const std::string line = "cd \"$1\" && echo 0 | trash-restore \"$2\" && test -d \"$2\"";
    for (auto _ : state) {
        if (!Bench::run({ "trash-put", scene.folder })) {
            state.SkipWithError("trash-put could not be run");
            return;
        }
        const auto done = Bench::run({ "sh", "-c", line, "sh", fs::path(scene.folder).parent_path(), scene.folder });
        if (!done) {
            state.SkipWithError("trash-restore could not be run");
            return;
        }
        state.SetIterationTime(done->seconds);
    }
}

BENCHMARK(BM_MoveToDrive_Gorrin)->Apply(Bench::timedByHand<3>);
BENCHMARK(BM_MoveToDrive_CpSyncDiffGio)->Apply(Bench::timedByHand<3>);
BENCHMARK(BM_PutBack_Gorrin)->Apply(Bench::timedByHand<3>);
BENCHMARK(BM_PutBack_TrashRestore)->Apply(Bench::timedByHand<3>);

} // namespace

int main(int argc, char** argv)
{
    Bench::ratio("1 GB to a drive: move / cp+sync+diff+gio trash", "BM_MoveToDrive_Gorrin",
                 "BM_MoveToDrive_CpSyncDiffGio", 0.8);
    Bench::ratio("2,000 files: Put Back / trash-restore", "BM_PutBack_Gorrin", "BM_PutBack_TrashRestore", 0.5);
    return Bench::main(argc, argv);
}
