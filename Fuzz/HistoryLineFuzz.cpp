// History lines: any line decodes or is skipped; a decoded entry writes a line that reads back as
// the same entry (its date to the whole second); a whole file of such lines loads.

#include <chrono>

#include "FuzzCheck.h"
#include "QuandrilCore/Cleaning/Cleaner.h"

using namespace Quandril;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto text = Fuzz::text(data, size);
    (void)History::parse(text);
    const auto entry = History::decodeLine(text);
    if (!entry)
        return 0;
    const auto line = History::encodeLine(*entry);
    Fuzz::check(line.has_value(), "a decoded entry is recordable");
    Fuzz::check(line->find('\n') == std::string::npos, "an encoded entry is one line");
    auto again = History::decodeLine(*line);
    // Written dates drop the fraction of a second, so only the clock's very first second can
    // fall out of its range on the way back.
    const auto whole = std::chrono::floor<std::chrono::seconds>(entry->at);
    if (whole < std::chrono::ceil<std::chrono::seconds>(TimePoint::min())) {
        Fuzz::check(!again, "a date before the clock's first whole second is unreadable");
        return 0;
    }
    Fuzz::check(again.has_value(), "an encoded entry decodes");
    auto expected = *entry;
    expected.at = std::chrono::time_point_cast<TimePoint::duration>(whole);
    Fuzz::check(*again == expected, "an entry round-trips");
    return 0;
}
