#pragma once

// Property lists, binary or XML, through libplist. Only what the engine reads of them: a few text
// values of a top-level dictionary, looked up by key.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Quandril::Platform {

// The text values stored under `keys` in a property list's top-level dictionary; a key that is
// missing or holds another type is left out. Absent when the data is not a property list or its
// top level is not a dictionary. Keys are looked up one by one, never listed, so a key no text
// can hold (one with a NUL inside) cannot upset the reading.
std::optional<std::map<std::string, std::string>> plistStrings(std::string_view data,
                                                               const std::vector<std::string>& keys);

// The same, read from a file. A missing or unreadable file is absent, as is a broken one, one far
// larger than any Info.plist, and anything but a regular file (a named pipe is never waited on).
std::optional<std::map<std::string, std::string>> readPlistStrings(const std::string& path,
                                                                   const std::vector<std::string>& keys);

enum class PlistFormat { xml, binary };

// A property list holding one dictionary of text values, encoded in the given format. Fixtures and
// tests use it to lay down Info.plist files.
std::string plistData(const std::map<std::string, std::string>& strings, PlistFormat format);

} // namespace Quandril::Platform
