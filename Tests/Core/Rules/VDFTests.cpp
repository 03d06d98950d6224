#include "QuandrilCore/Rules/VDF.h"

#include <optional>
#include <string>
#include <utility>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Support/CaseName.h"
#include "Support/FakeMachine.h"

using Quandril::VDF;

namespace {

VDF T(std::string text)
{
    return VDF(std::move(text));
}
VDF B(VDF::Block block)
{
    return VDF(std::move(block));
}

class VDFFiles : public ::testing::Test {
protected:
    std::string write(const std::string& bytes, const std::string& name = "file.vdf")
    {
        const std::string path = dir_.path() + "/" + name;
        Quandril::Testing::writeFile(path, bytes);
        return path;
    }

    std::optional<VDF> parse(const std::string& bytes) { return VDF::parse(write(bytes)); }

    Quandril::Testing::TempDir dir_;
};

struct OddInput {
    const char* name;
    std::string text;
    VDF expected;
};

const OddInput oddInputs[] = {
    { "empty file", "", B({}) },
    { "only space and comments", " \t\r\n// one\n  // two\r\n\f\v", B({}) },
    { "mixed-case keys are lowered, values keep their case",
      "\"LibraryFolders\"\n{\n\t\"0\"\n\t{\n\t\t\"Path\"\t\t\"/Volumes/My Games\"\n\t}\n}\n",
      B({ { "libraryfolders", B({ { "0", B({ { "path", T("/Volumes/My Games") } }) } }) } }) },
    { "keys differing in case keep the later value", "\"Name\" \"a\"\n\"NAME\" \"b\"", B({ { "name", T("b") } }) },
    { "a later text replaces a block", "\"k\" { \"a\" \"b\" }\n\"k\" \"t\"", B({ { "k", T("t") } }) },
    { "a later block replaces a text", "\"k\" \"t\"\n\"k\" { }", B({ { "k", B({}) } }) },
    { "escapes", R"("n" "x\ny" "bs" "c:\\d" "q" "say \"hi\" now" "r" "\r" "t" "a\tb" "z" "\z")",
      B({ { "n", T("x\ny") },
          { "bs", T("c:\\d") },
          { "q", T("say \"hi\" now") },
          { "r", T("r") },
          { "t", T("a\tb") },
          { "z", T("z") } }) },
    { "comment after a pair on its line", "\"a\" \"1\" // note\n\"b\" \"2\"", B({ { "a", T("1") }, { "b", T("2") } }) },
    { "comment right after a quoted value", "\"a\" \"1\"//note \"x\" \"y\"\n\"b\" \"2\"",
      B({ { "a", T("1") }, { "b", T("2") } }) },
    { "brace glued to a bare value is a stray brace", "key value{ \"x\" \"y\" } \"z\" \"w\"",
      B({ { "key", T("value") }, { "x", T("y") } }) },
    { "unterminated quote runs to the end", "\"k\" \"rest of\nfile { }", B({ { "k", T("rest of\nfile { }") } }) },
    { "surplus closing brace ends the top level", "\"a\" \"1\" } \"b\" \"2\"", B({ { "a", T("1") } }) },
    { "key before a closing brace is dropped", "\"a\" { \"k\" } \"b\" \"c\"", B({ { "a", B({}) }, { "b", T("c") } }) },
    { "key at the end is dropped", "\"a\" \"1\" \"b\"", B({ { "a", T("1") } }) },
    { "whole file wrapped in braces", "{ \"a\" \"1\" }", B({ { "a", T("1") } }) },
    { "bare words hold quotes and slashes", "a\"b x//y", B({ { "a\"b", T("x//y") } }) },
    { "a single slash is a bare word", "/ x", B({ { "/", T("x") } }) },
    { "bare words resolve no escapes", "a\\n b", B({ { "a\\n", T("b") } }) },
    { "quoted text holds slashes, braces and breaks", "\"u\" \"http://x/{y}\n\"", B({ { "u", T("http://x/{y}\n") } }) },
    { "backslash as the last scalar stays", "\"a\" \"x\\", B({ { "a", T("x\\") } }) },
    { "quote as the last scalar is an empty text", "\"a\" \"", B({ { "a", T("") } }) },
    { "unterminated blocks close at the end", "\"a\" { \"b\" { \"c\" \"d\"",
      B({ { "a", B({ { "b", B({ { "c", T("d") } }) } }) } }) },
    { "Unicode spaces separate tokens", "a\u00A0b\u2028c\u3000d\u0085e\u2029f",
      B({ { "a", T("b") }, { "c", T("d") }, { "e", T("f") } }) },
    { "non-ASCII keys are lowered fully", "\"ÄPFEL\" \"Ä\"", B({ { "äpfel", T("Ä") } }) },
    { "composed and decomposed keys are one key", "\"caf\u00E9\" \"1\" \"cafe\u0301\" \"2\"",
      B({ { "caf\u00E9", T("2") } }) },
    { "a byte order mark is no content", "\xEF\xBB\xBF\"a\" \"1\"", B({ { "a", T("1") } }) },
    { "four-byte scalars pass through", "\"k\" \"\U0001F3AE\"", B({ { "k", T("\U0001F3AE") } }) },
};

