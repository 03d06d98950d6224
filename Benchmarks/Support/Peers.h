#pragma once

// What the benchmarks need beside the engine: other tools run as processes and timed (du, gdu,
// rsync), file systems of their own whose caches can be dropped, and the ratios printed at the end.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace Quandril::Bench {

// Where large trees are kept between runs: $QUANDRIL_BENCH_DATA, else the build's "bench-data".
std::string dataFolder();

struct ProcessRun {
    std::string output;
    double seconds = 0;
    std::int64_t peakKiB = 0; // the largest resident size the process reached
};

// Runs `argv` (the program searched in PATH), standard input and error on /dev/null. Nothing when it
// cannot be started or exits with another status than 0.
std::optional<ProcessRun> run(const std::vector<std::string>& argv);

// Times one run of a tool in a benchmark, which reports the time by hand; stops it with an error
// naming the tool when it cannot run.
void timeTool(benchmark::State& state, const std::vector<std::string>& argv);

// Times one call of `body` in a benchmark that reports its time by hand.
template <typename Body>
void timeCall(benchmark::State& state, Body body);

// The first number a tool printed, as du and gdu print their totals.
std::optional<std::int64_t> firstNumber(const std::string& output);

// A file system of its own: an ext4 image under dataFolder(), mounted through a loop device that
// bypasses the page cache of the file system holding the image, so that unmounting and mounting it
// again leaves nothing of it cached. Needs root; without it, or where mounting fails, the tree is
// an ordinary folder of dataFolder() and caches can only be dropped as a whole.
class Volume {
public:
    Volume(const std::string& name, std::uint64_t bytes, std::uint64_t inodes, unsigned blockSize);
    ~Volume();
    Volume(const Volume&) = delete;
    Volume& operator=(const Volume&) = delete;

    // The folder to fill and measure.
    const std::string& path() const { return path_; }
    // True once the tree was built completely, in this run or an earlier one.
    bool ready() const;
    void markReady();
    bool mounted() const { return !device_.empty(); }

    // Leaves nothing of this volume in memory; false when that cannot be done here. `how` says which
    // way was used.
    bool makeCold(std::string& how);

private:
    std::string image_;
    std::string mountPoint_;
    std::string path_;
    std::string device_;
    std::string marker_;
};

// For benchmarks that time one call each, repeated: `repetitions` runs, the median reported.
// BENCHMARK(BM_x)->Apply(Bench::timedByHand<5>).
template <int repetitions>
void timedByHand(benchmark::internal::Benchmark* bench)
{
    bench->UseManualTime()
        ->Iterations(1)
        ->Repetitions(repetitions)
        ->ReportAggregatesOnly(true)
        ->Unit(benchmark::kMillisecond);
}

// After every benchmark has run, a line "numerator / denominator = r (goal <= g)" from the medians.
void ratio(std::string label, std::string numerator, std::string denominator, double goal = 0);

// After every benchmark has run, a line "label: t s (goal <= g s)" from the median of `benchmark`,
// for a time that has a goal of its own rather than a peer.
void figure(std::string label, std::string benchmark, double goalSeconds = 0);

// Runs the registered benchmarks with a console report, then prints the ratios and figures.
int main(int argc, char** argv);

template <typename Body>
void timeCall(benchmark::State& state, Body body)
{
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

} // namespace Quandril::Bench
