// The app's model over a fake machine of about 300,000 files: how long the GUI thread's event loop
// stalls (the largest gap of a 5 ms timer) while the model scans, cleans everything that rebuilds
// itself, reloads a History of 10,000 entries and scans again; and how much of the GUI thread's
// time goes to reading the drive status and History.
//
// The findings view over a report of 2,000 findings: building and drawing it, and drawing it again
// after the selection changed.
//
// A History of 1,000,000 lines: how long the History section takes to show its newest entries,
// and how much memory the process holds once it does (resident and peak, printed at the end
// against the goal of 200 MB).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include "QuandrilApp/Findings/FreeUpView.h"
#include "QuandrilApp/MainWindow/HistoryView.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Model/TaskPool.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "Support/BenchFiles.h"
#include "Support/FakeMachine.h"
#include "Support/ServicesFixture.h"

namespace {

using namespace Quandril;
using namespace Quandril::App;
using Micros = std::chrono::microseconds;

// The engine, timing the readings of the drive status and of History by the thread they run on.
class TimedEngine final : public LiveEngine {
public:
    std::atomic<std::int64_t> guiMicros { 0 };
    std::atomic<std::int64_t> taskMicros { 0 };
    std::atomic<std::int64_t> longestStatusMicros { 0 };
    std::atomic<std::int64_t> longestHistoryMicros { 0 };

    ScanReport status(const Mac& mac) override
    {
        const auto start = std::chrono::steady_clock::now();
        ScanReport report = LiveEngine::status(mac);
        count(start, longestStatusMicros);
        return report;
    }

    std::unique_ptr<HistoryReader> historyReader(const Mac& mac) override
    {
        return std::make_unique<TimedReader>(*this, LiveEngine::historyReader(mac));
    }

    std::optional<Catalog> loadCatalog() override
    {
        return Catalog::load(std::string(QUANDRIL_SOURCE_DIR) + "/engine/rules/catalog.json");
    }

private:
    class TimedReader final : public HistoryReader {
    public:
        TimedReader(TimedEngine& engine, std::unique_ptr<HistoryReader> reader)
            : engine_(engine)
            , reader_(std::move(reader))
        {
        }
        History::Loaded newest(std::size_t count) override
        {
            const auto start = std::chrono::steady_clock::now();
            auto loaded = reader_->newest(count);
            engine_.count(start, engine_.longestHistoryMicros);
            return loaded;
        }
        bool hasOlder() const override { return reader_->hasOlder(); }

    private:
        TimedEngine& engine_;
        std::unique_ptr<HistoryReader> reader_;
    };

    void count(std::chrono::steady_clock::time_point start, std::atomic<std::int64_t>& longestOfKind)
    {
        const std::int64_t spent = std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now() - start).count();
        const bool onGui = QThread::currentThread() == QCoreApplication::instance()->thread();
        (onGui ? guiMicros : taskMicros) += spent;
        std::int64_t longest = longestOfKind.load();
        while (spent > longest && !longestOfKind.compare_exchange_weak(longest, spent)) {}
    }
};

struct Machine {
    Testing::FakeMachine fake;
    std::int64_t files = 0;

