#include "QuandrilCore/Machine/FileHelpers.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "Support/FakeMachine.h"

using namespace Quandril;
using Quandril::Testing::FakeMachine;

namespace {

std::string joined(std::vector<std::string> items, bool sort)
{
    if (sort)
        std::sort(items.begin(), items.end());
    std::string out = "[";
    for (const auto& item : items)
        out += (out.size() > 1 ? "," : "") + item;
    return out + "]";
}

// Every helper's answer as text, so one table can hold them all. Listed paths lose the tree's prefix.
std::string answer(const std::string& helper, const std::string& path, const std::string& prefix)
{
    if (helper == "listNames")
        return joined(listNames(path), true);
    if (helper == "children") {
        auto paths = children(path);
        for (auto& item : paths)
            item = item.starts_with(prefix) ? item.substr(prefix.size()) : "?" + item;
        return joined(paths, false);
    }
    if (helper == "isDirectory")
        return isDirectory(path) ? "true" : "false";
    if (helper == "exists")
        return exists(path) ? "true" : "false";
    if (helper == "isSymlink")
        return isSymlink(path) ? "true" : "false";
    if (helper == "size") {
        auto bytes = size(path);
        return bytes ? std::to_string(*bytes) : "absent";
    }
    if (helper == "modified")
        return modified(path) ? "present" : "absent";
    return "unknown helper";
}

struct HelperCase {
    const char* helper;
    const char* path;   // below the tree's top
    const char* free;   // with nothing fenced
    const char* fenced; // with /Fenced registered
};

const HelperCase helperCases[] = {
    { "listNames", "/Fenced", "[.hidden,inner,link,secret]", "[]" },
    { "listNames", "/Fenced/inner", "[x]", "[]" },
    { "listNames", "/Fenced2", "[y]", "[y]" },
    { "listNames", "/missing", "[]", "[]" },
    { "children", "/Fenced", "[/Fenced/inner,/Fenced/link,/Fenced/secret]", "[]" },
    { "children", "/Fenced/inner", "[/Fenced/inner/x]", "[]" },
    { "children", "/Fenced2", "[/Fenced2/y]", "[/Fenced2/y]" },
    { "isDirectory", "/Fenced", "true", "true" }, // the root's own entry may be looked at
    { "isDirectory", "/Fenced/inner", "true", "false" },
    { "isDirectory", "/Fenced2", "true", "true" },
    { "isDirectory", "/linkToFolder", "true", "true" },
    { "isDirectory", "/Fenced2/y", "false", "false" },
    { "exists", "/Fenced", "true", "true" },
    { "exists", "/Fenced/secret", "true", "false" },
    { "exists", "/dangling", "false", "false" },
    { "exists", "/missing", "false", "false" },
    { "isSymlink", "/Fenced/link", "true", "true" }, // no fence test
    { "isSymlink", "/dangling", "true", "true" },
    { "isSymlink", "/Fenced/secret", "false", "false" },
    { "isSymlink", "/missing", "false", "false" },
    { "size", "/Fenced/secret", "3", "absent" },
    { "size", "/Fenced2/y", "5", "5" },
    { "size", "/dangling", "7", "7" }, // the link's own size: the length of "missing"
    { "size", "/missing", "absent", "absent" },
    { "modified", "/Fenced/secret", "present", "absent" },
    { "modified", "/Fenced", "present", "present" },
    { "modified", "/dangling", "present", "present" },
    { "modified", "/missing", "absent", "absent" },
};

class HelpersAndTheFence : public ::testing::TestWithParam<HelperCase> {
protected:
    static void SetUpTestSuite()
    {
        machine = new FakeMachine();
        machine->text("/Fenced/secret", "abc")
            .text("/Fenced/.hidden", "")
            .text("/Fenced/inner/x", "")
            .link("/Fenced/link", "secret")
            .text("/Fenced2/y", "12345")
            .link("/linkToFolder", "Fenced2")
            .link("/dangling", "missing");
    }
    static void TearDownTestSuite()
    {
        delete machine;
        machine = nullptr;
    }
    static FakeMachine* machine;
};

FakeMachine* HelpersAndTheFence::machine = nullptr;

TEST_P(HelpersAndTheFence, AnswerAsTheTableSays)
{
    const auto& row = GetParam();
    const std::string path = machine->root() + row.path;
    EXPECT_EQ(answer(row.helper, path, machine->root()), row.free) << row.helper << " " << row.path << " (free)";
    {
        PrivacyFence::Registration fence(PrivacyFence::shared(), { machine->root() + "/Fenced" });
        EXPECT_EQ(answer(row.helper, path, machine->root()), row.fenced)
            << row.helper << " " << row.path << " (fenced)";
    }
    EXPECT_EQ(answer(row.helper, path, machine->root()), row.free) << row.helper << " " << row.path << " (after)";
}

INSTANTIATE_TEST_SUITE_P(FileHelpers, HelpersAndTheFence, ::testing::ValuesIn(helperCases));

TEST(FileHelpers, ChildrenSortsByTheComposedFormAndDropsHiddenNames)
{
    FakeMachine machine;
    // Raw bytes would put the decomposed "e\u0301z" before "f"; composed, it is U+00E9 and comes after.
    for (const char* name :
         { "f", "e\u0301z", "\u00E9", "b", "B", "a", ".hidden", ".", "Z", "10", "9", "\u00C5ngstr\u00F6m" })
        if (std::string(name) != ".")
            machine.text(std::string("/dir/") + name, "");
    const std::string dir = machine.root() + "/dir";
    std::vector<std::string> expected;
    for (const char* name : { "10", "9", "B", "Z", "a", "b", "f", "\u00C5ngstr\u00F6m", "\u00E9", "e\u0301z" })
        expected.push_back(dir + "/" + name);
    EXPECT_EQ(children(dir), expected);
}

TEST(FileHelpers, SizeAndModifiedDescribeALinkItself)
{
    FakeMachine machine;
    const auto old = std::chrono::system_clock::time_point(std::chrono::seconds(1'000'000'000));
    const auto older = std::chrono::system_clock::time_point(std::chrono::seconds(900'000'000)
                                                             + std::chrono::nanoseconds(5));
    machine.file("/target", 4096).link("/link", "target").modified("/target", old).modified("/link", older);
    EXPECT_EQ(size(machine.at("/link")), std::int64_t { 6 });
    EXPECT_EQ(modified(machine.at("/link")), older);
    EXPECT_EQ(modified(machine.at("/target")), old);
}

} // namespace
