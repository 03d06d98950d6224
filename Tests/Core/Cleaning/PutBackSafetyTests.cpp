#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Platform/PathText.h"
#include "Support/CaseName.h"
#include "Support/CleanPrinting.h"
#include "Support/FaultyFileOps.h"
#include "Support/PutBackScene.h"
#include "Support/SystemState.h"
#include "Support/TreeSnapshot.h"

using namespace Quandril;
using Quandril::Testing::CaseNamed;
using Quandril::Testing::FaultyFileOps;
using Quandril::Testing::FileOp;
using Quandril::Testing::historyLines;
using Quandril::Testing::present;
using Quandril::Testing::readFile;
using Quandril::Testing::reversed;
using Quandril::Testing::Scene;
using Quandril::Testing::TempDir;
using Quandril::Testing::TreeSnapshot;
using Quandril::Testing::writeFile;
using Status = CleanResult::Status;
namespace fs = std::filesystem;

namespace {

// ---- The privileged fallbacks on the live machine ----

// A live machine whose home is a temporary folder, so the password path can be exercised: the
// fault-injecting operations run the privileged line as this user.
struct LiveScene {
    TempDir dir;
    Testing::ScopedEnv data { "XDG_DATA_HOME", std::nullopt };
    Mac mac { "", dir.path() + "/home", std::nullopt };
    std::string item = dir.path() + "/home/Documents/letter.txt";
    std::string trashed = dir.path() + "/home/.local/share/Trash/files/letter.txt";

