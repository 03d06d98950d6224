// Reading History. One line that carries many keys of its own beside the entry's: a tampered or
// damaged file must not make loading History slow; time per line should grow in step with the key
// count (20,000 keys took 0.2 s and 50,000 keys 2.5 s when it grew with its square).
//
// History's first reading as the app makes it: 300,000 lines of years of autopilot runs (about
// 143 MB, clean-ups of three items written item by item) read whole, then whether each entry offers
// Put Back, once with the Trash emptied since and once with every item and its record still in the
// Trash; and the newest 200 entries of a 1,000,000-line file, with the memory that takes. The homes
// lie in $QUANDRIL_BENCH_DATA, else the build's bench-data folder, and are made once.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Cleaning/HistoryReader.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "QuandrilCore/Platform/Trash.h"
#include "Support/FakeMachine.h"
#include "Support/Peers.h"
#include "Support/SystemState.h"

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

constexpr int itemsPerCleanUp = 3;

// A live home in the benchmarks' data folder with a History of `lines` lines; `trashed` keeps every
// item in the Trash with its record, as the clean-ups left them.
struct HistoryHome {
    std::string home;
    Testing::ScopedEnv homeVariable;
    Testing::ScopedEnv dataHome { "XDG_DATA_HOME", std::nullopt };
    Mac mac;

    HistoryHome(const std::string& name, int lines, bool trashed)
        : home(Bench::dataFolder() + "/" + name)
        , homeVariable("HOME", home)
        , mac("", home, std::nullopt)
    {
        const std::string ready = home + "/.ready";
        if (std::filesystem::exists(ready))
            return;
        std::filesystem::remove_all(home);
        const std::string trash = home + "/.local/share/Trash";
        std::filesystem::create_directories(trash + "/files");
        std::filesystem::create_directories(trash + "/info");
        const std::string file = History::path(mac);
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        std::ofstream out(file, std::ios::binary);
        const TimePoint start = *Platform::parseIso8601("2021-01-04T03:00:00Z");
        for (int line = 0, run = 0; line < lines; ++run) {
            const TimePoint at = start + std::chrono::minutes(15) * run;
            const std::string deleted = Platform::formatIso8601(at).substr(0, 19);
            for (int part = 1; part <= itemsPerCleanUp && line < lines; ++part, ++line) {
                const std::string name = "blob-" + std::to_string(line) + ".cache";
                Relocation item { home + "/.cache/app-" + std::to_string(run % 40) + "/shard-"
                                      + std::to_string(line % 997) + "/" + name,
                                  trash + "/files/" + name, std::nullopt, std::nullopt };
                item.kind = "file";
                item.size = 4096 + line % 1000;
                item.modified = std::chrono::time_point_cast<std::chrono::seconds>(at - std::chrono::hours(30));
                item.deletionDate = deleted;
                item.recordWritten = std::to_string(1609729200 + run * 900) + ".123456789";
                if (trashed) {
                    Testing::writeFile(item.to, "");
                    Testing::writeFile(trash + "/info/" + name + ".trashinfo",
                                       "[Trash Info]\nPath=" + Platform::trashInfoPath(item.from)
                                           + "\nDeletionDate=" + deleted + "\n");
                }
                HistoryEntry entry;
                entry.at = at;
                entry.id = "autopilot-caches-" + std::to_string(run % 12);
                entry.title = "Caches of apps you use";
                entry.action = Action::Kind::trash;
                entry.bytes = *item.size;
                entry.relocated = { item };
                entry.run = "run" + std::to_string(run) + "x7f3a9c0d1e2b4f56a8c9d0e1f2a3b4c5." + std::to_string(part);
                out << *History::encodeLine(entry) << '\n';
            }
        }
        out.close();
        Testing::writeFile(ready, "");
    }
};

