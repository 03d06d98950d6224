#pragma once

// Text comparisons shared by the inventory and the owner resolver (internal to the engine).
// Names are compared as user-perceived characters: both sides are NFC, and a beginning only counts
// when it ends between two characters, so "cafe" does not begin "cafe" + a combining accent.

#include <string>
#include <string_view>
#include <vector>

namespace Quandril::InventoryText {

// Lower-cased with full case mapping, then NFC.
std::string lowerNFC(std::string_view text);
// `text` begins with `prefix` and the next character starts right after it. Both in NFC.
bool beginsWith(std::string_view text, std::string_view prefix);
// Parts between the dots, empty parts dropped.
std::vector<std::string> dotParts(std::string_view text);

} // namespace Quandril::InventoryText
