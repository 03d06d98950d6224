#pragma once

// The current user's home folder.

#include <string>

namespace Quandril::Platform {

// $HOME when it is set, absolute and an existing folder that the effective user owns and neither
// group nor others may write, else the user database's home folder of the real user, with every
// link resolved; the text made lexically normal when it cannot be resolved, and "/" when neither
// source names a folder.
std::string homeFolder();

} // namespace Quandril::Platform
