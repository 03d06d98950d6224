#include "Support/FakeMachine.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace Quandril::Testing {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

} // namespace

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/quandril-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        fail("mkdtemp");
    char resolved[PATH_MAX];
    if (!realpath(buffer.data(), resolved))
        fail("realpath");
    path_ = resolved;
}

TempDir::~TempDir()
{
    std::error_code error;
    // Folders a test made unreadable must be opened again before they can be removed.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error))
            ::chmod(it->path().c_str(), 0755);
    }
    ::chmod(path_.c_str(), 0755);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(path_, error);
}

void makeFolders(const std::string& path)
{
    std::error_code error;
    fs::create_directories(path, error);
    if (error)
        throw std::runtime_error("create_directories " + path + ": " + error.message());
}

void writeFile(const std::string& path, std::string_view content)
{
    makeFolders(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        fail("open " + path);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        fail("write " + path);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

FakeMachine::FakeMachine()
{
    makeFolders(home());
    fixture_ = Json::Value::object();
    fixture_["drives"] = Json::Value::array();
    drive("Macintosh HD", "/", 500'000'000'000, 100'000'000'000);
}

std::string FakeMachine::at(std::string_view display) const
{
    if (display == "~")
        return home();
    if (display.substr(0, 2) == "~/")
        return home() + std::string(display.substr(1));
    return root() + std::string(display);
}

FakeMachine& FakeMachine::file(std::string_view display, std::int64_t bytes)
{
    std::string content(static_cast<std::size_t>(bytes), '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>('a' + i % 26);
    writeFile(at(display), content);
    return *this;
}

FakeMachine& FakeMachine::text(std::string_view display, std::string_view content)
{
    writeFile(at(display), content);
    return *this;
}

FakeMachine& FakeMachine::sparse(std::string_view display, std::int64_t bytes)
{
    std::string path = at(display);
    makeFolders(fs::path(path).parent_path());
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        fail("open " + path);
    int result = ::ftruncate(fd, bytes);
    ::close(fd);
    if (result != 0)
        fail("ftruncate " + path);
    return *this;
}

FakeMachine& FakeMachine::folder(std::string_view display)
{
    makeFolders(at(display));
    return *this;
}

FakeMachine& FakeMachine::link(std::string_view display, std::string_view target)
{
    std::string path = at(display);
    makeFolders(fs::path(path).parent_path());
    if (::symlink(std::string(target).c_str(), path.c_str()) != 0)
        fail("symlink " + path);
    return *this;
}

FakeMachine& FakeMachine::hardLink(std::string_view display, std::string_view existing)
{
    std::string path = at(display);
    makeFolders(fs::path(path).parent_path());
    if (::link(at(existing).c_str(), path.c_str()) != 0)
        fail("link " + path);
    return *this;
}

FakeMachine& FakeMachine::modified(std::string_view display, std::chrono::system_clock::time_point when)
{
    auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(nanos / 1'000'000'000);
    times[0].tv_nsec = static_cast<long>(nanos % 1'000'000'000);
    if (times[0].tv_nsec < 0) {
        times[0].tv_nsec += 1'000'000'000;
        times[0].tv_sec -= 1;
    }
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, at(display).c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        fail("utimensat " + at(display));
    return *this;
}

FakeMachine& FakeMachine::drive(std::string_view name, std::string_view path, std::int64_t total, std::int64_t free)
{
    Json::Value entry = Json::Value::object();
    entry["name"] = std::string(name);
    entry["path"] = std::string(path);
    entry["total"] = total;
    entry["free"] = free;
    fixture_["drives"].push_back(entry);
    if (path != "/")
        makeFolders(root() + std::string(path));
    return *this;
}

Mac FakeMachine::mac() const
{
    writeFile(root() + "/quandril-fixture.json", Json::dump(fixture_, true));
    return Mac::fake(root());
}

} // namespace Quandril::Testing
