#include "QuandrilCore/Machine/Compare.h"

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Machine/PrivacyFence.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/Unprivileged.h"

using namespace Quandril;
using Quandril::Testing::makeFolders;
using Quandril::Testing::TempDir;
using Quandril::Testing::writeFile;

namespace {

std::string pattern(std::size_t bytes)
{
    std::string content(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i)
        content[i] = static_cast<char>('a' + i % 26);
    return content;
}

std::string text(const TreeDiff& diff)
{
    return Json::dump(toJson(diff));
}

void symlinkAt(const std::string& target, const std::string& path)
{
    if (::symlink(target.c_str(), path.c_str()) != 0)
        throw std::runtime_error("symlink " + path);
}

// How one side of a comparison is laid out: files by relative path ("" is the side itself as a
// file), folders, and links (name -> target).
struct Side {
    std::map<std::string, std::string> files = {};
    std::vector<std::string> folders = {};
    std::map<std::string, std::string> links = {};
    bool exists = true;
};

void build(const std::string& path, const Side& side)
{
    if (!side.exists)
        return;
    if (side.files.count("")) {
        writeFile(path, side.files.at(""));
        return;
    }
    makeFolders(path);
    for (const auto& folder : side.folders)
        makeFolders(path + "/" + folder);
    for (const auto& [relative, content] : side.files)
        writeFile(path + "/" + relative, content);
    for (const auto& [relative, target] : side.links)
        symlinkAt(target, path + "/" + relative);
}

struct CompareCase {
    const char* name;
    Side here;
    Side there;
    bool checksums;
    TreeDiff expected;
    bool incomplete = false;
    const char* hereSuffix = ""; // how the first path is spelled
};

const Side emptyFolder {};
const Side missing { {}, {}, {}, false };

const CompareCase compareCases[] = {
    { "two empty folders", emptyFolder, emptyFolder, false, { 0, 0, 0, 0, false } },
    { "only DS_Store files equal an empty folder",
      { { { ".DS_Store", "x" }, { "a/.DS_Store", "yy" } } },
      emptyFolder,
      true,
      { 0, 0, 0, 0, true } },
    { "missing on each side",
      { { { "a", "1" }, { "b/c", "2" } } },
      { { { "a", "1" }, { "d", "3" } } },
      false,
      { 2, 1, 1, 0, false } },
    { "same sizes other content, no checksums",
      { { { "a", "123" } } },
      { { { "a", "456" } } },
      false,
      { 1, 0, 0, 0, false } },
    { "same sizes other content, checksums",
      { { { "a", "123" } } },
      { { { "a", "456" } } },
      true,
      { 1, 0, 0, 1, true } },
    { "other size differs", { { { "a", "123" } } }, { { { "a", "1234" } } }, false, { 1, 0, 0, 1, false } },
    { "deep paths match by relative path",
      { { { "x/y/z.txt", "deep" }, { "X.app/Contents/Info.plist", "p" } } },
      { { { "x/y/z.txt", "deep" }, { "X.app/Contents/Info.plist", "p" } } },
      true,
      { 2, 0, 0, 0, true } },
    { "hidden file is compared",
      { { { ".hidden", "h" }, { "a", "1" } } },
      { { { "a", "1" } } },
      false,
      { 2, 1, 0, 0, false } },
    { "links inside are not listed",
      { { { "a", "1" } }, {}, { { "to-a", "a" }, { "to-root", "/" }, { "dangling", "nowhere" } } },
      { { { "a", "1" } } },
      true,
      { 1, 0, 0, 0, true } },
    { "empty folders are not files",
      { { { "a", "1" } }, { "e", "f/g" } },
      { { { "a", "1" } } },
      false,
      { 1, 0, 0, 0, false } },
    { "trailing slash on the folder",
      { { { "a", "1" }, { "b/c", "2" } } },
      { { { "a", "1" }, { "b/c", "2" } } },
      false,
      { 2, 0, 0, 0, false },
      false,
      "/" },
    { "single file and its copy", { { { "", "same" } } }, { { { "", "same" } } }, true, { 1, 0, 0, 0, true } },
    { "single files of other sizes", { { { "", "same" } } }, { { { "", "longer" } } }, false, { 1, 0, 0, 1, false } },
    { "single files same size other content",
      { { { "", "same" } } },
      { { { "", "diff" } } },
      true,
      { 1, 0, 0, 1, true } },
    { "folder against a file compares the two sizes",
      emptyFolder,
      { { { "", "tiny" } } },
      false,
      { 1, 0, 0, 1, false } },
    { "file against a missing path", { { { "", "x" } } }, missing, false, { 1, 0, 0, 1, false }, true },
    { "both missing without checksums", missing, missing, false, { 1, 0, 0, 0, false }, true },
    { "both missing with checksums is no proof of equality", missing, missing, true, { 1, 0, 0, 1, true }, true },
};

class Compare : public ::testing::TestWithParam<CompareCase> {};

TEST_P(Compare, CountsFilesByRelativePath)
{
    const auto& c = GetParam();
    TempDir dir;
    build(dir.path() + "/here", c.here);
    build(dir.path() + "/there", c.there);

    auto result = compareTreesFully(dir.path() + "/here" + c.hereSuffix, dir.path() + "/there", c.checksums);
    EXPECT_EQ(text(result.diff), text(c.expected));
    EXPECT_EQ(result.incomplete, c.incomplete);
}

INSTANTIATE_TEST_SUITE_P(Trees, Compare, ::testing::ValuesIn(compareCases), Testing::CaseNamed {});

TEST(FileSizes, ListsRegularFilesWithTheirLengths)
{
    TempDir dir;
    const std::string top = dir.path() + "/top";
    build(top,
          { { { "a", "12345" },
              { ".hidden", "hh" },
              { "sub/deeper/b c", "" },
              { "sub/.DS_Store", "junk" },
              { ".DS_Store", "junk" },
              { "Pkg.app/Contents/MacOS/run", "xyz" } },
            { "empty" },
            { { "link-to-a", "a" }, { "link-to-outside", dir.path() + "/outside" } } });
    writeFile(dir.path() + "/outside/o", "outside");
    writeFile(top + "/sparse", "");
    ASSERT_EQ(::truncate((top + "/sparse").c_str(), 1 << 20), 0);

    FileList list = fileSizes(top);
    const std::map<std::string, std::int64_t> expected = {
        { ".hidden", 2 },        { "Pkg.app/Contents/MacOS/run", 3 }, { "a", 5 }, { "sparse", 1 << 20 },
        { "sub/deeper/b c", 0 },
    };
    EXPECT_EQ(list.sizes, expected);
    EXPECT_FALSE(list.incomplete);
}

TEST(FileSizes, FolderReachedThroughALinkIsListedAndAMissingOneIsIncomplete)
{
    TempDir dir;
    writeFile(dir.path() + "/real/a", "1");
    symlinkAt(dir.path() + "/real", dir.path() + "/alias");
    EXPECT_EQ(fileSizes(dir.path() + "/alias").sizes, (std::map<std::string, std::int64_t> { { "a", 1 } }));
    FileList missing = fileSizes(dir.path() + "/missing");
    EXPECT_TRUE(missing.sizes.empty());
    EXPECT_TRUE(missing.incomplete);
}

TEST(FileSizes, UnreadableSubfolderMakesTheListIncomplete)
{
    // Permissions do not stop root.
    Testing::asOrdinaryUser([] {
        TempDir dir;
        writeFile(dir.path() + "/here/a", "1");
        writeFile(dir.path() + "/here/locked/b", "2");
        writeFile(dir.path() + "/there/a", "1");
        ASSERT_EQ(::chmod((dir.path() + "/here/locked").c_str(), 0), 0);
        FileList list = fileSizes(dir.path() + "/here");
        auto result = compareTreesFully(dir.path() + "/here", dir.path() + "/there", false);
        ::chmod((dir.path() + "/here/locked").c_str(), 0755);
        EXPECT_EQ(list.sizes, (std::map<std::string, std::int64_t> { { "a", 1 } }));
        EXPECT_TRUE(list.incomplete);
        EXPECT_TRUE(result.diff.identical());
        EXPECT_TRUE(result.incomplete);
    });
}

// home/ Desktop/ a, inner/ b;  Desktop2/ c;  d
class Fenced : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeFile(at("Desktop/a"), "1");
        writeFile(at("Desktop/inner/b"), "22");
        writeFile(at("Desktop2/c"), "333");
        writeFile(at("d"), "4444");
    }
    std::string at(const std::string& relative) const
    {
        return relative.empty() ? home_.path() : home_.path() + "/" + relative;
    }

    TempDir home_;
    TempDir copy_;
};

