// A copy into the Trash across mounts that is killed part way leaves its partial copy in the
// Trash's files folder and the record it reserved; the next use of that Trash takes both, and
// nothing of anyone else's. This executable moves into a mount namespace of its own before any
// test runs, so its mounts are seen by no other process.

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Platform/PartialCopy.h"
#include "QuandrilCore/Platform/Stop.h"
#include "QuandrilCore/Platform/Token.h"
#include "QuandrilCore/Platform/Trash.h"
#include "Support/LiveHome.h"
#include "Support/OwnMounts.h"
#include "Support/TrashClient.h"

using namespace Quandril;
using namespace Quandril::Testing;

namespace {

// Before main, while the process has one thread.
const bool ownMounts = enterOwnMounts();

std::vector<std::string> sortedNames(const std::string& folder)
{
    auto names = listNames(folder);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

std::string shapedName(const std::string& name)
{
    return "." + name + ".gorrin-partial-" + Platform::Token::random().text();
}

// The item's name, whole in its partial copy's name or cut short there (longer than it keeps).
class KilledCopyIntoTheTrash : public ::testing::TestWithParam<std::string> {};

TEST_P(KilledCopyIntoTheTrash, IsReclaimedWithItsRecordByTheNextUse)
{
    NEEDS_OWN_MOUNTS();
    NEEDS_TRASH_CLI();
    LiveHome h;
    const std::string& name = GetParam();
    const std::string caches = h.at("Caches"), cache = caches + "/" + name;
    writeFile(cache + "/a.bin", std::string(1 << 20, 'a'));
    writeFile(cache + "/b.bin", std::string(12 << 20, 'b'));
    writeFile(caches + "/small.txt", "small");
    // ~/Caches mounted again on itself: a rename out of it fails, so the Trash gets a copy.
    const Mounted again(caches, caches);
    const std::string trash = h.trash(), files = trash + "/files", info = trash + "/info";

    // Names of our partial copies' shape that aren't ours to take: items trash-put put in the Trash
    // (a lock-shaped twin too), another user's partial copy, one a running move holds, and one whose
    // record was written after its lock (its name reserved anew by another client).
    const std::string shaped = shapedName("note.txt");
    writeFile(h.at("Desktop/a/" + shaped), "in the Trash");
    writeFile(h.at("Desktop/b/" + shaped + ".lock"), "");
    ASSERT_TRUE(runTool({ "trash-put", h.at("Desktop/a/" + shaped), h.at("Desktop/b/" + shaped + ".lock") }));
    const std::string foreign = shapedName("theirs");
    writeFile(files + "/" + foreign + "/x", "theirs");
    writeFile(files + "/" + foreign + ".lock", "");
    ASSERT_EQ(::chown((files + "/" + foreign + ".lock").c_str(), 65534, 65534), 0);
    const Platform::HeldPartial running(files + "/Running");
    writeFile(files + "/" + running.name() + "/x", "running");
    const std::string reserved = shapedName("reserved.txt");
    writeFile(files + "/" + reserved + "/x", "ours, stale");
    writeFile(files + "/" + reserved + ".lock", "");
    writeFile(info + "/reserved.txt.trashinfo", "[Trash Info]\nPath=" + h.at("reserved.txt") + "\n");
    const struct timespec later[2] = { { 0, UTIME_OMIT }, { ::time(nullptr) + 60, 0 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, (info + "/reserved.txt.trashinfo").c_str(), later, 0), 0);

    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            Platform::Token::random(); // a token of its own, as another process draws
            // Killed the first time the copy asks whether to stop: a few MiB into it.
            const Platform::StopInForce killed([] {
                ::raise(SIGKILL);
                return false;
            });
            Platform::moveToTrash(cache, h.mac.home);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGKILL), "");
    const auto left = sortedNames(files);
    ASSERT_TRUE(std::any_of(left.begin(), left.end(), [&](const std::string& entry) {
        return entry.starts_with("." + name.substr(0, 20)) && Platform::isPartialName(entry);
    })) << "killed during its copy";

    const std::string small = Platform::moveToTrash(caches + "/small.txt", h.mac.home);
    const std::string whole = Platform::moveToTrash(cache, h.mac.home);
    EXPECT_EQ((std::vector<std::string> {
                  small, whole, readFile(whole + "/b.bin") == std::string(12 << 20, 'b') ? "whole" : "not whole" }),
              (std::vector<std::string> { files + "/small.txt", files + "/" + name, "whole" }));
    EXPECT_EQ(sortedNames(files),
              sorted({ shaped, shaped + ".lock", foreign, foreign + ".lock", running.name(), running.name() + ".lock",
                       name, "small.txt" }));
    EXPECT_EQ(h.listed(),
              sorted({ cache, caches + "/small.txt", h.at("Desktop/a/" + shaped), h.at("Desktop/b/" + shaped + ".lock"),
                       h.at("reserved.txt") }));
}

INSTANTIATE_TEST_SUITE_P(
    Trash, KilledCopyIntoTheTrash,
    ::testing::Values("Cache", std::string(120, 'x') + std::string(60, 'e') + "\xC3\xA9" + std::string(40, 'z')),
    [](const auto& info) { return info.param == "Cache" ? "whole" : "cut"; });

} // namespace
