// A clean-up killed part way through a finding: History names exactly what is in the Trash, as one
// entry, and Put Back brings all of it home.

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"
#include "Support/TreeSnapshot.h"

using namespace Quandril;
using namespace Quandril::Testing;
using Status = CleanResult::Status;
namespace fs = std::filesystem;

namespace {

struct Cleanup {
    FakeMachine machine;
    Catalog catalog = guardedCatalog();

    Cleanup()
    {
        machine.file("~/Library/Caches/a/1.bin", 3000).file("~/Library/Caches/a/sub/2.bin", 100);
        machine.file("~/Library/Caches/b b/3.bin", 2000).file("~/Library/Caches/c\u00e9/4.bin", 1000);
        machine.file("~/Library/Caches/d/5.bin", 500);
        auto caches = place("caches", "~/Library/Caches/*");
        caches.tier = Tier::rebuilds;
        caches.action = Action::trash();
        catalog.places = { caches };
    }

    std::vector<std::string> inTrash() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(machine.at("~/.Trash")))
            names.push_back(entry.path().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

bool check(bool ok, const std::string& what)
{
    if (!ok)
        std::cerr << "not so: " << what << "\n";
    return ok;
}

// Killed while the item after the `k`-th is going to the Trash (a long copy across drives keeps
// that moment open): the child tells when it got there, then waits to be killed.
bool killedAfter(int k)
{
    Cleanup cleanup;
    const Mac mac = cleanup.machine.mac();
    const auto before = TreeSnapshot::take(cleanup.machine.at("~/Library/Caches"));
    int ready[2];
    if (::pipe(ready) != 0)
        return check(false, "a pipe");
    const pid_t child = ::fork();
    if (child == 0) {
        auto files = std::make_shared<FaultyFileOps>();
        files->before([&, trashed = 0](const FileOpCall& call, int) mutable {
            if (call.op != FileOp::trash || ++trashed <= k)
                return;
            (void)!::write(ready[1], "k", 1);
            for (;;)
                ::pause();
        });
        Cleaner::clean({ "caches" }, mac, cleanup.catalog, optionsWith(files));
        std::_Exit(3);
    }
    char byte = 0;
    const bool reached = ::read(ready[0], &byte, 1) == 1;
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    bool ok = check(reached && WIFSIGNALED(status), "killed while trashing item " + std::to_string(k + 1));

    const auto history = History::load(mac);
    ok = check(history.size() == 1, "one entry for the clean-up, not " + std::to_string(history.size())) && ok;
    if (!ok)
        return false;
    std::vector<std::string> named;
    for (const auto& relocation : history[0].relocated)
        named.push_back(relocation.to);
    std::sort(named.begin(), named.end());
    ok = check(named == cleanup.inTrash() && named.size() == std::size_t(k), "History names what is in the Trash")
        && ok;
    ok = check(History::offersPutBack(history[0], mac), "Put Back is offered") && ok;

    const auto back = Cleaner::undo("caches", mac, false);
    ok = check(back.status == Status::done && back.relocated.size() == std::size_t(k), "put back: " + back.detail)
        && ok;
    ok = check(before.differences().empty() && cleanup.inTrash().empty(), "every item home, the Trash empty") && ok;
    return ok;
}

TEST(CleanerKilled, HistoryNamesWhatLeftItsPlaceAndPutBackBringsItHome)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const int k : { 1, 3 }) {
        SCOPED_TRACE(k);
        EXPECT_EXIT(std::_Exit(killedAfter(k) ? 0 : 1), ::testing::ExitedWithCode(0), "");
    }
}

// The lines a finding's clean-up writes as it goes read as the one line it used to write: the
// same relocations in the same order, the bytes of the whole; a finding of one item is one line.
TEST(CleanerKilled, ACleanUpRunToTheEndReadsAsOneEntry)
{
    for (const bool several : { false, true }) {
        Cleanup cleanup;
        if (!several) {
            auto one = place("caches", "~/Library/Caches/a");
            one.tier = Tier::rebuilds;
            one.action = Action::trash();
            cleanup.catalog.places = { one };
        }
        const Mac mac = cleanup.machine.mac();
        const auto results = Cleaner::clean({ "caches" }, mac, cleanup.catalog, optionsWith(nullptr));
        ASSERT_EQ(results.size(), 1u);
        ASSERT_EQ(results[0].status, Status::done) << results[0].detail;
        const auto history = History::load(mac);
        ASSERT_EQ(history.size(), 1u);
        EXPECT_EQ(movesOf(history[0].relocated), results[0].relocated);
        EXPECT_EQ(history[0].bytes, results[0].bytes);
        EXPECT_EQ(history[0].run, std::nullopt);
        const std::string text = readFile(History::path(mac));
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), several ? 4 : 1);
        EXPECT_EQ(text.find("\"run\"") == std::string::npos, !several);
    }
}

} // namespace
