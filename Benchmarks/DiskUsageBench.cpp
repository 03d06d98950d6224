// Disk usage beside du and gdu: a tree of about 200,000 entries (one walk, the same tree as 64
// folders measured in parallel and one after another), a tree of 1.01 million entries warm and cold,
// and a copy of /usr cold; the peak memory of one walk of the large tree; the ratios at the end.
//
// The large trees are built once in file systems of their own (see Support/Peers.h) under
// $QUANDRIL_BENCH_DATA, else the build's bench-data folder, and kept for the next run.

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <cstdio>
#include <filesystem>
#include <thread>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Machine/DiskUsage.h"
#include "Support/FakeMachine.h"
#include "Support/Peers.h"

namespace {

using namespace Quandril;

constexpr int topFolders = 64;
constexpr int middleFolders = 6; // per top folder
constexpr int leafFolders = 6;   // per middle folder
constexpr int filesPerLeaf = 85;
constexpr int hardLinkEvery = 50; // every 50th file is a second name of an earlier one

void makeFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0755) != 0)
        throw std::runtime_error("mkdir " + path + ": " + std::strerror(errno));
}

void makeFile(const std::string& path, std::size_t bytes)
{
    static const std::string content(16 * 1024, 'x');
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("open " + path + ": " + std::strerror(errno));
    ssize_t written = bytes ? ::write(fd, content.data(), bytes) : 0;
    ::close(fd);
    if (written != static_cast<ssize_t>(bytes))
        throw std::runtime_error("write " + path);
}

// Built once per process; removed with the temporary folder at exit.
struct Tree {
    Testing::TempDir dir;
    std::string root;
    std::vector<std::string> tops;
    std::int64_t entries = 0;

    Tree()
    {
        root = dir.path() + "/tree";
        makeFolder(root);
        ++entries;
        for (int t = 0; t < topFolders; ++t) {
            std::string top = root + "/top" + std::to_string(t);
            makeFolder(top);
            tops.push_back(top);
            ++entries;
            std::string lastFile;
            int fileNumber = 0;
            for (int m = 0; m < middleFolders; ++m) {
                std::string middle = top + "/m" + std::to_string(m);
                makeFolder(middle);
                ++entries;
                for (int l = 0; l < leafFolders; ++l) {
                    std::string leaf = middle + "/leaf" + std::to_string(l);
                    makeFolder(leaf);
                    ++entries;
                    for (int f = 0; f < filesPerLeaf; ++f, ++fileNumber) {
                        std::string file = leaf + "/file" + std::to_string(f) + ".dat";
                        // Hard links stay inside their top folder, so the 64 measurements add up to the whole.
                        if (fileNumber % hardLinkEvery == hardLinkEvery - 1 && !lastFile.empty()) {
                            if (::link(lastFile.c_str(), file.c_str()) != 0)
                                throw std::runtime_error("link " + file);
                        } else {
                            makeFile(file, static_cast<std::size_t>((fileNumber * 977) % 9000));
                            lastFile = file;
                        }
                        ++entries;
                    }
                }
            }
        }
    }
};

Tree& tree()
{
    static Tree instance;
    return instance;
}

std::int64_t ownBytes(const std::string& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? static_cast<std::int64_t>(status.st_blocks) * 512 : 0;
}

// `du -sxB1 path`: its byte count, or nothing when it could not be run or read.
std::optional<std::int64_t> du(const std::string& path)
{
    auto done = Bench::run({ "du", "-sxB1", path });
    return done ? Bench::firstNumber(done->output) : std::nullopt;
}

void setCounters(benchmark::State& state, std::int64_t bytes)
{
    state.counters["entries"] = static_cast<double>(tree().entries);
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["entries/s"] = benchmark::Counter(static_cast<double>(tree().entries),
                                                     benchmark::Counter::kIsIterationInvariantRate);
}

void BM_DiskUsageOneWalk(benchmark::State& state)
{
    const std::string& root = tree().root;
    Usage usage;
    for (auto _ : state) {
        usage = diskUsage(root);
        benchmark::DoNotOptimize(usage);
    }
    if (usage.unreadable != 0)
        state.SkipWithError("unreadable entries in the generated tree");
    setCounters(state, usage.bytes);
}

void BM_DiskUsageOf64Folders(benchmark::State& state)
{
    const auto& tops = tree().tops;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        auto usages = diskUsageOf(tops);
        bytes = ownBytes(tree().root);
        for (const auto& [path, usage] : usages)
            bytes += usage.bytes;
        benchmark::DoNotOptimize(bytes);
    }
    if (bytes != diskUsage(tree().root).bytes)
        state.SkipWithError("the 64 folders do not add up to the whole tree");
    setCounters(state, bytes);
}

void BM_64FoldersOneAfterAnother(benchmark::State& state)
{
    const auto& tops = tree().tops;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        bytes = ownBytes(tree().root);
        for (const auto& top : tops)
            bytes += diskUsage(top).bytes;
        benchmark::DoNotOptimize(bytes);
    }
    setCounters(state, bytes);
}

