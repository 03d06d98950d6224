#pragma once

// A 128-bit random token, standing in for a UUID.

#include <array>
#include <compare>
#include <cstdint>
#include <string>

namespace Quandril::Platform {

struct Token {
    std::array<std::uint64_t, 2> bits {};

    static Token random();
    // 8-4-4-4-12 hexadecimal form.
    std::string text() const;

    friend auto operator<=>(const Token&, const Token&) = default;
};

} // namespace Quandril::Platform
