#include "QuandrilCore/Platform/Unicode.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

using namespace std::string_literals;
namespace P = Quandril::Platform;

namespace {

struct TextCase {
    const char* label;
    std::function<std::string(std::string_view)> operation;
    std::string input;
    std::string expected;
};

const std::string replacement = "\xEF\xBF\xBD"; // U+FFFD

class TextOperations : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextOperations, GiveTheExpectedText)
{
    const auto& row = GetParam();
    EXPECT_EQ(row.operation(row.input), row.expected) << row.label;
}

const TextCase textCases[] = {
    { "nfc composes e and acute", P::nfc, "e\u0301", "\u00E9" },
    { "nfc keeps ASCII with an embedded NUL", P::nfc, "a\0b"s, "a\0b"s },
    { "nfc keeps a NUL beside non-ASCII", P::nfc, "e\u0301\0x"s, "\u00E9\0x"s },
    { "nfc maps the Angstrom sign to A with ring", P::nfc, "\u212B", "\u00C5" },
    { "nfc joins Hangul jamo into a syllable", P::nfc, "\u1100\u1161", "\uAC00" },
    { "nfc orders stacked marks canonically", P::nfc, "a\u0323\u0302", "\u1EAD" },
    { "nfc reads a bad byte as U+FFFD", P::nfc, "x\xFF", "x" + replacement },
    { "lowercased: accented capitals", P::lowercased, "\u00C0B", "\u00E0b" },
    { "lowercased: dotted capital I keeps its dot as a mark", P::lowercased, "\u0130", "i\u0307" },
    { "lowercased: sharp s stays", P::lowercased, "Stra\u00DFe", "stra\u00DFe" },
    { "lowercased: final sigma", P::lowercased, "\u039F\u0394\u039F\u03A3", "\u03BF\u03B4\u03BF\u03C2" },
    { "uppercased: sharp s becomes SS", P::uppercased, "stra\u00DFe", "STRASSE" },
    { "uppercased: ligature fi becomes FI", P::uppercased, "\uFB01le", "FILE" },
    { "capitalizedFirst: composed letter", P::capitalizedFirst, "\u00E9lan vital", "\u00C9lan vital" },
    { "capitalizedFirst: decomposed letter keeps its mark", P::capitalizedFirst, "e\u0301mile", "E\u0301mile" },
    { "capitalizedFirst: leaves the rest alone", P::capitalizedFirst, "aBC def", "ABC def" },
    { "capitalizedFirst: sharp s grows", P::capitalizedFirst, "\u00DFa", "SSa" },
    { "capitalizedFirst: a digit stays", P::capitalizedFirst, "1abc", "1abc" },
    { "capitalizedFirst: empty", P::capitalizedFirst, "", "" },
    { "lettersMarksDigits: drops blanks and punctuation", P::lettersMarksDigits, "Final Cut Pro X!", "FinalCutProX" },
    { "lettersMarksDigits: keeps accents and marks", P::lettersMarksDigits, "Caf\u00E9-e\u0301_2",
      "Caf\u00E9e\u03012" },
    { "lettersMarksDigits: keeps other digits and numerals", P::lettersMarksDigits, "\u0663\u216B\u00BD",
      "\u0663\u216B\u00BD" },
    { "lettersMarksDigits: drops emoji and bad bytes", P::lettersMarksDigits,
      "a\U0001F600\xFF"
      "b",
      "ab" },
    { "repairedUTF8: valid text unchanged", P::repairedUTF8, "ok \u00E9 \U0001F600", "ok \u00E9 \U0001F600" },
    { "repairedUTF8: a lone bad byte", P::repairedUTF8,
      "a\xFF"
      "b",
      "a" + replacement + "b" },
    { "repairedUTF8: a cut-off sequence is one replacement", P::repairedUTF8,
      "\xE2\x82"
      "x",
      replacement + "x" },
    { "repairedUTF8: an overlong form is two", P::repairedUTF8, "\xC0\xAF", replacement + replacement },
};

INSTANTIATE_TEST_SUITE_P(Unicode, TextOperations, ::testing::ValuesIn(textCases));

TEST(Unicode, CompareNFCOrdersByScalarValuesOfTheComposedForm)
{
    const struct {
        std::string a, b;
        int expected;
    } rows[] = {
        { "\u00E9", "e\u0301", 0 },
        { "a", "b", -1 },
        { "Z", "a", -1 }, // case-sensitive
        { "", "a", -1 },
        { "ab", "a", 1 },
        { "f", "e\u0301", -1 }, // decomposed é still sorts after f
        { "e\u0301z", "\u00E9", 1 },
        // A scalar above the BMP sorts after U+FFFD, which a UTF-16 comparison gets wrong.
        { "\U0001F600", "\uFFFD", 1 },
    };
    for (const auto& row : rows) {
        EXPECT_EQ(P::compareNFC(row.a, row.b), row.expected) << row.a << " vs " << row.b;
        EXPECT_EQ(P::compareNFC(row.b, row.a), -row.expected) << row.b << " vs " << row.a;
    }
}

TEST(Unicode, GraphemeCountCountsUserPerceivedCharacters)
{
    const struct {
        std::string text;
        std::size_t expected;
    } rows[] = {
        { "", 0 },
        { "abc", 3 },
        { "\r\n", 1 },
        { "a\r\nb\n\r", 5 },
        { "e\u0301", 1 },
        { "\U0001F44D\U0001F3FD", 1 },                       // thumbs up with a skin tone
        { "\U0001F468\u200D\U0001F469\u200D\U0001F467", 1 }, // family joined by ZWJ
        { "\U0001F1E9\U0001F1EA", 1 },                       // one flag
        { "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", 2 },   // two flags
        { "\u1100\u1161\u11A8", 1 },                         // Hangul jamo
        { "a\xFF", 2 },
    };
    for (const auto& row : rows)
        EXPECT_EQ(P::graphemeCount(row.text), row.expected) << row.text;
}

TEST(Unicode, IsValidUTF8RejectsEveryMalformedSequence)
{
    const struct {
        std::string text;
        bool valid;
    } rows[] = {
        { "", true },
        { "plain", true },
        { "\u00E9\U0001F600", true },
        { "a\0b"s, true },
        { "\xC3", false },             // cut off
        { "\xC0\xAF", false },         // overlong "/"
        { "\xED\xA0\x80", false },     // a surrogate
        { "\xF4\x90\x80\x80", false }, // above U+10FFFF
        { "\xFF", false },
        { "\x80", false }, // a lone continuation byte
    };
    for (const auto& row : rows)
        EXPECT_EQ(P::isValidUTF8(row.text), row.valid) << ::testing::PrintToString(row.text);
}

} // namespace
