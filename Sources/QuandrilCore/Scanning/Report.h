#pragma once

// Texts for users: byte amounts, and the text reports of a scan and of a plan.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "QuandrilCore/Scanning/Planner.h"
#include "QuandrilCore/Values/Model.h"

namespace Quandril {

namespace Report {

// "1.5 GB", "150 GB", "1000 MB", "0 KB": decimal units, a "." whatever the locale.
std::string bytes(std::int64_t count);

// One line per drive ("Macintosh HD: 120 GB free of 500 GB"), the startup drive's measured against
// the goal when one is given, then the Trash when it holds anything. No line end after the last.
std::string drives(const ScanReport& report, const std::optional<Goal>& goal);

// The whole scan: drives, findings by tier, notes and what was left alone. `mac` only turns paths
// into their display form.
std::string text(const ScanReport& report, const Mac& mac, const std::optional<Goal>& goal);

// A plan for one drive: its routes, the fewest steps (findings looked up in `report`) and notes.
std::string text(const Plan& plan, const ScanReport& report);

} // namespace Report

// The list with every repeat of an earlier text removed; first occurrences keep their order.
std::vector<std::string> uniqued(const std::vector<std::string>& texts);

} // namespace Quandril
