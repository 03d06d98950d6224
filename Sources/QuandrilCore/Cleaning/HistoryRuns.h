#pragma once

// The lines of one clean-up written item by item, and how they read as one entry: each carries the
// clean-up's token and its own number in it, so that load() and History::Reader agree on what
// belongs together, whichever way they read the file.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "QuandrilCore/Cleaning/Cleaner.h"

namespace Quandril::History::Runs {

struct Mark {
    std::string token;
    std::uint64_t part = 0; // 1 on a clean-up's first line
};

// "token.part"
std::string text(std::string_view token, std::uint64_t part);

// The line's place in its clean-up; absent on a line written whole, on a marker line and on the
// line of a put-back stopped part way, none of which is ever merged with another.
std::optional<Mark> markOf(const HistoryEntry& line);

// Adds a later line of the same clean-up to its entry: its relocations after the entry's, its
// bytes to the entry's.
void fold(HistoryEntry& entry, const HistoryEntry& line);

} // namespace Quandril::History::Runs