    LiveScene()
    {
        writeFile(trashed, "dear");
        writeFile(dir.path() + "/home/.local/share/Trash/info/letter.txt.trashinfo",
                  "[Trash Info]\nPath=" + item + "\nDeletionDate=2020-01-02T03:04:05\n");
        Testing::makeFolders(dir.path() + "/home/Documents");
        HistoryEntry entry {
            Clock::now(), "letter", "Letter", Action::Kind::trash, 4, { { item, trashed, {}, {} } }, {}
        };
        History::append(entry, mac);
    }
};

struct AdminCase {
    const char* name;
    bool adminRuns;
    std::function<void(const LiveScene&)> meanwhile; // right before the privileged line runs
    Status status;
    std::string back; // what is at the old place afterwards ("dir" for a folder)
    bool stillInTrash;
};

class PutBackAsAdmin : public ::testing::TestWithParam<AdminCase> {};

TEST_P(PutBackAsAdmin, NeverReplacesNorMovesIntoAnything)
{
    const auto& row = GetParam();
    LiveScene scene;
    FaultyFileOps faulty;
    faulty.failAll(FileOp::moveNoReplace, EACCES).adminAnswer(row.adminRuns);
    faulty.before([&](const Testing::FileOpCall& call, int) {
        if (call.op == FileOp::runAsAdmin && row.meanwhile)
            row.meanwhile(scene);
    });
    const auto result = Cleaner::undo("letter", scene.mac, false, faulty);
    EXPECT_EQ(result.status, row.status) << result.detail;
    ASSERT_EQ(faulty.adminLines().size(), 1u);
    EXPECT_NE(faulty.adminLines()[0].find("'/bin/mv' '-n' '-T' '--' '" + scene.trashed + "' '" + scene.item + "'"),
              std::string::npos)
        << faulty.adminLines()[0];
    if (row.back == "dir") {
        EXPECT_TRUE(fs::is_directory(scene.item));
        EXPECT_TRUE(fs::is_empty(scene.item));
    } else if (row.back.empty()) {
        EXPECT_FALSE(present(scene.item));
    } else {
        EXPECT_EQ(readFile(scene.item), row.back);
    }
    EXPECT_EQ(present(scene.trashed), row.stillInTrash);
    if (row.status == Status::done)
        EXPECT_EQ(result.relocated, (std::vector<Relocation> { { scene.trashed, scene.item, {}, {} } }));
    else
        EXPECT_EQ(result.detail.rfind("Couldn't put back ~/Documents/letter.txt: ", 0), 0u) << result.detail;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PutBackAsAdmin,
    ::testing::Values(AdminCase { "moves it when the plain move is refused", true, {}, Status::done, "dear", false },
                      AdminCase { "password refused", false, {}, Status::failed, "", true },
                      AdminCase { "a file appears at the old place", true,
                                  [](const LiveScene& s) { writeFile(s.item, "newer"); }, Status::failed, "newer",
                                  true },
                      AdminCase { "a folder appears at the old place", true,
                                  [](const LiveScene& s) { Testing::makeFolders(s.item); }, Status::failed, "dir",
                                  true }),
    CaseNamed {});

TEST(PutBackAsAdmin, RemovesOnlyALink)
{
    for (bool replaced : { false, true }) {
        SCOPED_TRACE(replaced ? "link replaced by a file" : "link");
        LiveScene scene;
        const std::string copy = scene.dir.path() + "/drive/letter.txt";
        writeFile(copy, "dear");
        ASSERT_EQ(::symlink(copy.c_str(), scene.item.c_str()), 0);
        History::append(HistoryEntry { Clock::now(),
                                       "linked",
                                       "Linked",
                                       Action::Kind::handOff,
                                       4,
                                       { { scene.item, copy, {}, {} },
                                         { scene.item, scene.trashed, {}, {} },
                                         { scene.item, copy, true, {} } },
                                       {} },
                        scene.mac);
        FaultyFileOps faulty;
        faulty.failAll(FileOp::removeLink, EPERM).adminAnswer(true);
        faulty.before([&](const Testing::FileOpCall& call, int) {
            if (call.op == FileOp::runAsAdmin && replaced) {
                ::unlink(scene.item.c_str());
                writeFile(scene.item, "written meanwhile");
            }
        });
        const auto result = Cleaner::undo("linked", scene.mac, false, faulty);
        if (replaced) {
            EXPECT_EQ(result.status, Status::failed);
            EXPECT_EQ(result.detail, "Couldn't remove the link at ~/Documents/letter.txt.");
            EXPECT_EQ(readFile(scene.item), "written meanwhile");
            EXPECT_TRUE(present(scene.trashed));
        } else {
            EXPECT_EQ(result.status, Status::done) << result.detail;
            EXPECT_EQ(readFile(scene.item), "dear");
            EXPECT_FALSE(isSymlink(scene.item));
        }
        EXPECT_EQ(readFile(copy), "dear");
    }
}

// ---- A link on the way back ----

struct LinkWayCase {
    const char* name;
    std::string swapped;          // the folder that becomes a link to a copy of it outside the machine
    std::optional<FileOp> before; // swapped right before this operation; before Put Back when absent
};

class PutBackThroughALink : public ::testing::TestWithParam<LinkWayCase> {};

TEST_P(PutBackThroughALink, IsRefusedAndMovesNothing)
{
    const auto& row = GetParam();
    Scene scene;
    TempDir outside;
    const HistoryEntry entry = scene.trashed("docs", { "~/Documents/report.txt" });
    // The twin holds what the folder holds, so a move through the link would go through.
    const std::string folder = scene.at(row.swapped), twin = outside.path() + "/twin";
    fs::copy(folder, twin, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    const auto outsideBefore = TreeSnapshot::take(outside.path());
    const auto swap = [&] {
        fs::rename(folder, folder + ".away");
        fs::create_directory_symlink(twin, folder);
    };
    FaultyFileOps faulty;
    if (row.before) {
        faulty.before([&](const Testing::FileOpCall& call, int) {
            if (call.op == *row.before)
                swap();
        });
    } else {
        swap();
    }

    EXPECT_EQ(Cleaner::undo("docs", scene.mac, false, faulty),
              (CleanResult { "docs",
                             entry.title,
                             Status::refused,
                             "The way back to ~/Documents/report.txt goes through a link at " + row.swapped
                                 + ", so it wasn't put back.",
                             entry.bytes,
                             {} }));
    if (!row.before) {
        EXPECT_TRUE(faulty.calls().empty());
    }
    EXPECT_EQ(outsideBefore.differences(), std::vector<std::string> {});
    fs::remove(folder);
    fs::rename(folder + ".away", folder);
    EXPECT_EQ(readFile(entry.relocated.at(0).to), "quarterly\n");
    EXPECT_FALSE(present(scene.at("~/Documents/report.txt")));
    EXPECT_FALSE(History::load(scene.mac).back().isUndone());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PutBackThroughALink,
    ::testing::Values(LinkWayCase { "old place a link from the start", "~/Documents", std::nullopt },
                      LinkWayCase { "old place swapped before its folder is made", "~/Documents",
                                    FileOp::createFolder },
                      LinkWayCase { "old place swapped before the move", "~/Documents", FileOp::moveNoReplace },
                      LinkWayCase { "Trash a link from the start", "~/.Trash", std::nullopt },
                      LinkWayCase { "Trash swapped before the move", "~/.Trash", FileOp::moveNoReplace }),
    CaseNamed {});

// ---- Only what went to this user's Trash, or was parked, moves ----

struct TrustCase {
    const char* name;
    std::function<HistoryEntry(Scene&)> record;
    std::function<CleanResult(const Scene&, const HistoryEntry&)> expected;
};

CleanResult refusal(const HistoryEntry& entry, std::string detail)
{
    return CleanResult { entry.id, entry.title, Status::refused, std::move(detail), entry.bytes, {} };
}

// A folder inside a drive copy named like a Trash: ~/Projects/.Trash/stuff moved to the drive.
HistoryEntry lookalike(Scene& s, bool withTrashedOriginal)
{
    s.machine.text("~/Projects/.Trash/stuff/x.txt", "mine");
    const std::string item = s.at("~/Projects/.Trash/stuff");
    const std::string copy = s.at("/Volumes/Backup/Moved from Mac/Projects/.Trash/stuff");
    FileOps::live().createFolder(Platform::parentOf(copy));
    FileOps::live().copy(item, copy);
    std::vector<Relocation> records { { item, copy, {}, {} } };
    if (withTrashedOriginal)
        records.push_back({ item, FileOps::live().trash(s.mac, item), {}, {} });
    return s.record("projects", records);
}

class PutBackTrusts : public ::testing::TestWithParam<TrustCase> {};

TEST_P(PutBackTrusts, OnlyTheUsersTrashAndParkingFolders)
{
    const auto& row = GetParam();
    Scene scene;
    const HistoryEntry entry = row.record(scene);
    const auto before = TreeSnapshot::take(scene.machine.root());
    const auto expected = row.expected(scene, entry);
    const auto result = Cleaner::undo(entry.id, scene.mac, false);
    EXPECT_EQ(result, expected);
    EXPECT_EQ(before.lost(std::set<std::string> { "Users/me/Library/Application Support/Quandril/history.jsonl" }),
              std::vector<std::string> {});
    if (expected.status != Status::done) {
        EXPECT_EQ(before.differences(), std::vector<std::string> {});
        return;
    }
    for (const auto& relocation : entry.relocated) {
        const bool movedBack = std::find(result.relocated.begin(), result.relocated.end(),
                                         Relocation { relocation.to, relocation.from, {}, {} })
            != result.relocated.end();
        EXPECT_EQ(present(relocation.to), !movedBack) << relocation.to;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PutBackTrusts,
    ::testing::Values(
        TrustCase {
            "out of the Trash by ..",
            [](Scene& s) {
                return s.record("tampered",
                                { { s.at("~/Desktop/report.txt"), s.at("~/.Trash/../Documents/report.txt"), {}, {} } });
            },
            [](const Scene&, const HistoryEntry& e) {
                return refusal(e,
                               "History's line for this names ~/.Trash/../Documents/report.txt, which "
                               "isn't a plain path on this Mac, so nothing was put back.");
            } },
        TrustCase {
            "a drive copy holding a .Trash folder", [](Scene& s) { return lookalike(s, true); },
            [](const Scene&, const HistoryEntry& e) {
                return CleanResult { e.id,         e.title,
                                     Status::done, "Put back where it was.",
                                     e.bytes,      { { e.relocated.at(1).to, e.relocated.at(1).from, {}, {} } } };
            } },
        TrustCase { "only the drive copy holding a .Trash folder", [](Scene& s) { return lookalike(s, false); },
                    [](const Scene&, const HistoryEntry& e) {
                        return refusal(e,
                                       "Nothing went to the Trash; moved files are on the drive at "
                                       "/Volumes/Backup/Moved from Mac/Projects/.Trash/stuff.");
                    } }),
    CaseNamed {});

// ---- Putting back in any order ----

// An older clean-up ("inner") trashed items inside ~/Documents/Project, a newer one ("outer") the
// folder itself. Each step puts one of them back.
struct OrderStep {
    std::string id;
    Status status;
    std::function<void(Scene&)> before = {};
    bool moveFails = false;
};

struct OrderCase {
    const char* name;
    std::vector<std::string> inner;
    std::function<void(Scene&)> betweenCleanUps;
    std::vector<OrderStep> steps;
    bool restored; // ~/Documents is as it was at the end
};

class PutBackInAnyOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(PutBackInAnyOrder, NeverBlocksTheOther)
{
    const auto& row = GetParam();
    Scene scene;
    const auto documents = TreeSnapshot::take(scene.at("~/Documents"));
    const auto everything = TreeSnapshot::take(scene.machine.root());
    scene.trashed("inner", row.inner);
    if (row.betweenCleanUps)
        row.betweenCleanUps(scene);
    scene.trashed("outer", { "~/Documents/Project" });

    for (const auto& step : row.steps) {
        if (step.before)
            step.before(scene);
        FaultyFileOps faulty;
        if (step.moveFails)
            faulty.failAt(1, FileOp::moveNoReplace);
        const auto result = Cleaner::undo(step.id, scene.mac, false, faulty);
        EXPECT_EQ(result.status, step.status) << step.id << ": " << result.detail;
        if (result.status == Status::refused) {
            EXPECT_EQ(result.detail, "Something new is already at ~/Documents/Project.");
        }
    }
    EXPECT_EQ(everything.lost(), std::vector<std::string> {});
    if (row.restored) {
        EXPECT_EQ(documents.differences(), std::vector<std::string> {});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PutBackInAnyOrder,
    ::testing::Values(
        OrderCase { "inner first",
                    { "~/Documents/Project/notes.md" },
                    {},
                    { { "inner", Status::done }, { "outer", Status::done } },
                    true },
        OrderCase { "inner items deep and at the top",
                    { "~/Documents/Project/bin/run.sh", "~/Documents/Project/notes.md" },
                    {},
                    { { "inner", Status::done }, { "outer", Status::done } },
                    true },
        OrderCase { "an empty folder left by a failed put back",
                    { "~/Documents/Project/bin/run.sh" },
                    {},
                    { { "inner", Status::failed, {}, true }, { "outer", Status::done }, { "inner", Status::done } },
                    true },
        OrderCase {
            "something new in the folder Put Back made",
            { "~/Documents/Project/notes.md" },
            {},
            { { "inner", Status::done },
              { "outer", Status::refused, [](Scene& s) { s.machine.text("~/Documents/Project/new.txt", "new"); } } },
            false },
        OrderCase { "the same name in both",
                    { "~/Documents/Project/notes.md" },
                    [](Scene& s) { s.machine.text("~/Documents/Project/notes.md", "made again"); },
                    { { "inner", Status::done }, { "outer", Status::refused } },
                    false }),
    CaseNamed {});

// Whatever step of putting the folder back over the one Put Back made fails, the item put back
// before stays where it is, the folder stays in the Trash, and trying again brings it back.
TEST(PutBackInAnyOrder, AFailedStepOfTheMergeLosesNothing)
{
    const auto prepare = [](Scene& scene) {
        scene.trashed("inner", { "~/Documents/Project/bin/run.sh", "~/Documents/Project/notes.md" });
        scene.trashed("outer", { "~/Documents/Project" });
        EXPECT_EQ(Cleaner::undo("inner", scene.mac, false).status, Status::done);
    };
    int operations = 0;
    {
        Scene scene;
        prepare(scene);
        FaultyFileOps counting;
        ASSERT_EQ(Cleaner::undo("outer", scene.mac, false, counting).status, Status::done);
        operations = static_cast<int>(counting.calls().size());
        ASSERT_GT(operations, 1);
    }
    for (int k = 1; k <= operations; ++k) {
        SCOPED_TRACE("operation " + std::to_string(k));
        Scene scene;
        const auto documents = TreeSnapshot::take(scene.at("~/Documents"));
        prepare(scene);
        std::string trashed;
        for (const auto& entry : History::load(scene.mac))
            if (entry.id == "outer")
                trashed = entry.relocated.at(0).to;
        FaultyFileOps faulty;
        faulty.failAt(k);
        const auto result = Cleaner::undo("outer", scene.mac, false, faulty);
        EXPECT_EQ(result.status, Status::failed);
        EXPECT_EQ(result.detail.rfind("Couldn't put back ~/Documents/Project: planted failure", 0), 0u)
            << result.detail;
        EXPECT_EQ(readFile(scene.at("~/Documents/Project/bin/run.sh")), "#!/bin/sh\n");
        EXPECT_EQ(readFile(scene.at("~/Documents/Project/notes.md")), "# notes\n");
        EXPECT_TRUE(fs::is_directory(trashed));
        EXPECT_EQ(Cleaner::undo("outer", scene.mac, false).status, Status::done);
        EXPECT_EQ(documents.differences(), std::vector<std::string> {});
    }
}

// ---- A folder standing at a trashed folder's old place ----

// Only a folder holding an item another put-back returned was made by Put Back; any other folder,
// even an empty one an app made again, is something new and stays as it is, the Trash item too.
struct FolderThereCase {
    const char* name;
    std::function<std::string(Scene&)> prepare; // leaves the folder in place; the id to put back
    std::optional<std::string> taken;           // the display path refused as something new
};

class PutBackOverAFolder : public ::testing::TestWithParam<FolderThereCase> {};

TEST_P(PutBackOverAFolder, MergesOnlyIntoWhatPutBackMade)
{
    const auto& row = GetParam();
    Scene scene;
    const auto documents = TreeSnapshot::take(scene.at("~/Documents"));
    const std::string id = row.prepare(scene);
    HistoryEntry entry;
    for (const auto& line : History::load(scene.mac))
        if (line.id == id)
            entry = line;
    const auto before = TreeSnapshot::take(scene.machine.root());
    const auto lines = historyLines(scene.mac);

    const auto result = Cleaner::undo(id, scene.mac, false);
    if (row.taken) {
        EXPECT_EQ(result,
                  (CleanResult { id,
                                 entry.title,
                                 Status::refused,
                                 "Something new is already at " + *row.taken + ".",
                                 entry.bytes,
                                 {} }));
        EXPECT_EQ(before.differences(), std::vector<std::string> {});
        EXPECT_EQ(historyLines(scene.mac), lines);
    } else {
        EXPECT_EQ(result,
                  (CleanResult { id, entry.title, Status::done, "Put back where it was.", entry.bytes,
                                 reversed(Cleaner::putBackSet(entry, scene.mac)) }));
        EXPECT_EQ(documents.differences(), std::vector<std::string> {});
    }
}

std::string cacheMadeAgain(Scene& s, const std::vector<std::string>& inside)
{
    s.machine.file("~/Library/Caches/com.example.app/fsCachedData/a.db", 700)
        .file("~/Library/Caches/com.example.app/b", 9);
    s.trashed("caches", { "~/Library/Caches/com.example.app" });
    s.machine.folder("~/Library/Caches/com.example.app");
    for (const auto& folder : inside)
        s.machine.folder("~/Library/Caches/com.example.app/" + folder);
    return "caches";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PutBackOverAFolder,
    ::testing::Values(FolderThereCase { "an empty folder", [](Scene& s) { return cacheMadeAgain(s, {}); },
                                        "~/Library/Caches/com.example.app" },
                      FolderThereCase { "a folder of empty folders",
                                        [](Scene& s) {
                                            return cacheMadeAgain(s, { "fsCachedData", "fsCachedData/tmp", "Logs" });
                                        },
                                        "~/Library/Caches/com.example.app" },
                      FolderThereCase { "a folder Put Back made for an inner item",
                                        [](Scene& s) {
                                            s.trashed("inner", { "~/Documents/Project/bin/run.sh" });
                                            s.trashed("outer", { "~/Documents/Project" });
                                            EXPECT_EQ(Cleaner::undo("inner", s.mac, false).status, Status::done);
                                            s.machine.folder("~/Documents/Project/empty since");
                                            return "outer";
                                        },
                                        std::nullopt }),
    CaseNamed {});

// ---- The desktop Trash's record of a put-back item ----

// The live machine's Trash in a temporary folder, with one letter trashed by the real operations.
struct DesktopTrashScene {
    TempDir dir;
    Testing::ScopedEnv data { "XDG_DATA_HOME", dir.path() + "/data" };
    Mac mac { "", dir.path() + "/home", std::nullopt };
    std::string item = dir.path() + "/home/Documents/letter.txt";
    std::string record = dir.path() + "/data/Trash/info/letter.txt.trashinfo";
    std::string trashed;

    DesktopTrashScene()
    {
        writeFile(item, "dear");
        trashed = FileOps::live().trash(mac, item);
        History::append(
            HistoryEntry {
                Clock::now(), "letter", "Letter", Action::Kind::trash, 4, { { item, trashed, {}, {} } }, {} },
            mac);
    }
};

TEST(PutBackDesktopTrash, RemovesTheItemsRecordOnlyOnceItIsBack)
{
    const struct {
        const char* name;
        std::function<void(FaultyFileOps&, const DesktopTrashScene&)> prepare;
        Status status;
        bool recordStays;
    } rows[] = {
        { "put back", {}, Status::done, false },
        { "put back with the password",
          [](FaultyFileOps& f, const DesktopTrashScene&) {
              f.failAll(FileOp::moveNoReplace, EACCES).adminAnswer(true);
          },
          Status::done, false },
        { "the move fails", [](FaultyFileOps& f, const DesktopTrashScene&) { f.failAll(FileOp::moveNoReplace); },
          Status::failed, true },
        { "a record of another place",
          [](FaultyFileOps&, const DesktopTrashScene& s) {
              writeFile(s.record, "[Trash Info]\nPath=/elsewhere/letter.txt\nDeletionDate=2020-01-02T03:04:05\n");
          },
          Status::failed, true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DesktopTrashScene scene;
        ASSERT_EQ(scene.trashed, scene.dir.path() + "/data/Trash/files/letter.txt");
        ASSERT_TRUE(present(scene.record));
        FaultyFileOps faulty;
        if (row.prepare)
            row.prepare(faulty, scene);
        const auto result = Cleaner::undo("letter", scene.mac, false, faulty);
        EXPECT_EQ(result.status, row.status) << result.detail;
        EXPECT_EQ(present(scene.record), row.recordStays);
        EXPECT_EQ(present(scene.trashed), row.status != Status::done);
        EXPECT_EQ(present(scene.item), row.status == Status::done);
    }
}

TEST(PutBackAsAdmin, NeverThroughALink)
{
    for (bool fromTheStart : { true, false }) {
        SCOPED_TRACE(fromTheStart ? "a link from the start" : "swapped right before the move");
        LiveScene scene;
        TempDir outside;
        const std::string documents = scene.dir.path() + "/home/Documents";
        const auto swap = [&] {
            fs::rename(documents, documents + ".away");
            fs::create_directory_symlink(outside.path(), documents);
        };
        FaultyFileOps faulty;
        faulty.adminAnswer(true);
        if (fromTheStart) {
            swap();
        } else {
            faulty.before([&](const Testing::FileOpCall& call, int) {
                if (call.op == FileOp::moveNoReplace)
                    swap();
            });
        }
        const auto result = Cleaner::undo("letter", scene.mac, false, faulty);
        EXPECT_EQ(result.status, Status::refused);
        EXPECT_EQ(result.detail,
                  "The way back to ~/Documents/letter.txt goes through a link at ~/Documents, so it "
                  "wasn't put back.");
        EXPECT_TRUE(faulty.adminLines().empty());
        EXPECT_TRUE(fs::is_empty(outside.path()));
        EXPECT_EQ(readFile(scene.trashed), "dear");
    }
}

} // namespace
