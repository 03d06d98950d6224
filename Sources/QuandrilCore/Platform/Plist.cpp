#include "QuandrilCore/Platform/Plist.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include <plist/plist.h>

#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/Unicode.h"

// Reading is our own, writing is libplist's. The library's readers (2.2) abort on a dictionary key
// holding a NUL, overflow the stack on deeply nested containers in either format, and expand
// shared objects of a binary list without end, so a 247-byte Info.plist stopped a scan for good.
// The engine only ever wants a few texts of the top-level dictionary, and these readers fetch just
// those, in time and memory in step with the file, without recursion.

namespace Quandril::Platform {

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

// Info.plist files are a few kilobytes; anything past this is not one and is not read into memory.
constexpr std::size_t maxPlistBytes = 4 * 1024 * 1024;

using Strings = std::map<std::string, std::string>;

bool wanted(const std::vector<std::string>& keys, const std::string& key)
{
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

void appendUTF8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// ---- Binary: "bplist00", objects, a table of their offsets, and a 32-byte trailer ----

class BinaryList {
public:
    explicit BinaryList(std::string_view data)
        : data_(data)
    {
    }

    std::optional<Strings> read(const std::vector<std::string>& keys)
    {
        if (data_.size() < 8 + 32 || data_.substr(0, 8) != "bplist00")
            return std::nullopt;
        const std::size_t trailer = data_.size() - 32;
        offsetWidth_ = byte(trailer + 6);
        refWidth_ = byte(trailer + 7);
        const std::uint64_t count = number(trailer + 8, 8);
        const std::uint64_t top = number(trailer + 16, 8);
        const std::uint64_t table = number(trailer + 24, 8);
        if (offsetWidth_ < 1 || offsetWidth_ > 8 || refWidth_ < 1 || refWidth_ > 8 || count == 0 || top >= count
            || table < 8 || table > trailer || (trailer - table) / offsetWidth_ < count)
            return std::nullopt;
        objectCount_ = count;
        table_ = static_cast<std::size_t>(table);

        auto dict = object(top);
        if (!dict || dict->type != 0xD)
            return std::nullopt;
        // Key references, then as many value references.
        const std::uint64_t entries = dict->length;
        if (entries > (table_ - dict->start) / refWidth_ / 2)
            return std::nullopt;
        Strings strings;
        for (std::uint64_t i = 0; i < entries; ++i) {
            const auto key = text(number(dict->start + i * refWidth_, refWidth_));
            const std::uint64_t valueIndex = number(dict->start + (entries + i) * refWidth_, refWidth_);
            // A dictionary's keys are texts, and every value is somewhere.
            if (!key || !object(valueIndex))
                return std::nullopt;
            if (!wanted(keys, *key) || strings.count(*key))
                continue;
            const auto value = text(valueIndex);
            if (value && value->find('\0') == std::string::npos)
                strings.emplace(*key, *value);
        }
        return strings;
    }

private:
    struct Object {
        int type;
        std::uint64_t length; // count of bytes, UTF-16 units or entries
        std::size_t start;    // where the contents begin
    };

    unsigned byte(std::size_t at) const { return static_cast<unsigned char>(data_[at]); }

    // A big-endian unsigned number; callers check that it lies inside the data.
    std::uint64_t number(std::size_t at, unsigned width) const
    {
        std::uint64_t value = 0;
        for (unsigned i = 0; i < width; ++i)
            value = value << 8 | byte(at + i);
        return value;
    }

    // An object's marker and length, when both lie before the offset table.
    std::optional<Object> object(std::uint64_t index) const
    {
        if (index >= objectCount_)
            return std::nullopt;
        const std::uint64_t at = number(table_ + static_cast<std::size_t>(index) * offsetWidth_, offsetWidth_);
        if (at < 8 || at >= table_)
            return std::nullopt;
        std::size_t cursor = static_cast<std::size_t>(at);
        const unsigned marker = byte(cursor++);
        Object found { static_cast<int>(marker >> 4), marker & 0xF, 0 };
        if (found.length == 0xF) {
            // The length follows as an integer object of 1, 2, 4 or 8 bytes.
            if (cursor >= table_ || (byte(cursor) & 0xF0) != 0x10 || (byte(cursor) & 0xF) > 3)
                return std::nullopt;
            const unsigned width = 1u << (byte(cursor) & 0xF);
            ++cursor;
            if (table_ - cursor < width)
                return std::nullopt;
            found.length = number(cursor, width);
            cursor += width;
        }
        found.start = cursor;
        return found;
    }

    // An ASCII or UTF-16 text object in UTF-8; absent for any other object or a broken text.
    std::optional<std::string> text(std::uint64_t index) const
    {
        const auto found = object(index);
        if (!found)
            return std::nullopt;
        const std::size_t room = table_ - found->start;
        std::string out;
        if (found->type == 0x5) {
            if (found->length > room)
                return std::nullopt;
            out.assign(data_.substr(found->start, static_cast<std::size_t>(found->length)));
            if (!std::all_of(out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
                return std::nullopt;
            return out;
        }
        if (found->type != 0x6 || found->length > room / 2)
            return std::nullopt;
        const std::size_t units = static_cast<std::size_t>(found->length);
        for (std::size_t i = 0; i < units; ++i) {
            char32_t unit = static_cast<char32_t>(number(found->start + 2 * i, 2));
            if (unit >= 0xDC00 && unit <= 0xDFFF)
                return std::nullopt;
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                const char32_t low = i + 1 < units ? static_cast<char32_t>(number(found->start + 2 * (i + 1), 2)) : 0;
                if (low < 0xDC00 || low > 0xDFFF)
                    return std::nullopt;
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
            appendUTF8(out, unit);
        }
        return out;
    }

    std::string_view data_;
    unsigned offsetWidth_ = 0;
    unsigned refWidth_ = 0;
    std::uint64_t objectCount_ = 0;
    std::size_t table_ = 0;
};

// ---- XML: <plist><dict><key>…</key><string>…</string>…</dict></plist> ----

class XmlList {
public:
    explicit XmlList(std::string_view data)
        : data_(data)
    {
    }

    std::optional<Strings> read(const std::vector<std::string>& keys)
    {
        if (data_.starts_with("\xEF\xBB\xBF"))
            at_ = 3;
        // Only what an XML property list may hold before its top value.
        std::optional<Tag> tag;
        do {
            tag = nextTag();
        } while (tag && tag->kind == Tag::Kind::declaration);
        if (!tag || tag->kind != Tag::Kind::open || tag->name != "plist" || tag->selfClosing)
            return std::nullopt;
        tag = nextTag();
        if (!tag || tag->kind != Tag::Kind::open || tag->name != "dict")
            return std::nullopt;
        Strings strings;
        if (tag->selfClosing)
            return strings;
        for (;;) {
            tag = nextTag();
            if (!tag)
                return std::nullopt;
            if (tag->kind == Tag::Kind::close && tag->name == "dict")
                return strings;
            if (tag->kind != Tag::Kind::open || tag->name != "key")
                return std::nullopt;
            auto key = tag->selfClosing ? std::optional<std::string>("") : textUntilClose("key");
            if (!key)
                return std::nullopt;
            tag = nextTag();
            if (!tag || tag->kind != Tag::Kind::open)
                return std::nullopt;
            if (tag->name == "string") {
                auto value = tag->selfClosing ? std::optional<std::string>("") : textUntilClose("string");
                if (!value)
                    return std::nullopt;
                if (wanted(keys, *key) && !strings.count(*key))
                    strings.emplace(std::move(*key), std::move(*value));
            } else if (!tag->selfClosing && !skipTo(tag->name)) {
                return std::nullopt;
            }
        }
    }

private:
    struct Tag {
        enum class Kind { open, close, declaration };
        Kind kind;
        std::string_view name;
        bool selfClosing = false;
    };

    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    // Moves past `end`; false when the data ends first.
    bool skipPast(std::string_view end)
    {
        const auto found = data_.find(end, at_);
        if (found == std::string_view::npos)
            return false;
        at_ = found + end.size();
        return true;
    }

    // The next tag, past white space, comments and processing instructions; absent at the end,
    // on text outside a tag, or on a tag that is broken.
    std::optional<Tag> nextTag()
    {
        for (;;) {
            while (at_ < data_.size() && isSpace(data_[at_]))
                ++at_;
            if (at_ >= data_.size() || data_[at_] != '<')
                return std::nullopt;
            const std::string_view rest = data_.substr(at_);
            if (rest.starts_with("<!--")) {
                if (!skipPast("-->"))
                    return std::nullopt;
                continue;
            }
            if (rest.starts_with("<?")) {
                if (!skipPast("?>"))
                    return std::nullopt;
                return Tag { Tag::Kind::declaration, {} };
            }
            if (rest.starts_with("<!")) {
                // A document type; one with declarations of its own is refused.
                const auto end = data_.find('>', at_);
                if (end == std::string_view::npos || data_.substr(at_, end - at_).find('[') != std::string_view::npos)
                    return std::nullopt;
                at_ = end + 1;
                return Tag { Tag::Kind::declaration, {} };
            }
            return elementTag();
        }
    }

    std::optional<Tag> elementTag()
    {
        ++at_; // "<"
        Tag tag { Tag::Kind::open, {} };
        if (at_ < data_.size() && data_[at_] == '/') {
            tag.kind = Tag::Kind::close;
            ++at_;
        }
        const std::size_t nameStart = at_;
        while (at_ < data_.size() && !isSpace(data_[at_]) && data_[at_] != '>' && data_[at_] != '/')
            ++at_;
        tag.name = data_.substr(nameStart, at_ - nameStart);
        if (tag.name.empty())
            return std::nullopt;
        // Attributes are passed over; a quoted value may hold ">".
        char quote = 0;
        for (; at_ < data_.size(); ++at_) {
            const char c = data_[at_];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                tag.selfClosing = data_[at_ - 1] == '/';
                ++at_;
                if (tag.kind == Tag::Kind::close && tag.selfClosing)
                    return std::nullopt;
                return tag;
            }
        }
        return std::nullopt;
    }

    // The text of an element up to its closing tag, with references and CDATA sections resolved;
    // absent when an element starts inside it or it never closes.
    std::optional<std::string> textUntilClose(std::string_view name)
    {
        std::string out;
        while (at_ < data_.size()) {
            const char c = data_[at_];
            if (c == '&') {
                if (!reference(out))
                    return std::nullopt;
                continue;
            }
            if (c != '<') {
                out += c;
                ++at_;
                continue;
            }
            const std::string_view rest = data_.substr(at_);
            if (rest.starts_with("<![CDATA[")) {
                at_ += 9;
                const auto end = data_.find("]]>", at_);
                if (end == std::string_view::npos)
                    return std::nullopt;
                out.append(data_.substr(at_, end - at_));
                at_ = end + 3;
            } else if (rest.starts_with("<!--")) {
                if (!skipPast("-->"))
                    return std::nullopt;
            } else {
                const auto tag = elementTag();
                if (!tag || tag->kind != Tag::Kind::close || tag->name != name)
                    return std::nullopt;
                return out;
            }
        }
        return std::nullopt;
    }

    bool reference(std::string& out)
    {
        const auto end = data_.find(';', at_);
        if (end == std::string_view::npos || end - at_ > 12)
            return false;
        const std::string_view name = data_.substr(at_ + 1, end - at_ - 1);
        at_ = end + 1;
        static constexpr std::pair<std::string_view, char> named[] {
            { "lt", '<' }, { "gt", '>' }, { "amp", '&' }, { "quot", '"' }, { "apos", '\'' }
        };
        for (const auto& [entity, c] : named)
            if (name == entity) {
                out += c;
                return true;
            }
        if (name.size() < 2 || name[0] != '#')
            return false;
        const bool hex = name[1] == 'x';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty())
            return false;
        char32_t value = 0;
        for (char d : digits) {
            int digit;
            if (d >= '0' && d <= '9')
                digit = d - '0';
            else if (hex && d >= 'a' && d <= 'f')
                digit = d - 'a' + 10;
            else if (hex && d >= 'A' && d <= 'F')
                digit = d - 'A' + 10;
            else
                return false;
            value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
            if (value > 0x10FFFF)
                return false;
        }
        if (value == 0 || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        appendUTF8(out, value);
        return true;
    }

    // Passes over an element's contents, however deeply nested, up to its closing tag.
    bool skipTo(std::string_view name)
    {
        std::size_t depth = 1;
        while (depth > 0) {
            // Text between the tags is of no interest here.
            at_ = data_.find('<', at_);
            if (at_ == std::string_view::npos)
                return false;
            const std::string_view rest = data_.substr(at_);
            if (rest.starts_with("<![CDATA[")) {
                if (!skipPast("]]>"))
                    return false;
                continue;
            }
            if (rest.starts_with("<!--")) {
                if (!skipPast("-->"))
                    return false;
                continue;
            }
            const auto tag = elementTag();
            if (!tag)
                return false;
            if (tag->kind == Tag::Kind::close)
                --depth;
            else if (!tag->selfClosing)
                ++depth;
            if (depth == 0 && tag->name != name)
                return false;
        }
        return true;
    }

    std::string_view data_;
    std::size_t at_ = 0;
};

} // namespace

std::optional<std::map<std::string, std::string>> plistStrings(std::string_view data,
                                                               const std::vector<std::string>& keys)
{
    if (data.empty() || data.size() > maxPlistBytes)
        return std::nullopt;
    if (data.starts_with("bplist"))
        return BinaryList(data).read(keys);
    // XML property lists are UTF-8 text.
    if (!isValidUTF8(data))
        return std::nullopt;
    return XmlList(data).read(keys);
}

std::optional<std::map<std::string, std::string>> readPlistStrings(const std::string& path,
                                                                   const std::vector<std::string>& keys)
{
    const auto data = readFile(path, nullptr, { .maxBytes = maxPlistBytes });
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
