#include "Support/Peers.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <utility>

#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Quandril::Bench {

namespace {

struct Ratio {
    std::string label;
    std::string numerator;
    std::string denominator;
    double goal;
};

struct Figure {
    std::string label;
    std::string benchmark;
    double goal;
};

std::vector<Figure>& figures()
{
    static std::vector<Figure> list;
    return list;
}

std::vector<Ratio>& ratios()
{
    static std::vector<Ratio> list;
    return list;
}

// Median times by benchmark name, in seconds.
std::map<std::string, double>& medians()
{
    static std::map<std::string, double> times;
    return times;
}

double toSeconds(double value, benchmark::TimeUnit unit)
{
    switch (unit) {
    case benchmark::kNanosecond:
        return value / 1e9;
    case benchmark::kMicrosecond:
        return value / 1e6;
    case benchmark::kMillisecond:
        return value / 1e3;
    case benchmark::kSecond:
        return value;
    }
    return value;
}

class Reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs) {
            if (run.error_occurred)
                continue;
            // One repetition reports no aggregates: its own time stands for the median.
            if ((run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                || (run.run_type == Run::RT_Iteration && run.repetitions <= 1))
                medians()[run.run_name.function_name] = toSeconds(run.GetAdjustedRealTime(), run.time_unit);
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

bool isRoot()
{
    return ::geteuid() == 0;
}

bool quietly(const std::vector<std::string>& argv)
{
    return run(argv).has_value();
}

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

std::string dataFolder()
{
    const char* set = std::getenv("QUANDRIL_BENCH_DATA");
    std::string folder = set && *set ? set : QUANDRIL_BENCH_DATA_DEFAULT;
    std::filesystem::create_directories(folder);
    return folder;
}

std::optional<ProcessRun> run(const std::vector<std::string>& argv)
{
    int pipeEnds[2];
    if (argv.empty() || ::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> copies = argv;
    std::vector<char*> pointers;
    for (auto& copy : copies)
        pointers.push_back(copy.data());
    pointers.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    ProcessRun result;
    if (spawned == 0) {
        char buffer[4096];
        ssize_t count;
        while ((count = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0 || (count < 0 && errno == EINTR)) {
            if (count > 0)
                result.output.append(buffer, static_cast<std::size_t>(count));
        }
    }
    ::close(pipeEnds[0]);
    if (spawned != 0)
        return std::nullopt;
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {}
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peakKiB = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return result;
}

void timeTool(benchmark::State& state, const std::vector<std::string>& argv)
{
    for (auto _ : state) {
        auto done = run(argv);
        if (!done) {
            state.SkipWithError((argv[0] + " could not be run").c_str());
            return;
        }
        state.SetIterationTime(done->seconds);
        state.counters["peakRSS_MiB"] = static_cast<double>(done->peakKiB) / 1024.0;
    }
}

std::optional<std::int64_t> firstNumber(const std::string& output)
{
    char* end = nullptr;
    const long long value = std::strtoll(output.c_str(), &end, 10);
    if (end == output.c_str())
        return std::nullopt;
    return value;
}

Volume::Volume(const std::string& name, std::uint64_t bytes, std::uint64_t inodes, unsigned blockSize)
{
    const std::string data = dataFolder();
    image_ = data + "/" + name + ".img";
    mountPoint_ = data + "/" + name;
    marker_ = data + "/" + name + ".ready";
    path_ = mountPoint_ + "/tree";
    std::filesystem::create_directories(mountPoint_);
    if (!isRoot())
        return;
    // What a run that was stopped left mounted and attached goes first, so the image is never in use twice.
    while (quietly({ "umount", mountPoint_ })) {}
    if (auto attached = run({ "losetup", "-j", image_ })) {
        std::size_t start = 0;
        while (start < attached->output.size()) {
            const std::size_t end = attached->output.find('\n', start);
            const std::string line = attached->output.substr(start, end - start);
            if (const std::size_t colon = line.find(':'); colon != std::string::npos)
                quietly({ "losetup", "-d", line.substr(0, colon) });
            start = end == std::string::npos ? attached->output.size() : end + 1;
        }
    }
    if (!std::filesystem::exists(image_)) {
        std::filesystem::remove(marker_);
        if (!quietly({ "truncate", "-s", std::to_string(bytes), image_ })
            || !quietly({ "mkfs.ext4", "-q", "-F", "-N", std::to_string(inodes), "-b", std::to_string(blockSize), "-E",
                          "lazy_itable_init=0,lazy_journal_init=0", image_ })) {
            std::filesystem::remove(image_);
            return;
        }
    }
    auto attached = run({ "losetup", "--find", "--show", "--direct-io=on", image_ });
    if (!attached)
        return;
    device_ = trimmed(attached->output);
    if (!quietly({ "mount", "-t", "ext4", device_, mountPoint_ })) {
        quietly({ "losetup", "-d", device_ });
        device_.clear();
    }
}

Volume::~Volume()
{
    if (device_.empty())
        return;
    quietly({ "umount", mountPoint_ });
    quietly({ "losetup", "-d", device_ });
}

bool Volume::ready() const
{
    return std::filesystem::exists(marker_) && std::filesystem::exists(path_);
}

void Volume::markReady()
{
    if (FILE* file = std::fopen(marker_.c_str(), "w"))
        std::fclose(file);
}

bool Volume::makeCold(std::string& how)
{
    ::sync();
    if (!device_.empty()) {
        how = "the tree's own file system unmounted and mounted again";
        return quietly({ "umount", mountPoint_ }) && quietly({ "mount", "-t", "ext4", device_, mountPoint_ });
    }
    how = "every cache of the system dropped";
    FILE* drop = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (!drop)
        return false;
    const bool written = std::fputs("3\n", drop) >= 0;
    return std::fclose(drop) == 0 && written;
}

void ratio(std::string label, std::string numerator, std::string denominator, double goal)
{
    ratios().push_back(Ratio { std::move(label), std::move(numerator), std::move(denominator), goal });
}

void figure(std::string label, std::string benchmark, double goalSeconds)
{
    figures().push_back(Figure { std::move(label), std::move(benchmark), goalSeconds });
}

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    bool printed = false;
    for (const auto& r : ratios()) {
        auto top = medians().find(r.numerator);
        auto bottom = medians().find(r.denominator);
        if (top == medians().end() && bottom == medians().end())
            continue;
        if (!printed)
            std::printf("\nRatios of medians (below 1: Gorrin is faster)\n");
        printed = true;
        if (top == medians().end() || bottom == medians().end() || bottom->second <= 0) {
            std::printf("  %-44s n/a (%s or %s did not run)\n", r.label.c_str(), r.numerator.c_str(),
                        r.denominator.c_str());
            continue;
        }
        const double value = top->second / bottom->second;
        std::printf("  %-44s %.2f  (%.3f s / %.3f s)", r.label.c_str(), value, top->second, bottom->second);
        if (r.goal > 0)
            std::printf("  goal <= %.2f: %s", r.goal, value <= r.goal ? "met" : "NOT met");
        std::printf("\n");
    }
    printed = false;
    for (const auto& f : figures()) {
        const auto time = medians().find(f.benchmark);
        if (time == medians().end())
            continue;
        if (!printed)
            std::printf("\nMedians with goals of their own\n");
        printed = true;
        std::printf("  %-44s %.3f s", f.label.c_str(), time->second);
        if (f.goal > 0)
            std::printf("  goal <= %.2f s: %s", f.goal, time->second <= f.goal ? "met" : "NOT met");
        std::printf("\n");
    }
    std::fflush(stdout);
    return 0;
}

} // namespace Quandril::Bench
