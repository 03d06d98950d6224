#pragma once

// Where the running program's file is.

#include <optional>
#include <string>

namespace Quandril::Platform {

// The real path of the running executable (every link resolved), or nothing when the system
// does not say.
std::optional<std::string> executablePath();

} // namespace Quandril::Platform
