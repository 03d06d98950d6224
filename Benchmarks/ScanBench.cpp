// A whole scan of a fake machine shaped like a developer's computer, beside `du -sx` of the same
// tree: about 300,000 files over build caches, package caches, browser caches, containers,
// application support, documents, downloads, a Steam library with workshop folders and 200 apps.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include "QuandrilCore/Platform/Process.h"
#include "QuandrilCore/Rules/Catalog.h"
#include "QuandrilCore/Scanning/Scanner.h"
#include "Support/AppBundles.h"
#include "Support/BenchFiles.h"
#include "Support/FakeMachine.h"
#include "Support/Peers.h"
#include "Support/SteamFixtures.h"

namespace {

using namespace Quandril;

struct Machine {
    Testing::FakeMachine fake;
    std::optional<Mac> mac;
    Catalog catalog;
    std::int64_t files = 0;

    Machine()
    {
        auto& m = fake;
        m.drive("Backup", "/Volumes/Backup", 2'000'000'000'000, 1'500'000'000'000);
        files += Testing::fillFolders(m.at("~/Library/Developer/Xcode/DerivedData"), 700, 150, 1);
        files += Testing::fillFolders(m.at("~/Library/Developer/CoreSimulator/Caches"), 40, 100, 2);
        files += Testing::fillFolders(m.at("~/.npm/_cacache"), 500, 100, 3);
        files += Testing::fillFolders(m.at("~/Library/Caches/Yarn"), 100, 100, 4);
        files += Testing::fillFolders(m.at("~/Library/Caches/Google/Chrome"), 150, 100, 5);
        files += Testing::fillFolders(m.at("~/Library/Caches/Firefox/Profiles"), 40, 100, 6);
        files += Testing::fillFolders(m.at("~/.cargo/registry"), 250, 100, 7);
        for (int c = 0; c < 60; ++c)
            files += Testing::fillFolders(m.at("~/Library/Containers/com.example.app" + std::to_string(c)
                                               + "/Data/Library"),
                                          4, 40, c);
        for (int a = 0; a < 80; ++a)
            files += Testing::fillFolders(m.at("~/Library/Application Support/Maker " + std::to_string(a) + " App"), 3,
                                          50, a);
        files += Testing::fillFolders(m.at("~/Documents/Projects"), 400, 100, 8);
        files += Testing::fillFolders(m.at("~/Downloads"), 20, 50, 9);
        files += Testing::fillFolders(m.at("~/Movies/Footage"), 10, 30, 10);
        files += Testing::fillFolders(m.at("~/Music/Stems"), 20, 50, 11);

        std::vector<std::string> listed;
        for (int g = 0; g < 30; ++g) {
            std::string id = std::to_string(1000 + g);
            listed.push_back(id);
            Testing::installGame(m, Testing::steamFolder, id, "Game " + id, "Game " + id, 4096);
            files += Testing::fillFolders(m.at(std::string(Testing::steamFolder) + "/steamapps/common/Game " + id
                                               + "/data"),
                                          10, 40, g);
            files += Testing::fillFolders(m.at(std::string(Testing::steamFolder) + "/steamapps/workshop/content/" + id),
                                          5, 40, g);
        }
        Testing::writeLibraryList(m, { { m.at(std::string(Testing::steamFolder)), listed } });

        for (int a = 0; a < 200; ++a) {
            std::string name = "/Applications/App " + std::to_string(a) + ".app";
            Testing::addApp(m, name, Testing::AppSpec("com.example.app" + std::to_string(a)));
            files += Testing::fillFolders(m.at(name + "/Contents/Resources"), 1, 20, a);
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
    return ScanOptions { .now = Clock::now() };
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
BENCHMARK(BM_DuSx)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Scan)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv)
{
    Bench::ratio("scan / du -sx", "BM_Scan", "BM_DuSx", 0.3);
    return Bench::main(argc, argv);
}
