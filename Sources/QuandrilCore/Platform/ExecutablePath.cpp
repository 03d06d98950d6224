#include "QuandrilCore/Platform/ExecutablePath.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

#include "QuandrilCore/Platform/Files.h"

namespace Quandril::Platform {

std::optional<std::string> executablePath()
{
    auto text = linkText("/proc/self/exe");
    if (!text || text->empty())
        return std::nullopt;
    // The kernel's text is already resolved; realpath only fails for an executable deleted since
    // it started, and then the kernel's text stands.
    char resolved[PATH_MAX];
    if (::realpath(text->c_str(), resolved))
        return std::string(resolved);
    return text;
}

} // namespace Quandril::Platform
