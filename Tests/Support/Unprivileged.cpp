#include "Support/Unprivileged.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Quandril::Testing {

namespace {

namespace fs = std::filesystem;

int threadCount()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0)
            return std::atoi(line.c_str() + 8);
    }
    return 0;
}

// The threads the process had before any test ran (a sanitizer's own, if any): fork() carries
// those over as their runtime arranges.
const int threadsAtStart = threadCount();

int failedParts()
{
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    int failed = 0;
    for (int index = 0; index < result->total_part_count(); ++index)
        failed += result->GetTestPartResult(index).failed() ? 1 : 0;
    return failed;
}

std::string giveTo(const std::string& tree)
{
    std::error_code error;
    if (::lchown(tree.c_str(), ordinaryUid, ordinaryGid) != 0)
        return tree + ": " + std::strerror(errno);
    for (auto it = fs::recursive_directory_iterator(tree, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (::lchown(it->path().c_str(), ordinaryUid, ordinaryGid) != 0)
            return it->path().string() + ": " + std::strerror(errno);
    }
    return error ? tree + ": " + error.message() : "";
}

// $TMPDIR as the ordinary user may use it: /tmp when it can't write to the one given.
void useWritableTemporaryFolder()
{
    const char* temporary = std::getenv("TMPDIR");
    if (temporary && *temporary && ::access(temporary, W_OK | X_OK) != 0)
        ::setenv("TMPDIR", "/tmp", 1);
}

// In the child: no way back to root, and none of root's groups.
std::string dropPrivileges()
{
    if (::setgroups(0, nullptr) != 0 || ::setresgid(ordinaryGid, ordinaryGid, ordinaryGid) != 0
        || ::setresuid(ordinaryUid, ordinaryUid, ordinaryUid) != 0)
        return std::string("can't become an ordinary user: ") + std::strerror(errno);
    if (::setresuid(0, 0, 0) == 0)
        return "an ordinary user could become root again";
    useWritableTemporaryFolder();
    return "";
}

std::string reachable(std::initializer_list<std::string> trees)
{
    for (const auto& tree : trees) {
        if (::access(tree.c_str(), R_OK | W_OK | X_OK) != 0)
            return tree + " can't be reached by uid " + std::to_string(ordinaryUid)
                + ": the folders above it must let others in (set TMPDIR to one that does)";
    }
    return "";
}

void runGuarded(const std::function<void()>& body)
{
    try {
        body();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "thrown: " << error.what();
    } catch (...) {
        ADD_FAILURE() << "thrown: something other than a std::exception";
    }
}

// Where threads already run (the engine's workers, started by an earlier test of this process), a
// forked child would lack them and wait forever. The whole process then takes the ordinary user's
// effective ids (glibc gives every thread the same), runs `body`, and takes root's back: files are
// checked and made as that user, though getuid() still answers 0.
void inThisProcess(const std::function<void()>& body, std::initializer_list<std::string> trees)
{
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))));
    ASSERT_EQ(::getgroups(static_cast<int>(groups.size()), groups.data()), static_cast<int>(groups.size()))
        << "getgroups: " << std::strerror(errno);
    const gid_t gid = ::getegid();
    const char* temporary = std::getenv("TMPDIR");
    const std::string savedTemporary = temporary ? temporary : "";
    if (::setgroups(0, nullptr) != 0 || ::setresgid(-1, ordinaryGid, -1) != 0 || ::setresuid(-1, ordinaryUid, -1) != 0)
        ADD_FAILURE() << "can't take an ordinary user's ids: " << std::strerror(errno);
    else if (const std::string why = reachable(trees); !why.empty())
        ADD_FAILURE() << why;
    else {
        useWritableTemporaryFolder();
        runGuarded(body);
    }
    const bool restored = ::setresuid(-1, 0, -1) == 0 && ::setresgid(-1, gid, -1) == 0
        && ::setgroups(groups.size(), groups.data()) == 0;
    if (temporary)
        ::setenv("TMPDIR", savedTemporary.c_str(), 1);
    if (!restored) {
        // Every later test would run without root's rights.
        std::cerr << "can't take root's ids back: " << std::strerror(errno) << std::endl;
        std::abort();
    }
}

[[noreturn]] void runChild(const std::function<void()>& body, std::initializer_list<std::string> trees)
{
    const int failedBefore = failedParts();
    if (const std::string why = dropPrivileges(); !why.empty())
        ADD_FAILURE() << why;
    else if (const std::string unreached = reachable(trees); !unreached.empty())
        ADD_FAILURE() << unreached;
    else
        runGuarded(body);
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(failedParts() == failedBefore ? 0 : 1);
}

} // namespace

void asOrdinaryUser(const std::function<void()>& body, std::initializer_list<std::string> trees)
{
    if (::geteuid() != 0) {
        body();
        return;
    }
    for (const auto& tree : trees) {
        const std::string failed = giveTo(tree);
        ASSERT_EQ(failed, "") << "can't give the test's files to uid " << ordinaryUid;
    }
    if (threadCount() > threadsAtStart) {
        inThisProcess(body, trees);
        return;
    }
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1) << "fork: " << std::strerror(errno);
    if (child == 0)
        runChild(body, trees);
    int status = 0;
    pid_t ended = -1;
    do {
        ended = ::waitpid(child, &status, 0);
    } while (ended == -1 && errno == EINTR);
    ASSERT_EQ(ended, child) << "waitpid: " << std::strerror(errno);
    if (WIFSIGNALED(status))
        ADD_FAILURE() << "the part run as uid " << ordinaryUid << " was killed by signal " << WTERMSIG(status);
    else if (WEXITSTATUS(status) != 0)
        ADD_FAILURE() << "the part run as uid " << ordinaryUid << " failed: its failures are printed above";
}

void withoutPrivileges(const std::string& tree, const std::function<bool()>& body)
{
    asOrdinaryUser([&] { EXPECT_TRUE(body()); }, { tree });
}

} // namespace Quandril::Testing
