#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Rules/Catalog.h"
#include "QuandrilCore/Scanning/PathGuard.h"
#include "QuandrilCore/Scanning/Scanner.h"
#include "Support/FakeMachine.h"
#include "Support/MiniCatalog.h"

using namespace Quandril;
using Testing::FakeMachine;

namespace Quandril {

void PrintTo(const PathGuard::Rule& rule, std::ostream* out)
{
    *out << "{ " << rule.path << ", " << rule.why << " }";
}

} // namespace Quandril

namespace {

// "Résumés" spelled both ways.
const std::string composedResumes = "R\xC3\xA9sum\xC3\xA9s";
const std::string decomposedResumes = "Re\xCC\x81sume\xCC\x81s";

Catalog guardCatalog()
{
    Catalog catalog = Testing::miniCatalog();
    catalog.protected_ = {
        { "~/Library/Cache", "cache" },
        { "~/Library/Keychains", "keys" },
        { "~/Library/Keychains/login.db", "login" },
        { "~/Documents/" + decomposedResumes, "résumés" },
        { "/System", "system" },
        { "~/Stuff", "stuff" },
        { "~/Stuff/One", "shared" },
        { "~/Stuff/Two \"2\"", "shared" },
        { "~/Stuff/Three", "other" },
    };
    catalog.protectedSuffixes = {
        { ".photoslibrary", "Photos library" },
        { ".keychain", "a keychain" },
    };
    return catalog;
}

class PathGuardTest : public testing::Test {
protected:
    PathGuardTest()
        : mac(machine.mac())
    {
        mac.cloud = { { machine.at("~/Library/Mobile Documents"), "iCloud Drive" } };
    }

    PathGuard makeGuard() const
    {
        return PathGuard(guardCatalog(), mac,
                         { { machine.at("~/Library/Keychains"), "you said so" },
                           { machine.at("~/Cloud/Drive ü"), "yours" } });
    }

    FakeMachine machine;
    Mac mac;
};

} // namespace

