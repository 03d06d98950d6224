#include "QuandrilCore/Platform/Plist.h"

#include <cstdint>
#include <memory>

#include <plist/plist.h>

#include "QuandrilCore/Platform/Files.h"

namespace Quandril::Platform {

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

// Info.plist files are a few kilobytes; anything past this is not one and is not read into memory.
constexpr std::size_t maxPlistBytes = 4 * 1024 * 1024;

} // namespace

std::optional<std::map<std::string, std::string>> plistStrings(std::string_view data,
                                                               const std::vector<std::string>& keys)
{
    if (data.empty() || data.size() > maxPlistBytes)
        return std::nullopt;
    plist_t raw = nullptr;
    plist_from_memory(data.data(), static_cast<std::uint32_t>(data.size()), &raw);
    PlistPtr root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return std::nullopt;

    // libplist aborts when it lists a dictionary whose key holds a NUL, so the dictionary is never
    // listed: each wanted key is looked up directly.
    std::map<std::string, std::string> strings;
    for (const auto& key : keys) {
        const plist_t value = plist_dict_get_item(root.get(), key.c_str());
        if (!value || plist_get_node_type(value) != PLIST_STRING)
            continue;
        std::uint64_t length = 0;
        const char* text = plist_get_string_ptr(value, &length);
        if (text)
            strings.insert_or_assign(key, std::string(text, length));
    }
    return strings;
}

std::optional<std::map<std::string, std::string>> readPlistStrings(const std::string& path,
                                                                   const std::vector<std::string>& keys)
{
    const auto data = readFile(path, nullptr, {.maxBytes = maxPlistBytes});
    if (!data)
        return std::nullopt;
    return plistStrings(*data, keys);
}

std::string plistData(const std::map<std::string, std::string>& strings, PlistFormat format)
{
    PlistPtr root(plist_new_dict());
    for (const auto& [key, value] : strings)
        plist_dict_set_item(root.get(), key.c_str(), plist_new_string(value.c_str()));
    char* bytes = nullptr;
    std::uint32_t length = 0;
    if (format == PlistFormat::binary)
        plist_to_bin(root.get(), &bytes, &length);
    else
        plist_to_xml(root.get(), &bytes, &length);
    std::string out(bytes ? bytes : "", bytes ? length : 0);
    if (format == PlistFormat::binary)
        plist_to_bin_free(bytes);
    else
        plist_to_xml_free(bytes);
    return out;
}

} // namespace Quandril::Platform
