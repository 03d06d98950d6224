#include "QuandrilCore/DiskUsage.h"

#include <cctype>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/PrivacyFence.h"
#include "Support/FakeMachine.h"

using namespace Quandril;
using Quandril::Testing::makeFolders;
using Quandril::Testing::TempDir;
using Quandril::Testing::writeFile;

namespace {

std::string caseName(const char* text)
{
    std::string name;
    for (char ch : std::string(text))
        name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
}

// The oracle: what one entry itself occupies.
std::int64_t own(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        throw std::runtime_error("lstat " + path);
    return static_cast<std::int64_t>(status.st_blocks) * 512;
}

void link(const std::string& target, const std::string& path)
{
    if (::symlink(target.c_str(), path.c_str()) != 0)
        throw std::runtime_error("symlink " + path);
}

void hardLink(const std::string& existing, const std::string& path)
{
    if (::link(existing.c_str(), path.c_str()) != 0)
        throw std::runtime_error("link " + path);
}

// root/
//   empty/
//   data/ a (40 KB), b (second name of a), c (3 KB), sub/ d (5 KB)
//   linked/ to-data -> ../data
//   sparse/ s (8 MiB long, nothing written)
class Tree {
public:
    Tree()
    {
        makeFolders(at("empty"));
        writeFile(at("data/a"), std::string(40'000, 'a'));
        hardLink(at("data/a"), at("data/b"));
        writeFile(at("data/c"), std::string(3'000, 'c'));
        writeFile(at("data/sub/d"), std::string(5'000, 'd'));
        makeFolders(at("linked"));
        link("../data", at("linked/to-data"));
        makeFolders(at("sparse"));
        writeFile(at("sparse/s"), "");
        if (::truncate(at("sparse/s").c_str(), 8 << 20) != 0)
            throw std::runtime_error("truncate");
    }

    std::string at(const std::string& relative) const { return relative.empty() ? dir_.path() : dir_.path() + "/" + relative; }

    std::int64_t sum(const std::vector<std::string>& relatives) const
    {
        std::int64_t total = 0;
        for (const auto& relative : relatives)
            total += own(at(relative));
        return total;
    }

private:
    TempDir dir_;
};

struct MeasureCase {
    const char* name;
    std::string path;
    std::vector<std::string> skipping;
    std::vector<std::string> counted; // entries whose own allocation makes up the bytes
    std::int64_t unreadable;
};

const MeasureCase measureCases[] = {
    {"empty folder is its own entry", "empty", {}, {"empty"}, 0},
    {"hard-linked file counts once", "data", {}, {"data", "data/a", "data/c", "data/sub", "data/sub/d"}, 0},
    {"second name alone counts the file", "data/b", {}, {"data/a"}, 0},
    {"link is not followed", "linked", {}, {"linked", "linked/to-data"}, 0},
    {"single file", "data/c", {}, {"data/c"}, 0},
    {"sparse file counts allocation, not length", "sparse", {}, {"sparse", "sparse/s"}, 0},
    {"skipped folder counts only its own entry", "data", {"data/sub"}, {"data", "data/a", "data/c", "data/sub"}, 0},
    {"a skipped file is counted as usual", "data", {"data/c"}, {"data", "data/a", "data/c", "data/sub", "data/sub/d"}, 0},
    {"skipping the start itself counts its own entry", "data", {"data"}, {"data"}, 0},
    {"missing path is one unreadable entry", "missing", {}, {}, 1},
};

class Measure : public ::testing::TestWithParam<MeasureCase> {};

TEST_P(Measure, CountsAllocatedBlocks)
{
    const auto& c = GetParam();
    Tree tree;
    std::set<std::string> skipping;
    for (const auto& relative : c.skipping)
        skipping.insert(tree.at(relative));
    Usage usage = diskUsage(tree.at(c.path), skipping);
    EXPECT_EQ(usage.bytes, tree.sum(c.counted));
    EXPECT_EQ(usage.unreadable, c.unreadable);
}

INSTANTIATE_TEST_SUITE_P(DiskUsage, Measure, ::testing::ValuesIn(measureCases),
                         [](const auto& info) { return caseName(info.param.name); });

TEST(DiskUsage, SparseFileReallyIsSmall)
{
    // Guards the sparse case above against a file system that allocates the whole length.
    Tree tree;
    EXPECT_LT(own(tree.at("sparse/s")), 8 << 20);
    EXPECT_GT(own(tree.at("data/a")), 0);
}

TEST(DiskUsage, EmptyPathCannotBeOpened)
{
    EXPECT_EQ(diskUsage(""), (Usage { 0, 0 }));
}

TEST(DiskUsage, HardLinkSharedByTwoMeasurementsCountsInEach)
{
    TempDir dir;
    writeFile(dir.path() + "/p/f", std::string(20'000, 'f'));
    makeFolders(dir.path() + "/q");
    hardLink(dir.path() + "/p/f", dir.path() + "/q/f");
    const std::int64_t file = own(dir.path() + "/p/f");

    auto usages = diskUsageOf({ dir.path() + "/p", dir.path() + "/q" });
    EXPECT_EQ(usages[dir.path() + "/p"].bytes, own(dir.path() + "/p") + file);
    EXPECT_EQ(usages[dir.path() + "/q"].bytes, own(dir.path() + "/q") + file);
    EXPECT_EQ(diskUsage(dir.path()).bytes, own(dir.path()) + own(dir.path() + "/p") + own(dir.path() + "/q") + file);
}

TEST(DiskUsage, UnreadableFolderAddsOneAndNothingElse)
{
    if (Testing::runningAsRoot())
        GTEST_SKIP() << "permissions do not stop root";
    Tree tree;
    ASSERT_EQ(::chmod(tree.at("data/sub").c_str(), 0), 0);
    Usage usage = diskUsage(tree.at("data"));
    ::chmod(tree.at("data/sub").c_str(), 0755);
    EXPECT_EQ(usage.bytes, tree.sum({ "data", "data/a", "data/c" }));
    EXPECT_EQ(usage.unreadable, 1);
}

TEST(DiskUsage, ManyPathsMatchOneByOneAndRepeatsGiveOneEntry)
{
    Tree tree;
    const std::vector<std::string> paths = { tree.at("data"), tree.at("empty"), tree.at("data"), tree.at("missing"),
                                             tree.at("sparse"), tree.at("empty") };
    auto usages = diskUsageOf(paths);
    ASSERT_EQ(usages.size(), 4u);
    for (const auto& path : paths)
        EXPECT_EQ(usages.at(path), diskUsage(path)) << path;
    EXPECT_TRUE(diskUsageOf({}).empty());

    std::set<std::string> skipping = { tree.at("data/sub") };
    EXPECT_EQ(diskUsageOf({ tree.at("data") }, skipping).at(tree.at("data")), diskUsage(tree.at("data"), skipping));
}

// home/
//   Desktop/ x/ f (9 KB)
//   Desktop2/ g (7 KB)
//   h (2 KB)
struct FenceCase {
    const char* name;
    std::string path;
    std::vector<std::string> counted;
};

const FenceCase fenceCases[] = {
    {"inside the root", "Desktop/x", {}},
    {"file inside the root", "Desktop/x/f", {}},
    {"the root itself", "Desktop", {}},
    {"above the root the root is entered no further",
     "", {"", "Desktop", "Desktop2", "Desktop2/g", "h"}},
    {"a sibling sharing the prefix is measured", "Desktop2", {"Desktop2", "Desktop2/g"}},
};

class Fence : public ::testing::TestWithParam<FenceCase> {};

TEST_P(Fence, NeverLooksInside)
{
    const auto& c = GetParam();
    TempDir home;
    writeFile(home.path() + "/Desktop/x/f", std::string(9'000, 'f'));
    writeFile(home.path() + "/Desktop2/g", std::string(7'000, 'g'));
    writeFile(home.path() + "/h", std::string(2'000, 'h'));
    auto at = [&](const std::string& relative) { return relative.empty() ? home.path() : home.path() + "/" + relative; };
    std::int64_t expected = 0;
    for (const auto& relative : c.counted)
        expected += own(at(relative));

    PrivacyFence::Registration registration(PrivacyFence::shared(), { home.path() + "/Desktop" });
    EXPECT_EQ(diskUsage(at(c.path)), (Usage { expected, 0 }));
    EXPECT_EQ(diskUsageOf({ at(c.path) }).at(at(c.path)), (Usage { expected, 0 }));
}

INSTANTIATE_TEST_SUITE_P(DiskUsage, Fence, ::testing::ValuesIn(fenceCases),
                         [](const auto& info) { return caseName(info.param.name); });

TEST(DiskUsage, FencedRootThatIsMissingIsNotReportedUnreadable)
{
    TempDir home;
    PrivacyFence::Registration registration(PrivacyFence::shared(), { home.path() + "/Desktop" });
    EXPECT_EQ(diskUsage(home.path() + "/Desktop"), (Usage { 0, 0 }));
    EXPECT_EQ(diskUsage(home.path() + "/Desktop/missing"), (Usage { 0, 0 }));
}

TEST(Usage, JsonKeepsKeyOrderAndRequiresBothKeys)
{
    EXPECT_EQ(Json::dump(toJson(Usage { 5, 2 })), R"({"bytes":5,"unreadable":2})");
    EXPECT_EQ(Json::decodeAs<Usage>(Json::parse(R"({"unreadable":1,"bytes":7})")), (Usage { 7, 1 }));
    EXPECT_THROW(Json::decodeAs<Usage>(Json::parse(R"({"bytes":7})")), Json::DecodeError);
    EXPECT_THROW(Json::decodeAs<Usage>(Json::parse(R"({"bytes":1.5,"unreadable":0})")), Json::DecodeError);
}

} // namespace
