// Discovery of the installed apps on a fake machine with 500 app bundles, each with a binary
// Info.plist: 300 directly in /Applications, 100 in nested folders, 50 in ~/Applications and 50
// on a second drive. Also the owner resolver's first team-identifier lookup over the same apps.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "QuandrilCore/Rules/Inventory.h"
#include "Support/AppBundles.h"
#include "Support/FakeMachine.h"
#include "Support/MiniCatalog.h"

namespace {

using namespace Quandril;
using Quandril::Testing::AppSpec;
using Quandril::Testing::FakeMachine;

struct Machine {
    FakeMachine fake;
    std::optional<Mac> mac;
};

// Built once and shared by every benchmark of the run.
Machine& machine()
{
    static const std::unique_ptr<Machine> made = [] {
        auto built = std::make_unique<Machine>();
        FakeMachine& fake = built->fake;
        fake.drive("Backup", "/Volumes/Backup", 2'000'000'000'000, 1'000'000'000'000);
        for (int i = 0; i < 500; ++i) {
            const std::string name = "App " + std::to_string(i);
            std::string folder;
            if (i < 300)
                folder = "/Applications/";
            else if (i < 400)
                folder = "/Applications/Suite " + std::to_string(i % 10) + "/Tools/";
            else if (i < 450)
                folder = "~/Applications/";
            else
                folder = "/Volumes/Backup/Applications/";
            AppSpec spec("com.maker" + std::to_string(i % 40) + ".app" + std::to_string(i));
            if (i % 5 == 0)
                spec.team("TEAM" + std::to_string(100000 + i % 7));
            Testing::addApp(fake, folder + name + ".app", spec);
        }
        built->mac = fake.mac();
        return built;
    }();
    return *made;
}

void discover500Apps(benchmark::State& state)
{
    const Mac& mac = *machine().mac;
    const std::vector<DriveInfo> drives = mac.drives();
    std::size_t found = 0;
    for (auto _ : state) {
        AppIndex index = AppIndex::discover(mac, drives, {});
        found = index.apps.size();
        benchmark::DoNotOptimize(index);
    }
    state.counters["apps"] = static_cast<double>(found);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(found));
}
BENCHMARK(discover500Apps)->Unit(benchmark::kMillisecond)->UseRealTime();

void firstTeamLookup500Apps(benchmark::State& state)
{
    const Mac& mac = *machine().mac;
    const AppIndex index = AppIndex::discover(mac, mac.drives(), {});
    const Catalog catalog = Testing::miniCatalog();
    for (auto _ : state) {
        // A new resolver each time, so the team identifiers are read afresh.
        OwnerResolver resolver(index, catalog, {}, mac);
        benchmark::DoNotOptimize(
            resolver.resolve("ABCDE12345.com.unknown.shared", OwnerResolver::Kind::groupContainer));
    }
}
BENCHMARK(firstTeamLookup500Apps)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
