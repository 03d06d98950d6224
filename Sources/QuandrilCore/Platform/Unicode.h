#pragma once

// Unicode text operations through ICU. Invalid UTF-8 is read with U+FFFD in place of each bad
// sequence; nothing here throws.

#include <cstddef>
#include <initializer_list>
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
// Whether every one of the texts is valid UTF-8.
bool allValidUTF8(std::initializer_list<std::string_view> texts);
// Whether two texts name the same thing: equal byte for byte, or both valid UTF-8 and equal in NFC.
// Repaired invalid texts would all compare equal; only real text may match another spelling.
bool sameText(std::string_view a, std::string_view b);
// Invalid sequences replaced by U+FFFD.
std::string repairedUTF8(std::string_view text);

} // namespace Quandril::Platform
