// The two operations of Mac that change the machine: the Trash and privileged runs.

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "QuandrilCore/FileHelpers.h"
#include "QuandrilCore/Mac.h"
#include "QuandrilCore/Platform/Move.h"
#include "QuandrilCore/Platform/Trash.h"

extern char** environ;

namespace Quandril {

namespace {

std::string lastComponent(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string fakeTrash(const Mac& mac, const std::string& path)
{
    const std::string trash = mac.path("~/.Trash");
    std::error_code error;
    std::filesystem::create_directories(trash, error);
    if (error)
        throw std::system_error(error, "can't make " + trash);
    const std::string name = lastComponent(path);
    if (name.empty() || name == "/" || name == "." || name == "..")
        throw std::system_error(EINVAL, std::generic_category(), "can't move " + path + " to the Trash");
    unsigned n = 2;
    const auto nextName = [&] { return trash + "/" + name + " " + std::to_string(n++); };
    std::string destination = trash + "/" + name;
    for (;;) {
        // A dangling link still occupies the name.
        if (exists(destination) || isSymlink(destination)) {
            destination = nextName();
            continue;
        }
        try {
            Platform::moveNoReplace(path, destination);
            return destination;
        } catch (const std::system_error& failure) {
            // Something took the name since it was checked.
            if (failure.code() != std::errc::file_exists)
                throw;
            destination = nextName();
        }
    }
}

// Only the system's own copy is trusted to ask for the password.
std::optional<std::string> pkexecPath()
{
    for (const char* candidate : {"/usr/bin/pkexec", "/bin/pkexec"}) {
        struct stat info {};
        if (::stat(candidate, &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate, X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

bool runPrivileged(const std::string& pkexec, const std::string& line)
{
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    bool prepared = true;
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        prepared = prepared
            && posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0)
                == 0;
    std::string program = pkexec, shell = "/bin/sh", option = "-c", command = line;
    char* argv[] = {program.data(), shell.data(), option.data(), command.data(), nullptr};
    pid_t child = 0;
    prepared = prepared && posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!prepared)
        return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return false;
    // A refused or cancelled password prompt ends pkexec with a non-zero status as well.
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

std::string adminShellLine(const std::vector<std::vector<std::string>>& commands)
{
    std::string line;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (i > 0)
            line += " && ";
        for (std::size_t j = 0; j < commands[i].size(); ++j) {
            if (j > 0)
                line += ' ';
            line += '\'';
            for (char c : commands[i][j]) {
                if (c == '\'')
                    line += "'\\''";
                else
                    line += c;
            }
            line += '\'';
        }
    }
    return line;
}

std::string Mac::trash(const std::string& path) const
{
    if (isFake())
        return fakeTrash(*this, path);
    return Platform::moveToTrash(path, home);
}

bool Mac::runAsAdmin(const std::vector<std::vector<std::string>>& commands) const
{
    if (isFake() || commands.empty())
        return false;
    const auto pkexec = pkexecPath();
    if (!pkexec)
        return false;
    return runPrivileged(*pkexec, adminShellLine(commands));
}

} // namespace Quandril
