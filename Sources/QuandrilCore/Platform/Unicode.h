#pragma once

// Unicode text operations through ICU. Invalid UTF-8 is read with U+FFFD in place of each bad
// sequence; nothing here throws.

#include <cstddef>
#include <string>
#include <string_view>

namespace Quandril::Platform {

// Canonical composition (NFC).
std::string nfc(std::string_view text);
// Orders by the Unicode scalar values of the NFC forms: negative, 0 or positive.
int compareNFC(std::string_view a, std::string_view b);
// Full lower-casing and upper-casing (root locale; "ß" upper-cases to "SS").
std::string lowercased(std::string_view text);
std::string uppercased(std::string_view text);
// The text with its first user-perceived character upper-cased and the rest unchanged.
std::string capitalizedFirst(std::string_view text);
// Only the letters, marks and digits (categories L*, M*, N*) of the text, in order.
std::string lettersMarksDigits(std::string_view text);
// Number of user-perceived characters (extended grapheme clusters).
std::size_t graphemeCount(std::string_view text);
bool isValidUTF8(std::string_view text);
// Invalid sequences replaced by U+FFFD.
std::string repairedUTF8(std::string_view text);

} // namespace Quandril::Platform
