#pragma once

// Dates for sentences users read: month names in the user's language (LC_TIME), the user's time
// zone. Not for files or JSON (those use IsoDate).

#include <chrono>
#include <string>
#include <string_view>

namespace Quandril::Platform {

// A date pattern made of the fields d, dd, M, MM, MMM, MMMM, yy and yyyy; every other character
// is copied as it is ("d MMMM yyyy" gives "3 March 2025", "MMMM yyyy" gives "March 2025").
// Reads the user's locale once, so one formatter serves a whole list.
class DateFormatter {
public:
    explicit DateFormatter(std::string_view pattern);
    ~DateFormatter();
    DateFormatter(const DateFormatter&) = delete;
    DateFormatter& operator=(const DateFormatter&) = delete;

    // Empty when the date lies outside what the C library can show.
    std::string format(std::chrono::system_clock::time_point date) const;

private:
    std::string format_;     // for strftime
    void* locale_ = nullptr; // locale_t; the C library's own when the environment names none usable
};

std::string formatDate(std::chrono::system_clock::time_point date, std::string_view pattern);

} // namespace Quandril::Platform
