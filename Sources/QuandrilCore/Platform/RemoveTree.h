#pragma once

// Removing a tree the way `rm -r --one-file-system` does: never through a link, and never into
// another file system mounted inside it (another drive, or another mount of the same one). Mount
// points are told by the mount id: on an overlay whose layers lie on two file systems every file
// reports its layer's device, yet all of it is one mount.

#include <cstdint>
#include <string>
#include <vector>

namespace Quandril::Platform {

struct RemovalMode {
    // The tree is a copy one of our moves made: its folders that refuse changes (copies of read-only
    // folders) are made writable on the way down, so the copy can always go again.
    bool ownCopy = false;
    // Nothing is removed: the result says what a removal would give back.
    bool dryRun = false;
    // The stop in force on this thread (Stop.h) is heeded between entries: what wasn't reached stays.
    bool stoppable = false;
};

struct TreeRemoval {
    int error = 0; // the errno of the first thing that couldn't go; 0 when nothing failed
    // Mount points met (the item itself, when a drive is mounted there), each left with everything
    // under it, as the item's name followed by the names leading to it.
    std::vector<std::string> mountsLeft;
    // Folders of the same mount on a device of their own (btrfs subvolumes), named the same way:
    // each stays whole, as `rm --one-file-system` leaves it.
    std::vector<std::string> subvolumesLeft;
    bool stopped = false; // a stop was heeded before all of it was reached
    // The bytes given back to the drive (with dryRun, that would be): a file counts once its last
    // name goes, so a hard link whose other name stays frees nothing.
    std::int64_t freed = 0;

    bool gone() const { return error == 0 && mountsLeft.empty() && subvolumesLeft.empty() && !stopped; }
};

// Removes the item `name` inside the open folder `folder`: a file or link itself, or a folder with
// everything in it; a link met inside is removed itself, never followed. It goes on past what
// can't go, so as much as can go does. However deep the tree, only a few descriptors are open.
TreeRemoval removeTree(int folder, const std::string& name, RemovalMode mode = {});

} // namespace Quandril::Platform
