#pragma once

// Clean-up results and History entries print as their JSON lines, so a test compares a whole result
// in one assertion and a failure still shows every field.

#include <ostream>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Values/Json.h"

namespace Quandril {

inline void PrintTo(const CleanResult& result, std::ostream* out)
{
    *out << Json::dump(toJson(result));
}
inline void PrintTo(const HistoryEntry& entry, std::ostream* out)
{
    *out << Json::dump(toJson(entry));
}

namespace Cleaner {

inline void PrintTo(const InsideSearch& search, std::ostream* out)
{
    *out << "{ why: " << search.why.value_or("none") << ", unexamined: " << search.unexamined.value_or("none") << " }";
}

} // namespace Cleaner

} // namespace Quandril
