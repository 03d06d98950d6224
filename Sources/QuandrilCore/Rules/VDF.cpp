#include "QuandrilCore/Rules/VDF.h"

#include <cstddef>
#include <vector>

#include <unicode/uchar.h>

#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/Unicode.h"

namespace Quandril {

namespace {

// Steam's library list and manifests are a few kilobytes; a larger file is not one of them.
constexpr std::size_t maxFileBytes = 16 * 1024 * 1024;

// Strict UTF-8: overlong forms, surrogates and values past U+10FFFF are refused.
std::optional<std::vector<char32_t>> decodeUTF8(std::string_view bytes)
{
    std::vector<char32_t> scalars;
    scalars.reserve(bytes.size());
    std::size_t i = 0;
    // A leading byte order mark is an encoding signature, not content.
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        i = 3;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        if (b0 < 0x80) {
            scalars.push_back(b0);
            ++i;
            continue;
        }
        int extra;
        char32_t c;
        char32_t minimum;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            extra = 1;
            c = b0 & 0x1F;
            minimum = 0x80;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            extra = 2;
            c = b0 & 0x0F;
            minimum = 0x800;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            extra = 3;
            c = b0 & 0x07;
            minimum = 0x10000;
        } else {
            return std::nullopt;
        }
        if (n - i <= static_cast<std::size_t>(extra))
            return std::nullopt;
        for (int k = 1; k <= extra; ++k) {
            const auto b = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
            if ((b & 0xC0) != 0x80)
                return std::nullopt;
            c = (c << 6) | (b & 0x3F);
        }
        if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return std::nullopt;
        scalars.push_back(c);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return scalars;
}

void appendUTF8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool isWhiteSpace(char32_t c)
{
    if (c < 0x80)
        return c == ' ' || (c >= 0x09 && c <= 0x0D);
    return u_isUWhiteSpace(static_cast<UChar32>(c));
}

// Full Unicode lower-casing of the whole key, then canonical composition so that keys the
// platform's text comparison calls equal are one map key.
std::string keyOf(const std::string& key)
{
    return Platform::nfc(Platform::lowercased(key));
}

struct Token {
    enum class Kind { open, close, string };
    Kind kind;
    std::string text;
};

// The cursor of one parse; it only moves forward.
class Tokens {
public:
    explicit Tokens(std::vector<char32_t> scalars)
        : scalars_(std::move(scalars))
    {
    }

    std::optional<Token> next()
    {
        const std::size_t count = scalars_.size();
        while (position_ < count) {
            const char32_t c = scalars_[position_];
            if (isWhiteSpace(c)) {
                ++position_;
            } else if (c == '/' && position_ + 1 < count && scalars_[position_ + 1] == '/') {
                while (position_ < count && scalars_[position_] != '\n')
                    ++position_;
            } else if (c == '{') {
                ++position_;
                return Token { Token::Kind::open, {} };
            } else if (c == '}') {
                ++position_;
                return Token { Token::Kind::close, {} };
            } else if (c == '"') {
                ++position_;
                return Token { Token::Kind::string, quoted() };
            } else {
                return Token { Token::Kind::string, bare() };
            }
        }
        return std::nullopt;
    }

    // Makes every later call answer "end of input".
    void finish() { position_ = scalars_.size(); }

private:
    std::string quoted()
    {
        std::string text;
        const std::size_t count = scalars_.size();
        while (position_ < count) {
            char32_t c = scalars_[position_++];
            if (c == '"')
                return text;
            if (c == '\\' && position_ < count) {
                c = scalars_[position_++];
                if (c == 'n')
                    c = '\n';
                else if (c == 't')
                    c = '\t';
            }
            appendUTF8(text, c);
        }
        return text;
    }

    std::string bare()
    {
        std::string text;
        const std::size_t count = scalars_.size();
        while (position_ < count) {
            const char32_t c = scalars_[position_];
            if (isWhiteSpace(c) || c == '{' || c == '}')
                break;
            appendUTF8(text, c);
            ++position_;
        }
        return text;
    }

    std::vector<char32_t> scalars_;
    std::size_t position_ = 0;
};

VDF::Block parseBlock(Tokens& tokens, int depth)
{
    VDF::Block block;
    for (;;) {
        std::optional<Token> token = tokens.next();
        if (!token || token->kind == Token::Kind::close)
            return block;
        // A stray brace where a key belongs is skipped; its pairs land in this block.
        if (token->kind == Token::Kind::open)
            continue;
        std::optional<Token> value = tokens.next();
        if (!value || value->kind == Token::Kind::close)
            return block;
        if (value->kind == Token::Kind::open) {
            if (depth >= VDF::maxDepth) {
                tokens.finish();
                return block;
            }
            VDF nested(parseBlock(tokens, depth + 1));
            block.insert_or_assign(keyOf(token->text), std::move(nested));
        } else {
            block.insert_or_assign(keyOf(token->text), VDF(std::move(value->text)));
        }
    }
}

} // namespace

const VDF* VDF::find(std::string_view key) const
{
    const Block* entries = block();
    if (!entries)
        return nullptr;
    auto it = entries->find(key);
    return it == entries->end() ? nullptr : &it->second;
}

const std::string* VDF::textAt(std::string_view key) const
{
    const VDF* value = find(key);
    return value ? value->text() : nullptr;
}

const VDF::Block* VDF::blockAt(std::string_view key) const
{
    const VDF* value = find(key);
    return value ? value->block() : nullptr;
}

std::optional<VDF> VDF::parse(const std::string& file)
{
    // Only regular files are read: a named pipe would block the scan and a device might never end.
    const std::optional<std::string> bytes = Platform::readFile(file, nullptr, { .maxBytes = maxFileBytes });
    if (!bytes)
        return std::nullopt;
    return parseText(*bytes);
}

std::optional<VDF> VDF::parseText(std::string_view bytes)
{
    std::optional<std::vector<char32_t>> scalars = decodeUTF8(bytes);
    if (!scalars)
        return std::nullopt;
    Tokens tokens(std::move(*scalars));
    std::optional<VDF> result;
    result.emplace(parseBlock(tokens, 0));
    return result;
}

} // namespace Quandril
