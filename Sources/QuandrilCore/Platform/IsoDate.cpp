#include "QuandrilCore/Platform/IsoDate.h"

#include <cstdio>

namespace Quandril::Platform {

namespace {

bool digits(std::string_view text, std::size_t at, std::size_t count, int& out)
{
    if (at + count > text.size())
        return false;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    out = value;
    return true;
}

// `whole` seconds plus `fraction` (under one second) in the clock's ticks, when the clock can hold
// them: with nanosecond ticks in 64 bits, roughly the years 1678 to 2262.
std::optional<std::chrono::system_clock::duration> inClockRange(std::chrono::seconds whole,
                                                                std::chrono::nanoseconds fraction)
{
    using namespace std::chrono;
    using Ticks = system_clock::duration;
    // The first and last whole seconds the clock holds completely, and what it holds beyond them.
    constexpr seconds first = ceil<seconds>(Ticks::min());
    constexpr seconds last = floor<seconds>(Ticks::max());
    constexpr Ticks belowFirst = Ticks::min() - duration_cast<Ticks>(first);
    constexpr Ticks aboveLast = Ticks::max() - duration_cast<Ticks>(last);
    const Ticks part = duration_cast<Ticks>(fraction);
    if (whole >= first && whole <= last) {
        if (whole == last && part > aboveLast)
            return std::nullopt;
        return duration_cast<Ticks>(whole) + part;
    }
    // Only the second just before the first whole one can still be partly held.
    if (whole == first - seconds(1) && part - duration_cast<Ticks>(seconds(1)) >= belowFirst)
        return duration_cast<Ticks>(first) + (part - duration_cast<Ticks>(seconds(1)));
    return std::nullopt;
}

struct Parsed {
    std::chrono::seconds whole;
    std::chrono::nanoseconds fraction;
};

std::optional<Parsed> parsed(std::string_view text)
{
    using namespace std::chrono;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (text.size() < 20)
        return std::nullopt;
    if (!digits(text, 0, 4, year) || text[4] != '-' || !digits(text, 5, 2, month) || text[7] != '-'
        || !digits(text, 8, 2, day) || text[10] != 'T' || !digits(text, 11, 2, hour) || text[13] != ':'
        || !digits(text, 14, 2, minute) || text[16] != ':' || !digits(text, 17, 2, second))
        return std::nullopt;
    std::size_t at = 19;
    nanoseconds fraction { 0 };
    if (at < text.size() && text[at] == '.') {
        ++at;
        std::size_t start = at;
        long long scale = 100'000'000;
        long long nanos = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            nanos += (text[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == start)
            return std::nullopt;
        fraction = nanoseconds(nanos);
    }
    if (at >= text.size())
        return std::nullopt;
    int offsetMinutes = 0;
    if (text[at] == 'Z') {
        ++at;
    } else if (text[at] == '+' || text[at] == '-') {
        int sign = text[at] == '+' ? 1 : -1;
        int oh = 0, om = 0;
        if (!digits(text, at + 1, 2, oh))
            return std::nullopt;
        std::size_t next = at + 3;
        if (next < text.size() && text[next] == ':')
            ++next;
        if (!digits(text, next, 2, om))
            return std::nullopt;
        if (oh > 23 || om > 59)
            return std::nullopt;
        offsetMinutes = sign * (oh * 60 + om);
        at = next + 2;
    } else {
        return std::nullopt;
    }
    if (at != text.size())
        return std::nullopt;
    if (hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    year_month_day ymd { std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                         std::chrono::day(static_cast<unsigned>(day)) };
    if (!ymd.ok())
        return std::nullopt;
    // Whole seconds of any four-digit year fit easily; the clock's own ticks do not.
    const seconds whole
        = (sys_days(ymd) + hours(hour) + minutes(minute) + seconds(second) - minutes(offsetMinutes)).time_since_epoch();
    return Parsed { whole, fraction };
}

} // namespace

std::optional<std::chrono::sys_seconds> parseIso8601Seconds(std::string_view text)
{
    const auto date = parsed(text);
    if (!date)
        return std::nullopt;
    return std::chrono::sys_seconds(date->whole);
}

std::optional<std::chrono::system_clock::time_point> parseIso8601(std::string_view text)
{
    using namespace std::chrono;
    const auto date = parsed(text);
    if (!date)
        return std::nullopt;
    auto ticks = inClockRange(date->whole, date->fraction);
    if (!ticks)
        return std::nullopt;
    return system_clock::time_point(*ticks);
}

std::string formatIso8601(std::chrono::system_clock::time_point date)
{
    return formatIso8601(std::chrono::floor<std::chrono::seconds>(date));
}

std::string formatIso8601(std::chrono::sys_seconds secs)
{
    using namespace std::chrono;
    auto dayPoint = floor<days>(secs);
    year_month_day ymd { dayPoint };
    hh_mm_ss hms { secs - dayPoint };
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                  static_cast<int>(hms.seconds().count()));
    return buffer;
}

} // namespace Quandril::Platform
