// The iCloud cleanup: a scan of an iCloud Drive of 100,000 files holding 5,000 pairs of copies, and
// parking 2 GB in 200 files (each hashed before and after its copy), beside the engine's SHA-256
// and `sha256sum` over the same 200 files.

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include "QuandrilCore/ICloud/ICloud.h"
#include "QuandrilCore/Machine/Compare.h"
#include "QuandrilCore/Platform/Process.h"
#include "Support/FakeMachine.h"

namespace {

using namespace Quandril;

const std::string cloud = "~/Library/Mobile Documents/com~apple~CloudDocs";
constexpr int scanFiles = 100'000;
constexpr int copyPairs = 5'000;
constexpr int parkFiles = 200;
constexpr std::int64_t parkFileBytes = 10 * 1024 * 1024;

// The app's thresholds.
constexpr std::int64_t minBytes = 20'000'000;
constexpr std::int64_t bigBytes = 1'000'000'000;
constexpr std::int64_t sizeOnlyBytes = 100'000'000;

void sparseFile(const std::string& path, std::int64_t bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::ftruncate(fd, bytes) != 0)
        throw std::runtime_error("sparse " + path + ": " + std::strerror(errno));
    ::close(fd);
}

// Placeholders cost no disk: the walk reads metadata only. 10,000 files form 5,000 pairs
// ("doc7.pdf" and "doc7 copy.pdf"); the rest have sizes of their own, some past the size-only
// threshold and 60 past the big-file threshold.
struct ScanMachine {
    Testing::FakeMachine machine;
    std::optional<Mac> mac;

    ScanMachine()
    {
        int made = 0;
        for (int folder = 0; made < scanFiles; ++folder) {
            const std::string dir = machine.at(cloud + "/Folder " + std::to_string(folder));
            Testing::makeFolders(dir);
            for (int i = 0; i < 1000 && made < scanFiles; ++i, ++made) {
                if (made < 2 * copyPairs) {
                    const int pair = made / 2;
                    sparseFile(dir + "/doc" + std::to_string(pair) + (made % 2 ? " copy.pdf" : ".pdf"),
                               30'000'001 + std::int64_t(pair) * 1000);
                } else if (made < 2 * copyPairs + 60) {
                    sparseFile(dir + "/movie" + std::to_string(made) + ".mov", bigBytes + made);
                } else {
                    sparseFile(dir + "/file" + std::to_string(made) + ".dat", minBytes + std::int64_t(made) * 1000);
                }
            }
        }
        machine.folder("~/Downloads").folder("~/Documents");
        mac.emplace(machine.mac());
    }
};

ScanMachine& scanMachine()
{
    static ScanMachine instance;
    return instance;
}

void BM_ICloudScan100kFiles(benchmark::State& state)
{
    const Mac& mac = *scanMachine().mac;
    CloudScan scan;
    for (auto _ : state) {
        scan = ICloud::scan(mac, std::nullopt, minBytes, bigBytes, sizeOnlyBytes);
        benchmark::DoNotOptimize(scan);
    }
    if (scan.files != scanFiles || scan.groups.size() != copyPairs || scan.biggest.size() != 50)
        state.SkipWithError("the scan did not find the generated files and copies");
    state.counters["files/s"] = benchmark::Counter(scanFiles, benchmark::Counter::kIsIterationInvariantRate);
}

// 2 GB of incompressible data, made once; the folder goes when the process ends.
struct ParkMachine {
    Testing::FakeMachine machine;
    std::optional<Mac> mac;
    CloudScan scan;
    std::vector<std::string> files;
    std::vector<std::string> ids;

    ParkMachine()
    {
        machine.drive("Backup", "/Volumes/Backup", 1'000'000'000'000, 500'000'000'000);
        const std::string dir = machine.at(cloud + "/Archive");
        Testing::makeFolders(dir);
        std::mt19937_64 random(42);
        std::vector<std::uint64_t> block(parkFileBytes / sizeof(std::uint64_t));
        for (int i = 0; i < parkFiles; ++i) {
            for (auto& word : block)
                word = random();
            const std::string path = dir + "/take" + std::to_string(i) + ".mov";
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            const auto bytes = static_cast<ssize_t>(block.size() * sizeof(std::uint64_t));
            if (fd < 0 || ::write(fd, block.data(), static_cast<std::size_t>(bytes)) != bytes)
                throw std::runtime_error("write " + path);
            ::close(fd);
            files.push_back(path);
        }
        mac.emplace(machine.mac());
        // A scan lists at most 50 big files; the cleanup takes whatever list it is given.
        for (const auto& path : files) {
            scan.biggest.push_back({ ICloud::itemID(path), path, parkFileBytes, true, {}, {}, {} });
            ids.push_back(scan.biggest.back().id);
        }
    }

    // Moves every parked file back, so the next round parks the same 2 GB again.
    void putBack(const std::vector<CleanResult>& results)
    {
        for (const auto& result : results) {
            for (const auto& relocation : result.relocated)
                std::filesystem::rename(relocation.to, relocation.from);
        }
    }
};

ParkMachine& parkMachine()
{
    static ParkMachine instance;
    return instance;
}

constexpr double parkBytes = double(parkFiles) * double(parkFileBytes);

void BM_ICloudPark2GB(benchmark::State& state)
{
    auto& park = parkMachine();
    const CloudOptions options {
        .drive = "Backup", .chunkBytes = 5'000'000'000, .marginBytes = 5'000'000'000, .agreed = true
    };
    std::size_t done = 0;
    for (auto _ : state) {
        const auto results = ICloud::clean(park.ids, park.scan, *park.mac, options, {}, {});
        state.PauseTiming();
        done = 0;
        for (const auto& result : results)
            done += result.status == CleanResult::Status::done;
        park.putBack(results);
        state.ResumeTiming();
    }
    if (park.ids.size() != parkFiles || done != parkFiles)
        state.SkipWithError("not every file was parked");
    // Each file is read twice to hash it (the original and its copy) and written once.
    state.counters["parked"] = benchmark::Counter(parkBytes, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["hashed"] = benchmark::Counter(2 * parkBytes, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_EngineSha256Of2GB(benchmark::State& state)
{
    const auto& files = parkMachine().files;
    for (auto _ : state) {
        for (const auto& file : files)
            if (!sha256(file))
                state.SkipWithError("a file could not be hashed");
    }
    state.counters["hashed"] = benchmark::Counter(parkBytes, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Sha256sumOf2GB(benchmark::State& state)
{
    const auto& files = parkMachine().files;
    for (auto _ : state) {
        const auto output = Platform::runProcess("/usr/bin/sha256sum", files);
        if (!output)
            state.SkipWithError("sha256sum could not be run");
        benchmark::DoNotOptimize(output);
    }
    state.counters["hashed"] = benchmark::Counter(parkBytes, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_ICloudScan100kFiles)->Unit(benchmark::kMillisecond);
// Rates by the clock on the wall: sha256sum's work is another process's time.
BENCHMARK(BM_EngineSha256Of2GB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Sha256sumOf2GB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ICloudPark2GB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
