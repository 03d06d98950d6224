#pragma once

// Binary property lists laid out byte by byte, so that tests can hold anything a crafted file
// might: keys with NULs, broken offsets, deep or shared containers.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Quandril::Testing {

// A reference to object `index`, `width` bytes wide.
std::string plistRef(std::size_t index, unsigned width);
// Texts: ASCII (type 5) and UTF-16 (type 6), with their lengths.
std::string plistASCII(std::string_view text);
std::string plistUTF16(std::u16string_view text);
// Containers of references `width` bytes wide.
std::string plistArray(const std::vector<std::size_t>& items, unsigned width);
std::string plistDict(const std::vector<std::pair<std::size_t, std::size_t>>& entries, unsigned width);

// "bplist00", the objects in order (object 0 the top), their offset table and the trailer.
std::string binaryPlist(const std::vector<std::string>& objects, unsigned refWidth);

} // namespace Quandril::Testing
