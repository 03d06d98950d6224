#include "QuandrilCore/Platform/Unicode.h"

#include <algorithm>
#include <memory>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace Quandril::Platform {

namespace {

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// ICU's UTF-8 reader puts one U+FFFD in place of each maximal bad subsequence.
icu::UnicodeString fromUTF8(std::string_view text)
{
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

std::string toUTF8(const icu::UnicodeString& text)
{
    std::string out;
    text.toUTF8String(out);
    return out;
}

// Making a break iterator loads rule data; one per thread is made once and reused.
icu::BreakIterator* characterBreaks()
{
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status))
            made.reset();
        return made;
    }();
    return iterator.get();
}

} // namespace

std::string nfc(std::string_view text)
{
    if (isAscii(text))
        return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    icu::UnicodeString source = fromUTF8(text);
    if (U_FAILURE(status))
        return toUTF8(source);
    icu::UnicodeString result = normalizer->normalize(source, status);
    return U_FAILURE(status) ? toUTF8(source) : toUTF8(result);
}

int compareNFC(std::string_view a, std::string_view b)
{
    // UTF-8 bytes compared as unsigned values order exactly as the scalar values they encode.
    if (isAscii(a) && isAscii(b))
        return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
    const std::string left = nfc(a);
    const std::string right = nfc(b);
    const int order = left.compare(right);
    return order < 0 ? -1 : (order == 0 ? 0 : 1);
}

std::string lowercased(std::string_view text)
{
    if (isAscii(text)) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    return toUTF8(fromUTF8(text).toLower(icu::Locale::getRoot()));
}

std::string uppercased(std::string_view text)
{
    if (isAscii(text)) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        return out;
    }
    return toUTF8(fromUTF8(text).toUpper(icu::Locale::getRoot()));
}

std::string capitalizedFirst(std::string_view text)
{
    const icu::UnicodeString source = fromUTF8(text);
    if (source.isEmpty())
        return {};
    std::int32_t end = source.moveIndex32(0, 1);
    if (icu::BreakIterator* breaks = characterBreaks()) {
        breaks->setText(source);
        const std::int32_t next = breaks->following(0);
        if (next != icu::BreakIterator::DONE)
            end = next;
    }
    icu::UnicodeString first(source, 0, end);
    first.toUpper(icu::Locale::getRoot());
    return toUTF8(first) + toUTF8(icu::UnicodeString(source, end));
}

std::string lettersMarksDigits(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t at = 0;
    while (at < length) {
        const std::int32_t start = at;
        UChar32 c = 0;
        U8_NEXT(bytes, at, length, c);
        if (c < 0)
            continue; // a bad sequence is neither letter, mark nor digit
        if (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK))
            out.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(at - start)));
    }
    return out;
}

std::size_t graphemeCount(std::string_view text)
{
    if (isAscii(text)) {
        // In ASCII only CR LF joins two characters into one.
        std::size_t count = text.size();
        for (std::size_t i = 1; i < text.size(); ++i)
            if (text[i - 1] == '\r' && text[i] == '\n')
                --count;
        return count;
    }
    const icu::UnicodeString source = fromUTF8(text);
    icu::BreakIterator* breaks = characterBreaks();
    if (!breaks)
        return static_cast<std::size_t>(source.countChar32());
    breaks->setText(source);
    std::size_t count = 0;
    for (std::int32_t at = breaks->first(); (at = breaks->next()) != icu::BreakIterator::DONE;)
        ++count;
    return count;
}

bool isValidUTF8(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t at = 0;
    while (at < length) {
        if (bytes[at] < 0x80) {
            ++at;
            continue;
        }
        UChar32 c = 0;
        U8_NEXT(bytes, at, length, c);
        if (c < 0)
            return false;
    }
    return true;
}

bool allValidUTF8(std::initializer_list<std::string_view> texts)
{
    return std::all_of(texts.begin(), texts.end(), isValidUTF8);
}

bool sameText(std::string_view a, std::string_view b)
{
    if (a == b)
        return true;
    return isValidUTF8(a) && isValidUTF8(b) && compareNFC(a, b) == 0;
}

std::string repairedUTF8(std::string_view text)
{
    if (isValidUTF8(text))
        return std::string(text);
    return toUTF8(fromUTF8(text));
}

} // namespace Quandril::Platform
