#include "QuandrilCore/Report.h"

#include <charconv>
#include <cmath>
#include <unordered_set>

namespace Quandril {

namespace {

std::string wholeNumber(double value)
{
    // Rounds halves away from zero; doubles this large print exactly as integers.
    double rounded = std::round(value);
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::fixed, 0);
    return std::string(buffer, result.ptr);
}

} // namespace

std::string Report::bytes(std::int64_t count)
{
    double g = static_cast<double>(count) / 1e9;
    if (g >= 100)
        return wholeNumber(g) + " GB";
    if (g >= 1) {
        char buffer[64];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, g, std::chars_format::fixed, 1);
        std::string text(buffer, result.ptr);
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, ".0") == 0)
            text.resize(text.size() - 2);
        return text + " GB";
    }
    double m = static_cast<double>(count) / 1e6;
    if (m >= 1)
        return wholeNumber(m) + " MB";
    std::int64_t kilobytes = (count > 0 ? count : 0) / 1000;
    return std::to_string(kilobytes) + " KB";
}

std::vector<std::string> uniqued(const std::vector<std::string>& texts)
{
    std::vector<std::string> result;
    std::unordered_set<std::string> seen;
    for (const auto& text : texts)
        if (seen.insert(text).second)
            result.push_back(text);
    return result;
}

} // namespace Quandril