TEST_F(PathGuardTest, Protection)
{
    struct Case {
        std::string display;
        bool includingContents;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases {
        { "~/Library/Cache", false, "cache" },
        { "~/Library/Cache/a b/c \"d\"", false, "cache" },
        { "~/Library/Cache/", false, "cache" },
        // A sibling whose name merely extends the rule's name is free.
        { "~/Library/Caches", true, std::nullopt },
        { "~/Library/Cach", true, std::nullopt },
        // Folders above a rule: only when their contents count.
        { "~/Library", false, std::nullopt },
        { "~/Library", true, "cache" },
        { "~", true, "cache" },
        { "/", true, "cache" },
        // The earliest rule wins, even over a later exact match.
        { "~/Library/Keychains/login.db", false, "keys" },
        { "~/Library/Keychains", false, "keys" },
        { "~/Library/Mobile Documents/Doc.pages", false, "iCloud Drive" },
        { "~/Cloud/Drive ü/x", false, "yours" },
        { "~/Cloud", true, "yours" },
        // Composed and decomposed spellings meet.
        { "~/Documents/" + composedResumes, false, "résumés" },
        { "~/Documents/" + composedResumes + "/cv.pdf", false, "résumés" },
        { "~/Documents/" + decomposedResumes + "/cv.pdf", false, "résumés" },
        { "~/Documents/" + composedResumes + "x", false, std::nullopt },
        { "/System/Library", false, "system" },
        { "/Systems", true, std::nullopt },
        // Suffixes: any name along the path, never the contents of a folder.
        { "~/Pictures/Photos Library.photoslibrary", false, "Photos library" },
        { "~/Pictures/Photos Library.photoslibrary/database/x.db", false, "Photos library" },
        { "~/Pictures/a.photoslibrary.bak", false, std::nullopt },
        { "~/Pictures", true, std::nullopt },
        { "~//Pictures//b.keychain//", false, "a keychain" },
        { "~/.keychain", false, "a keychain" },
        { "~/Pictures/keychain", false, std::nullopt },
    };
    PathGuard guard = makeGuard();
    for (const auto& c : cases) {
        std::string path = c.display == "/" ? "/" : machine.at(c.display);
        EXPECT_EQ(guard.protection(path, c.includingContents), c.expected)
            << c.display << (c.includingContents ? " (with contents)" : "");
    }
}

TEST_F(PathGuardTest, TheTopFolderHoldsEveryPath)
{
    // "/" followed by "/" is no prefix of anything, yet every absolute path lies inside the top folder.
    Mac bare = mac;
    bare.cloud.clear();
    PathGuard guard(Testing::miniCatalog(), bare, { { "/", "the whole disk" } });
    EXPECT_EQ(guard.protection("/", false), "the whole disk");
    EXPECT_EQ(guard.protection("/tmp", false), "the whole disk");
    EXPECT_EQ(guard.protection("/tmp/a b", true), "the whole disk");

    PathGuard rules(Testing::miniCatalog(), bare, { { "/Users/me/Keys", "keys" } });
    EXPECT_EQ(rules.protection("/", true), "keys");
    EXPECT_EQ(rules.protection("/", false), std::nullopt);
    EXPECT_EQ(rules.protectedInside("/"), std::vector<std::string> { "keys" });
}

TEST_F(PathGuardTest, ProtectedInside)
{
    struct Case {
        const char* display;
        std::vector<std::string> expected;
    } cases[] = {
        { "~/Stuff", { "shared", "other" } },
        { "~/Stuff/One", {} },
        { "~/Library", { "cache", "keys", "login", "iCloud Drive", "you said so" } },
        { "~/Library/Keychains", { "login" } },
        { "~/Library//Keychains/", { "login" } },
        { "~/Pictures", {} },
        { "~",
          { "cache", "keys", "login", "résumés", "stuff", "shared", "other", "iCloud Drive", "you said so", "yours" } },
    };
    PathGuard guard = makeGuard();
    for (const auto& c : cases)
        EXPECT_EQ(guard.protectedInside(machine.at(c.display)), c.expected) << c.display;
    // The composed spelling of the folder finds the rule written decomposed.
    Catalog catalog = Testing::miniCatalog();
    catalog.protected_ = { { "~/" + decomposedResumes + "/Tax", "tax" } };
    EXPECT_EQ(PathGuard(catalog, mac).protectedInside(machine.at("~/" + composedResumes)),
              std::vector<std::string> { "tax" });
}

TEST_F(PathGuardTest, RulesAreThePlacesNamedAndWhereTheyReallyAre)
{
    machine.folder("~/Movies").link("~/Films", "Movies").folder("~/Documents/Real").link("~/Documents/Link", "Real");
    Mac bare = mac;
    bare.cloud.clear();
    Catalog catalog = Testing::miniCatalog();
    catalog.protected_ = { { "/", "all" }, { "~/Films/", "films" }, { "Movies//Later\n", "later" } };
    const auto extra = PathGuard::userRules({ { "~/Documents/Link", "docs" } }, bare);
    std::vector<PathGuard::Rule> expected = {
        { machine.root(), "all" },
        { machine.at("~/Films"), "films" },
        { machine.at("~/Movies"), "films" },
        { machine.at("~/Movies/Later"), "later" },
        { machine.at("~/Movies/Later\n"), "later" },
        { machine.at("~/Documents/Link"), "docs" },
    };
    {
        // A folder the fence holds is not opened to find where a link in it leads.
        PrivacyFence::Registration fence(PrivacyFence::shared(), { machine.at("~/Documents") });
        EXPECT_EQ(PathGuard(catalog, bare, extra).rules(), expected);
    }
    expected.push_back({ machine.at("~/Documents/Real"), "docs" });
    const PathGuard guard(catalog, bare, extra);
    EXPECT_EQ(guard.rules(), expected);

    // A path asked about counts both as written and as the place it names.
    PathGuard keep(Testing::miniCatalog(), bare, { { machine.at("~/Keep"), "keep" } });
    EXPECT_EQ(keep.protection(machine.at("~/Other/../Keep/x"), false), "keep");
    EXPECT_EQ(keep.protection(machine.at("~/Keep/../Other"), false), "keep");
    EXPECT_EQ(keep.protection(machine.at("~/Other/./Keep"), false), std::nullopt);
}

TEST_F(PathGuardTest, ThroughLink)
{
    machine.folder("~/Real Folder 'é'/inner")
        .file("~/Real Folder 'é'/inner/file \"x\"")
        .link("~/Link Folder", machine.at("~/Real Folder 'é'"))
        .link("~/relative link", "Real Folder 'é'/inner");
    struct Case {
        std::string path;
        bool expected;
    };
    const std::vector<Case> cases {
        { machine.at("~/Real Folder 'é'/inner/file \"x\""), false },
        { machine.at("~/Real Folder 'é'"), false },
        { machine.at("~/does not exist"), false },
        { machine.at("~/Link Folder/inner/missing"), false }, // cannot be resolved
        { machine.at("~/Real Folder 'é'/"), true },
        { machine.at("~/Link Folder"), true },
        { machine.at("~/Link Folder/inner/file \"x\""), true },
        { machine.at("~/relative link"), true },
        { machine.at("~/Real Folder 'é'/./inner"), true },
        { machine.at("~/Real Folder 'é'/inner/../inner"), true },
        { machine.at("~//Real Folder 'é'"), true },
    };
    for (const auto& c : cases)
        EXPECT_EQ(PathGuard::throughLink(c.path), c.expected) << c.path;
}
