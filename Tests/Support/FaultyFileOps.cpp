#include "Support/FaultyFileOps.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/Process.h"
#include "Support/FakeMachine.h"

namespace Quandril::Testing {

namespace {

namespace fs = std::filesystem;

// The first regular file of the copy (the copy itself when it is one), in name order; with
// `needsBytes`, the first that is not empty.
std::optional<std::string> firstFile(const std::string& path, bool needsBytes)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    if (S_ISREG(info.st_mode))
        return (!needsBytes || info.st_size > 0) ? std::optional(path) : std::nullopt;
    if (!S_ISDIR(info.st_mode))
        return std::nullopt;
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(path, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const auto& name : names)
        if (auto found = firstFile(path + "/" + name, needsBytes))
            return found;
    return std::nullopt;
}

// Changes a file's bytes but keeps its times, so only a look at the contents can tell.
void damage(const std::string& file, FaultyFileOps::CopyFault fault)
{
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0)
        return;
    if (fault == FaultyFileOps::CopyFault::missingFile) {
        ::unlink(file.c_str());
        return;
    }
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        // A read-only copy: make it writable for the damage, then give the mode back.
        ::chmod(file.c_str(), info.st_mode | S_IWUSR);
        damage(file, fault);
        ::chmod(file.c_str(), info.st_mode & 07777);
        return;
    }
    if (fault == FaultyFileOps::CopyFault::shortFile) {
        (void)::ftruncate(fd, info.st_size - 1);
    } else {
        const off_t middle = info.st_size / 2;
        unsigned char byte = 0;
        if (::pread(fd, &byte, 1, middle) == 1) {
            byte ^= 0xFF;
            (void)::pwrite(fd, &byte, 1, middle);
        }
    }
    const struct timespec times[2] = { info.st_atim, info.st_mtim };
    (void)::futimens(fd, times);
    ::close(fd);
}

} // namespace

std::string_view name(FileOp op)
{
    static constexpr std::array<std::string_view, 9> names { "trash",        "remove",     "moveNoReplace",
                                                             "createFolder", "createLink", "copy",
                                                             "runAsAdmin",   "removeLink", "removeFolder" };
    return names[static_cast<std::size_t>(op)];
}

FaultyFileOps& FaultyFileOps::failAt(int k, std::optional<FileOp> only, int error)
{
    failures_.push_back({ k, only, error });
    return *this;
}

FaultyFileOps& FaultyFileOps::failAll(FileOp op, int error)
{
    alwaysFailing_.emplace_back(op, error);
    return *this;
}

FaultyFileOps& FaultyFileOps::damageCopies(CopyFault fault)
{
    copyFault_ = fault;
    return *this;
}

FaultyFileOps& FaultyFileOps::occupyBeforeMove(int k, std::string content)
{
    occupied_.emplace_back(k, std::move(content));
    return *this;
}

FaultyFileOps& FaultyFileOps::before(Hook hook)
{
    hooks_.push_back(std::move(hook));
    return *this;
}

FaultyFileOps& FaultyFileOps::adminAnswer(bool execute)
{
    adminExecutes_ = execute;
    return *this;
}

int FaultyFileOps::count(FileOp op) const
{
    return static_cast<int>(
        std::count_if(calls_.begin(), calls_.end(), [op](const FileOpCall& call) { return call.op == op; }));
}

void FaultyFileOps::enter(FileOp op, const std::string& first, const std::string& second)
{
    calls_.push_back({ op, first, second });
    const int position = static_cast<int>(calls_.size());
    const int ofKind = count(op);
    for (const auto& hook : hooks_)
        hook(calls_.back(), position);
    const auto planted = [&](int error) {
        throw std::system_error(error, std::generic_category(),
                                "planted failure of " + std::string(name(op)) + " " + first);
    };
    for (const auto& failure : failures_) {
        const bool hit = failure.only ? (*failure.only == op && failure.k == ofKind) : failure.k == position;
        if (hit)
            planted(failure.error);
    }
    for (const auto& [kind, error] : alwaysFailing_)
        if (kind == op)
            planted(error);
}

std::string FaultyFileOps::trash(const Mac& mac, const std::string& path)
{
    enter(FileOp::trash, path);
    return LiveFileOps::trash(mac, path);
}

std::int64_t FaultyFileOps::remove(const std::string& path)
{
    enter(FileOp::remove, path);
    return LiveFileOps::remove(path);
}

void FaultyFileOps::moveNoReplace(const std::string& from, const std::string& to)
{
    enter(FileOp::moveNoReplace, from, to);
    const int move = count(FileOp::moveNoReplace);
    for (const auto& [k, content] : occupied_) {
        struct stat info {};
        if (k == move && ::lstat(to.c_str(), &info) != 0)
            writeFile(to, content);
    }
    LiveFileOps::moveNoReplace(from, to);
}

void FaultyFileOps::createFolder(const std::string& path)
{
    enter(FileOp::createFolder, path);
    LiveFileOps::createFolder(path);
}

void FaultyFileOps::createLink(const std::string& at, const std::string& target)
{
    enter(FileOp::createLink, at, target);
    LiveFileOps::createLink(at, target);
}

void FaultyFileOps::copy(const std::string& from, const std::string& to)
{
    enter(FileOp::copy, from, to);
    LiveFileOps::copy(from, to);
    if (copyFault_ == CopyFault::none)
        return;
    if (auto file = firstFile(to, copyFault_ != CopyFault::missingFile))
        damage(*file, copyFault_);
}

bool FaultyFileOps::runAsAdmin(const Mac& mac, const std::vector<std::vector<std::string>>& commands)
{
    (void)mac;
    const std::string line = adminShellLine(commands);
    adminLines_.push_back(line);
    try {
        enter(FileOp::runAsAdmin, line);
    } catch (const std::system_error&) {
        // A privileged run reports failure, as a refused password does.
        return false;
    }
    return adminExecutes_ && !commands.empty() && Platform::runToEnd("/bin/sh", { "-c", line });
}

void FaultyFileOps::removeLink(const std::string& path)
{
    enter(FileOp::removeLink, path);
    LiveFileOps::removeLink(path);
}

void FaultyFileOps::removeFolder(const std::string& path)
{
    enter(FileOp::removeFolder, path);
    LiveFileOps::removeFolder(path);
}

} // namespace Quandril::Testing
