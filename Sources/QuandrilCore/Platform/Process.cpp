#include "QuandrilCore/Platform/Process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "QuandrilCore/Platform/AtPath.h"

extern char** environ;

namespace Quandril::Platform {

namespace {

using Deadline = std::chrono::steady_clock::time_point;

// Milliseconds left until the deadline, as poll wants them; 0 once it has passed.
int millisecondsLeft(Deadline deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return 0;
    // Round up so a wait does not end a moment before the deadline and spin.
    return left.count() >= 1'000'000 ? 1'000'000 : static_cast<int>(left.count()) + 1;
}

struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    bool actionsMade = false;
    bool attributesMade = false;

    ~SpawnSetup()
    {
        if (actionsMade)
            posix_spawn_file_actions_destroy(&actions);
        if (attributesMade)
            posix_spawnattr_destroy(&attributes);
    }
};

// Reads everything the child prints; false when the deadline passes first.
bool readToEnd(int fd, Deadline deadline, std::string& out)
{
    char buffer[65536];
    for (;;) {
        struct pollfd waiting {
            fd, POLLIN, 0
        };
        int ready = ::poll(&waiting, 1, millisecondsLeft(deadline));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (ready == 0)
            return false;
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        if (count == 0)
            return true;
        out.append(buffer, static_cast<std::size_t>(count));
    }
}

// Waits for the child to end; the exit status, or absent when the deadline passes first.
std::optional<int> waitUntil(pid_t pid, Deadline deadline)
{
#ifdef SYS_pidfd_open
    Descriptor pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (pidfd.get() >= 0) {
        for (;;) {
            struct pollfd waiting {
                pidfd.get(), POLLIN, 0
            };
            int ready = ::poll(&waiting, 1, millisecondsLeft(deadline));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return std::nullopt;
            break;
        }
    }
#endif
    // Without a process descriptor (an old kernel) the wait polls.
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return status;
        if (done < 0 && errno != EINTR)
            return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// The program's own path first, then the arguments, then the null posix_spawn wants.
std::vector<char*> argumentVector(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    return argv;
}

void killAndReap(pid_t pid)
{
    // The child leads its own process group, so whatever it started goes with it.
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
}

} // namespace

std::optional<std::string> runProcess(const std::string& program, const std::vector<std::string>& arguments,
                                      std::chrono::milliseconds limit)
{
    const Deadline deadline = std::chrono::steady_clock::now() + limit;

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return std::nullopt;
    Descriptor readEnd(ends[0]);
    Descriptor writeEnd(ends[1]);

    SpawnSetup setup;
    if (posix_spawn_file_actions_init(&setup.actions) != 0)
        return std::nullopt;
    setup.actionsMade = true;
    if (posix_spawnattr_init(&setup.attributes) != 0)
        return std::nullopt;
    setup.attributesMade = true;

    // The pipe goes to 1 before 0 and 2 are opened, so a pipe end that landed on 0 or 2 (a parent
    // started with those closed) is not replaced before it is copied.
    if (posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), STDOUT_FILENO) != 0
        || posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) != 0
        || posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0) != 0)
        return std::nullopt;

    sigset_t empty;
    sigset_t defaults;
    sigemptyset(&empty);
    sigemptyset(&defaults);
    for (int signal : { SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD })
        sigaddset(&defaults, signal);
    if (posix_spawnattr_setflags(&setup.attributes,
                                 POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF)
            != 0
        || posix_spawnattr_setpgroup(&setup.attributes, 0) != 0
        || posix_spawnattr_setsigmask(&setup.attributes, &empty) != 0
        || posix_spawnattr_setsigdefault(&setup.attributes, &defaults) != 0)
        return std::nullopt;

    std::vector<char*> argv = argumentVector(program, arguments);

    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, argv.data(), environ) != 0)
        return std::nullopt;
    // Only the child may hold the write end, or the read below never sees its end.
    writeEnd.close();

    std::string output;
    if (!readToEnd(readEnd.get(), deadline, output)) {
        killAndReap(pid);
        return std::nullopt;
    }
    readEnd.close();
    auto status = waitUntil(pid, deadline);
    if (!status) {
        killAndReap(pid);
        return std::nullopt;
    }
    if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0)
        return std::nullopt;
    return output;
}

bool runToEnd(const std::string& program, const std::vector<std::string>& arguments)
{
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    bool prepared = true;
    for (int fd : { STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO })
        prepared = prepared
            && posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0)
                == 0;
    std::vector<char*> argv = argumentVector(program, arguments);
    pid_t child = 0;
    prepared = prepared && posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!prepared)
        return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool isExecutableFile(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace Quandril::Platform
