// A whole scan of a fake machine shaped like a developer's computer, beside `du -sx` of the same
// tree: about 300,000 files over build caches, package caches, browser caches, containers,
// application support, documents, downloads, a Steam library with workshop folders and 200 apps.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include "QuandrilCore/Catalog.h"
#include "QuandrilCore/Platform/Process.h"
#include "QuandrilCore/Scanner.h"
#include "Support/AppBundles.h"
#include "Support/BenchFiles.h"
#include "Support/FakeMachine.h"
#include "Support/Peers.h"
#include "Support/SteamFixtures.h"

namespace {

using namespace Quandril;

// `folders` folders under `base`, each with `files` small files.
std::int64_t fill(const std::string& base, int folders, int files, int seed)
{
    for (int f = 0; f < folders; ++f) {
        std::string folder = base + "/d" + std::to_string(f / 16) + "/f" + std::to_string(f);
        Testing::makeFolders(folder);
        for (int i = 0; i < files; ++i)
            Testing::makeFile(folder + "/file" + std::to_string(i) + ".bin",
                     static_cast<std::size_t>((seed + f * 131 + i * 977) % 6000));
    }
    return static_cast<std::int64_t>(folders) * files;
}

struct Machine {
    Testing::FakeMachine fake;
    std::optional<Mac> mac;
    Catalog catalog;
    std::int64_t files = 0;

    Machine()
    {
        auto& m = fake;
        m.drive("Backup", "/Volumes/Backup", 2'000'000'000'000, 1'500'000'000'000);
        files += fill(m.at("~/Library/Developer/Xcode/DerivedData"), 700, 150, 1);
        files += fill(m.at("~/Library/Developer/CoreSimulator/Caches"), 40, 100, 2);
        files += fill(m.at("~/.npm/_cacache"), 500, 100, 3);
        files += fill(m.at("~/Library/Caches/Yarn"), 100, 100, 4);
        files += fill(m.at("~/Library/Caches/Google/Chrome"), 150, 100, 5);
        files += fill(m.at("~/Library/Caches/Firefox/Profiles"), 40, 100, 6);
        files += fill(m.at("~/.cargo/registry"), 250, 100, 7);
        for (int c = 0; c < 60; ++c)
            files += fill(m.at("~/Library/Containers/com.example.app" + std::to_string(c) + "/Data/Library"), 4, 40, c);
        for (int a = 0; a < 80; ++a)
            files += fill(m.at("~/Library/Application Support/Maker " + std::to_string(a) + " App"), 3, 50, a);
        files += fill(m.at("~/Documents/Projects"), 400, 100, 8);
        files += fill(m.at("~/Downloads"), 20, 50, 9);
        files += fill(m.at("~/Movies/Footage"), 10, 30, 10);
        files += fill(m.at("~/Music/Stems"), 20, 50, 11);

        std::vector<std::string> listed;
        for (int g = 0; g < 30; ++g) {
            std::string id = std::to_string(1000 + g);
            listed.push_back(id);
            Testing::installGame(m, Testing::steamFolder, id, "Game " + id, "Game " + id, 4096);
            files += fill(m.at(std::string(Testing::steamFolder) + "/steamapps/common/Game " + id + "/data"), 10, 40, g);
            files += fill(m.at(std::string(Testing::steamFolder) + "/steamapps/workshop/content/" + id), 5, 40, g);
        }
        Testing::writeLibraryList(m, { { m.at(std::string(Testing::steamFolder)), listed } });

        for (int a = 0; a < 200; ++a) {
            std::string name = "/Applications/App " + std::to_string(a) + ".app";
            Testing::addApp(m, name, Testing::AppSpec("com.example.app" + std::to_string(a)));
            files += fill(m.at(name + "/Contents/Resources"), 1, 20, a);
        }
        mac.emplace(m.mac());
        catalog = Catalog::load(std::string(QUANDRIL_SOURCE_DIR) + "/engine/rules/catalog.json");
    }
};

Machine& machine()
{
    static Machine instance;
    return instance;
}

ScanOptions options()
{
    return ScanOptions(std::nullopt, Clock::now(), {});
}

void BM_DuSx(benchmark::State& state)
{
    auto& m = machine();
    for (auto _ : state) {
        auto out = Platform::runProcess("/usr/bin/du", { "-sx", m.fake.root() });
        if (!out) {
            state.SkipWithError("du -sx could not be run");
            return;
        }
        benchmark::DoNotOptimize(out);
    }
    state.counters["files"] = static_cast<double>(m.files);
}

void BM_Scan(benchmark::State& state)
{
    auto& m = machine();
    std::size_t findings = 0;
    for (auto _ : state) {
        ScanReport report = Scanner::scan(*m.mac, m.catalog, options());
        findings = report.findings.size();
        benchmark::DoNotOptimize(report);
    }
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["files"] = static_cast<double>(m.files);
    state.counters["findings"] = static_cast<double>(findings);
    state.counters["peakRSS_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

} // namespace

// Real time: the scan works on the engine's worker threads and du in another process.
BENCHMARK(BM_DuSx)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0)->Repetitions(5)->ReportAggregatesOnly(true);

int main(int argc, char** argv)
{
    Bench::ratio("scan / du -sx", "BM_Scan", "BM_DuSx", 0.3);
    return Bench::main(argc, argv);
}
