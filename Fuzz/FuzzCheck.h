#pragma once

// What every fuzz target shares: the input as text, and a check that stops the run with a message
// when a property of the code under test does not hold.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace Quandril::Fuzz {

inline std::string_view text(const std::uint8_t* data, std::size_t size)
{
    return { reinterpret_cast<const char*>(data), size };
}

inline void check(bool holds, const char* property)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

} // namespace Quandril::Fuzz
