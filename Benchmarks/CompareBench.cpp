// Comparing two trees of 10,000 files and 1 GB each, equal file for file, with checksums, beside
// `rsync -rcn` of the same two trees (every file's checksum on both sides, nothing copied), warm and
// cold.
//
// The trees are built once in a file system of their own (see Support/Peers.h) under
// $QUANDRIL_BENCH_DATA, else the build's bench-data folder, and kept for the next run.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include "QuandrilCore/Machine/Compare.h"
#include "Support/Peers.h"

namespace {

using namespace Quandril;

constexpr int folders = 100;
constexpr int filesPerFolder = 100;
constexpr std::size_t fileBytes = 100'000;

void writeTwice(const std::string& first, const std::string& second, const std::vector<char>& content)
{
    for (const auto& path : { first, second }) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        bool written = fd >= 0 && ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
        if (fd >= 0)
            ::close(fd);
        if (!written)
            throw std::runtime_error("write " + path);
    }
}

struct Trees {
    Bench::Volume volume { "compare", 3ull << 30, 100'000, 4096 };
    std::string here;
    std::string there;

    Trees()
    {
        here = volume.path() + "/here";
        there = volume.path() + "/there";
        if (volume.ready())
            return;
        std::filesystem::remove_all(volume.path());
        std::fprintf(stderr, "Writing 2 x 1 GB in %s (kept for later runs)...\n", volume.path().c_str());
        std::mt19937_64 random(12);
        std::vector<char> content(fileBytes);
        for (int f = 0; f < folders; ++f) {
            const std::string folder = "/d" + std::to_string(f);
            std::filesystem::create_directories(here + folder);
            std::filesystem::create_directories(there + folder);
            for (int i = 0; i < filesPerFolder; ++i) {
                for (std::size_t k = 0; k + 8 <= content.size(); k += 8) {
                    const std::uint64_t word = random();
                    std::memcpy(content.data() + k, &word, 8);
                }
                const std::string name = folder + "/file" + std::to_string(i) + ".bin";
                writeTwice(here + name, there + name, content);
            }
        }
        ::sync();
        volume.markReady();
    }
};

Trees& trees()
{
    static Trees instance;
    return instance;
}

enum class Cache { warm, cold };

template <typename Body>
void measure(benchmark::State& state, Cache cache, Body body)
{
    for (auto _ : state) {
        std::string how;
        if (cache == Cache::cold && !trees().volume.makeCold(how)) {
            state.SkipWithError("caches cannot be dropped here");
            return;
        }
        // Warm means warm for this tool too: one run untimed first.
        if (cache == Cache::warm)
            body();
        if (!how.empty())
            state.SetLabel("cold: " + how);
        const auto start = std::chrono::steady_clock::now();
        if (!body()) {
            state.SkipWithError("the run failed or found the trees different");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["bytes"] = 2.0 * folders * filesPerFolder * static_cast<double>(fileBytes);
}

void gorrin(benchmark::State& state, Cache cache)
{
    measure(state, cache, [] {
        const TreeComparison result = compareTreesFully(trees().here, trees().there, true);
        return result.diff.identical() && !result.incomplete && result.diff.files == folders * filesPerFolder;
    });
}

void rsync(benchmark::State& state, Cache cache)
{
    // Trailing slashes: the folders' contents are compared, not the folders themselves.
    measure(state, cache, [] {
        return Bench::run({ "rsync", "-rcn", trees().here + "/", trees().there + "/" }).has_value();
    });
}

void BM_Compare_Gorrin_Warm(benchmark::State& state)
{
    gorrin(state, Cache::warm);
}
void BM_Compare_Rsync_Warm(benchmark::State& state)
{
    rsync(state, Cache::warm);
}
void BM_Compare_Gorrin_Cold(benchmark::State& state)
{
    gorrin(state, Cache::cold);
}
void BM_Compare_Rsync_Cold(benchmark::State& state)
{
    rsync(state, Cache::cold);
}

} // namespace

BENCHMARK(BM_Compare_Gorrin_Warm)->Apply(Bench::timedByHand<7>);
BENCHMARK(BM_Compare_Rsync_Warm)->Apply(Bench::timedByHand<7>);
BENCHMARK(BM_Compare_Gorrin_Cold)->Apply(Bench::timedByHand<3>);
BENCHMARK(BM_Compare_Rsync_Cold)->Apply(Bench::timedByHand<3>);

int main(int argc, char** argv)
{
    Bench::ratio("2 x 1 GB warm: compareTrees / rsync -rcn", "BM_Compare_Gorrin_Warm", "BM_Compare_Rsync_Warm", 1.0);
    Bench::ratio("2 x 1 GB cold: compareTrees / rsync -rcn", "BM_Compare_Gorrin_Cold", "BM_Compare_Rsync_Cold");
    return Bench::main(argc, argv);
}
