#include "QuandrilCore/Platform/DateText.h"

#include <ctime>
#include <locale.h>

namespace Quandril::Platform {

namespace {

// The strftime conversion of one run of a pattern letter; empty for a run it does not know.
std::string conversion(char letter, std::size_t run)
{
    switch (letter) {
    case 'd':
        return run == 1 ? "%-d" : "%d";
    case 'M':
        return run == 1 ? "%-m" : run == 2 ? "%m" : run == 3 ? "%b" : "%B";
    case 'y':
        return run == 2 ? "%y" : "%Y";
    default:
        return {};
    }
}

std::string strftimeFormat(std::string_view pattern)
{
    std::string format;
    for (std::size_t at = 0; at < pattern.size();) {
        const char letter = pattern[at];
        std::size_t run = 1;
        while (at + run < pattern.size() && pattern[at + run] == letter)
            ++run;
        std::string converted = conversion(letter, run);
        if (converted.empty()) {
            // strftime would read a lone "%" as the start of a conversion.
            for (std::size_t i = 0; i < run; ++i)
                format += letter == '%' ? "%%" : std::string(1, letter);
        } else {
            format += converted;
        }
        at += run;
    }
    return format;
}

} // namespace

DateFormatter::DateFormatter(std::string_view pattern)
    : format_(strftimeFormat(pattern))
    , locale_(::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0)))
{
}

DateFormatter::~DateFormatter()
{
    if (locale_)
        ::freelocale(static_cast<locale_t>(locale_));
}

std::string DateFormatter::format(std::chrono::system_clock::time_point date) const
{
    // Whole seconds toward the past, so a date just before midnight stays on its own day.
    const auto seconds = std::chrono::floor<std::chrono::seconds>(date).time_since_epoch().count();
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm local {};
    if (format_.empty() || !::localtime_r(&when, &local))
        return {};

    std::string text(format_.size() * 8 + 64, '\0');
    const std::size_t length = locale_
        ? ::strftime_l(text.data(), text.size(), format_.c_str(), &local, static_cast<locale_t>(locale_))
        : ::strftime(text.data(), text.size(), format_.c_str(), &local);
    text.resize(length);
    return text;
}

std::string formatDate(std::chrono::system_clock::time_point date, std::string_view pattern)
{
    return DateFormatter(pattern).format(date);
}

} // namespace Quandril::Platform