    Machine()
    {
        auto& m = fake;
        m.drive("Backup", "/Volumes/Backup", 2'000'000'000'000, 1'500'000'000'000);
        files += Testing::fillFolders(m.at("~/Library/Developer/Xcode/DerivedData"), 700, 150, 1);
        files += Testing::fillFolders(m.at("~/.npm/_cacache"), 500, 100, 3);
        files += Testing::fillFolders(m.at("~/Library/Caches/Yarn"), 100, 100, 4);
        files += Testing::fillFolders(m.at("~/Library/Caches/Google/Chrome"), 150, 100, 5);
        files += Testing::fillFolders(m.at("~/.cargo/registry"), 250, 100, 7);
        files += Testing::fillFolders(m.at("~/Library/Caches/com.example.big"), 300, 100, 12);
        for (int c = 0; c < 60; ++c)
            files += Testing::fillFolders(m.at("~/Library/Containers/com.example.app" + std::to_string(c)
                                               + "/Data/Library"),
                                          4, 40, c);
        for (int a = 0; a < 80; ++a)
            files += Testing::fillFolders(m.at("~/Library/Application Support/Maker " + std::to_string(a) + " App"), 3,
                                          50, a);
        files += Testing::fillFolders(m.at("~/Documents/Projects"), 400, 100, 8);
        files += Testing::fillFolders(m.at("~/Downloads"), 20, 50, 9);

        // A History of 10,000 entries, each with the place its item went to.
        std::string lines;
        for (int i = 0; i < 10'000; ++i) {
            HistoryEntry entry;
            entry.at = Clock::now() - std::chrono::hours(i);
            entry.id = "finding-" + std::to_string(i);
            entry.title = "Old caches of App " + std::to_string(i);
            entry.bytes = 1'000'000 + i;
            entry.relocated = { { m.at("~/Library/Caches/app" + std::to_string(i)),
                                  m.at("~/.Trash/app" + std::to_string(i)), std::nullopt, std::nullopt } };
            lines += *History::encodeLine(entry) + "\n";
        }
        Testing::writeFile(History::path(m.mac()), lines);
    }
};

// Runs the event loop until `done` holds.
void runUntil(Model& model, const std::function<bool()>& done)
{
    QEventLoop loop;
    QObject::connect(&model, &Model::changed, &loop, [&] {
        if (done())
            loop.quit();
    });
    if (!done())
        loop.exec();
}

void BM_ModelScanCleanReload(benchmark::State& state)
{
    static Machine machine;
    for (auto _ : state) {
        Testing::TempDir folder;
        Preferences preferences(QString::fromStdString(folder.path() + "/preferences.json"));
        auto engine = std::make_shared<TimedEngine>();
        ModelServices services;
        services.engine = engine;

        QElapsedTimer wall;
        wall.start();
        Model model(machine.fake.mac(), preferences, services);
        const double startMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;
        const std::int64_t startGuiMicros = engine->guiMicros.exchange(0);

        // The event loop's pulse: the largest gap between two ticks of a 5 ms timer.
        QElapsedTimer sinceTick;
        std::int64_t largestGapMicros = 0;
        QTimer pulse;
        pulse.setTimerType(Qt::PreciseTimer);
        pulse.setInterval(5);
        QObject::connect(&pulse, &QTimer::timeout, [&] {
            largestGapMicros = std::max<std::int64_t>(largestGapMicros, sinceTick.nsecsElapsed() / 1000);
            sinceTick.restart();
        });
        pulse.start();
        sinceTick.start();
        wall.restart();

        model.scan();
        runUntil(model, [&] { return !model.scanning(); });
        const double scanMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;

        std::vector<std::string> ids;
        for (const Finding& finding : model.report()->findings) {
            if (finding.tier == Tier::rebuilds)
                ids.push_back(finding.id);
        }
        model.setSelected({ ids.begin(), ids.end() });
        model.clean(ids, false, std::nullopt);
        // The clean-up, its publication with History reloaded, and the follow-up scan.
        runUntil(model, [&] { return !model.cleaning() && !model.scanning(); });
        const double totalMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;
        pulse.stop();

        std::int64_t cleaned = 0;
        for (const CleanResult& result : model.lastResults())
            cleaned += result.status == CleanResult::Status::done ? 1 : 0;
        state.SetIterationTime(totalMs / 1000);
        state.counters["files"] = static_cast<double>(machine.files);
        state.counters["history"] = static_cast<double>(model.history().size());
        state.counters["cleaned"] = static_cast<double>(cleaned);
        state.counters["startMs"] = startMs;
        state.counters["startReadingsMs"] = static_cast<double>(startGuiMicros) / 1000;
        state.counters["scanMs"] = scanMs;
        state.counters["cleanAndRescanMs"] = totalMs - scanMs;
        state.counters["longestStallMs"] = static_cast<double>(largestGapMicros) / 1000;
        state.counters["guiReadingsMs"] = static_cast<double>(engine->guiMicros.load()) / 1000;
        state.counters["guiReadingsShare%"] = 100.0 * static_cast<double>(engine->guiMicros.load()) / 1000 / totalMs;
        state.counters["taskReadingsMs"] = static_cast<double>(engine->taskMicros.load()) / 1000;
        // What one reading would hold up the GUI thread for, were it taken there.
        state.counters["longestStatusMs"] = static_cast<double>(engine->longestStatusMicros.load()) / 1000;
        state.counters["longestHistoryMs"] = static_cast<double>(engine->longestHistoryMicros.load()) / 1000;
        TaskPool::shared().waitForDone();
    }
}

