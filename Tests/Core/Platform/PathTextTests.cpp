// Path text shared by the guard, the fence, the scanner and the cleaner, and the plain file reads
// and writes beside it. The two containment families differ only at "/", which is where a mix-up would hide.

#include <cerrno>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/PathText.h"
#include "Support/FakeMachine.h"

using namespace Quandril::Platform;
using Quandril::Testing::TempDir;
using Quandril::Testing::writeFile;

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

TEST(Files, WholeFilesAndFolderNamesOrTheError)
{
    TempDir dir;
    const std::string file = dir.path() + "/f";
    std::string big(200'000, 'x'); // more than one read
    big.back() = 'y';
    writeFile(file, big);

    EXPECT_EQ(readFile(file), big);
    int error = 0;
    EXPECT_EQ(readFile(dir.path() + "/missing", &error), std::nullopt);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(readFile(dir.path(), &error), std::nullopt);
    EXPECT_EQ(error, EISDIR);

    EXPECT_EQ(readEntryNames(dir.path()), std::vector<std::string> { "f" });
    EXPECT_EQ(readEntryNames(file, &error), std::nullopt);
    EXPECT_EQ(error, ENOTDIR);

    EXPECT_TRUE(sameItem(file, dir.path() + "/./f"));
    EXPECT_FALSE(sameItem(file, dir.path()));
    EXPECT_FALSE(sameItem(file, dir.path() + "/missing"));
}

// Link texts longer than a first guess, dangling links (they take their name), and the error of a
// read or write that can't be done.
TEST(Files, LinkTextsTakenNamesAndWholeWrites)
{
    TempDir dir;
    const std::string file = dir.path() + "/f";
    writeFile(file, "x");
    const std::string longTarget = std::string(3000, 'a') + "/\xc3\xa9 \"quoted\"\nname";
    const struct {
        const char* name;
        std::string target;
    } links[] = { { "dangling", "nowhere" }, { "long", longTarget }, { "exact", std::string(256, 'b') } };
    for (const auto& link : links) {
        const std::string path = dir.path() + "/" + link.name;
        ASSERT_EQ(::symlink(link.target.c_str(), path.c_str()), 0) << link.name;
        EXPECT_EQ(linkText(path), link.target) << link.name;
        EXPECT_TRUE(nameTaken(path)) << link.name;
    }
    const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    EXPECT_EQ(linkText(folder, "long"), longTarget);
    ::close(folder);
    errno = 0;
    EXPECT_EQ(linkText(file), std::nullopt);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(linkText(dir.path() + "/missing"), std::nullopt);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(nameTaken(file));
    EXPECT_FALSE(nameTaken(dir.path() + "/missing"));

    std::string content(1 << 20, 'z');
    content += "end";
    const int out = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    ASSERT_GE(out, 0);
    EXPECT_EQ(writeAll(out, content), 0);
    EXPECT_EQ(writeAll(out, ""), 0);
    ::close(out);
    EXPECT_EQ(readFile(file), content);

    const int readOnly = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(readOnly, 0);
    EXPECT_EQ(writeAll(readOnly, "x"), EBADF);
    ::close(readOnly);
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (full >= 0) {
        EXPECT_EQ(writeAll(full, content), ENOSPC);
        ::close(full);
    }
}

} // namespace
