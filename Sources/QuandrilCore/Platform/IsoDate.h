#pragma once

// ISO 8601 dates without the C library's locale: a strict parser and a UTC formatter.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace Quandril::Platform {

// Accepts "YYYY-MM-DDTHH:MM:SS" followed by "Z", "+HH:MM", "-HH:MM", "+HHMM" or "-HHMM", with an
// optional fraction of a second after the seconds. Anything else, or an impossible date, is absent.
std::optional<std::chrono::system_clock::time_point> parseIso8601(std::string_view text);

// The same in whole seconds (a fraction is dropped toward the past), for dates beyond the system
// clock's nanosecond range (about 1678 to 2262) that files may still carry: any four-digit year.
std::optional<std::chrono::sys_seconds> parseIso8601Seconds(std::string_view text);

// "YYYY-MM-DDTHH:MM:SSZ" in UTC, whole seconds (the fraction is dropped toward the past).
std::string formatIso8601(std::chrono::system_clock::time_point date);
std::string formatIso8601(std::chrono::sys_seconds date);

} // namespace Quandril::Platform
