#pragma once

// One-question helpers on a real path. All but isSymlink answer as if a folder the privacy fence
// holds were empty or missing, and none throws.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "QuandrilCore/Values/Model.h"

namespace Quandril {

// Entry names as the file system lists them, hidden ones included, no order.
std::vector<std::string> listNames(const std::string& path);
// Non-hidden entries as full paths, sorted by the Unicode scalars of their NFC names.
std::vector<std::string> children(const std::string& path);
bool isDirectory(const std::string& path);                  // follows a link
bool exists(const std::string& path);                       // follows a link
bool isSymlink(const std::string& path);                    // the item itself
std::optional<std::int64_t> size(const std::string& path);  // the item itself, not its contents
std::optional<TimePoint> modified(const std::string& path); // the item itself

} // namespace Quandril
