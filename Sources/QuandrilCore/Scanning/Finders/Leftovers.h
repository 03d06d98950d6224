#pragma once

// What the data-folder finders share: a quick look inside a folder for files that look like the
// user's own work, so that a finding can warn before anything personal goes.

#include <cstdint>
#include <optional>
#include <string>

#include "QuandrilCore/Rules/Catalog.h"

namespace Quandril {

// How many entries of one folder the look inside examines at most.
inline constexpr std::int64_t personalSampleLimit = 50'000;

// Walks the folder (a real path) and names the files under a marker folder or with a marker
// extension: "1 file that looks like your own, R" or "n files that look like your own, such as R",
// R relative to the folder. Absent when none was seen, when the folder cannot be opened, or when the
// privacy fence holds it. Only the first `limit` entries are looked at, and only their attributes.
std::optional<std::string> personalContent(const std::string& in, const Catalog::Markers& markers, std::int64_t limit);

} // namespace Quandril
