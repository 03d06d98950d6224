#pragma once

// Byte arithmetic that stops at the ends of the signed 64-bit range instead of wrapping: a sum of
// sizes that no longer fits reads as "as much as can be told", never as a negative amount.

#include <cmath>
#include <cstdint>
#include <limits>

namespace Quandril::Saturating {

inline constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
inline constexpr std::int64_t least = std::numeric_limits<std::int64_t>::min();
// 2^63: the first double that no signed 64-bit value holds; every double below it (and at or above
// -2^63) converts.
inline constexpr double doubleLimit = 9223372036854775808.0;

// a + b, held at the end of the range it would leave.
constexpr std::int64_t add(std::int64_t a, std::int64_t b)
{
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b < 0 ? least : most;
    return sum;
}

// a - b, held likewise.
constexpr std::int64_t subtract(std::int64_t a, std::int64_t b)
{
    std::int64_t difference = 0;
    if (__builtin_sub_overflow(a, b, &difference))
        return b > 0 ? least : most;
    return difference;
}

// a * b, held likewise.
constexpr std::int64_t multiply(std::int64_t a, std::int64_t b)
{
    std::int64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product))
        return (a < 0) != (b < 0) ? least : most;
    return product;
}

// The value truncated toward zero, held at the ends of the range beyond them; NaN is nothing.
inline std::int64_t truncated(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= doubleLimit)
        return most;
    if (value < -doubleLimit)
        return least;
    return static_cast<std::int64_t>(value);
}

} // namespace Quandril::Saturating
