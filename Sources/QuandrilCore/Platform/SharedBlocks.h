#pragma once

// Blocks a file shares with other files (a reflinked copy, a snapshot) stay on the drive when the
// file goes, so they are no part of what removing it gives back.

#include <cstdint>

#include <sys/types.h>

namespace Quandril::Platform {

// Whether files on the file system that holds `fd` can share blocks with each other at all; where
// they can't, a file's allocation is all its own and nothing needs to be asked per file.
bool mayShareBlocks(int fd);

// Of the `allocated` bytes of the regular file `name` in the open folder `folder`, which was found to
// be (`device`, `inode`) without following a link, the part whose blocks no other file shares. When
// the file can't be asked (it changed, can't be opened, or its file system doesn't say) the whole
// allocation counts, as it would without sharing.
std::int64_t unsharedBytes(int folder, const char* name, dev_t device, ino_t inode, std::int64_t allocated);

} // namespace Quandril::Platform
