// ISO 8601 dates: only those the clock holds are read, strictly, and written in UTC.

#include "QuandrilCore/Platform/IsoDate.h"

#include <chrono>
#include <optional>

#include <gtest/gtest.h>

using namespace Quandril;

namespace {

TEST(IsoDate, ReadsOnlyDatesTheClockHolds)
{
    using namespace std::chrono;
    using Ticks = system_clock::duration;
    struct Case {
        const char* text;
        std::optional<Ticks> sinceEpoch;
    };
    const Case cases[] {
        { "1500-01-01T00:00:00Z", std::nullopt },
        { "2300-01-01T00:00:00Z", std::nullopt },
        { "0000-01-01T00:00:00Z", std::nullopt },
        { "9999-12-31T23:59:59.999999999+23:59", std::nullopt },
        // The first instant the clock holds, and just before it.
        { "1677-09-21T00:12:43.145224192Z", Ticks::min() },
        { "1677-09-21T00:12:43.145224191Z", std::nullopt },
        { "1677-09-21T00:12:43Z", std::nullopt },
        { "1677-09-21T00:12:44Z", seconds(-9'223'372'036) },
        { "1677-09-21T01:12:44+01:00", seconds(-9'223'372'036) },
        { "1677-09-20T23:12:43.2-01:00", Ticks::min() + milliseconds(54) + microseconds(775) + nanoseconds(808) },
        // The last instant, and just after it.
        { "2262-04-11T23:47:16.854775807Z", Ticks::max() },
        { "2262-04-11T23:47:16.854775808Z", std::nullopt },
        { "2262-04-11T23:47:17Z", std::nullopt },
        { "2262-04-12T00:47:16.5+01:00", seconds(9'223'372'036) + milliseconds(500) },
        { "2262-04-11T22:47:17-01:00", std::nullopt },
    };
    for (const auto& c : cases) {
        const auto date = Platform::parseIso8601(c.text);
        EXPECT_EQ(date ? std::optional(date->time_since_epoch()) : std::nullopt, c.sinceEpoch) << c.text;
    }
}

TEST(IsoDate, ParsesStrictlyAndFormatsInUTC)
{
    using namespace std::chrono;
    auto base = Platform::parseIso8601("2025-01-31T09:30:00Z");
    ASSERT_TRUE(base);
    EXPECT_EQ(Platform::formatIso8601(*base), "2025-01-31T09:30:00Z");
    EXPECT_EQ(Platform::parseIso8601("2025-01-31T10:30:00+01:00"), base);
    EXPECT_EQ(Platform::parseIso8601("2025-01-31T04:00:00-0530"), base);
    EXPECT_EQ(Platform::formatIso8601(*Platform::parseIso8601("2025-01-31T09:30:00.999Z")), "2025-01-31T09:30:00Z");
    EXPECT_EQ(Platform::formatIso8601(*Platform::parseIso8601("1969-12-31T23:59:59Z")), "1969-12-31T23:59:59Z");
    for (const char* bad : { "", "2025-01-31", "2025-01-31T09:30:00", "2025-02-30T00:00:00Z", "2025-01-31 09:30:00Z",
                             "2025-01-31T24:00:00Z", "2025-01-31T09:30:00Zjunk", "2025-1-31T09:30:00Z",
                             "2025-01-31T09:30:00.Z", "2025-01-31T09:30:00+1:00" })
        EXPECT_FALSE(Platform::parseIso8601(bad).has_value()) << bad;
}

} // namespace