// ---- A long History ----

struct Memory {
    std::int64_t residentKiB = 0;
    std::int64_t peakKiB = 0; // since the last resetPeak()
};

Memory memoryNow()
{
    Memory memory;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            memory.residentKiB = std::stoll(line.substr(6));
        else if (line.rfind("VmHWM:", 0) == 0)
            memory.peakKiB = std::stoll(line.substr(6));
    }
    return memory;
}

void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

constexpr int longHistoryLines = 1'000'000;

// The history file, written once and copied into each run's machine.
struct LongHistory {
    Testing::TempDir folder;
    std::string path = folder.path() + "/history.jsonl";
    std::int64_t bytes = 0;

    LongHistory()
    {
        std::ofstream out(path, std::ios::binary);
        std::string chunk;
        const auto start = Clock::now() - std::chrono::hours(longHistoryLines);
        for (int i = 0; i < longHistoryLines; ++i) {
            HistoryEntry entry;
            entry.at = start + std::chrono::hours(i);
            entry.id = "c" + std::to_string(i);
            entry.title = "App " + std::to_string(i % 5000);
            entry.action = Action::Kind::trash;
            entry.bytes = 1'000'000 + i;
            entry.relocated = { { "/Users/me/" + std::to_string(i), "/Users/me/.Trash/" + std::to_string(i),
                                  std::nullopt, std::nullopt } };
            chunk += *History::encodeLine(entry) + "\n";
            if (chunk.size() > (8 << 20)) {
                out << chunk;
                bytes += static_cast<std::int64_t>(chunk.size());
                chunk.clear();
            }
        }
        out << chunk;
        bytes += static_cast<std::int64_t>(chunk.size());
    }
};

struct LongHistoryFigure {
    std::int64_t fileBytes = 0;
    double shownMs = 0;
    Memory before;
    Memory shown;
    std::size_t held = 0;
};
std::optional<LongHistoryFigure> longHistoryFigure;

