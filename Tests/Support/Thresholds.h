#pragma once

// The five ways a finder's catalog threshold and a scan's minimum meet at one item of `bytes`: each
// alone passes an item of exactly its size and drops it at one byte more, and a given minimum
// stands in for the catalog's threshold, larger or not.

#include <cstdint>
#include <optional>
#include <ostream>
#include <vector>

namespace Quandril::Testing {

struct ThresholdCase {
    std::int64_t catalogBytes;
    std::optional<std::int64_t> minimum;
    bool found;
};

inline std::vector<ThresholdCase> thresholdCases(std::int64_t bytes)
{
    return { { bytes, std::nullopt, true },
             { bytes + 1, std::nullopt, false },
             { 0, bytes, true },
             { 0, bytes + 1, false },
             { bytes + 1, bytes, true } };
}

inline std::ostream& operator<<(std::ostream& out, const ThresholdCase& c)
{
    return out << "catalog " << c.catalogBytes << " minimum " << c.minimum.value_or(-1);
}

} // namespace Quandril::Testing
