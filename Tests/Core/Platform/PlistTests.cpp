#include "QuandrilCore/Platform/Plist.h"

#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "Support/CaseName.h"
#include "Support/PlistBytes.h"

using namespace Quandril;
using namespace Quandril::Testing;
using Platform::PlistFormat;

namespace {

using Strings = std::map<std::string, std::string>;

const Strings written { { "CFBundleIdentifier", "com.example.app" },
                        { "QuandrilTeamID", "Caf\u00e9 \U0001F3B5 & <x>" },
                        { "CFBundleName", "Not asked for" } };
const Strings asked { { "CFBundleIdentifier", "com.example.app" }, { "QuandrilTeamID", "Caf\u00e9 \U0001F3B5 & <x>" } };

const std::string byHand = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Example//DTD PLIST 1.0//EN" "plist.dtd">
<plist version="1.0">
<!-- <dict> in a comment is no dictionary -->
<dict>
	<key>Nested</key>
	<dict><key>CFBundleIdentifier</key><string>inner</string><key>L</key><array><string>&lt;/dict&gt;</string><array/></array></dict>
	<key>CFBundleIdentifier</key>
	<string>com.ex&amp;ample&#x2F;&#233;<![CDATA[<raw></string>]]></string>
	<key>QuandrilTeamID</key><integer>5</integer>
	<key>CFBundleIdentifier</key><string>second</string>
	<key>Empty</key><string/>
</dict>
</plist>
)";

std::string replaced(std::string text, std::string_view from, std::string_view to)
{
    text.replace(text.find(from), from.size(), to);
    return text;
}

// The identifier as its value, written with every object and reference one byte wide.
std::string identifierList(const std::string& value)
{
    return binaryPlist({ plistDict({ { 1, 2 } }, 1), plistASCII("CFBundleIdentifier"), value }, 1);
}

struct ReadCase {
    const char* name;
    std::string data;
    std::optional<Strings> expected;
};

class PlistReading : public testing::TestWithParam<ReadCase> {};

TEST_P(PlistReading, GivesTheAskedTextsOrNothing)
{
    const auto read = Platform::plistStrings(GetParam().data, { "CFBundleIdentifier", "QuandrilTeamID", "Empty" });
    EXPECT_EQ(read, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlistReading,
    testing::Values(
        ReadCase { "binary as written", Platform::plistData(written, PlistFormat::binary), asked },
        ReadCase { "XML as written", Platform::plistData(written, PlistFormat::xml), asked },
        ReadCase { "XML by hand: references, a CDATA section, nested values passed over, the first of two keys", byHand,
                   Strings { { "CFBundleIdentifier", "com.ex&ample/\u00e9<raw></string>" }, { "Empty", "" } } },
        ReadCase { "empty dictionary", Platform::plistData({}, PlistFormat::binary), Strings {} },
        ReadCase { "XML empty dictionary", "<plist><dict/></plist>", Strings {} },
        ReadCase { "binary, another type under a key", identifierList(plistArray({}, 1)), Strings {} },
        ReadCase { "binary, a text with a NUL", identifierList(plistASCII(std::string("a\0b", 3))), Strings {} },
        ReadCase { "binary, an ASCII text past ASCII", identifierList(plistASCII("caf\xE9")), Strings {} },
        ReadCase { "binary, a lone surrogate", identifierList(plistUTF16(u"a\xD800")), Strings {} },
        ReadCase { "binary, a surrogate pair", identifierList(plistUTF16(u"\U0001F3B5")),
                   Strings { { "CFBundleIdentifier", "\U0001F3B5" } } },
        // Not property lists, or not dictionaries.
        ReadCase { "nothing", "", std::nullopt },
        ReadCase { "XML top-level array", "<plist><array><string>x</string></array></plist>", std::nullopt },
        ReadCase { "binary top-level text", binaryPlist({ plistASCII("x") }, 1), std::nullopt },
        ReadCase { "binary key that is no text", binaryPlist({ plistDict({ { 1, 1 } }, 1), plistArray({}, 1) }, 1),
                   std::nullopt },
        ReadCase { "binary reference past the objects", binaryPlist({ plistDict({ { 1, 7 } }, 1), plistASCII("k") }, 1),
                   std::nullopt },
        ReadCase { "binary entries past the offset table", binaryPlist({ std::string("\xDF\x10\x7F", 3) }, 1),
                   std::nullopt },
        ReadCase { "binary trailer only", "bplist00" + std::string(32, '\0'), std::nullopt },
        ReadCase {
            "binary, zero-wide references",
            replaced(identifierList(plistASCII("x")), std::string("\x01\x01\0\0", 4), std::string("\x01\0\0\0", 4)),
            std::nullopt },
        ReadCase { "XML cut short", byHand.substr(0, byHand.size() / 2), std::nullopt },
        ReadCase { "XML unknown reference", replaced(byHand, "&amp;", "&bogus;"), std::nullopt },
        ReadCase { "XML NUL reference", replaced(byHand, "&amp;", "&#0;"), std::nullopt },
        ReadCase { "XML comment never closed", replaced(byHand, "-->", "--"), std::nullopt },
        ReadCase { "XML with declarations of its own", replaced(byHand, "\"plist.dtd\">", "[<!ENTITY a \"b\">]>"),
                   std::nullopt },
        ReadCase { "XML not UTF-8", replaced(byHand, "second", "s\xFF"), std::nullopt }),
    CaseNamed {});

} // namespace
