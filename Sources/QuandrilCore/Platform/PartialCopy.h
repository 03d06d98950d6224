#pragma once

// The hidden names our moves copy under before a checked copy takes its own name, and the locks
// that tell a running move's partial copy from one a killed move left behind.

#include <cstdint>
#include <string>
#include <string_view>

#include "QuandrilCore/Platform/AtPath.h"

namespace Quandril::Platform {

// A hidden name of our own for a copy of the item `name` while it is made and checked: the name
// (cut short at a character boundary when it must be) between "." and ".gorrin-partial-" and a
// random token. What a crash leaves under it never blocks the item's own name.
std::string partialName(std::string_view name);

// Whether `name` has exactly the shape partialName gives.
bool isPartialName(std::string_view name);

// A partial name beside an item, held by this move for as long as the value lives: a lock file of
// the same name followed by ".lock" is made first and locked, so no reclaim takes the copy from a
// running move, and it goes with the value. A killed move's lock goes with its process.
class HeldPartial {
public:
    // Beside the item `beside` names. Throws std::system_error when the lock can't be made.
    explicit HeldPartial(const Place& beside);
    explicit HeldPartial(std::string_view besidePath);
    ~HeldPartial();
    HeldPartial(const HeldPartial&) = delete;
    HeldPartial& operator=(const HeldPartial&) = delete;

    const std::string& name() const { return name_; }

private:
    Descriptor folder_;
    Descriptor lock_;
    std::string name_;
};

// Finds the partial copies in the folder that no running move holds, left by moves that were
// killed, and returns the bytes they take; with `remove` they go (with their lock files), and only
// the bytes of those that went count. Only exact names of ours count; a link stays, and so does a
// partial whose lock file is anything but a plain file. Never fails: a folder that can't be read,
// or one reached through a link, gives 0.
std::int64_t reclaimPartials(std::string_view folder, bool remove);
std::int64_t reclaimPartialsAt(int folder, bool remove);

} // namespace Quandril::Platform
