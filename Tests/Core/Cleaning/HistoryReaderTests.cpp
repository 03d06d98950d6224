// History read as one entry per clean-up, whether its lines came whole or item by item, and the
// reader that follows the file from its end giving what load() gives.

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Cleaning/HistoryReader.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "Support/FakeMachine.h"

using namespace Quandril;
using Quandril::Testing::FakeMachine;
namespace fs = std::filesystem;

namespace {

// One line: `run` "token.n" for a clean-up written item by item; `second` tells clean-ups apart.
std::string line(const std::string& id, int second, const std::string& run = {}, bool marker = false,
                 std::int64_t bytes = 10)
{
    HistoryEntry entry { *Platform::parseIso8601("2025-03-04T05:06:07Z") + std::chrono::seconds(second),
                         id,
                         "Title of " + id,
                         Action::Kind::trash,
                         bytes,
                         { { "/Users/me/" + id + "/" + std::to_string(second) + run,
                             "/Users/me/.Trash/" + id + std::to_string(second) + run,
                             {},
                             {} } },
                         marker ? std::optional<bool>(true) : std::nullopt };
    if (!run.empty())
        entry.run = run;
    return *History::encodeLine(entry) + "\n";
}

std::string marker(const std::string& id, int second)
{
    return line(id, second, {}, true);
}

// Each entry as "id*" (undone), its relocation count and bytes.
std::vector<std::string> summary(const std::vector<HistoryEntry>& entries)
{
    std::vector<std::string> out;
    for (const auto& entry : entries)
        out.push_back(entry.id + (entry.isUndone() ? "*" : "") + " " + std::to_string(entry.relocated.size()) + " "
                      + std::to_string(entry.bytes));
    return out;
}

TEST(HistoryRuns, TheLinesOfOneCleanUpAreOneEntryUntilAMarkerLineOfItsID)
{
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> entries;
    } rows[] = {
        { "older lines, each whole", line("a", 1) + line("b", 2) + marker("a", 3), { "a* 1 10", "b 1 10", "a* 1 10" } },
        { "item by item, with others between",
          line("a", 1, "t.1") + line("b", 2) + line("a", 1, "t.2") + line("a", 1, "t.3", false, 5),
          { "a 3 25", "b 1 10" } },
        { "a marker line between begins another entry",
          line("a", 1, "t.1") + marker("a", 2) + line("a", 1, "t.2") + line("a", 1, "t.3"),
          { "a* 1 10", "a* 1 10", "a 2 20" } },
        { "another clean-up's token, or time, is another entry",
          line("a", 1, "t.1") + line("a", 1, "u.2") + line("a", 2, "t.2"),
          { "a 1 10", "a 1 10", "a 1 10" } },
        { "a line continuing no clean-up is one of its own", line("a", 1, "t.2") + line("a", 1, "t.3"), { "a 2 20" } },
        { "a damaged run key is a line of its own", line("a", 1, "t.1") + line("a", 1, "t.x"), { "a 1 10", "a 1 10" } },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto entries = History::parse(row.text);
        EXPECT_EQ(summary(entries), row.entries);
        for (const auto& entry : entries)
            EXPECT_EQ(entry.run, std::nullopt);
    }
}

// What happens to the file before the reader is asked again.
struct Step {
    std::function<void(const std::string& file)> change;
    std::vector<std::size_t> counts;
};

void append(const std::string& file, const std::string& text)
{
    std::FILE* out = std::fopen(file.c_str(), "ab");
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
}

Step adding(std::string text, std::vector<std::size_t> counts)
{
    return { [text = std::move(text)](const std::string& file) { append(file, text); }, std::move(counts) };
}

// Many clean-ups, some written item by item with their lines far apart (past the reader's blocks),
// some put back.
std::string years(int cleanups, int from = 0, int markerEvery = 17)
{
    std::string text;
    for (int i = from; i < from + cleanups; ++i) {
        const std::string id = "id" + std::to_string(i % 13);
        const std::string token = "r" + std::to_string(i);
        text += i % 3 == 0 ? line(id, i, token + ".1") : line(id, i);
        if (i % 3 == 0 && i >= 600)
            text += line("id" + std::to_string((i - 600) % 13), i - 600, "r" + std::to_string(i - 600) + ".2");
        if (i % 3 == 0 && i >= 1500)
            text += line("id" + std::to_string((i - 1500) % 13), i - 1500, "r" + std::to_string(i - 1500) + ".3");
        if (i % markerEvery == 5)
            text += marker("id" + std::to_string(i % 13), i);
    }
    return text;
}