class VDFOddInputs : public VDFFiles, public ::testing::WithParamInterface<OddInput> {};

TEST_P(VDFOddInputs, ReadsWhatCanBeRead)
{
    std::optional<VDF> parsed = parse(GetParam().text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, VDFOddInputs, ::testing::ValuesIn(oddInputs), Quandril::Testing::CaseNamed());

TEST_F(VDFFiles, InvalidUTF8ReadsAsNothing)
{
    const std::string bad[] = {
        "\x80",             // lone continuation byte
        "\xC0\xAF",         // overlong slash
        "\xE0\x80\xAF",     // overlong slash, three bytes
        "\xED\xA0\x80",     // encoded surrogate
        "\xF4\x90\x80\x80", // past U+10FFFF
        "\xF5\x80\x80\x80", // never a lead byte
        "\xE2\x82",         // truncated at the end
        "\xC3(",            // continuation missing
        "\xFF",
    };
    for (const std::string& bytes : bad)
        EXPECT_FALSE(parse("\"a\" \"" + bytes + "\"").has_value()) << "bytes of length " << bytes.size();
}

TEST_F(VDFFiles, UnreadableFilesReadAsNothing)
{
    EXPECT_FALSE(VDF::parse(dir_.path() + "/missing.vdf").has_value());
    EXPECT_FALSE(VDF::parse(dir_.path()).has_value());
    // A named pipe with no writer would block a plain read for ever.
    const std::string fifo = dir_.path() + "/pipe.vdf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(VDF::parse(fifo).has_value());
}

int depthOf(const VDF& value)
{
    int depth = 0;
    const VDF* current = &value;
    while (const VDF* next = current->find("k")) {
        if (!next->isBlock())
            break;
        ++depth;
        current = next;
    }
    return depth;
}

// "first", then `depth` blocks each holding the next under "k" and the innermost a leaf, then "after".
std::string nested(int depth)
{
    std::string text = "\"first\" \"1\" ";
    for (int i = 0; i < depth; ++i)
        text += "\"k\" {";
    return text + "\"leaf\" \"v\"" + std::string(static_cast<std::size_t>(depth), '}') + " \"after\" \"1\"";
}

TEST_F(VDFFiles, NestingUpToTheLimitIsKeptAndDeeperEndsTheParse)
{
    std::optional<VDF> atLimit = parse(nested(VDF::maxDepth));
    ASSERT_TRUE(atLimit.has_value());
    EXPECT_EQ(depthOf(*atLimit), VDF::maxDepth);
    EXPECT_NE(atLimit->textAt("after"), nullptr);

    std::optional<VDF> deep = parse(nested(100'000));
    ASSERT_TRUE(deep.has_value());
    EXPECT_EQ(depthOf(*deep), VDF::maxDepth);
    EXPECT_NE(deep->textAt("first"), nullptr);
    EXPECT_EQ(deep->find("after"), nullptr);
}

} // namespace
