#pragma once

// The hidden names our moves copy under before a checked copy takes its own name, and the locks
// that tell a running move's partial copy from one a killed move left behind.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/RemoveTree.h"

namespace Quandril::Platform {

// A hidden name of our own for a copy of the item `name` while it is made and checked: the name
// (cut short at a character boundary when it must be) between "." and ".gorrin-partial-" and a
// random token. What a crash leaves under it never blocks the item's own name.
std::string partialName(std::string_view name);

// Whether `name` has exactly the shape partialName gives.
bool isPartialName(std::string_view name);

// A partial name beside an item, held by this move for as long as the value lives: a lock file of
// the same name followed by ".lock" is made first and locked, so no reclaim takes the copy from a
// running move, and it goes with the value once nothing stands under the partial name (what stays
// keeps its lock file, for a reclaim to take later). A killed move's lock goes with its process.
class HeldPartial {
public:
    // Beside the item `beside` names. Throws std::system_error when the lock can't be made.
    explicit HeldPartial(const Place& beside);
    explicit HeldPartial(std::string_view besidePath);
    ~HeldPartial();
    HeldPartial(const HeldPartial&) = delete;
    HeldPartial& operator=(const HeldPartial&) = delete;

    const std::string& name() const { return name_; }
    // Removes what stands under the partial name, our own copy: its read-only folders are opened up
    // on the way down, and drives mounted inside it stay.
    TreeRemoval discard() const;
    // What stands under the partial name is not ours (it was there before our copy began): the lock
    // file goes with the value all the same, so no reclaim ever takes it.
    void disown() { disowned_ = true; }

private:
    Descriptor folder_;
    Descriptor lock_;
    std::string name_;
    bool disowned_ = false;
};

struct PartialsReclaimed {
    std::int64_t freed = 0; // the bytes removing them gave back (in a dry run, would give back)
    // The names of the partial copies that stayed, in the folder, because a drive is mounted inside
    // them; each keeps its lock file, and what is mounted there stays with everything under it.
    std::vector<std::string> heldByMounts;
};

// Finds the partial copies in the folder that no running move holds, left by moves that were
// killed; with `remove` they go (with their lock files). Only exact names of ours count, each with
// its lock file: an empty plain file of this user that no move holds. A link stays, and so does
// everything in a Trash's "files" folder (its items have their records) and drives mounted inside
// a partial copy. A dry run counts only what the removal would free, and names none as held.
// Never fails: a folder that can't be read, or one reached through a link, gives nothing.
PartialsReclaimed reclaimPartials(std::string_view folder, bool remove);
PartialsReclaimed reclaimPartialsAt(int folder, bool remove);

// In the Trash `trash` (the folder holding "files" and "info"), the partial copies that moves into
// its "files" folder left when they were killed, with the records those moves reserved: each partial
// copy no running move holds goes with its lock file, as reclaimPartials takes them, and then the
// record of the item it was for (info/NAME.trashinfo) when nothing stands under that name and the
// record is older than the lock. A name of our shape with a record of its own is a trashed item and
// stays, and so does a record written after the lock (another client's, the name reserved anew).
// Never fails.
void reclaimTrashPartials(std::string_view trash);

} // namespace Quandril::Platform
