#pragma once

// Waiting until what a copy wrote is on the disk itself, not only in memory: a drive pulled, a
// suspend that never wakes or a power cut right after a move must find the copy whole under its
// name, since the original is gone once the Trash is emptied.

#include <string>

namespace Quandril::Platform {

// Makes the item `name` in the open folder `folder` durable: everything inside it, its name in the
// folder, and the folders above up to the top of its mount (some of them may just have been made).
// One syncfs does it where the file system writes all it holds when asked; on a FUSE drive, whose
// daemon writes only what each fsync names, every file and folder of the item is synced in turn.
// Throws std::system_error naming `shown` when the disk reports a write that failed.
void syncItem(int folder, const std::string& name, const std::string& shown);

// Makes the entries of the open folder durable (a name a rename just gave), and those of each folder
// above it up to the top of its mount. Throws as syncItem does.
void syncNames(int folder, const std::string& shown);

} // namespace Quandril::Platform
