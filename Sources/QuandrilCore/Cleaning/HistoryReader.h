#pragma once

// History read newest first, a part at a time, and followed as lines are appended to it, so that a
// History of years is never held whole and what a clean-up just wrote shows without reading the
// whole file again.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "QuandrilCore/Cleaning/Cleaner.h"

namespace Quandril::History {

class Reader {
public:
    explicit Reader(Mac mac);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The newest `count` entries of the history file as it is now (fewer when it holds fewer),
    // newest first, each entry as load() gives it (the lines of one clean-up as one entry, marked
    // undone when a later marker line undoes it), and why the file gives none as read() says. Only
    // what was appended since the last call is read, and older lines only as far back as `count`
    // needs; a file that was replaced or cut short is read anew. One reader serves one caller at a
    // time.
    Loaded newest(std::size_t count);

    // Whether the file, as of the last answer, holds entries older than those it gave.
    bool hasOlder() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace Quandril::History
