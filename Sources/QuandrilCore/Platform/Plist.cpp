#include "QuandrilCore/Platform/Plist.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>

#include <plist/plist.h>

namespace Quandril::Platform {

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

// Info.plist files are small; anything past this is not one and is not read into memory.
constexpr std::int64_t maxPlistBytes = 16 * 1024 * 1024;

} // namespace

std::optional<std::map<std::string, std::string>> plistStrings(std::string_view data)
{
    if (data.empty() || data.size() > static_cast<std::size_t>(maxPlistBytes))
        return std::nullopt;
    plist_t raw = nullptr;
    plist_from_memory(data.data(), static_cast<std::uint32_t>(data.size()), &raw);
    PlistPtr root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return std::nullopt;

    std::map<std::string, std::string> strings;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(root.get(), &it);
    if (!it)
        return strings;
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root.get(), it, &key, &value);
        if (!key)
            break;
        std::string name(key);
        std::free(key);
        if (value && plist_get_node_type(value) == PLIST_STRING) {
            std::uint64_t length = 0;
            const char* text = plist_get_string_ptr(value, &length);
            if (text)
                strings.insert_or_assign(std::move(name), std::string(text, length));
        }
    }
    std::free(it);
    return strings;
}

std::optional<std::map<std::string, std::string>> readPlistStrings(const std::string& path)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return std::nullopt;
    std::string data;
    char buffer[16384];
    for (;;) {
        std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        data.append(buffer, got);
        if (data.size() > static_cast<std::size_t>(maxPlistBytes))
            return std::nullopt;
        if (got < sizeof buffer)
            break;
    }
    if (std::ferror(file.get()))
        return std::nullopt;
    return plistStrings(data);
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