TEST(HistoryReader, GivesTheNewestEntriesAsLoadDoes)
{
    const struct {
        const char* name;
        std::vector<Step> steps;
    } rows[] = {
        { "appended lines, markers and further items of a clean-up already given",
          { adding(line("a", 1, "t.1") + line("b", 2) + line("c", 3), { 2, 10 }),
            adding(line("a", 1, "t.2") + marker("b", 4) + line("d", 5), { 2, 3, 10 }),
            adding(line("a", 1, "t.3") + marker("a", 6) + line("a", 1, "t.4"), { 1, 10 }) } },
        { "item lines across block edges", { adding(years(2400), { 1, 7, 150, 700, 5000 }) } },
        { "further items of a clean-up older than those held",
          { adding(years(900, 0, 101), { 5 }),
            adding(years(1, 5000) + line("id0", 858, "r858.2") + line("id1", 66, "r66.3") + marker("id2", 9000),
                   { 5, 400, 2000 }) } },
        { "a replaced file",
          { adding(years(40), { 5 }),
            { [](const std::string& file) {
                 const std::string other = file + ".new";
                 append(other, line("x", 1) + line("y", 2));
                 fs::rename(other, file);
             },
              { 5 } } } },
        { "a file cut short",
          { adding(years(40), { 5 }),
            { [](const std::string& file) { fs::resize_file(file, 0); }, { 5 } },
            adding(line("z", 1), { 5 }) } },
        { "damaged lines",
          { adding(line("a", 1) + "{not json\n\xff\xfe\n\n" + line("b", 2, "t.1") + "garbage\n" + line("b", 2, "t.2"),
                   { 1, 5 }) } },
        { "a line cut short at the end shows once it is whole",
          { adding(line("a", 1) + line("b", 2).substr(0, 30), { 5 }), adding(line("b", 2).substr(30), { 5 }),
            adding(line("c", 3), { 1, 5 }) } },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeMachine machine;
        const Mac mac = machine.mac();
        const std::string file = History::path(mac);
        fs::create_directories(fs::path(file).parent_path());
        History::Reader reader(mac);
        for (std::size_t step = 0; step < row.steps.size(); ++step) {
            row.steps[step].change(file);
            auto expected = History::load(mac);
            std::reverse(expected.begin(), expected.end());
            for (const std::size_t count : row.steps[step].counts) {
                SCOPED_TRACE("step " + std::to_string(step) + ", newest " + std::to_string(count));
                const auto got = reader.newest(count);
                const std::vector<HistoryEntry> newest(expected.begin(),
                                                       expected.begin()
                                                           + std::ptrdiff_t(std::min(count, expected.size())));
                EXPECT_EQ(summary(got.entries), summary(newest));
                EXPECT_TRUE(got.entries == newest);
                EXPECT_EQ(got.whyNot, "");
                EXPECT_EQ(reader.hasOlder(), expected.size() > count);
            }
        }
    }
}

TEST(HistoryReader, NeverFollowsALinkNorWaitsOnAPipe)
{
    for (const bool pipe : { false, true }) {
        FakeMachine machine;
        const Mac mac = machine.mac();
        const std::string file = History::path(mac);
        fs::create_directories(fs::path(file).parent_path());
        const std::string elsewhere = machine.at("~/elsewhere.jsonl");
        append(elsewhere, line("a", 1));
        ASSERT_EQ(pipe ? ::mkfifo(file.c_str(), 0600) : ::symlink(elsewhere.c_str(), file.c_str()), 0);
        History::Reader reader(mac);
        const auto got = reader.newest(5);
        EXPECT_EQ(got.entries, std::vector<HistoryEntry> {});
        EXPECT_EQ(got.whyNot, History::read(mac).whyNot);
        EXPECT_NE(got.whyNot, "");
    }
}

} // namespace
