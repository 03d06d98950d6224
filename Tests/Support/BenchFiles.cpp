#include "Support/BenchFiles.h"
#include "Support/FakeMachine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

namespace Quandril::Testing {

void makeFile(const std::string& path, std::size_t bytes)
{
    static const std::string content(16 * 1024, 'x');
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("open " + path + ": " + std::strerror(errno));
    std::size_t left = bytes;
    while (left > 0) {
        const ssize_t written = ::write(fd, content.data(), std::min(left, content.size()));
        if (written <= 0)
            break;
        left -= static_cast<std::size_t>(written);
    }
    ::close(fd);
    if (left != 0)
        throw std::runtime_error("write " + path);
}

std::int64_t fillFolders(const std::string& base, int folders, int files, int seed)
{
    for (int f = 0; f < folders; ++f) {
        const std::string folder = base + "/d" + std::to_string(f / 16) + "/f" + std::to_string(f);
        makeFolders(folder);
        for (int i = 0; i < files; ++i)
            makeFile(folder + "/file" + std::to_string(i) + ".bin",
                     static_cast<std::size_t>((seed + f * 131 + i * 977) % 6000));
    }
    return static_cast<std::int64_t>(folders) * files;
}

} // namespace Quandril::Testing
