#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Rules/Catalog.h"
#include "Support/FakeMachine.h"

using namespace Quandril;
using Testing::FakeMachine;

namespace {

// Decomposed spellings: "A" + combining diaeresis, "e" + combining acute.
const std::string decomposedA = "A\xCC\x88hnlich";
const std::string decomposedE = "Cafe\xCC\x81";

class PathPatterns : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        machine = new FakeMachine();
        FakeMachine& m = *machine;
        m.folder("~/Library/Caches/com.a b")
            .folder("~/Library/Caches/Zeta \"quoted\"")
            .file("~/Library/Caches/.DS_Store")
            .folder("~/Library/Caches/.hidden")
            .folder("~/Library/Containers/com.one/Data/Library/Caches")
            .folder("~/Library/Containers/com.two 'x' two/Data/Library")
            .folder("~/Library/Containers/com.three é/Data/Library/Caches")
            .file("~/Library/Containers/a file")
            // Sorting: Unicode order of the composed forms, not byte order.
            .folder("/Sort/b")
            .folder("/Sort/B")
            .folder("/Sort/a10")
            .folder("/Sort/a2")
            .folder("/Sort/Zebra")
            .folder("/Sort/" + decomposedA)
            .folder("/Sort/" + decomposedE)
            // Literal components that look like patterns.
            .file("/Lit/one/a?c")
            .file("/Lit/two/abc")
            .file("/Lit/one/[x]")
            .file("/Lit/two/x")
            .file("/Lit/what?")
            .file("/Lit/whatx")
            .link("/Links/to caches", m.at("~/Library/Caches"))
            .file("/Files/plain.txt");
        mac = new Mac(m.mac());
    }

    static void TearDownTestSuite()
    {
        delete mac;
        delete machine;
    }

    static std::vector<std::string> real(const std::vector<std::string>& displays)
    {
        std::vector<std::string> out;
        for (const auto& display : displays)
            out.push_back(machine->at(display));
        return out;
    }

    static FakeMachine* machine;
    static Mac* mac;
};

FakeMachine* PathPatterns::machine = nullptr;
Mac* PathPatterns::mac = nullptr;

struct ExpandCase {
    const char* pattern;
    std::vector<std::string> expected; // display paths
};

} // namespace

TEST_F(PathPatterns, Expand)
{
    const ExpandCase cases[] = {
        { "~", { "~" } },
        { "~/Library/Caches", { "~/Library/Caches" } },
        { "~/Library/Nope", {} },
        { "~/Library/Caches/*", { "~/Library/Caches/Zeta \"quoted\"", "~/Library/Caches/com.a b" } },
        // Hidden names are never matched by a pattern, only written out literally.
        { "~/Library/Caches/.*", {} },
        { "~/Library/Caches/*DS_Store", {} },
        { "~/Library/Caches/.hidden", { "~/Library/Caches/.hidden" } },
        { "~/Library/Containers/*/Data/Library/Caches",
          { "~/Library/Containers/com.one/Data/Library/Caches",
            "~/Library/Containers/com.three é/Data/Library/Caches" } },
        { "/Sort/*",
          { "/Sort/B", "/Sort/" + decomposedE, "/Sort/Zebra", "/Sort/a10", "/Sort/a2", "/Sort/b",
            "/Sort/" + decomposedA } },
        { "/Sort/a*", { "/Sort/a10", "/Sort/a2" } },
        { "/Sort/[aZ]*", { "/Sort/Zebra", "/Sort/a10", "/Sort/a2" } },
        // "?" and brackets without a star are literal names.
        { "/Lit/what?", { "/Lit/what?" } },
        { "/Lit/*/a?c", { "/Lit/one/a?c" } },
        { "/Lit/*/[x]", { "/Lit/one/[x]" } },
        { "/Lit/*/?bc", {} },
        { "//Lit//*//what?/", {} },
        { "//Sort///a1*//", { "/Sort/a10" } },
        { "/Nowhere/*/Caches", {} },
        { "/Files/plain.txt/*", {} },
        { "/Files/*/x", {} },
        { "/Links/*/com.a b", { "/Links/to caches/com.a b" } },
        { "/Sort/[", {} },
        { "/Sort/*[", {} },
        // "~" followed by anything but "/" is not the home folder.
        { "~Library", {} },
    };
    for (const auto& c : cases)
        EXPECT_EQ(expand(c.pattern, *mac), real(c.expected)) << c.pattern;
}

TEST_F(PathPatterns, StarDirectlyUnderRootBeginsWithTheFakeRoot)
{
    auto found = expand("/*", *mac);
    ASSERT_FALSE(found.empty());
    for (const auto& path : found)
        EXPECT_EQ(path.rfind(machine->root() + "/", 0), 0u) << path;
}

TEST_F(PathPatterns, FenceHidesWhatLiesInsideButNotTheFencedFolderItself)
{
    PrivacyFence::Registration fence(PrivacyFence::shared(), { machine->at("~/Library/Containers") });
    EXPECT_EQ(expand("~/Library/Containers/*/Data", *mac), std::vector<std::string> {});
    EXPECT_EQ(expand("~/Library/Containers/com.one", *mac), std::vector<std::string> {});
    EXPECT_EQ(expand("~/Library/Containers", *mac), real({ "~/Library/Containers" }));
    EXPECT_EQ(expand("~/Library/Contain*", *mac), real({ "~/Library/Containers" }));
    EXPECT_FALSE(contains(machine->at("~/Library/Containers"), "com.*"));
}

TEST_F(PathPatterns, ExpandOnTheLiveMachineStartsAtSlash)
{
    Mac live("", machine->home(), std::nullopt);
    EXPECT_EQ(expand(machine->root() + "/Sort/a*", live), real({ "/Sort/a10", "/Sort/a2" }));
    EXPECT_EQ(expand("~/Library/Caches", live), real({ "~/Library/Caches" }));
}

TEST(PathPatternContains, LooksOneLevelDown)
{
    FakeMachine m;
    m.file("/P/direct/App.xcodeproj")
        .file("/P/nested/src/Tool.xcodeproj")
        .file("/P/deep/a/b/Deep.xcodeproj")
        .file("/P/hidden/.git")
        .file("/P/linked target/x/Linked.xcodeproj")
        .link("/P/via link/inner", m.at("/P/linked target/x"))
        .file("/P/plain file")
        .file("/P/Ünïcode \"q\"/Ärger.psd");
    struct Case {
        const char* folder;
        const char* glob;
        bool expected;
    } cases[] = {
        { "/P/direct", "*.xcodeproj", true },
        { "/P/nested", "*.xcodeproj", true },
        { "/P/deep", "*.xcodeproj", false },
        { "/P/hidden", ".git", true },
        { "/P/hidden", "*git", true }, // unlike expand, hidden names take part here
        { "/P/via link", "*.xcodeproj", true },
        { "/P/plain file", "*", false },
        { "/P/missing", "*", false },
        { "/P/Ünïcode \"q\"", "*.psd", true },
        { "/P/direct", "[", false },
    };
    for (const auto& c : cases)
        EXPECT_EQ(contains(m.at(c.folder), c.glob), c.expected) << c.folder << " " << c.glob;
}