// History read whole, then each entry's offer of Put Back, as the app asks for them (EngineFacade).
void readWithOffers(benchmark::State& state, const HistoryHome& scene)
{
    std::size_t offered = 0, entries = 0;
    Bench::timeCall(state, [&] {
        const auto loaded = History::read(scene.mac);
        const auto offers = History::offersPutBack(loaded.entries, scene.mac);
        entries = loaded.entries.size();
        offered = static_cast<std::size_t>(std::count(offers.begin(), offers.end(), true));
        benchmark::DoNotOptimize(offered);
    });
    state.counters["entries"] = static_cast<double>(entries);
    state.counters["offered"] = static_cast<double>(offered);
}

void BM_History_FirstReading_TrashEmptied(benchmark::State& state)
{
    const HistoryHome scene("history-300k-emptied", 300'000, false);
    readWithOffers(state, scene);
}
BENCHMARK(BM_History_FirstReading_TrashEmptied)->Apply(Bench::timedByHand<3>);

void BM_History_FirstReading_InTrash(benchmark::State& state)
{
    const HistoryHome scene("history-300k-in-trash", 300'000, true);
    readWithOffers(state, scene);
}
BENCHMARK(BM_History_FirstReading_InTrash)->Apply(Bench::timedByHand<3>);

// The app's way: the newest 200 entries and their offers.
void BM_History_Newest200_Million(benchmark::State& state)
{
    const HistoryHome scene("history-1m", 1'000'000, false);
    Bench::timeCall(state, [&] {
        History::Reader reader(scene.mac);
        const auto loaded = reader.newest(200);
        benchmark::DoNotOptimize(History::offersPutBack(loaded.entries, scene.mac));
    });
}
BENCHMARK(BM_History_Newest200_Million)->Apply(Bench::timedByHand<3>);

std::int64_t statusKiB(const char* key)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0)
            return std::stoll(line.substr(std::string(key).size()));
    return -1;
}

// What Reader::newest(200) of the 1,000,000-line file adds to the resident memory at its peak,
// measured in a child of its own, whose peak is reset before the call.
void BM_History_Newest200_Million_PeakMemory(benchmark::State& state)
{
    const HistoryHome scene("history-1m", 1'000'000, false);
    std::int64_t figures[2] = { -1, -1 };
    for (auto _ : state) {
        int ends[2];
        if (::pipe(ends) != 0) {
            state.SkipWithError("no pipe");
            return;
        }
        const pid_t child = ::fork();
        if (child == 0) {
            {
                std::ofstream("/proc/self/clear_refs") << "5";
            }
            std::int64_t out[2] = { statusKiB("VmRSS:"), 0 };
            {
                History::Reader reader(scene.mac);
                benchmark::DoNotOptimize(reader.newest(200));
                out[1] = statusKiB("VmHWM:");
            }
            (void)!::write(ends[1], out, sizeof out);
            ::_exit(0);
        }
        ::close(ends[1]);
        (void)!::read(ends[0], figures, sizeof figures);
        ::close(ends[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
    }
    state.counters["peakKiB"] = static_cast<double>(figures[1]);
    state.counters["addedKiB"] = static_cast<double>(figures[1] - figures[0]);
    std::printf("Reader::newest(200) of 1,000,000 lines: peak resident %lld KiB, %lld KiB above the start\n",
                static_cast<long long>(figures[1]), static_cast<long long>(figures[1] - figures[0]));
}
BENCHMARK(BM_History_Newest200_Million_PeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    using namespace Quandril;
    Bench::ratio("300k lines: Trash kept / Trash emptied", "BM_History_FirstReading_InTrash",
                 "BM_History_FirstReading_TrashEmptied");
    Bench::figure("300k lines read + offers, Trash emptied", "BM_History_FirstReading_TrashEmptied", 2.0);
    Bench::figure("300k lines read + offers, items in the Trash", "BM_History_FirstReading_InTrash", 2.0);
    Bench::figure("1M lines: Reader::newest(200) + offers", "BM_History_Newest200_Million");
    return Bench::main(argc, argv);
}
