#pragma once

// Property lists, binary or XML, through libplist. Only what the engine reads of them: the text
// values of a top-level dictionary.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace Quandril::Platform {

// Text values of a property list's top-level dictionary, by key; values of other types are left
// out. Absent when the data is not a property list or its top level is not a dictionary.
std::optional<std::map<std::string, std::string>> plistStrings(std::string_view data);

// The same, read from a file. A missing or unreadable file is absent, as is a broken one.
std::optional<std::map<std::string, std::string>> readPlistStrings(const std::string& path);

enum class PlistFormat { xml, binary };

// A property list holding one dictionary of text values, encoded in the given format. Fixtures and
// tests use it to lay down Info.plist files.
std::string plistData(const std::map<std::string, std::string>& strings, PlistFormat format);

} // namespace Quandril::Platform
