#pragma once

// Results as their JSON records, so a test compares whole findings or skipped entries in one
// assertion and a failure prints every field; and the ids of a result's findings, in order.

#include <string>
#include <vector>

#include "QuandrilCore/Values/Json.h"

namespace Quandril::Testing {

template <typename Record>
Json::Value records(const std::vector<Record>& values)
{
    return Json::arrayOf(values);
}

// For anything holding `findings`: a finder's result or a whole scan's report.
template <typename Result>
std::vector<std::string> ids(const Result& result)
{
    std::vector<std::string> out;
    for (const auto& finding : result.findings)
        out.push_back(finding.id);
    return out;
}

} // namespace Quandril::Testing
