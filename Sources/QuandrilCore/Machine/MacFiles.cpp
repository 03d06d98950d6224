// The two operations of Mac that change the machine: the Trash and privileged runs.

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/Move.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Process.h"
#include "QuandrilCore/Platform/Trash.h"

namespace Quandril {

namespace {

std::string fakeTrash(const Mac& mac, const std::string& path)
{
    const std::string trash = mac.path("~/.Trash");
    std::error_code error;
    std::filesystem::create_directories(trash, error);
    if (error)
        throw std::system_error(error, "can't make " + trash);
    const std::string name(Platform::lastName(path));
    if (name.empty() || name == "/" || name == "." || name == "..")
        throw std::system_error(EINVAL, std::generic_category(), "can't move " + path + " to the Trash");
    // As in the live Trash: a drive mounted inside would go along.
    Platform::refuseWhenMountedInside(path, path);
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
    for (const char* candidate : { "/usr/bin/pkexec", "/bin/pkexec" }) {
        if (Platform::isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
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
    // A refused or cancelled password prompt ends pkexec with a non-zero status as well.
    return Platform::runToEnd(*pkexec, { "/bin/sh", "-c", adminShellLine(commands) });
}

} // namespace Quandril