TEST_F(Fenced, WalkLeavesOutFencedFoldersAndSaysSo)
{
    // The walk starts above the fence, so the fenced folder is met only on the way down.
    PrivacyFence::Registration registration(PrivacyFence::shared(), { at("Desktop") });
    FileList list = fileSizes(at(""));
    EXPECT_EQ(list.sizes, (std::map<std::string, std::int64_t> { { "Desktop2/c", 3 }, { "d", 4 } }));
    EXPECT_TRUE(list.incomplete);
}

TEST_F(Fenced, FencedRootIsAFolderWithNothingListed)
{
    writeFile(copy_.path() + "/a", "1");
    writeFile(copy_.path() + "/inner/b", "22");
    PrivacyFence::Registration registration(PrivacyFence::shared(), { at("Desktop") });
    FileList list = fileSizes(at("Desktop"));
    EXPECT_TRUE(list.sizes.empty());
    EXPECT_TRUE(list.incomplete);
    auto result = compareTreesFully(at("Desktop"), copy_.path(), false);
    EXPECT_EQ(text(result.diff), text(TreeDiff { 0, 0, 2, 0, false }));
    EXPECT_TRUE(result.incomplete);
}

TEST_F(Fenced, FolderInsideTheFenceIsComparedAsASingleItem)
{
    makeFolders(copy_.path() + "/inner");
    writeFile(copy_.path() + "/inner/b", "22");
    PrivacyFence::Registration registration(PrivacyFence::shared(), { at("Desktop") });
    auto result = compareTreesFully(at("Desktop/inner"), copy_.path() + "/inner", false);
    // Not a folder and no size on the fenced side: one item, differing.
    EXPECT_EQ(text(result.diff), text(TreeDiff { 1, 0, 0, 1, false }));
    EXPECT_TRUE(result.incomplete);
}

