#include "QuandrilCore/Platform/Sync.h"

#include <cerrno>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "QuandrilCore/Platform/AtPath.h"

namespace Quandril::Platform {

namespace {

constexpr long fuseMagic = 0x65735546;

[[noreturn]] void fail(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

Descriptor openForSync(int folder, const char* name, int flags)
{
    return Descriptor(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | flags));
}

void syncOpen(const Descriptor& fd, const std::string& shown)
{
    if (!fd)
        fail(errno, "can't open " + shown + " to write it to the disk");
    if (::fsync(fd.get()) != 0 && errno != EINVAL)
        fail(errno, "the disk didn't take " + shown);
}

// Each file and folder of the tree, folders after what they hold; links and pipes have no data.
void syncEach(int folder, const std::string& name, const std::string& shown)
{
    const auto info = statAt(folder, name);
    if (!info)
        fail(errno, "can't read " + shown);
    if (S_ISREG(info->st_mode))
        return syncOpen(openForSync(folder, name.c_str(), 0), shown);
    if (!S_ISDIR(info->st_mode))
        return;
    FolderChain chain(folder, name, shown);
    std::vector<std::pair<std::vector<std::string>, std::size_t>> frames;
    frames.emplace_back(namesIn(chain.fd(), chain.shown()), 0);
    while (!frames.empty()) {
        auto& [names, next] = frames.back();
        if (next == names.size()) {
            syncOpen(openForSync(chain.fd(), ".", O_DIRECTORY), chain.shown());
            frames.pop_back();
            if (!frames.empty())
                chain.leave();
            continue;
        }
        const std::string entry = names[next++];
        const auto entryInfo = statAt(chain.fd(), entry);
        if (!entryInfo)
            fail(errno, "can't read " + chain.shown(entry));
        if (S_ISREG(entryInfo->st_mode)) {
            syncOpen(openForSync(chain.fd(), entry.c_str(), 0), chain.shown(entry));
        } else if (S_ISDIR(entryInfo->st_mode)) {
            chain.enter(entry);
            frames.emplace_back(namesIn(chain.fd(), chain.shown()), 0);
        }
    }
}

} // namespace

void syncItem(int folder, const std::string& name, const std::string& shown)
{
    const Descriptor open = openForSync(folder, ".", O_DIRECTORY);
    if (!open)
        fail(errno, "can't open the folder of " + shown + " to write it to the disk");
    struct statfs fileSystem {};
    if (::fstatfs(open.get(), &fileSystem) == 0 && fileSystem.f_type != fuseMagic) {
        if (::syncfs(open.get()) != 0)
            fail(errno, "the disk didn't take " + shown);
        return;
    }
    syncEach(folder, name, shown);
    syncNames(folder, shown);
}

void syncNames(int folder, const std::string& shown)
{
    Descriptor current = openForSync(folder, ".", O_DIRECTORY);
    syncOpen(current, "the folder of " + shown);
    struct stat here {};
    if (::fstat(current.get(), &here) != 0)
        return;
    for (;;) {
        Descriptor above = openForSync(current.get(), "..", O_DIRECTORY);
        struct stat info {};
        // The top of the mount: the folder above is another file system's, or the same folder.
        if (!above || ::fstat(above.get(), &info) != 0 || info.st_dev != here.st_dev || info.st_ino == here.st_ino)
            return;
        syncOpen(above, "a folder above " + shown);
        current = std::move(above);
        here = info;
    }
}

} // namespace Quandril::Platform
