#pragma once

// What a downloaded file says about itself without being opened as what it holds: the entry names
// of a zip archive, read from its directory and never unpacked, and whether a disk image is
// encrypted, read from its own header and trailer.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace Quandril::Platform {

// The entry names a zip archive lists, in directory order, a folder's name ending in "/". At most
// `limit` entries are read. Absent when the path is not a regular file or not a zip archive that
// can be read. No entry's content is read.
std::optional<std::vector<std::string>> zipEntryNames(const std::string& path, std::size_t limit);

// The disk image at `path` carries an encryption header: "encrcdsa" at its start, or "cdsaencr"
// as its last eight bytes (the older layout). False for anything that cannot be read.
bool isEncryptedDiskImage(const std::string& path);

} // namespace Quandril::Platform