void BM_LongHistoryShown(benchmark::State& state)
{
    static LongHistory history;
    for (auto _ : state) {
        AppTesting::ServicesFixture fixture;
        const std::string target = History::path(fixture.machine().mac());
        Testing::makeFolders(std::filesystem::path(target).parent_path().string());
        std::filesystem::copy_file(history.path, target, std::filesystem::copy_options::overwrite_existing);
        QCoreApplication::processEvents();
        resetPeak();
        LongHistoryFigure figure { history.bytes, 0, memoryNow(), {}, 0 };

        QElapsedTimer timer;
        timer.start();
        Model& model = fixture.modelFixture.start();
        HistoryView view(fixture.services());
        view.resize(700, 600);
        view.show();
        AppTesting::waitUntil([&] { return model.historyRead(); }, 600'000);
        QCoreApplication::processEvents();
        (void)view.grab();
        figure.shownMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        figure.shown = memoryNow();
        figure.held = model.history().size();
        state.SetIterationTime(figure.shownMs / 1000);
        state.counters["lines"] = longHistoryLines;
        state.counters["held"] = static_cast<double>(figure.held);
        state.counters["residentMB"] = static_cast<double>(figure.shown.residentKiB) / 1024;
        state.counters["peakMB"] = static_cast<double>(figure.shown.peakKiB) / 1024;
        longHistoryFigure = figure;
    }
}

void printLongHistoryFigure()
{
    if (!longHistoryFigure)
        return;
    const LongHistoryFigure& f = *longHistoryFigure;
    const auto mb = [](std::int64_t kib) { return static_cast<double>(kib) / 1024; };
    const double goalMB = 200;
    std::printf("\nHistory of %d lines (%.0f MB): newest %zu entries shown in %.0f ms\n", longHistoryLines,
                static_cast<double>(f.fileBytes) / 1e6, f.held, f.shownMs);
    std::printf("  resident before %.0f MB, once shown %.0f MB, peak while reading %.0f MB  goal <= %.0f MB: %s\n",
                mb(f.before.residentKiB), mb(f.shown.residentKiB), mb(f.shown.peakKiB), goalMB,
                mb(f.shown.peakKiB) <= goalMB ? "met" : "NOT met");
}

// A report of `count` findings on the startup drive, across the tiers and with every kind of mark.
ScanReport manyFindings(const Mac& mac, int count)
{
    std::vector<Finding> findings;
    const std::string drive = mac.drives().front().path;
    for (int i = 0; i < count; ++i) {
        const Tier tier = TierInfo::allCases[std::size_t(i * 3 / count)];
        Finding finding = AppTesting::finding("finding-" + std::to_string(i), 5'000'000'000 - i * 1'000'000, tier,
                                              drive);
        finding.title = "Caches of App " + std::to_string(i);
        finding.reason = "Files the app keeps to start faster; it makes them again when they are gone.";
        if (i % 7 == 0)
            finding.caution = "Some settings of this app may need to be chosen again.";
        if (i % 11 == 0)
            finding.blockedBy = "Quit App " + std::to_string(i) + " first.";
        if (i % 13 == 0)
            finding.action = Action(Action::Kind::handOff, std::nullopt, std::nullopt, "App " + std::to_string(i),
                                    "Open the app and remove old items from its library.");
        findings.push_back(std::move(finding));
    }
    ScanReport report = AppTesting::reportWith(mac, std::move(findings));
    report.notes = { "Left the caches of two open apps alone." };
    return report;
}

struct FindingsFixture {
    AppTesting::ServicesFixture services;

    FindingsFixture()
    {
        services.modelFixture.engine->onScan = [](const Mac& mac, const Catalog&, const ScanOptions&) {
            return manyFindings(mac, 2000);
        };
        Model& model = services.services().model;
        model.scan();
        services.settle();
    }
};

double elapsedMs(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

void BM_FindingsViewBuild(benchmark::State& state)
{
    FindingsFixture fixture;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        FreeUpView view(fixture.services.services());
        view.resize(730, 620);
        view.show();
        QCoreApplication::processEvents();
        const QPixmap drawn = view.grab();
        state.SetIterationTime(elapsedMs(timer) / 1000);
        state.counters["findings"] = static_cast<double>(fixture.services.services().model.report()->findings.size());
        benchmark::DoNotOptimize(drawn.isNull());
    }
}

void BM_FindingsViewSelectionChange(benchmark::State& state)
{
    FindingsFixture fixture;
    Model& model = fixture.services.services().model;
    FreeUpView view(fixture.services.services());
    view.resize(730, 620);
    view.show();
    QCoreApplication::processEvents();
    (void)view.grab();
    std::set<std::string> all;
    for (const Finding& finding : model.report()->findings)
        all.insert(finding.id);
    bool full = false;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        full = !full;
        model.setSelected(full ? all : std::set<std::string> {});
        QCoreApplication::processEvents();
        const QPixmap drawn = view.grab();
        state.SetIterationTime(elapsedMs(timer) / 1000);
        benchmark::DoNotOptimize(drawn.isNull());
    }
}

} // namespace

// First, so that the memory it measures is its own and not what the other benchmarks left.
BENCHMARK(BM_LongHistoryShown)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_FindingsViewBuild)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);
BENCHMARK(BM_FindingsViewSelectionChange)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(50);

// One run: the clean-up changes the machine, and building it again takes longer than the run.
BENCHMARK(BM_ModelScanCleanReload)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

int main(int argc, char** argv)
{
    // The views are measured without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printLongHistoryFigure();
    return 0;
}
