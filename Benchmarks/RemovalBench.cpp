// Moving a cache folder of 200,000 files to the Trash, and deleting it for good, through a whole
// clean-up (its fresh scan included), beside what a user types to do the same knowing its size:
// `du -s` and then `gio trash`, or `du -s` and then `rm -rf`. Every round works on a tree of its
// own, built before the clock starts; the ratio of each round's pair is printed at the end.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Machine/FileOps.h"
#include "Support/BenchFiles.h"
#include "Support/FakeMachine.h"
#include "Support/MiniCatalog.h"
#include "Support/Peers.h"

namespace {

using namespace Quandril;

constexpr int folders = 2'000;
constexpr int filesPerFolder = 100;
// The tree is written, and taken away after the round, by this many threads, one part each.
constexpr int parts = 4;
const char* const cacheID = "big-cache";

// Runs `body` on each part at once.
template <typename Body>
void inParts(Body body)
{
    std::vector<std::thread> threads;
    for (int part = 0; part < parts; ++part)
        threads.emplace_back(body, part);
    for (auto& thread : threads)
        thread.join();
}

// A fake machine whose only finding is the cache folder, acted on as `action` says.
struct Scene {
    Testing::FakeMachine machine;
    std::optional<Mac> mac;
    Catalog catalog = Testing::miniCatalog();
    std::string cache;

    explicit Scene(Action action)
    {
        cache = machine.at("~/Library/Caches/Big");
        inParts([&](int part) {
            Testing::fillFolders(cache + "/part" + std::to_string(part), folders / parts, filesPerFolder, part);
        });
        Testing::onlyPlacesSpeak(catalog);
        auto place = Testing::place(cacheID, "~/Library/Caches/Big");
        place.action = std::move(action);
        catalog.places = { place };
        Testing::makeFolders(machine.at("~/.local/share"));
        mac.emplace(machine.mac());
    }

    // Wherever the round put the cache, its parts go at once before the fake machine goes.
    ~Scene()
    {
        for (const char* place : { "~/Library/Caches/Big", "~/.Trash/Big", "~/.local/share/Trash/files/Big" }) {
            const std::string tree = machine.at(place);
            inParts([&](int part) {
                std::error_code ignored;
                std::filesystem::remove_all(tree + "/part" + std::to_string(part), ignored);
            });
        }
    }
};

// Each round's time, by benchmark, for the ratios of the rounds' pairs.
std::map<std::string, std::vector<double>>& rounds()
{
    static std::map<std::string, std::vector<double>> times;
    return times;
}

template <typename Body>
void round(benchmark::State& state, const char* name, Body body)
{
    const auto start = std::chrono::steady_clock::now();
    const bool ok = body();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ok) {
        state.SkipWithError("the round didn't do what it times");
        return;
    }
    state.SetIterationTime(seconds);
    rounds()[name].push_back(seconds);
}

bool runs(const std::vector<std::string>& argv)
{
    return Bench::run(argv).has_value();
}

void BM_DuAndGioTrash(benchmark::State& state)
{
    for (auto _ : state) {
        Scene scene(Action::trash());
        // gio puts it in the Trash of the fake home, on the same drive as the cache.
        ::setenv("XDG_DATA_HOME", scene.machine.at("~/.local/share").c_str(), 1);
        round(state, "BM_DuAndGioTrash", [&] {
            return runs({ "du", "-s", scene.cache }) && runs({ "gio", "trash", scene.cache });
        });
        ::unsetenv("XDG_DATA_HOME");
    }
}

void clean(benchmark::State& state, const char* name, Action action, bool permanent, const char* said)
{
    for (auto _ : state) {
        Scene scene(std::move(action));
        CleanOptions options;
        options.dryRun = false;
        options.includeCautioned = true;
        options.permanentCaches = permanent;
        options.linkMove = false;
        options.scan.now = Clock::now();
        round(state, name, [&] {
            const auto results = Cleaner::clean({ cacheID }, *scene.mac, scene.catalog, options);
            return results.size() == 1 && results[0].detail == said;
        });
    }
}

void BM_Trash(benchmark::State& state)
{
    clean(state, "BM_Trash", Action::trash(), false,
          "Moved to the Trash; the space comes back when the Trash is emptied.");
}

void BM_DuAndRmRf(benchmark::State& state)
{
    for (auto _ : state) {
        Scene scene(Action::delete_());
        round(state, "BM_DuAndRmRf", [&] {
            return runs({ "du", "-s", scene.cache }) && runs({ "rm", "-rf", scene.cache });
        });
    }
}

void BM_Delete(benchmark::State& state)
{
    clean(state, "BM_Delete", Action::delete_(), true, "Deleted; it rebuilds itself.");
}

// "label: r1 r2 r3, median m (goal <= g)" from the rounds of two benchmarks, taken in pairs.
void printRounds(const char* label, const char* numerator, const char* denominator, double goal)
{
    const auto& top = rounds()[numerator];
    const auto& bottom = rounds()[denominator];
    std::vector<double> ratios;
    for (std::size_t i = 0; i < std::min(top.size(), bottom.size()); ++i)
        if (bottom[i] > 0)
            ratios.push_back(top[i] / bottom[i]);
    if (ratios.empty())
        return;
    std::printf("%s, per round:", label);
    for (double r : ratios)
        std::printf(" %.3f", r);
    std::sort(ratios.begin(), ratios.end());
    const std::size_t n = ratios.size();
    const double median = n % 2 == 1 ? ratios[n / 2] : (ratios[n / 2 - 1] + ratios[n / 2]) / 2;
    std::printf(", median %.3f (goal <= %.2f)\n", median, goal);
}

} // namespace

BENCHMARK(BM_DuAndGioTrash)->Apply(Bench::timedByHand<3>);
BENCHMARK(BM_Trash)->Apply(Bench::timedByHand<3>);
BENCHMARK(BM_DuAndRmRf)->Apply(Bench::timedByHand<3>);
BENCHMARK(BM_Delete)->Apply(Bench::timedByHand<3>);

int main(int argc, char** argv)
{
    Bench::ratio("trash / (du -s + gio trash)", "BM_Trash", "BM_DuAndGioTrash", 1.0);
    Bench::ratio("delete / (du -s + rm -rf)", "BM_Delete", "BM_DuAndRmRf", 1.0);
    const int status = Bench::main(argc, argv);
    std::printf("\nRatios of each round's pair (below 1: Gorrin is faster)\n");
    printRounds("trash / (du -s + gio trash)", "BM_Trash", "BM_DuAndGioTrash", 1.0);
    printRounds("delete / (du -s + rm -rf)", "BM_Delete", "BM_DuAndRmRf", 1.0);
    return status;
}
