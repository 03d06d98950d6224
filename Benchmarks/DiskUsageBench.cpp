// Disk usage of a tree of about 200,000 entries: one walk, the same tree as 64 folders measured in
// parallel, and `du -sx` of the same tree for comparison.

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "QuandrilCore/DiskUsage.h"
#include "Support/FakeMachine.h"

extern char** environ;

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
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program = "du";
    std::string options = "-sxB1";
    std::string target = path;
    char* argv[] = { program.data(), options.data(), target.data(), nullptr };
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, "du", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    std::string output;
    if (spawned == 0) {
        char buffer[4096];
        ssize_t count;
        while ((count = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0 || (count < 0 && errno == EINTR)) {
            if (count > 0)
                output.append(buffer, static_cast<std::size_t>(count));
        }
    }
    ::close(pipeEnds[0]);
    if (spawned != 0)
        return std::nullopt;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    char* end = nullptr;
    long long bytes = std::strtoll(output.c_str(), &end, 10);
    if (end == output.c_str())
        return std::nullopt;
    return bytes;
}

void setCounters(benchmark::State& state, std::int64_t bytes)
{
    state.counters["entries"] = static_cast<double>(tree().entries);
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["entries/s"] = benchmark::Counter(static_cast<double>(tree().entries), benchmark::Counter::kIsIterationInvariantRate);
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

} // namespace

// Real time: the parallel case works on other threads and du in another process.
BENCHMARK(BM_DuSx)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DiskUsageOneWalk)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_64FoldersOneAfterAnother)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DiskUsageOf64Folders)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
