// Reading one history line that carries many keys of its own beside the entry's: a tampered or
// damaged file must not make loading History slow. Time per line should grow in step with the key
// count (20,000 keys took 0.2 s and 50,000 keys 2.5 s when it grew with its square).

#include <string>

#include <benchmark/benchmark.h>

#include "QuandrilCore/Cleaning/Cleaner.h"

namespace {

using namespace Quandril;

std::string lineWithKeys(int extraKeys)
{
    std::string line = "{";
    for (int i = 0; i < extraKeys; ++i)
        line += "\"key" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    line += R"("at":"2025-03-04T05:06:07Z","id":"app-caches","title":"App caches","action":"trash",)"
            R"("bytes":1234,"relocated":[{"from":"\/Users\/me\/a","to":"\/Users\/me\/.Trash\/a"}]})";
    return line;
}

void BM_DecodeLineWithManyKeys(benchmark::State& state)
{
    const std::string line = lineWithKeys(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto entry = History::decodeLine(line);
        if (!entry)
            state.SkipWithError("the line did not decode");
        benchmark::DoNotOptimize(entry);
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(line.size()));
}
BENCHMARK(BM_DecodeLineWithManyKeys)
    ->Arg(10)
    ->Arg(5'000)
    ->Arg(20'000)
    ->Arg(50'000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

} // namespace

BENCHMARK_MAIN();