TEST(Compare, UnreadableFilesAreNeverEqual)
{
    // /proc/self/mem is a regular file of length 0 whose first read fails.
    TempDir dir;
    writeFile(dir.path() + "/empty", "");
    for (const std::string& other : { dir.path() + "/empty", std::string("/proc/self/mem") }) {
        auto result = compareTreesFully("/proc/self/mem", other, true);
        EXPECT_EQ(result.diff.differing, 1) << other;
        EXPECT_TRUE(result.incomplete) << other;
        EXPECT_TRUE(compareTrees("/proc/self/mem", other, false).identical()) << other;
    }
}

TEST(Compare, UnreadableFileInsideATreeDiffersWithChecksums)
{
    // Permissions do not stop root.
    Testing::asOrdinaryUser([] {
        TempDir dir;
        writeFile(dir.path() + "/here/a", "same");
        writeFile(dir.path() + "/there/a", "same");
        ASSERT_EQ(::chmod((dir.path() + "/here/a").c_str(), 0), 0);
        auto result = compareTreesFully(dir.path() + "/here", dir.path() + "/there", true);
        EXPECT_EQ(result.diff.differing, 1);
        EXPECT_TRUE(result.incomplete);
    });
}

TEST(Compare, ManyFilesHashedAtOnceEachAgainstItsOwnCounterpart)
{
    // Every file differs from its neighbours, so a digest compared with another file's would show;
    // every 7th has other content of the same length there, every 11th another length.
    TempDir dir;
    std::int64_t expected = 0;
    for (int i = 0; i < 300; ++i) {
        const std::string relative = "/f" + std::to_string(i % 13) + "/file" + std::to_string(i);
        const std::string content = "content of " + std::to_string(i * 7'919);
        writeFile(dir.path() + "/here" + relative, content);
        std::string theirs = content;
        if (i % 11 == 0)
            theirs += "+";
        else if (i % 7 == 0)
            theirs.back() = theirs.back() == '0' ? '1' : '0';
        expected += theirs != content;
        writeFile(dir.path() + "/there" + relative, theirs);
    }
    auto result = compareTreesFully(dir.path() + "/here", dir.path() + "/there", true);
    EXPECT_EQ(text(result.diff), text(TreeDiff { 300, 0, 0, expected, true }));
    EXPECT_FALSE(result.incomplete);
}

struct DigestCase {
    const char* name;
    std::string content;
    const char* digest;
};

const DigestCase digestCases[] = {
    { "empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855" },
    { "abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad" },
    { "exactly one chunk", pattern(1 << 20), "8816f31ba2861e2a7ad907085905efdea5b458d26ed6fe4929ae21467ba1fa97" },
    { "one byte past a chunk", pattern((1 << 20) + 1),
      "9921923bf5a52486c64d026c0f5c9cf6564d7766a0d3171473072d177b45aed3" },
};

class Digest : public ::testing::TestWithParam<DigestCase> {};

TEST_P(Digest, MatchesKnownValue)
{
    TempDir dir;
    writeFile(dir.path() + "/f", GetParam().content);
    EXPECT_EQ(sha256(dir.path() + "/f"), std::optional<std::string>(GetParam().digest));
}

INSTANTIATE_TEST_SUITE_P(Sha256, Digest, ::testing::ValuesIn(digestCases), Testing::CaseNamed {});

TEST(Sha256, NoDigestForWhatIsNotAReadableRegularFile)
{
    TempDir dir;
    makeFolders(dir.path() + "/folder");
    ASSERT_EQ(::mkfifo((dir.path() + "/pipe").c_str(), 0644), 0);
    // Opening a pipe with no writer would block for ever if it were read like a file.
    for (const std::string& path : { dir.path() + "/folder", dir.path() + "/pipe", dir.path() + "/missing",
                                     std::string(""), std::string("/proc/self/mem") })
        EXPECT_EQ(sha256(path), std::nullopt) << path;
}

TEST(TreeDiff, JsonHasTheFiveKeysInOrderAndRequiresThem)
{
    const TreeDiff diff { 3, 1, 2, 0, true };
    EXPECT_EQ(text(diff), R"({"files":3,"onlyHere":1,"onlyThere":2,"differing":0,"checksummed":true})");
    EXPECT_EQ(text(Json::decodeAs<TreeDiff>(toJson(diff))), text(diff));
    EXPECT_THROW(Json::decodeAs<TreeDiff>(Json::parse(R"({"files":3,"onlyHere":1,"onlyThere":2,"differing":0})")),
                 Json::DecodeError);
}

} // namespace
