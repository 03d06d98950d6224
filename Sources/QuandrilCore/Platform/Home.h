#pragma once

// The current user's home folder.

#include <string>

namespace Quandril::Platform {

// $HOME when it is set, absolute and an existing folder that the effective user owns and neither
// group nor others may write, else the user database's home folder of the real user, with every
// link resolved; the text made lexically normal when it cannot be resolved, and "/" when neither
// source names a folder.
std::string homeFolder();

// Whether a folder that the environment names for the user's files (XDG_DATA_HOME, XDG_CONFIG_HOME)
// may be used: always, except as root, where the nearest folder that exists on `path` (absolute) must
// be root's own, and no name on it "..". Root keeps another user's environment under `sudo -E`; whatever it made there
// would lock that user out of their own files.
bool mayUseUserFolder(const std::string& path);

} // namespace Quandril::Platform
