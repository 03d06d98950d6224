#include "Support/TrashClient.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Quandril::Testing {

bool haveTool(const std::string& name)
{
    return ::access(("/usr/bin/" + name).c_str(), X_OK) == 0;
}

std::optional<std::string> runTool(const std::vector<std::string>& command, const std::string& input)
{
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    std::vector<char*> argv;
    for (const auto& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork");
    if (child == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    // The tools read a line or two; a pipe's buffer holds that without a reader yet.
    [[maybe_unused]] const auto written = ::write(in[1], input.data(), input.size());
    ::close(in[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return text;
}

ScratchDrive::ScratchDrive()
{
    path_ = "/dev/shm/quandril-drive-XXXXXX";
    if (!::mkdtemp(path_.data()))
        throw std::runtime_error("mkdtemp under /dev/shm");
    mounted_ = ::mount("quandril-test", path_.c_str(), "tmpfs", 0, "size=16m") == 0;
}

ScratchDrive::~ScratchDrive()
{
    if (!elsewhere_.empty()) {
        ::umount2(elsewhere_.c_str(), MNT_DETACH);
        ::rmdir(elsewhere_.c_str());
    }
    if (mounted_)
        ::umount2(path_.c_str(), MNT_DETACH);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void ScratchDrive::unplug()
{
    if (mounted_ && ::umount2(path_.c_str(), MNT_DETACH) == 0)
        mounted_ = false;
}

std::string ScratchDrive::mountedElsewhere()
{
    if (!mounted_)
        return {};
    elsewhere_ = path_ + "-elsewhere";
    if (::mkdir(elsewhere_.c_str(), 0700) != 0
        || ::mount(path_.c_str(), elsewhere_.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        ::rmdir(elsewhere_.c_str());
        elsewhere_.clear();
    }
    return elsewhere_;
}

} // namespace Quandril::Testing
