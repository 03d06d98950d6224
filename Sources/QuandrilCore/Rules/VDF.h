#pragma once

// Reader for Steam's key/value text files (the library list and the app manifests).
//
// The reader is forgiving: it never throws and never reports a syntax error; it hands back every
// pair it could read. It knows nothing about Steam; callers walk the tree it returns.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace Quandril {

// One value: a text (kept as written, escapes resolved) or a block of named values.
// Block keys are lower-cased and held in canonical composed form, so keys that differ only in
// letter case or in how an accent is encoded land on one entry; look values up with lower-case keys.
class VDF {
public:
    using Block = std::map<std::string, VDF, std::less<>>;

    VDF() = default;
    explicit VDF(std::string text)
        : value_(std::move(text))
    {
    }
    explicit VDF(Block block)
        : value_(std::move(block))
    {
    }

    bool isText() const noexcept { return std::holds_alternative<std::string>(value_); }
    bool isBlock() const noexcept { return std::holds_alternative<Block>(value_); }

    // The text or the block, or null when the value is of the other kind.
    const std::string* text() const noexcept { return std::get_if<std::string>(&value_); }
    const Block* block() const noexcept { return std::get_if<Block>(&value_); }

    // The value stored under `key` when this is a block holding it; otherwise null.
    const VDF* find(std::string_view key) const;
    // The same, but only when that value is a text (a block).
    const std::string* textAt(std::string_view key) const;
    const Block* blockAt(std::string_view key) const;

    // Reads a file (a real path). Returns the top level as a block, or nothing when the file
    // cannot be read as UTF-8 text: missing, unreadable, not a regular file, or not valid UTF-8.
    static std::optional<VDF> parse(const std::string& file);
    // The same for the bytes of such a file; nothing when they are not valid UTF-8.
    static std::optional<VDF> parseText(std::string_view bytes);

    friend bool operator==(const VDF&, const VDF&) = default;

    // Blocks nested deeper than this end the parse as the end of the input would; Steam's own
    // files nest a few levels, and an unbounded depth lets a hostile file exhaust the stack.
    static constexpr int maxDepth = 256;

private:
    std::variant<std::string, Block> value_;
};

} // namespace Quandril
