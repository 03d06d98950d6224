// Dates written by a pattern, as the user's language spells them.

#include "QuandrilCore/Platform/DateText.h"

#include <chrono>
#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

#include "QuandrilCore/Platform/IsoDate.h"

using namespace Quandril;

namespace {

// Month names and days as the tests spell them, whatever the machine running them uses.
const bool pinnedLocale = [] {
    ::setenv("LC_ALL", "C", 1);
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    return true;
}();

std::chrono::system_clock::time_point at(const char* iso)
{
    return *Platform::parseIso8601(iso);
}

TEST(DateText, PatternsInTheUsersLanguage)
{
    ASSERT_TRUE(pinnedLocale);
    const auto date = at("2025-03-03T23:59:59.900Z");
    EXPECT_EQ(Platform::formatDate(date, "d MMMM yyyy"), "3 March 2025");
    EXPECT_EQ(Platform::formatDate(date, "MMMM yyyy"), "March 2025");
    EXPECT_EQ(Platform::formatDate(date, "dd.MM.yy, MMM"), "03.03.25, Mar");
    EXPECT_EQ(Platform::formatDate(date, "100% d"), "100% 3");
}

} // namespace
