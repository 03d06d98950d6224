#include "QuandrilCore/Scanning/Planner.h"

#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <locale>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

#include <gtest/gtest.h>

namespace Quandril {

void PrintTo(const Goal& goal, std::ostream* out)
{
    if (goal.kind() == Goal::Kind::bytes)
        *out << "bytes(" << goal.byteCount() << ")";
    else
        *out << "share(" << goal.fraction() << ")";
}

} // namespace Quandril

namespace {

using Quandril::Goal;

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();

std::optional<Goal> B(std::int64_t count)
{
    return Goal::ofBytes(count);
}
std::optional<Goal> S(double fraction)
{
    return Goal::ofShare(fraction);
}
const std::optional<Goal> none;

TEST(GoalParsing, readsTheDocumentedForms)
{
    const std::pair<const char*, std::optional<Goal>> cases[] = {
        // Bare numbers are gigabytes; units are decimal and case does not matter.
        { "50", B(50'000'000'000) },
        { "50gb", B(50'000'000'000) },
        { "50GB", B(50'000'000'000) },
        { "50 GB", B(50'000'000'000) },
        { " \t50 Gb\t ", B(50'000'000'000) },
        { "50g", B(50'000'000'000) },
        { "1.5TB", B(1'500'000'000'000) },
        { "1.5 t", B(1'500'000'000'000) },
        { "500mb", B(500'000'000) },
        { "1e3gb", B(1'000'000'000'000) },
        { "1E3GB", B(1'000'000'000'000) },
        { "2e-3tb", B(2'000'000'000) },
        { "+5gb", B(5'000'000'000) },
        { "5.gb", B(5'000'000'000) },
        { ".5gb", B(500'000'000) },
        { "0.0000000001", B(0) },
        { "1e-320gb", B(0) },
        { "9223372036.85gb", B(9'223'372'036'849'999'872) },
        // Unicode space separators trim like blanks, also between number and unit.
        { "\u00A050gb\u3000", B(50'000'000'000) },
        { "50\u2009GB", B(50'000'000'000) },
        { "20%", S(0.2) },
        { "20 %", S(0.2) },
        { " 20 % ", S(0.2) },
        { "0.5%", S(0.005) },
        { "12.5%", S(0.125) },
        { "75%", S(0.75) },
        { "1e-300%", S(1e-300 / 100) },
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Goal::parse(text), expected) << '"' << text << '"';
}

TEST(GoalParsing, refusesEverythingElse)
{
    const char* const rejected[] = {
        // Units that do not exist.
        "500m",
        "50kb",
        "50b",
        "50 gib",
        "50 percent",
        "50gbb",
        "50%gb",
        "ＧＢ",
        "50ＧＢ",
        // Shares out of range.
        "0%",
        "100%",
        "150%",
        "-5%",
        "%",
        "5%%",
        "20%\n",
        "3E-324%",
        "1e-322%",
        // Numbers that are not numbers, or not positive.
        "0",
        "0gb",
        "-0gb",
        "-5gb",
        "\u22125gb",
        "",
        " \t ",
        "gb",
        "abc",
        "1,5gb",
        "5 5gb",
        "1e",
        "1e+gb",
        "e5gb",
        ".gb",
        "+-5gb",
        "\u0665gb",
        // Line breaks are not trimmed.
        "50GB\n",
        "\n50GB",
        "50GB\r",
        // Hexadecimal, infinities and NaN are no decimal numbers.
        "0x32GB",
        "0x1p3gb",
        "0x10",
        "inf",
        "infgb",
        "Infinity",
        "nan",
        "nan%",
        "inf%",
        // Beyond what a 64-bit count can hold, or beyond every double.
        "10000000000tb",
        "9223372036.854775808gb",
        "1e400gb",
        "1e-400gb",
    };
    for (const char* text : rejected)
        EXPECT_EQ(Goal::parse(text), none) << '"' << text << '"';
}

void expectPointDecimals()
{
    EXPECT_EQ(Goal::parse("1.5GB"), B(1'500'000'000));
    EXPECT_EQ(Goal::parse("1,5GB"), none);
    EXPECT_EQ(Goal::parse("12.5%"), S(0.125));
    EXPECT_EQ(Goal::parse("1.5GB")->description(), "1.5 GB");
}

// A decimal comma and a full stop for grouping, as many locales write numbers.
struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(GoalParsing, ignoresACommaDecimalLocale)
{
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
    expectPointDecimals();
    std::locale::global(previous);
}

TEST(GoalParsing, ignoresTheGermanCLocale)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    expectPointDecimals();
    std::setlocale(LC_ALL, previous.c_str());
}

struct TargetCase {
    Goal goal;
    std::int64_t totalBytes;
    std::int64_t expected;
};

TEST(GoalTarget, holdsWithinTheSigned64BitRange)
{
    const TargetCase cases[] = {
        { Goal::ofShare(0.2), 1000, 200 },
        { Goal::ofShare(0.333), 1000, 333 },
        { Goal::ofBytes(5), 1000, 5 },
        { Goal::ofShare(0.2), 1'000'000'000'000, 200'000'000'000 },
        { *Goal::parse("99.99999%"), int64Max, 9'223'371'114'517'571'584 },
        // Shares made by hand may be 1 or more; the target stops at the limit instead of wrapping.
        { Goal::ofShare(1.0), int64Max, int64Max },
        { Goal::ofShare(3.0), int64Max, int64Max },
        { Goal::ofShare(3.0), int64Min, int64Min },
        { Goal::ofShare(0.5), -1000, -500 },
        { Goal::ofShare(std::nan("")), 1000, 0 },
        { Goal::ofBytes(-5), 1000, -5 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.goal.bytes(c.totalBytes), c.expected) << ::testing::PrintToString(c.goal) << " of " << c.totalBytes;
}

TEST(GoalDescription, roundsSharesAndFormatsBytes)
{
    const std::pair<const char*, const char*> cases[] = {
        { "20%", "20% of the drive" }, { "12.5%", "13% of the drive" },
        { "0.4%", "0% of the drive" }, { "99.5%", "100% of the drive" },
        { "50GB", "50 GB" },           { "1.5tb", "1500 GB" },
        { "0.0000000001", "0 KB" },
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Goal::parse(text)->description(), expected) << text;
}

TEST(GoalEquality, needsTheSameCaseAndPayload)
{
    EXPECT_EQ(Goal::ofShare(0.2), Goal::ofShare(0.2));
    EXPECT_NE(Goal::ofShare(0.2), Goal::ofShare(0.3));
    EXPECT_NE(Goal::ofBytes(5), Goal::ofBytes(6));
    // 20% of a 1000-byte drive is 200 bytes, and still not the same goal as 200 bytes.
    EXPECT_NE(Goal::ofShare(0.2), Goal::ofBytes(200));
    EXPECT_NE(Goal::ofShare(0), Goal::ofBytes(0));
}

} // namespace
