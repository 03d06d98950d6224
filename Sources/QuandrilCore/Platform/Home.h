#pragma once

// The current user's home folder.

#include <string>

namespace Quandril::Platform {

// The user database's home folder of the real user, else $HOME, with every link resolved; the
// unresolved text when it cannot be resolved, and "/" when neither source names a folder.
std::string homeFolder();

} // namespace Quandril::Platform