void BM_DuSx(benchmark::State& state)
{
    const std::string& root = tree().root;
    std::optional<std::int64_t> bytes;
    for (auto _ : state) {
        bytes = du(root);
        if (!bytes) {
            state.SkipWithError("du -sxB1 could not be run");
            return;
        }
    }
    const std::int64_t ours = diskUsage(root).bytes;
    if (*bytes != ours) {
        // Kept alive past the call: older releases keep only the pointer.
        static std::string message;
        message = "byte counts differ: du " + std::to_string(*bytes) + ", diskUsage " + std::to_string(ours);
        state.SkipWithError(message.c_str());
        return;
    }
    setCounters(state, *bytes);
}

// MARK: The large trees

// 10 × 10 × 100 folders of 100 small files each: 1,000,000 files and 10,111 folders. Every 1,000th
// file is a second name of the one before it.
void buildMillion(const std::string& root)
{
    makeFolder(root);
    std::vector<std::thread> builders;
    for (int t = 0; t < 10; ++t) {
        builders.emplace_back([root, t] {
            const std::string top = root + "/t" + std::to_string(t);
            makeFolder(top);
            for (int m = 0; m < 10; ++m) {
                const std::string middle = top + "/m" + std::to_string(m);
                makeFolder(middle);
                for (int l = 0; l < 100; ++l) {
                    const std::string leaf = middle + "/l" + std::to_string(l);
                    makeFolder(leaf);
                    for (int f = 0; f < 100; ++f) {
                        const std::string file = leaf + "/f" + std::to_string(f);
                        const int number = ((t * 10 + m) * 100 + l) * 100 + f;
                        if (number % 1000 == 999) {
                            if (::link((leaf + "/f" + std::to_string(f - 1)).c_str(), file.c_str()) != 0)
                                throw std::runtime_error("link " + file);
                        } else {
                            makeFile(file, static_cast<std::size_t>((number * 977) % 1500));
                        }
                    }
                }
            }
        });
    }
    for (auto& builder : builders)
        builder.join();
}

Bench::Volume& million()
{
    static Bench::Volume volume("tree1m", 4ull << 30, 1'100'000, 1024);
    if (!volume.ready()) {
        std::filesystem::remove_all(volume.path());
        std::fprintf(stderr, "Building 1,010,111 entries in %s (kept for later runs)...\n", volume.path().c_str());
        buildMillion(volume.path());
        volume.markReady();
    }
    return volume;
}

