#pragma once

// Checks shared by the finders' tests: a result that holds exactly the given findings (compared as
// whole records, so a failure prints every field) and nothing skipped or noted, and the measured
// size of several paths together.

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Scanning/Scanner.h"
#include "Support/Records.h"

namespace Quandril::Testing {

inline void expectOnly(const FinderResult& result, const std::vector<Finding>& expected)
{
    EXPECT_EQ(records(result.findings), records(expected));
    EXPECT_TRUE(result.skipped.empty());
    EXPECT_TRUE(result.notes.empty());
}

inline std::int64_t bytesOf(const Mac& mac, const std::vector<std::string>& paths)
{
    std::int64_t total = 0;
    for (const auto& path : paths)
        total += mac.usage(path).bytes;
    return total;
}

} // namespace Quandril::Testing
