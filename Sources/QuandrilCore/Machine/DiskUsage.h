#pragma once

// Space really taken on disk: allocated blocks, each hard-linked file once, links never followed,
// other volumes never entered, fenced folders never opened.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "QuandrilCore/Platform/ParallelMap.h"
#include "QuandrilCore/Values/Json.h"

namespace Quandril {

struct Usage {
    std::int64_t bytes = 0;
    std::int64_t unreadable = 0;

    friend bool operator==(const Usage&, const Usage&) = default;
};

Json::Value toJson(const Usage& usage);
void decode(const Json::Value& value, Usage& out);

// `skipping` holds folders whose contents are not counted, spelled as the walk spells them
// (the given path, then "/" and each name).
Usage diskUsage(const std::string& path, const std::set<std::string>& skipping = {});
// Every path measured in parallel; a repeated path gets one entry.
std::map<std::string, Usage> diskUsageOf(const std::vector<std::string>& paths,
                                         const std::set<std::string>& skipping = {});

} // namespace Quandril