// The files of /usr without their contents: the same names, folders, links and hard links.
Bench::Volume& usrCopy()
{
    static Bench::Volume volume("usr", 4ull << 30, 400'000, 4096);
    if (!volume.ready()) {
        std::filesystem::remove_all(volume.path());
        std::fprintf(stderr, "Copying /usr to %s (kept for later runs)...\n", volume.path().c_str());
        if (!Bench::run({ "cp", "-a", "--attributes-only", "/usr", volume.path() }))
            std::fprintf(stderr, "cp could not copy all of /usr; measuring what it copied\n");
        volume.markReady();
    }
    return volume;
}

enum class Cache { warm, cold };

// Each timed run of a cold case starts with nothing of the tree in memory.
template <typename Body>
void measure(benchmark::State& state, Bench::Volume& volume, Cache cache, Body body)
{
    for (auto _ : state) {
        std::string how;
        if (cache == Cache::cold && !volume.makeCold(how)) {
            state.SkipWithError("caches cannot be dropped here");
            return;
        }
        // Warm means warm for this tool too: one run untimed first.
        if (cache == Cache::warm)
            body(state);
        if (!how.empty())
            state.SetLabel("cold: " + how);
        const auto start = std::chrono::steady_clock::now();
        body(state);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

void gorrin(benchmark::State& state, Bench::Volume& volume, Cache cache)
{
    Usage usage;
    measure(state, volume, cache, [&](benchmark::State&) {
        usage = diskUsage(volume.path());
        benchmark::DoNotOptimize(usage);
    });
    state.counters["bytes"] = static_cast<double>(usage.bytes);
    if (cache == Cache::warm) {
        // The same total as du, or the figures mean nothing.
        auto theirs = du(volume.path());
        if (theirs && *theirs != usage.bytes)
            state.SkipWithError(
                ("byte counts differ: du " + std::to_string(*theirs) + ", diskUsage " + std::to_string(usage.bytes))
                    .c_str());
    }
}

void peer(benchmark::State& state, Bench::Volume& volume, Cache cache, std::vector<std::string> argv)
{
    argv.push_back(volume.path());
    std::optional<Bench::ProcessRun> last;
    measure(state, volume, cache, [&](benchmark::State&) { last = Bench::run(argv); });
    if (!last) {
        state.SkipWithError((argv[0] + " could not be run").c_str());
        return;
    }
    state.counters["peakRSS_MiB"] = static_cast<double>(last->peakKiB) / 1024.0;
    if (auto bytes = Bench::firstNumber(last->output))
        state.counters["bytes"] = static_cast<double>(*bytes);
}

const std::vector<std::string> duCommand = { "du", "-sxB1" };
// Not interactive, no progress, a total only, this volume only, in bytes.
const std::vector<std::string> gduCommand = { "gdu", "-npsx", "--no-prefix" };

void BM_Million_Gorrin_Warm(benchmark::State& state)
{
    gorrin(state, million(), Cache::warm);
}
void BM_Million_Du_Warm(benchmark::State& state)
{
    peer(state, million(), Cache::warm, duCommand);
}
void BM_Million_Gdu_Warm(benchmark::State& state)
{
    peer(state, million(), Cache::warm, gduCommand);
}
void BM_Million_Gorrin_Cold(benchmark::State& state)
{
    gorrin(state, million(), Cache::cold);
}
void BM_Million_Du_Cold(benchmark::State& state)
{
    peer(state, million(), Cache::cold, duCommand);
}
void BM_Million_Gdu_Cold(benchmark::State& state)
{
    peer(state, million(), Cache::cold, gduCommand);
}
void BM_Usr_Gorrin_Cold(benchmark::State& state)
{
    gorrin(state, usrCopy(), Cache::cold);
}
void BM_Usr_Du_Cold(benchmark::State& state)
{
    peer(state, usrCopy(), Cache::cold, duCommand);
}
void BM_Usr_Gdu_Cold(benchmark::State& state)
{
    peer(state, usrCopy(), Cache::cold, gduCommand);
}

// One walk of the large tree in a process of its own: its peak resident size, the program itself
// included.
void BM_Million_PeakMemory(benchmark::State& state)
{
    const std::string& path = million().path();
    std::optional<Bench::ProcessRun> done;
    for (auto _ : state) {
        done = Bench::run({ "/proc/self/exe", "--peak-memory", path });
        if (!done) {
            state.SkipWithError("the measuring process failed");
            return;
        }
        state.SetIterationTime(done->seconds);
    }
    state.counters["peakRSS_MiB"] = static_cast<double>(done->peakKiB) / 1024.0;
    if (auto entries = Bench::firstNumber(done->output))
        state.counters["bytes"] = static_cast<double>(*entries);
}

} // namespace

// Real time: the parallel case works on other threads and du in another process.
BENCHMARK(BM_DuSx)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DiskUsageOneWalk)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_64FoldersOneAfterAnother)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DiskUsageOf64Folders)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK(BM_Million_Gorrin_Warm)->Apply(Bench::timedByHand<7>);
BENCHMARK(BM_Million_Du_Warm)->Apply(Bench::timedByHand<7>);
BENCHMARK(BM_Million_Gdu_Warm)->Apply(Bench::timedByHand<7>);
BENCHMARK(BM_Million_PeakMemory)->Apply(Bench::timedByHand<1>);
BENCHMARK(BM_Million_Gorrin_Cold)->Apply(Bench::timedByHand<5>);
BENCHMARK(BM_Million_Du_Cold)->Apply(Bench::timedByHand<5>);
BENCHMARK(BM_Million_Gdu_Cold)->Apply(Bench::timedByHand<5>);
BENCHMARK(BM_Usr_Gorrin_Cold)->Apply(Bench::timedByHand<5>);
BENCHMARK(BM_Usr_Du_Cold)->Apply(Bench::timedByHand<5>);
BENCHMARK(BM_Usr_Gdu_Cold)->Apply(Bench::timedByHand<5>);

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--peak-memory") {
        const Usage usage = diskUsage(argv[2]);
        struct rusage self {};
        ::getrusage(RUSAGE_SELF, &self);
        std::printf("%lld bytes, peak %ld KiB\n", static_cast<long long>(usage.bytes), self.ru_maxrss);
        return 0;
    }
    Bench::ratio("200k entries: diskUsage / du -sx", "BM_DiskUsageOneWalk", "BM_DuSx");
    Bench::ratio("1M files warm: diskUsage / du", "BM_Million_Gorrin_Warm", "BM_Million_Du_Warm", 0.5);
    Bench::ratio("1M files warm: diskUsage / gdu", "BM_Million_Gorrin_Warm", "BM_Million_Gdu_Warm", 0.8);
    Bench::ratio("1M files cold: diskUsage / du", "BM_Million_Gorrin_Cold", "BM_Million_Du_Cold");
    Bench::ratio("1M files cold: diskUsage / gdu", "BM_Million_Gorrin_Cold", "BM_Million_Gdu_Cold", 0.8);
    Bench::ratio("/usr copy cold: diskUsage / du", "BM_Usr_Gorrin_Cold", "BM_Usr_Du_Cold");
    Bench::ratio("/usr copy cold: diskUsage / gdu", "BM_Usr_Gorrin_Cold", "BM_Usr_Gdu_Cold", 0.8);
    return Bench::main(argc, argv);
}
