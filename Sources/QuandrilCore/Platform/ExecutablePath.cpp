#include "QuandrilCore/Platform/ExecutablePath.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace Quandril::Platform {

std::optional<std::string> executablePath()
{
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        return std::nullopt;
    buffer[length] = '\0';
    // The kernel's text is already resolved; realpath only fails for an executable deleted since
    // it started, and then the kernel's text stands.
    char resolved[PATH_MAX];
    if (::realpath(buffer, resolved))
        return std::string(resolved);
    return std::string(buffer, static_cast<std::size_t>(length));
}

} // namespace Quandril::Platform
