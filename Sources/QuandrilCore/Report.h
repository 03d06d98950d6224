#pragma once

// Texts for users: byte amounts, and the text reports of a scan and of a plan.

#include <cstdint>
#include <string>
#include <vector>

namespace Quandril {

namespace Report {

// "1.5 GB", "150 GB", "1000 MB", "0 KB": decimal units, a "." whatever the locale.
std::string bytes(std::int64_t count);

} // namespace Report

// The list with every repeat of an earlier text removed; first occurrences keep their order.
std::vector<std::string> uniqued(const std::vector<std::string>& texts);

} // namespace Quandril
