#pragma once

// Moving an item without ever replacing what is at the target.

#include <string>

namespace Quandril::Platform {

// Moves `from` (file, folder or link; a link itself, never its target) to the path `to`.
// Within one file system the move is a single no-replace rename. Across file systems the item is
// copied (links as links, modes and times kept, hard links within it kept, holes left as holes)
// under a partial name held beside `to` (PartialCopy.h), the copy compared with the original and
// renamed to `to` without replacing anything, and only then the original removed, so even a crash
// never leaves an incomplete copy at `to`; what killed moves left beside `to` is reclaimed first.
// The copy and its name are on the disk (Sync.h) before the original goes.
// Throws std::system_error on failure: EEXIST when something is already at `to`, with both left
// intact. A failed copy leaves the original alone and removes the partial copy it made. An original
// that can't all be removed is made whole again from the copy, then the copy removed; only when
// that fails too do both stay, and the error says so.
void moveNoReplace(const std::string& from, const std::string& to);

// Copies `from` to the path `to` the way a move across file systems does (links as links, modes and
// times kept, hard links within it kept, holes left as holes), without verifying or removing
// anything. The copy is on the disk (Sync.h) when this returns.
// Throws std::system_error: EEXIST when something is already at `to` or anywhere the copy would
// go. A copy that fails part-way is left where it got to.
void copyNoReplace(const std::string& from, const std::string& to);

// Whether the item at `copy` is a whole copy of the one at `original`: every entry and nothing
// more, each of the same kind, link text and bytes, and with `modes` the same mode (a drive that
// keeps no modes shows its own). Compared folder by folder through descriptors, so no depth is too
// deep. Heeds the stop in force (ECANCELED); throws std::system_error when a folder can't be read.
bool sameTree(const std::string& original, const std::string& copy, bool modes = true);

} // namespace Quandril::Platform
