#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/OwnMounts.h"
#include "Support/SystemState.h"
#include "Support/Unprivileged.h"

using namespace Quandril;
using Quandril::Testing::CaseNamed;
using Quandril::Testing::FakeMachine;
using Quandril::Testing::readFile;
using Quandril::Testing::writeFile;

namespace {

TimePoint at(const char* text)
{
    return *Platform::parseIso8601(text);
}

std::chrono::sys_seconds second(const char* text)
{
    return *Platform::parseIso8601Seconds(text);
}

HistoryEntry entry(std::string id, std::vector<Relocation> relocated = {}, std::optional<bool> undone = std::nullopt)
{
    return HistoryEntry { at("2025-03-04T05:06:07Z"), std::move(id), "Some title", Action::Kind::trash, 1234,
                          std::move(relocated),       undone };
}

std::string line(const HistoryEntry& value)
{
    return *History::encodeLine(value) + "\n";
}

std::vector<std::string> ids(const std::vector<HistoryEntry>& entries)
{
    std::vector<std::string> out;
    for (const auto& value : entries)
        out.push_back(value.id + (value.isUndone() ? "*" : ""));
    return out;
}

// ---- Encoding ----

struct EncodingCase {
    const char* name;
    HistoryEntry value;
    std::vector<std::string> contains;
    std::vector<std::string> lacks;
};

class HistoryEncoding : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(HistoryEncoding, WritesOneCompactLineThatReadsBackTheSame)
{
    const auto& row = GetParam();
    const auto encoded = History::encodeLine(row.value);
    ASSERT_TRUE(encoded);
    EXPECT_EQ(encoded->find('\n'), std::string::npos);
    for (const auto& text : row.contains)
        EXPECT_NE(encoded->find(text), std::string::npos) << text << " in " << *encoded;
    for (const auto& text : row.lacks)
        EXPECT_EQ(encoded->find(text), std::string::npos) << text << " in " << *encoded;
    // Every slash is escaped.
    for (std::size_t i = encoded->find('/'); i != std::string::npos; i = encoded->find('/', i + 1))
        EXPECT_EQ((*encoded)[i - 1], '\\') << *encoded;
    EXPECT_EQ(History::decodeLine(*encoded), row.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HistoryEncoding,
    ::testing::Values(
        EncodingCase {
            "no relocations",
            entry("app-caches"),
            { R"("relocated":[])", R"("at":"2025-03-04T05:06:07Z")", R"("action":"trash")", R"("bytes":1234)" },
            { "undone" } },
        EncodingCase { "plain relocation",
                       entry("x", { { "/Users/me/a b", "/Users/me/.Trash/a b", std::nullopt, std::nullopt } }),
                       { R"({"from":"\/Users\/me\/a b","to":"\/Users\/me\/.Trash\/a b"})" },
                       { "link", "parked", "kind", "size", "modified", "deletionDate", "recordWritten", "back" } },
        EncodingCase {
            "what the item in the Trash was",
            entry("x",
                  { { "/a", "/T/a", std::nullopt, std::nullopt, "folder", 4096, second("2024-01-02T03:04:05Z") } }),
            { R"("to":"\/T\/a","kind":"folder","size":4096,"modified":"2024-01-02T03:04:05Z"})" },
            {} },
        EncodingCase { "the Trash's record of the item",
                       entry("x",
                             { { "/a", "/T/a", std::nullopt, std::nullopt, "file", 9, second("2024-01-02T03:04:05Z"),
                                 "2024-01-02T12:04:06", "1704164646.123456789" } }),
                       { R"("deletionDate":"2024-01-02T12:04:06","recordWritten":"1704164646.123456789"})" },
                       {} },
        EncodingCase { "a put-back stopped part way",
                       [] {
                           HistoryEntry stopped = entry("x", { { "/b", "/T/b", std::nullopt, std::nullopt } });
                           stopped.back = std::vector<Relocation> { { "/T/a", "/a", std::nullopt, std::nullopt } };
                           return stopped;
                       }(),
                       { R"("back":[{"from":"\/T\/a","to":"\/a"}])" },
                       { "undone" } },
        EncodingCase {
            "the last second of the clock, and files modified beyond it",
            HistoryEntry { at("2262-04-11T23:47:16Z"),
                           "t",
                           "T",
                           Action::Kind::trash,
                           1,
                           { { "/a", "/T/a", std::nullopt, std::nullopt, "file", 1, second("2262-04-12T00:00:00Z") },
                             { "/b", "/T/b", std::nullopt, std::nullopt, "file", 1, second("2300-01-01T00:00:00Z") },
                             { "/c", "/T/c", std::nullopt, std::nullopt, "file", 1, second("9999-12-31T23:59:59Z") } },
                           std::nullopt },
            { R"("at":"2262-04-11T23:47:16Z")", R"("modified":"2262-04-12T00:00:00Z")",
              R"("modified":"2300-01-01T00:00:00Z")", R"("modified":"9999-12-31T23:59:59Z")" },
            {} },
        EncodingCase { "link and parked flags",
                       entry("x", { { "/a", "/V/b", true, std::nullopt }, { "/c", "/V/d", std::nullopt, true } }),
                       { R"("link":true)", R"("parked":true)" },
                       {} },
        EncodingCase { "marker line", entry("x", {}, true), { R"("undone":true)" }, {} },
        EncodingCase {
            "quotes, backslashes and non-ASCII",
            entry("q",
                  { { "/Users/me/\"Café\" \\ 1\n2", "/Users/me/.Trash/Cafe\xCC\x81", std::nullopt, std::nullopt } }),
            { R"(\"Café\" \\ 1\n2)" },
            {} },
        EncodingCase { "delete with the largest size",
                       HistoryEntry { at("1999-12-31T23:59:59Z"),
                                      "d",
                                      "D",
                                      Action::Kind::delete_,
                                      9'223'372'036'854'775'807,
                                      {},
                                      std::nullopt },
                       { R"("action":"delete")", "9223372036854775807", "1999-12-31T23:59:59Z" },
                       {} }),
    CaseNamed {});

TEST(HistoryEncoding, RefusesTextsThatAreNotUTF8)
{
    const std::vector<HistoryEntry> broken {
        entry("x", { { "/Users/me/caf\xE9", "/Users/me/.Trash/caf\xE9", std::nullopt, std::nullopt } }),
        entry("x", { { "/Users/me/a", "/Users/me/.Trash/\xFF", std::nullopt, std::nullopt } }),
        entry("id\xC3"),
    };
    for (const auto& value : broken) {
        EXPECT_FALSE(History::isRecordable(value));
        EXPECT_FALSE(History::encodeLine(value));
    }
}

// A line History couldn't read back would lose every item of its clean-up: it is never written.
TEST(HistoryEncoding, NeverWritesALineThatWouldntReadBack)
{
    using namespace std::chrono;
    FakeMachine machine;
    const Mac mac = machine.mac();
    writeFile(History::path(mac), line(entry("kept")));
    const std::vector<HistoryEntry> unreadable {
        entry("x",
              { { "/a", "/T/a", std::nullopt, std::nullopt, "file", 1, sys_days(year(10000) / 1 / 1) + seconds(0) } }),
        HistoryEntry { TimePoint::min(), "y", "Y", Action::Kind::trash, 1, {}, std::nullopt },
    };
    for (const auto& value : unreadable) {
        EXPECT_TRUE(History::isRecordable(value));
        EXPECT_FALSE(History::encodeLine(value));
        EXPECT_EQ(History::append(value, mac).whyNot, "its line wouldn't read back");
    }
    EXPECT_EQ(readFile(History::path(mac)), line(entry("kept")));
}

// ---- Reading lines ----

struct LineCase {
    const char* name;
    std::string text;
    bool readable;
};

class HistoryLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(HistoryLine, ReadsOnlyCompleteEntries)
{
    EXPECT_EQ(History::decodeLine(GetParam().text).has_value(), GetParam().readable) << GetParam().text;
}

const std::string good
    = R"({"at":"2025-03-04T05:06:07Z","id":"a","title":"A","action":"trash","bytes":5,"relocated":[{"from":"/x","to":"/Users/me/.Trash/x"}]})";

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    text.replace(text.find(from), from.size(), to);
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HistoryLine,
    ::testing::Values(
        LineCase { "plain slashes", good, true },
        LineCase { "escaped slashes",
                   replaced(replaced(good, "\"/x\"", R"("\/x")"), "/Users/me/.Trash/x", R"(\/Users\/me\/.Trash\/x)"),
                   true },
        LineCase { "with its line feed", good + "\n", true },
        LineCase { "link and parked may be null", replaced(good, "\"to\"", "\"link\":null,\"parked\":false,\"to\""),
                   true },
        LineCase { "unknown keys ignored", replaced(good, "\"id\"", "\"extra\":[1,2],\"id\""), true },
        LineCase { "invalid UTF-8 in a text", replaced(good, "\"A\"", "\"A\xFF\""), false },
        LineCase { "invalid UTF-8 outside texts", good + "\xC3", false }, LineCase { "not JSON", "hello", false },
        LineCase { "truncated", good.substr(0, good.size() - 5), false },
        LineCase { "an array", "[" + good + "]", false },
        LineCase { "missing relocated", replaced(good, R"(,"relocated":[{"from":"/x","to":"/Users/me/.Trash/x"}])", ""),
                   false },
        LineCase { "missing at", replaced(good, R"("at":"2025-03-04T05:06:07Z",)", ""), false },
        LineCase { "relocation without to", replaced(good, R"(,"to":"/Users/me/.Trash/x")", ""), false },
        LineCase { "unknown action", replaced(good, "\"trash\"", "\"shred\""), false },
        LineCase { "fractional bytes", replaced(good, "\"bytes\":5", "\"bytes\":5.5"), false },
        LineCase { "date without zone", replaced(good, "07Z", "07"), false },
        LineCase { "year 1500", replaced(good, "2025-03-04", "1500-03-04"), false },
        LineCase { "year 2300", replaced(good, "2025-03-04", "2300-03-04"), false },
        LineCase { "last second the clock holds", replaced(good, "2025-03-04T05:06:07", "2262-04-11T23:47:16"), true },
        LineCase { "undone as text", replaced(good, "\"id\"", "\"undone\":\"yes\",\"id\""), false }),
    CaseNamed {});

// ---- Loading the file ----

struct LoadCase {
    const char* name;
    std::string content;
    std::vector<std::string> expected; // ids in order, "*" after an undone one
};

class HistoryLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(HistoryLoad, KeepsEveryReadableLineInOrder)
{
    FakeMachine machine;
    writeFile(machine.at("~/Library/Application Support/Quandril/history.jsonl"), GetParam().content);
    EXPECT_EQ(ids(History::load(machine.mac())), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HistoryLoad,
    ::testing::Values(
        LoadCase { "blank lines and junk between entries",
                   "\n" + line(entry("a")) + "\n\nnot json\n" + line(entry("b")) + "\n",
                   { "a", "b" } },
        LoadCase { "one invalid UTF-8 byte costs only its own line",
                   line(entry("a")) + replaced(line(entry("b")), "Some", "S\xFEome") + line(entry("c")),
                   { "a", "c" } },
        LoadCase { "a line with a missing key is skipped",
                   line(entry("a")) + replaced(good, ",\"bytes\":5", "") + "\n" + line(entry("c")),
                   { "a", "c" } },
        LoadCase {
            "last line without its line feed", line(entry("a")) + *History::encodeLine(entry("b")), { "a", "b" } },
        LoadCase { "marker undoes the earlier entries of its id only",
                   line(entry("a")) + line(entry("b")) + line(entry("a")) + line(entry("a", {}, true))
                       + line(entry("a")),
                   { "a*", "b", "a*", "a*", "a" } },
        LoadCase { "lone marker", line(entry("m", {}, true)), { "m*" } },
        LoadCase { "undone false is not a marker", line(entry("a")) + line(entry("a", {}, false)), { "a", "a" } },
        LoadCase { "empty file", "", {} }),
    CaseNamed {});

TEST(HistoryLoad, MissingOrUnreadableFileIsEmpty)
{
    FakeMachine machine;
    EXPECT_TRUE(History::load(machine.mac()).empty());
    Testing::makeFolders(History::path(machine.mac())); // a folder where the file should be
    EXPECT_TRUE(History::load(machine.mac()).empty());
}

// ---- Appending ----

TEST(HistoryAppend, FirstAppendMakesTheFolderAndOneLineThatLoadsBack)
{
    FakeMachine machine;
    const Mac mac = machine.mac();
    EXPECT_EQ(History::path(mac), machine.root() + "/Users/me/Library/Application Support/Quandril/history.jsonl");
    const auto value = entry("a", { { machine.at("~/x"), machine.at("~/.Trash/x"), std::nullopt, std::nullopt } });
    EXPECT_TRUE(History::append(value, mac));
    EXPECT_EQ(readFile(History::path(mac)), line(value));
    const auto marker = entry("a", value.relocated, true);
    EXPECT_TRUE(History::append(marker, mac));
    auto first = value;
    first.undone = true;
    EXPECT_EQ(History::load(mac), (std::vector<HistoryEntry> { first, marker }));
}

TEST(HistoryAppend, NeverWritesALineThatWouldReadBackWrong)
{
    FakeMachine machine;
    const Mac mac = machine.mac();
    const std::string before = line(entry("a"));
    writeFile(History::path(mac), before);
    EXPECT_FALSE(
        History::append(entry("b", { { machine.at("~/caf\xE9"), machine.at("~/.Trash/caf\xE9"), {}, {} } }), mac));
    EXPECT_EQ(readFile(History::path(mac)), before);
}

TEST(HistoryAppend, ALineLeftUnfinishedDoesNotSwallowTheNext)
{
    FakeMachine machine;
    const Mac mac = machine.mac();
    writeFile(History::path(mac), line(entry("a")) + good.substr(0, 40));
    EXPECT_TRUE(History::append(entry("b"), mac));
    EXPECT_EQ(ids(History::load(mac)), (std::vector<std::string> { "a", "b" }));
}

struct UnwritableCase {
    const char* name;
    bool needsNonRoot;
    void (*prepare)(const std::string& file);
};

class HistoryUnwritable : public ::testing::TestWithParam<UnwritableCase> {};

TEST_P(HistoryUnwritable, LeavesWhatIsThereAlone)
{
    const auto check = [] {
        FakeMachine machine;
        const Mac mac = machine.mac();
        const std::string file = History::path(mac);
        GetParam().prepare(file);
        const auto before = std::filesystem::exists(file) && !std::filesystem::is_directory(file) ? readFile(file) : "";
        EXPECT_FALSE(History::append(entry("b"), mac));
        if (!before.empty()) {
            EXPECT_EQ(readFile(file), before);
        }
    };
    // Root writes to read-only files.
    if (GetParam().needsNonRoot)
        Testing::asOrdinaryUser(check);
    else
        check();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HistoryUnwritable,
    ::testing::Values(UnwritableCase { "read-only file", true,
                                       [](const std::string& file) {
                                           writeFile(file, line(entry("a")));
                                           ::chmod(file.c_str(), 0444);
                                       } },
                      UnwritableCase { "folder in its place", false,
                                       [](const std::string& file) { Testing::makeFolders(file); } },
                      UnwritableCase { "parent is a file", false,
                                       [](const std::string& file) {
                                           writeFile(std::filesystem::path(file).parent_path().string(),
                                                     "not a folder");
                                       } }),
    CaseNamed {});

// A history file another user made could hold lines planted for Put Back to follow: it gives no
// entries and takes no line, and both say why. The user's own file is the user's whatever its mode:
// one an earlier version or a loose umask left open to others is read, and made private.
TEST(HistoryTrust, OnlyTheUsersOwnFileIsReadAndWritten)
{
    const struct {
        mode_t mode;
        bool foreign;
        std::string why; // empty: read, written, and then 0600
    } rows[] = {
        { 0664, false, "" },
        { 0666, false, "" },
        { 0620, false, "" },
        { 0640, false, "" },
        { 0644, true, "belongs to another user" },
        { 0600, true, "belongs to another user" },
    };
    for (const auto& row : rows) {
        if (row.foreign && !Testing::runningAsRoot())
            GTEST_SKIP() << "only root can give a file to another user";
        SCOPED_TRACE(std::to_string(row.mode) + (row.foreign ? " foreign" : ""));
        FakeMachine machine;
        const Mac mac = machine.mac();
        const std::string file = History::path(mac);
        machine.text("~/.Trash/tool", "#!/bin/sh\n");
        const std::string planted = line(entry("a", { { "/etc/cron.d/tool", machine.at("~/.Trash/tool"), {}, {} } }));
        writeFile(file, planted);
        ASSERT_EQ(::chmod(file.c_str(), row.mode), 0);
        if (row.foreign) {
            ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
        }
        const auto modeNow = [&] {
            struct stat info {};
            ::stat(file.c_str(), &info);
            return info.st_mode & 07777;
        };
        if (row.why.empty()) {
            const History::Loaded loaded = History::read(mac);
            EXPECT_EQ(ids(loaded.entries), std::vector<std::string> { "a" });
            EXPECT_EQ(loaded.whyNot, "");
            EXPECT_EQ(modeNow(), 0600u);
            ASSERT_EQ(::chmod(file.c_str(), row.mode), 0);
            EXPECT_TRUE(History::append(entry("b"), mac));
            EXPECT_EQ(modeNow(), 0600u);
            EXPECT_EQ(ids(History::load(mac)), (std::vector<std::string> { "a", "b" }));
            continue;
        }
        const std::string why = "the History file " + row.why + ", so Gorrin won't use it";
        const History::Loaded loaded = History::read(mac);
        EXPECT_EQ(loaded.entries, std::vector<HistoryEntry> {});
        EXPECT_EQ(loaded.whyNot, why);
        EXPECT_EQ(History::load(mac), std::vector<HistoryEntry> {});
        EXPECT_EQ(History::append(entry("b"), mac).whyNot, why);
        EXPECT_EQ(readFile(file), planted);
        EXPECT_EQ(modeNow(), row.mode);
        const CleanResult undone = Cleaner::undo("a", mac, false);
        EXPECT_EQ(undone.status, CleanResult::Status::refused);
        EXPECT_EQ(undone.detail, "Nothing in the history to undo for this: " + why + ".");
        EXPECT_TRUE(std::filesystem::exists(machine.at("~/.Trash/tool")));
    }
}

// A file made here is the user's alone whatever the mask, and takes the next line.
TEST(HistoryTrust, ANewFileIsOursAloneWhateverTheMask)
{
    for (const mode_t mask : { 002, 022, 0277 }) {
        SCOPED_TRACE(mask);
        FakeMachine machine;
        const Mac mac = machine.mac();
        const mode_t before = ::umask(mask);
        const bool first = static_cast<bool>(History::append(entry("a"), mac));
        ::umask(before);
        EXPECT_TRUE(first);
        struct stat info {};
        ASSERT_EQ(::stat(History::path(mac).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_TRUE(History::append(entry("b"), mac));
        EXPECT_EQ(ids(History::load(mac)), (std::vector<std::string> { "a", "b" }));
    }
}

// A file that is there but gives nothing to read says why, as one it distrusts does, for the app to
// show instead of an empty History.
TEST(HistoryTrust, AFileThatCantBeReadSaysWhy)
{
    const Testing::TempDir elsewhere; // root's own folder, outside the tree given away
    ASSERT_EQ(::chmod(elsewhere.path().c_str(), 0755), 0);
    const struct {
        const char* label;
        std::function<void(const std::string& file)> prepare;
        std::string why;
    } rows[] = {
        { "root's, left by sudo",
          [&](const std::string& file) {
              // The folder is reached by a link, so that the file stays root's when the tree is given away.
              writeFile(elsewhere.path() + "/Quandril/history.jsonl", line(entry("a")));
              ::chmod((elsewhere.path() + "/Quandril").c_str(), 0755);
              ::chmod((elsewhere.path() + "/Quandril/history.jsonl").c_str(), 0600);
              std::filesystem::remove_all(std::filesystem::path(file).parent_path());
              std::filesystem::create_directory_symlink(elsewhere.path() + "/Quandril",
                                                        std::filesystem::path(file).parent_path());
          },
          "the History file belongs to another user, so Gorrin won't use it" },
        { "mode 000",
          [](const std::string& file) {
              writeFile(file, line(entry("a")));
              ::chmod(file.c_str(), 0);
          },
          "you don't have permission to read the History file" },
        { "a named pipe", [](const std::string& file) { ::mkfifo(file.c_str(), 0600); },
          "the History file is a named pipe" },
        { "a folder", [](const std::string& file) { Testing::makeFolders(file); }, "the History file is a folder" },
        { "a link",
          [](const std::string& file) {
              writeFile(file + ".real", line(entry("a")));
              ::symlink((file + ".real").c_str(), file.c_str());
          },
          "the History file is a link, so Gorrin won't follow it" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        if (row.label == rows[0].label && !Testing::runningAsRoot()) {
            std::cout << "skipped \"" << row.label << "\": only root can leave a file of root's\n";
            continue;
        }
        FakeMachine machine;
        const Mac mac = machine.mac();
        const std::string file = History::path(mac);
        Testing::makeFolders(std::filesystem::path(file).parent_path().string());
        row.prepare(file);
        Testing::withoutPrivileges(machine.root(), [&] {
            const History::Loaded loaded = History::read(mac);
            const CleanResult undone = Cleaner::undo("a", mac, false);
            const std::string told = "Nothing in the history to undo for this: " + row.why + ".";
            if (loaded.entries.empty() && loaded.whyNot == row.why && undone.detail == told)
                return true;
            std::cerr << loaded.entries.size() << " entries, \"" << loaded.whyNot << "\", " << undone.detail << "\n";
            return false;
        });
    }
}

// Whether a line would fit is asked beforehand, so the user can be told before anything is done.
// The answer is the one append then meets, it is given at once whatever stands at the name, and
// asking writes nothing.
TEST(HistoryAppend, SaysBeforehandWhetherALineWouldFit)
{
    enum class Needs { nothing, ordinaryUser, ownMounts };
    const struct {
        const char* label;
        Needs needs;
        std::function<void(const std::string& file)> prepare;
        std::string why;
    } rows[] = {
        { "no folder or file yet", Needs::nothing, [](const std::string&) {}, "" },
        { "the user's own file", Needs::nothing, [](const std::string& file) { writeFile(file, line(entry("a"))); },
          "" },
        { "a read-only file", Needs::ordinaryUser,
          [](const std::string& file) {
              writeFile(file, line(entry("a")));
              ::chmod(file.c_str(), 0444);
          },
          "you don't have permission to write the History file" },
        { "a folder that takes no new file", Needs::ordinaryUser,
          [](const std::string& file) {
              Testing::makeFolders(std::filesystem::path(file).parent_path().string());
              ::chmod(std::filesystem::path(file).parent_path().c_str(), 0555);
          },
          "you don't have permission to write the History file" },
        { "a named pipe", Needs::nothing,
          [](const std::string& file) {
              Testing::makeFolders(std::filesystem::path(file).parent_path().string());
              ::mkfifo(file.c_str(), 0600);
          },
          "the History file is a named pipe" },
        { "a link", Needs::nothing,
          [](const std::string& file) {
              writeFile(file + ".real", line(entry("a")));
              ::symlink((file + ".real").c_str(), file.c_str());
          },
          "the History file is a link, so Gorrin won't follow it" },
        { "a folder", Needs::nothing, [](const std::string& file) { Testing::makeFolders(file); },
          "the History file is a folder" },
        { "a read-only disk", Needs::ownMounts,
          [](const std::string& file) {
              const std::string folder = std::filesystem::path(file).parent_path().string();
              new Testing::Mounted(folder); // gone with the child that mounted it
              writeFile(file, line(entry("a")));
              ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
          },
          "the History file is on a read-only disk" },
        { "a full disk", Needs::ownMounts,
          [](const std::string& file) {
              const std::string folder = std::filesystem::path(file).parent_path().string();
              new Testing::Mounted(folder, {}, "size=64k");
              writeFile(file, "");
              const Platform::Descriptor filler(::open((folder + "/filler").c_str(), O_WRONLY | O_CREAT, 0600));
              const std::string block(4096, 'x');
              while (::write(filler.get(), block.data(), block.size()) > 0) {}
          },
          "the disk is full" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        FakeMachine machine;
        const Mac mac = machine.mac();
        const std::string file = History::path(mac);
        const auto check = [&] {
            row.prepare(file);
            std::error_code ignored;
            const auto before = std::filesystem::is_regular_file(file, ignored) ? readFile(file) : "";
            const std::string why = History::whyNoLineFits(mac);
            const auto after = std::filesystem::is_regular_file(file, ignored) ? readFile(file) : "";
            const bool appended = static_cast<bool>(History::append(entry("b"), mac));
            if (why == row.why && after == before && appended == why.empty())
                return true;
            std::cerr << "\"" << why << "\", " << (after == before ? "unchanged" : "changed") << ", "
                      << (appended ? "appended" : "not appended") << "\n";
            return false;
        };
        if (row.needs == Needs::ordinaryUser && Testing::runningAsRoot())
            Testing::withoutPrivileges(machine.root(), check);
        else if (row.needs == Needs::ownMounts && !Testing::runningAsRoot())
            std::cout << "skipped \"" << row.label << "\": mounting needs root\n";
        else if (row.needs == Needs::ownMounts)
            Testing::withOwnMounts(check);
        else
            EXPECT_TRUE(check());
    }
}

// Run under ThreadSanitizer too (make tsan).
TEST(HistoryAppend, ConcurrentWritersKeepEveryLineWhole)
{
    FakeMachine machine;
    const Mac mac = machine.mac();
    constexpr int writers = 8, perWriter = 500;
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&mac, w] {
            for (int n = 0; n < perWriter; ++n)
                History::append(entry(std::to_string(w) + "-" + std::to_string(n),
                                      { { mac.path("~/Music/a long name/" + std::to_string(n)),
                                          mac.path("~/.Trash/" + std::to_string(n)), std::nullopt, std::nullopt } }),
                                mac);
        });
    }
    for (auto& thread : threads)
        thread.join();
    const auto loaded = History::load(mac);
    ASSERT_EQ(loaded.size(), static_cast<std::size_t>(writers * perWriter));
    std::set<std::string> seen;
    for (const auto& value : loaded)
        seen.insert(value.id);
    EXPECT_EQ(seen.size(), loaded.size());
    const auto text = readFile(History::path(mac));
    EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), loaded.size());
}

// ---- Clean results ----

TEST(CleanResultJson, RoundTripsAndIsStrict)
{
    const CleanResult result { "id",     "Title", CleanResult::Status::wouldDo,
                               "Would.", 7,       { { "/a", "/b", true, std::nullopt } } };
    const auto json = toJson(result);
    EXPECT_EQ(json["status"], "wouldDo");
    EXPECT_EQ(Json::decodeAs<CleanResult>(json), result);
    for (const char* key : { "id", "title", "status", "detail", "bytes", "relocated" }) {
        auto missing = json;
        missing.erase(key);
        EXPECT_THROW(Json::decodeAs<CleanResult>(missing), Json::DecodeError) << key;
    }
    auto unknown = json;
    unknown["status"] = "maybe";
    EXPECT_THROW(Json::decodeAs<CleanResult>(unknown), Json::DecodeError);
    for (auto status : { CleanResult::Status::done, CleanResult::Status::wouldDo, CleanResult::Status::refused,
                         CleanResult::Status::failed })
        EXPECT_EQ(cleanStatusFromRaw(rawValue(status)), status);
}

TEST(HistoryPutBackOffer, OnlyEntriesInForceWithSomethingToBringBack)
{
    const Relocation trashed { "/home/u/a", "/home/u/.local/share/Trash/files/a", std::nullopt, std::nullopt };
    const Relocation copied { "/home/u/a", "/Volumes/B/Moved from Mac/a", std::nullopt, std::nullopt };
    const Mac mac { "", "/home/u", std::nullopt };
    Testing::ScopedEnv data("XDG_DATA_HOME", std::nullopt);
    EXPECT_FALSE(History::offersPutBack(entry("deleted for good"), mac));
    EXPECT_FALSE(History::offersPutBack(entry("copy only", { copied }), mac));
    EXPECT_FALSE(History::offersPutBack(entry("undone", { trashed }, true), mac));
    EXPECT_TRUE(History::offersPutBack(entry("x", { copied, trashed }), mac));
}

// Only what the engine itself put in the user's Trash or parked in a drive's parking folder counts,
// judged on the path as written: a line changed by hand or a folder that merely looks like a Trash
// offers nothing to bring back. Asked for all entries at once, each answer is the same.
TEST(HistoryPutBackOffer, OnlyTheUsersTrashAndADrivesParkingFolder)
{
    Testing::TempDir notATop;
    const std::string uid = std::to_string(::getuid());
    Testing::FakeMachine machine;
    machine.drive("B", "/Volumes/B", 1000, 500);
    const Mac fake = machine.mac();
    const Mac live { "", "/home/u", std::nullopt };
    Testing::ScopedEnv data("XDG_DATA_HOME", std::nullopt);
    const auto at = [&](std::string_view display) { return machine.at(display); };
    const struct {
        const char* name;
        const Mac& mac;
        Relocation relocation;
        bool offered;
    } rows[] = {
        { "fake Trash", fake, { at("~/a"), at("~/.Trash/a"), {}, {} }, true },
        { "deep in the fake Trash", fake, { at("~/a"), at("~/.Trash/f/a"), {}, {} }, true },
        { "the fake Trash itself", fake, { at("~/a"), at("~/.Trash"), {}, {} }, false },
        { "out of the Trash by ..",
          fake,
          { at("~/Desktop/r"), at("~/.Trash/../Documents/report.txt"), {}, {} },
          false },
        { "doubled slash", fake, { at("~/a"), at("~/.Trash//a"), {}, {} }, false },
        { "back to a place by ..", fake, { at("~/Documents/../../../../etc/x"), at("~/.Trash/x"), {}, {} }, false },
        { "back outside the fake machine", fake, { "/etc/x", at("~/.Trash/x"), {}, {} }, false },
        { "a desktop Trash on a fake machine", fake, { at("~/a"), at("~/.local/share/Trash/files/a"), {}, {} }, false },
        { "a .Trash folder on a drive",
          fake,
          { at("~/P/.Trash/s"), at("/Volumes/B/Moved from Mac/P/.Trash/s"), {}, {} },
          false },
        { "a .Trashes folder", fake, { at("~/a"), at("/Volumes/B/.Trashes/501/a"), {}, {} }, false },
        { "parked from iCloud", fake, { at("~/a"), at("/Volumes/B/Removed from iCloud/a"), {}, true }, true },
        { "parked as moved", fake, { at("~/a"), at("/Volumes/B/Moved from Mac/a"), {}, true }, true },
        { "parked elsewhere on the drive", fake, { at("~/a"), at("/Volumes/B/parked/a"), {}, true }, false },
        { "parked on the startup drive", fake, { at("~/a"), at("/Removed from iCloud/a"), {}, true }, false },
        { "parked in the home folder", fake, { at("~/a"), at("~/Removed from iCloud/a"), {}, true }, false },
        { "the parking folder itself", fake, { at("~/a"), at("/Volumes/B/Removed from iCloud"), {}, true }, false },
        { "live desktop Trash", live, { "/home/u/a", "/home/u/.local/share/Trash/files/a", {}, {} }, true },
        { "live ~/.Trash", live, { "/home/u/a", "/home/u/.Trash/a", {}, {} }, false },
        { "live, out of the Trash by ..",
          live,
          { "/home/u/r", "/home/u/.local/share/Trash/files/../../../../Documents/r", {}, {} },
          false },
        { "live relative path", live, { "home/u/a", "/home/u/.local/share/Trash/files/a", {}, {} }, false },
        { "live drive Trash at a mount's top", live, { "/a", "/.Trash-" + uid + "/files/a", {}, {} }, true },
        { "live drive Trash in a folder that is no mount's top",
          live,
          { notATop.path() + "/a", notATop.path() + "/.Trash-" + uid + "/files/a", {}, {} },
          false },
        { "live shared drive Trash at a mount's top", live, { "/b", "/.Trash/" + uid + "/files/b", {}, {} }, true },
    };
    std::vector<HistoryEntry> fakeEntries, liveEntries;
    std::vector<bool> fakeOffers, liveOffers;
    for (const auto& row : rows) {
        const HistoryEntry one = entry("x", { row.relocation });
        EXPECT_EQ(History::offersPutBack(one, row.mac), row.offered) << row.name;
        EXPECT_EQ(Cleaner::putBackSet(one, row.mac).size(), row.offered ? 1u : 0u) << row.name;
        (&row.mac == &fake ? fakeEntries : liveEntries).push_back(one);
        (&row.mac == &fake ? fakeOffers : liveOffers).push_back(row.offered);
    }
    EXPECT_EQ(History::offersPutBack(fakeEntries, fake), fakeOffers);
    EXPECT_EQ(History::offersPutBack(liveEntries, live), liveOffers);
}

} // namespace
