#pragma once

// Downloads as a user finds them: zip archives with given entries, disk images with or without an
// encryption header.

#include <string>
#include <utility>
#include <vector>

namespace Quandril::Testing {

// One zip entry: its name ("X/" for a folder) and, for a file, its content.
using ZipEntry = std::pair<std::string, std::string>;

// Writes a zip archive at a real path, its entries stored uncompressed so its size follows theirs.
void writeZip(const std::string& path, const std::vector<ZipEntry>& entries);

// Content of `bytes` bytes for a disk image: "encrcdsa" at the start (the current encrypted
// layout), "cdsaencr" at the end (the older one), or neither.
enum class ImageHeader { plain, encryptedAtStart, encryptedAtEnd };
std::string diskImage(ImageHeader header, std::size_t bytes);

} // namespace Quandril::Testing
