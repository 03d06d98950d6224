#include "Support/PlistBytes.h"

#include <cstdint>

namespace Quandril::Testing {

namespace {

std::string bigEndian(std::uint64_t value, unsigned width)
{
    std::string out(width, '\0');
    for (unsigned i = 0; i < width; ++i)
        out[width - 1 - i] = static_cast<char>(value >> (8 * i) & 0xFF);
    return out;
}

// An object's type and length: lengths from 15 on follow as an integer object.
std::string marker(unsigned type, std::size_t length)
{
    if (length < 15)
        return std::string(1, static_cast<char>(type << 4 | length));
    return std::string(1, static_cast<char>(type << 4 | 0xF)) + "\x13" + bigEndian(length, 8);
}

} // namespace

std::string plistRef(std::size_t index, unsigned width)
{
    return bigEndian(index, width);
}

std::string plistASCII(std::string_view text)
{
    return marker(0x5, text.size()) + std::string(text);
}

std::string plistUTF16(std::u16string_view text)
{
    std::string out = marker(0x6, text.size());
    for (char16_t unit : text)
        out += bigEndian(unit, 2);
    return out;
}

std::string plistArray(const std::vector<std::size_t>& items, unsigned width)
{
    std::string out = marker(0xA, items.size());
    for (auto item : items)
        out += plistRef(item, width);
    return out;
}

std::string plistDict(const std::vector<std::pair<std::size_t, std::size_t>>& entries, unsigned width)
{
    std::string out = marker(0xD, entries.size());
    for (const auto& entry : entries)
        out += plistRef(entry.first, width);
    for (const auto& entry : entries)
        out += plistRef(entry.second, width);
    return out;
}

std::string binaryPlist(const std::vector<std::string>& objects, unsigned refWidth)
{
    std::string out = "bplist00";
    std::vector<std::size_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(out.size());
        out += object;
    }
    const std::size_t table = out.size();
    unsigned offsetWidth = 1;
    while (offsetWidth < 8 && table >> (8 * offsetWidth) != 0)
        ++offsetWidth;
    for (auto offset : offsets)
        out += bigEndian(offset, offsetWidth);
    out += std::string(6, '\0');
    out += static_cast<char>(offsetWidth);
    out += static_cast<char>(refWidth);
    out += bigEndian(objects.size(), 8) + bigEndian(0, 8) + bigEndian(table, 8);
    return out;
}

} // namespace Quandril::Testing
