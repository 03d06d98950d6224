// Path text shared by the guard, the fence, the scanner and the cleaner. The two containment
// families differ only at "/", which is where a mix-up would hide.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Platform/PathText.h"

using namespace Quandril::Platform;

namespace {

struct Containment {
    const char* path;
    const char* folder;
    bool below;  // the plain text test
    bool inside; // "/" holds every other absolute path
};

TEST(PathText, ContainmentDiffersOnlyAtTheTopFolder)
{
    const Containment cases[] = {
        { "/a/b", "/a", true, true },   { "/a/b/c", "/a", true, true },
        { "/a", "/a", false, false },   { "/ab", "/a", false, false }, // a sibling sharing the first letters
        { "/a", "/a/b", false, false }, { "/a/", "/a", true, true },
        { "/a", "/", false, true },     { "/", "/", false, false },
        { "//a", "/", true, true },     { "a", "/", false, false },
        { "", "/", false, false },      { "/Users/me/Caf\u00e9/x", "/Users/me/Caf\u00e9", true, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " in " + c.folder);
        EXPECT_EQ(below(c.path, c.folder), c.below);
        EXPECT_EQ(atOrBelow(c.path, c.folder), c.below || std::string(c.path) == c.folder);
        EXPECT_EQ(inside(c.path, c.folder), c.inside);
        EXPECT_EQ(within(c.path, c.folder), c.inside || std::string(c.path) == c.folder);
        EXPECT_EQ(overlaps(c.path, c.folder), overlaps(c.folder, c.path));
    }
    EXPECT_TRUE(atOrBelowAny("/x/y", { "/a", "/x" }));
    EXPECT_FALSE(atOrBelowAny("/xy", { "/a", "/x" }));
    EXPECT_FALSE(atOrBelowAny("/x", {}));
}

TEST(PathText, NamesAndParents)
{
    struct Case {
        std::string path, lastComponent, lastName, parent;
    };
    for (const Case& c : { Case { "/a/b", "b", "b", "/a" }, Case { "/a/b/", "", "b", "/a/b" },
                           Case { "/a", "a", "a", "/" }, Case { "/", "", "", "/" }, Case { "a", "a", "a", "." },
                           Case { "", "", "", "." }, Case { "a//", "", "a", "a/" } }) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(lastComponent(c.path), c.lastComponent);
        EXPECT_EQ(lastName(c.path), c.lastName);
        EXPECT_EQ(parentOf(c.path), c.parent);
    }
    EXPECT_EQ(withoutTrailingSlashes("/a//"), "/a");
    EXPECT_EQ(withoutTrailingSlashes("///"), "/");
}

TEST(PathText, TheNamedPathDropsEmptyNamesDotsAndWhatDotDotTakesBack)
{
    struct Case {
        std::string path, named;
    };
    for (const Case& c :
         { Case { "/a/b", "/a/b" }, Case { "/", "/" }, Case { "/a/", "/a" }, Case { "//a//b//", "/a/b" },
           Case { "/a/./b/.", "/a/b" }, Case { "/a/x/../b", "/a/b" }, Case { "/a/..", "/" }, Case { "/../../a", "/a" },
           Case { "/a/..b/.c", "/a/..b/.c" }, Case { "a/b", "/a/b" }, Case { "", "/" }, Case { "/a/b\n", "/a/b\n" } }) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(lexicallyNormal(c.path), c.named);
        EXPECT_EQ(isLexicallyNormal(c.path), c.path == c.named);
    }
    for (const auto& [path, climbs] : { std::pair { "/..", true },
                                        { "/tmp/../..", true },
                                        { "..", true },
                                        { "a/../b/", true },
                                        { "/a/..b/c../...", false },
                                        { "/a/./b/", false } })
        EXPECT_EQ(hasParentName(path), climbs) << path;
}

TEST(PathText, ComposedJoinsBothSpellings)
{
    EXPECT_EQ(composed("/Caf\u0065\u0301/x"), "/Caf\u00e9/x");
    EXPECT_EQ(composed("/plain/ascii"), "/plain/ascii");
}

TEST(PathText, HexEscapesBecomeTheirBytesAndBrokenOnesStay)
{
    const struct {
        std::string_view text, lead, expected;
    } cases[] = {
        { "/My%20Disk%2fx", "%", "/My Disk/x" },
        { "Backup\\x20Drive\\x2F", "\\x", "Backup Drive/" },
        { "50%", "%", "50%" },     // nothing after the lead
        { "%4", "%", "%4" },       // one digit only
        { "%zz%41", "%", "%zzA" }, // not hex, then hex
        { "\\x4", "\\x", "\\x4" },
        { "%20", "\\x", "%20" }, // another lead is plain text
    };
    for (const auto& c : cases)
        EXPECT_EQ(hexUnescaped(c.text, c.lead), c.expected) << c.text;
}

} // namespace
