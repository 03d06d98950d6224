#include "QuandrilCore/Platform/Trash.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/Move.h"
#include "QuandrilCore/Platform/Token.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "Support/FakeMachine.h"
#include "Support/SystemState.h"

using namespace Quandril;
using Quandril::Testing::FakeMachine;
using Quandril::Testing::FileSizeLimit;
using Quandril::Testing::readFile;
using Quandril::Testing::ScopedEnv;
using Quandril::Testing::shmIsAnotherDevice;
using Quandril::Testing::TempDir;
using Quandril::Testing::writeFile;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesIn(const std::string& folder)
{
    auto names = listNames(folder);
    std::sort(names.begin(), names.end());
    return names;
}

// ---- The fake machine's own Trash ----

struct FakeTrashCase {
    const char* label;
    std::vector<std::string> alreadyThere; // "name" a file, "name->target" a link
    std::vector<std::string> trashing;     // names of items, each from its own folder
    std::vector<std::string> arrivals;     // display paths they get
};

class FakeTrash : public ::testing::TestWithParam<FakeTrashCase> {};

TEST_P(FakeTrash, NumbersRepeatedNames)
{
    const auto& row = GetParam();
    FakeMachine machine;
    for (const auto& entry : row.alreadyThere) {
        const auto arrow = entry.find("->");
        if (arrow == std::string::npos)
            machine.text("~/.Trash/" + entry, "old");
        else
            machine.link("~/.Trash/" + entry.substr(0, arrow), entry.substr(arrow + 2));
    }
    const Mac mac = machine.mac();
    for (std::size_t i = 0; i < row.trashing.size(); ++i) {
        const std::string display = "~/from" + std::to_string(i) + "/" + row.trashing[i];
        machine.text(display, "item " + std::to_string(i));
        const std::string arrived = mac.trash(machine.at(display));
        EXPECT_EQ(mac.display(arrived), row.arrivals[i]) << row.label;
        EXPECT_EQ(readFile(arrived), "item " + std::to_string(i)) << row.label;
        EXPECT_FALSE(isSymlink(machine.at(display)) || exists(machine.at(display))) << row.label;
    }
}

const FakeTrashCase fakeTrashCases[] = {
    { "repeats count up from 2",
      {},
      { "a.txt", "a.txt", "a.txt" },
      { "~/.Trash/a.txt", "~/.Trash/a.txt 2", "~/.Trash/a.txt 3" } },
    { "a dangling link occupies a name", { "a.txt", "a.txt 2->nowhere" }, { "a.txt" }, { "~/.Trash/a.txt 3" } },
    { "the first free name is taken", { "a.txt 2" }, { "a.txt", "a.txt" }, { "~/.Trash/a.txt", "~/.Trash/a.txt 3" } },
    { "the number follows the extension", { "archive.tar.gz" }, { "archive.tar.gz" }, { "~/.Trash/archive.tar.gz 2" } },
    { "odd names", {}, { "it's \"x\"\n\u00E9" }, { "~/.Trash/it's \"x\"\n\u00E9" } },
};

INSTANTIATE_TEST_SUITE_P(Trash, FakeTrash, ::testing::ValuesIn(fakeTrashCases));

TEST(FakeTrashFailures, LeaveTheItemWhereItWas)
{
    FakeMachine machine;
    machine.text("~/a.txt", "keep");
    machine.text("~/.Trash", "a file where the Trash folder should be");
    const Mac mac = machine.mac();
    EXPECT_THROW(mac.trash(machine.at("~/a.txt")), std::system_error);
    EXPECT_EQ(readFile(machine.at("~/a.txt")), "keep");
    EXPECT_THROW(mac.trash(machine.at("~/missing")), std::system_error);
}

// ---- The desktop Trash of the live machine ----

class DesktopTrash : public ::testing::Test {
protected:
    std::string home() const { return dir_.path() + "/home"; }
    std::string data() const { return dir_.path() + "/data"; }
    std::string files() const { return data() + "/Trash/files"; }
    std::string info() const { return data() + "/Trash/info"; }
    Mac live() const { return Mac("", home(), std::nullopt); }

    std::string item(const std::string& name, const std::string& folder = "docs")
    {
        const std::string path = home() + "/" + folder + "/" + name;
        writeFile(path, "content of " + name);
        return path;
    }

    TempDir dir_;
    ScopedEnv home_ { "HOME", dir_.path() + "/home" };
    ScopedEnv data_ { "XDG_DATA_HOME", dir_.path() + "/data" };
};

void expectRecord(const std::string& infoFile, const std::string& encodedPath)
{
    const std::string record = readFile(infoFile);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(
        record, match,
        std::regex("\\[Trash Info\\]\nPath=(.*)\nDeletionDate=(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d)\n")))
        << record;
    EXPECT_EQ(match[1].str(), encodedPath);
    // Local time: read back as local time it lies within a few minutes of now.
    std::tm local {};
    ASSERT_NE(::strptime(match[2].str().c_str(), "%Y-%m-%dT%H:%M:%S", &local), nullptr);
    local.tm_isdst = -1;
    EXPECT_LT(std::abs(std::difftime(std::mktime(&local), std::time(nullptr))), 300.0) << match[2].str();
}

TEST_F(DesktopTrash, RecordsWhereEachOddNameCameFrom)
{
    const struct {
        std::string name, encoded;
    } rows[] = {
        { "plain.txt", "plain.txt" },
        { "with space.txt", "with%20space.txt" },
        { "new\nline", "new%0Aline" },
        { "Caf\u00E9", "Caf%C3%A9" },
        { "e\u0301", "e%CC%81" },
        { "100%", "100%25" },
        { "a#b?c&d=e+f", "a%23b%3Fc%26d%3De%2Bf" },
        { "it's \"q\"\\", "it%27s%20%22q%22%5C" },
        { "\xFF"
          "bad",
          "%FFbad" },
    };
    for (const auto& row : rows) {
        const std::string original = item(row.name);
        const std::string arrived = live().trash(original);
        EXPECT_EQ(arrived, files() + "/" + row.name);
        EXPECT_EQ(readFile(arrived), "content of " + row.name);
        EXPECT_FALSE(exists(original));
        expectRecord(info() + "/" + row.name + ".trashinfo", Platform::trashInfoPath(home()) + "/docs/" + row.encoded);
    }
    EXPECT_EQ(Platform::trashInfoPath(home()), home()); // the temp folder's own name needs no escaping
}

TEST_F(DesktopTrash, GivesEachClashAFreshName)
{
    // Taken names: a file without a record, and a record without a file.
    writeFile(files() + "/b.txt", "left over");
    writeFile(info() + "/c.txt.trashinfo", "[Trash Info]\n");
    const struct {
        std::string name, folder, arrival;
    } rows[] = {
        { "a.txt", "one", "a.txt" },   { "a.txt", "two", "a.txt 2" }, { "a.txt", "three", "a.txt 3" },
        { "b.txt", "one", "b.txt 2" }, { "c.txt", "one", "c.txt 2" },
    };
    for (const auto& row : rows) {
        const std::string arrived = live().trash(item(row.name, row.folder));
        EXPECT_EQ(arrived, files() + "/" + row.arrival);
        EXPECT_EQ(readFile(arrived), "content of " + row.name);
        expectRecord(info() + "/" + row.arrival + ".trashinfo", home() + "/" + row.folder + "/" + row.name);
    }
    EXPECT_EQ(readFile(files() + "/b.txt"), "left over");
    EXPECT_EQ(namesIn(info()),
              (std::vector<std::string> { "a.txt 2.trashinfo", "a.txt 3.trashinfo", "a.txt.trashinfo",
                                          "b.txt 2.trashinfo", "c.txt 2.trashinfo", "c.txt.trashinfo" }));
}

TEST_F(DesktopTrash, MovesFoldersAndLinksThemselves)
{
    writeFile(home() + "/docs/folder/inner.txt", "x");
    ASSERT_EQ(::symlink("folder", (home() + "/docs/link").c_str()), 0);
    EXPECT_EQ(live().trash(home() + "/docs/link/"), files() + "/link"); // a trailing "/" still means the link
    EXPECT_TRUE(isSymlink(files() + "/link"));
    EXPECT_EQ(live().trash(home() + "/docs/folder"), files() + "/folder");
    EXPECT_EQ(readFile(files() + "/folder/inner.txt"), "x");
}

TEST_F(DesktopTrash, ShortensANameTooLongForItsRecord)
{
    const std::string name = std::string(240, 'x') + "\u00E9\u00E9\u00E9\u00E9\u00E9.txt"; // 254 bytes
    const std::string original = item(name);
    const std::string arrived = live().trash(original);
    const std::string kept = fs::path(arrived).filename().string();
    EXPECT_EQ(fs::path(arrived).parent_path().string(), files());
    EXPECT_LE(kept.size() + std::string(".trashinfo").size(), 255u);
    EXPECT_TRUE(name.starts_with(kept));
    EXPECT_TRUE(Platform::isValidUTF8(kept)) << "cut inside a character";
    EXPECT_FALSE(exists(original));
    expectRecord(info() + "/" + kept + ".trashinfo", home() + "/docs/" + Platform::trashInfoPath(name));
}

TEST_F(DesktopTrash, AFailedMoveLeavesTheItemAndNoRecord)
{
    const std::string original = item("a.txt");
    const Platform::TrashMover failing = [](const std::string&, const std::string&) {
        throw std::system_error(EIO, std::generic_category(), "disk trouble");
    };
    EXPECT_THROW(Platform::moveToTrash(original, home(), failing), std::system_error);
    EXPECT_EQ(readFile(original), "content of a.txt");
    EXPECT_EQ(namesIn(info()), std::vector<std::string> {});

    EXPECT_THROW(live().trash(home() + "/docs/missing"), std::system_error);
    EXPECT_EQ(namesIn(info()), std::vector<std::string> {});

    // A name taken between the record and the move: the record goes, the next name is tried.
    int calls = 0;
    const Platform::TrashMover raced = [&](const std::string& from, const std::string& to) {
        if (++calls == 1)
            throw std::system_error(EEXIST, std::generic_category(), "taken");
        Platform::moveNoReplace(from, to);
    };
    EXPECT_EQ(Platform::moveToTrash(original, home(), raced), files() + "/a.txt 2");
    EXPECT_EQ(namesIn(info()), std::vector<std::string> { "a.txt 2.trashinfo" });
}

// Another user who made the Trash could read and take what is trashed, or plant items and records
// for Put Back: such a Trash takes nothing. The user's own is the user's whatever its mode, as the
// desktop's other Trash clients take it (a umask of 002 leaves it group-writable).
TEST_F(DesktopTrash, RefusesAFolderOfAnotherUserOnly)
{
    const struct {
        const char* folder; // below the data folder
        mode_t mode;
        bool foreign;
        std::string why; // empty: trashed
    } rows[] = {
        { "Trash", 01777, false, "" },
        { "Trash", 0775, false, "" },
        { "Trash/files", 0770, false, "" },
        { "Trash/info", 0777, false, "" },
        { "Trash", 0700, true, "belongs to another user" },
        { "Trash/files", 0700, true, "belongs to another user" },
        { "Trash/info", 0700, true, "belongs to another user" },
    };
    for (const auto& row : rows) {
        if (row.foreign && !Testing::runningAsRoot())
            GTEST_SKIP() << "only root can give a folder to another user";
        SCOPED_TRACE(std::string(row.folder) + " " + std::to_string(row.mode));
        const std::string original = item("a.txt");
        fs::remove_all(data() + "/Trash");
        fs::create_directories(data());
        for (const char* folder : { "/Trash", "/Trash/files", "/Trash/info" })
            ASSERT_EQ(::mkdir((data() + folder).c_str(), 0700), 0);
        const std::string changed = data() + "/" + row.folder;
        ASSERT_EQ(::chmod(changed.c_str(), row.mode), 0);
        if (row.foreign) {
            ASSERT_EQ(::chown(changed.c_str(), 65534, 65534), 0);
        }
        std::string failure = "(trashed)";
        try {
            live().trash(original);
        } catch (const std::system_error& error) {
            failure = error.what();
        }
        if (row.why.empty()) {
            EXPECT_EQ(failure, "(trashed)");
            EXPECT_EQ(readFile(files() + "/a.txt"), "content of a.txt");
            EXPECT_EQ(namesIn(info()), std::vector<std::string> { "a.txt.trashinfo" });
            continue;
        }
        EXPECT_EQ(failure,
                  "the Trash folder " + changed + " " + row.why
                      + ", so Gorrin won't use it: " + std::generic_category().message(EPERM));
        EXPECT_EQ(readFile(original), "content of a.txt");
        EXPECT_EQ(namesIn(info()), std::vector<std::string> {});
        EXPECT_EQ(namesIn(files()), std::vector<std::string> {});
    }
}

TEST_F(DesktopTrash, ItemsOnAnotherDeviceGoToThatDevicesTrash)
{
    if (!shmIsAnotherDevice(dir_.path()))
        GTEST_SKIP() << "no second writable file system at /dev/shm";
    const std::string trash = "/dev/shm/.Trash-" + std::to_string(::getuid());
    const bool hadTrash = fs::exists(trash);
    std::string folder = "/dev/shm/quandril-trash-XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    writeFile(folder + "/away.txt", "away");

    const std::string arrived = live().trash(folder + "/away.txt");
    const std::string kept = fs::path(arrived).filename().string();
    EXPECT_EQ(fs::path(arrived).parent_path().string(), trash + "/files");
    EXPECT_EQ(readFile(arrived), "away");
    const std::string record = trash + "/info/" + kept + ".trashinfo";
    expectRecord(record, folder.substr(std::string("/dev/shm/").size()) + "/away.txt"); // relative to the drive's top
    struct stat trashInfo {};
    ASSERT_EQ(::lstat(trash.c_str(), &trashInfo), 0);
    if (!hadTrash) {
        EXPECT_EQ(trashInfo.st_mode & 0777, 0700u);
        fs::remove_all(trash);
    } else {
        fs::remove(arrived);
        fs::remove(record);
    }
    fs::remove_all(folder);
    EXPECT_FALSE(fs::exists(files() + "/away.txt"));
}

TEST(TrashFolders, FollowTheDataHome)
{
    const struct {
        std::optional<std::string> data;
        std::string folder;
    } rows[] = {
        { std::nullopt, "/h/.local/share/Trash" },
        { "", "/h/.local/share/Trash" },
        { "relative/data", "/h/.local/share/Trash" },
        { "/d/", "/d/Trash" },
        { "/d", "/d/Trash" },
        { "//d/./e//", "/d/e/Trash" },
    };
    for (const auto& row : rows) {
        ScopedEnv data("XDG_DATA_HOME", row.data);
        EXPECT_EQ(Platform::homeTrashFolder("/h"), row.folder) << row.data.value_or("(unset)");
        EXPECT_EQ(Platform::homeTrashFiles("/h"), row.folder + "/files");
        EXPECT_TRUE(Platform::isTrashPath(row.folder + "/files/x", "/h"));
    }
    if (::geteuid() == 0) {
        // Root with another user's XDG_DATA_HOME kept (sudo -E) stays out of that user's folders.
        const std::string theirs = testing::TempDir() + "data-home-of-another-user";
        std::filesystem::create_directories(theirs);
        ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
        // A ".." after a missing folder of root's leads into theirs all the same.
        const std::string around = testing::TempDir() + "not-made/../data-home-of-another-user";
        for (const std::string& data : { theirs, theirs + "/not/made/yet", around }) {
            ScopedEnv kept("XDG_DATA_HOME", data);
            EXPECT_EQ(Platform::homeTrashFolder("/h"), "/h/.local/share/Trash") << data;
        }
        std::filesystem::remove_all(theirs);
    }
    ScopedEnv data("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(Platform::homeTrashFolder("/"), "/.local/share/Trash"); // a home of "/" doubles no "/"
    EXPECT_EQ(Mac("", "/", std::nullopt).path("~/Documents"), "/Documents");
}

TEST(TrashFolders, IsTrashPathRecognisesItemsInThisUsersTrash)
{
    ScopedEnv data("XDG_DATA_HOME", std::nullopt);
    const std::string uid = std::to_string(::getuid()), otherUid = std::to_string(::getuid() + 1);
    const struct {
        std::string path;
        bool inTrash;
    } rows[] = {
        { "/home/u/.local/share/Trash/files/a.txt", true },
        { "/home/u/.local/share/Trash/files/dir/deep", true },
        { "/media/u/Disk/.Trash-" + uid + "/files/a", true },
        { "/media/u/Disk/.Trash/" + uid + "/files/a", true },
        { "/media/u/Disk/.Trash-" + otherUid + "/files/a", false },
        { "/media/u/Disk/.Trash/" + otherUid + "/files/a", false },
        { "/home/u/.local/share/Trash/files", false },
        { "/home/u/.local/share/Trash/files/", false },
        { "/home/u/.local/share/Trash/info/a.txt.trashinfo", false },
        { "/home/other/.local/share/Trash/files/a", false },
        { "/home/u/MyTrash/files/a", false },
        { "/media/u/Disk/.Trash-/files/a", false },
        { "/media/u/Disk/.Trash-1x/files/a", false },
        { "/home/u/files/a", false },
    };
    for (const auto& row : rows)
        EXPECT_EQ(Platform::isTrashPath(row.path, "/home/u"), row.inTrash) << row.path;
}

// ---- Moves that never replace ----

// The error a move fails with, or none when it succeeds.
std::error_code moveError(const std::string& from, const std::string& to)
{
    try {
        Platform::moveNoReplace(from, to);
    } catch (const std::system_error& error) {
        return error.code();
    }
    return {};
}

class Moves : public ::testing::Test {
protected:
    std::string at(const std::string& name) const { return dir_.path() + "/" + name; }
    TempDir dir_;
};

TEST_F(Moves, NeverReplaceWhatIsAtTheTarget)
{
    writeFile(at("file"), "file");
    writeFile(at("other"), "other");
    writeFile(at("folder/x"), "x");
    fs::create_directory(at("emptyFolder"));
    ASSERT_EQ(::symlink("nowhere", at("dangling").c_str()), 0);
    const struct {
        const char *from, *to;
    } rows[] = {
        { "file", "other" },  { "file", "dangling" }, { "folder", "emptyFolder" },
        { "folder", "file" }, { "dangling", "file" },
    };
    for (const auto& row : rows)
        EXPECT_EQ(moveError(at(row.from), at(row.to)), std::errc::file_exists) << row.from << " -> " << row.to;
    EXPECT_EQ(readFile(at("file")), "file");
    EXPECT_EQ(readFile(at("other")), "other");
    EXPECT_EQ(readFile(at("folder/x")), "x");
    EXPECT_TRUE(fs::is_empty(at("emptyFolder")));
    EXPECT_EQ(fs::read_symlink(at("dangling")), "nowhere");
}

TEST_F(Moves, MoveALinkNotItsTarget)
{
    writeFile(at("target"), "t");
    ASSERT_EQ(::symlink("target", at("link").c_str()), 0);
    Platform::moveNoReplace(at("link"), at("moved"));
    EXPECT_EQ(fs::read_symlink(at("moved")), "target");
    EXPECT_EQ(readFile(at("target")), "t");
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("link"))));
}

class MovesAcrossDevices : public Moves {
protected:
    void SetUp() override
    {
        if (!shmIsAnotherDevice(dir_.path()))
            GTEST_SKIP() << "no second writable file system at /dev/shm";
        other_ = "/dev/shm/quandril-move-XXXXXX";
        ASSERT_NE(::mkdtemp(other_.data()), nullptr);
    }
    void TearDown() override
    {
        if (!other_.empty())
            fs::remove_all(other_);
    }
    std::string other_;
};

TEST_F(MovesAcrossDevices, KeepContentModesTimesLinksAndHardLinks)
{
    writeFile(at("tree/a.txt"), "alpha");
    writeFile(at("tree/sub/b.bin"), std::string(3 << 20, 'b')); // more than one copy chunk
    writeFile(at("tree/empty"), "");
    ASSERT_EQ(::link(at("tree/a.txt").c_str(), at("tree/sub/a-again").c_str()), 0);
    ASSERT_EQ(::symlink("../a.txt", at("tree/sub/up").c_str()), 0);
    ASSERT_EQ(::chmod(at("tree/a.txt").c_str(), 0640), 0);
    ASSERT_EQ(::chmod(at("tree/sub").c_str(), 0750), 0);
    const struct timespec old[2] = { { 1'000'000'000, 0 }, { 1'000'000'000, 123 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, at("tree/sub/b.bin").c_str(), old, 0), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, at("tree/sub").c_str(), old, 0), 0);

    const std::string to = other_ + "/tree";
    Platform::moveNoReplace(at("tree"), to);

    EXPECT_FALSE(fs::exists(at("tree")));
    EXPECT_EQ(readFile(to + "/a.txt"), "alpha");
    EXPECT_EQ(readFile(to + "/sub/b.bin"), std::string(3 << 20, 'b'));
    EXPECT_EQ(readFile(to + "/empty"), "");
    EXPECT_EQ(fs::read_symlink(to + "/sub/up"), "../a.txt");
    struct stat a {
    }, again {}, bin {}, sub {};
    ASSERT_EQ(::stat((to + "/a.txt").c_str(), &a), 0);
    ASSERT_EQ(::stat((to + "/sub/a-again").c_str(), &again), 0);
    ASSERT_EQ(::stat((to + "/sub/b.bin").c_str(), &bin), 0);
    ASSERT_EQ(::stat((to + "/sub").c_str(), &sub), 0);
    EXPECT_EQ(a.st_ino, again.st_ino);
    EXPECT_EQ(a.st_mode & 07777, 0640u);
    EXPECT_EQ(sub.st_mode & 07777, 0750u);
    EXPECT_EQ(bin.st_mtim.tv_sec, 1'000'000'000);
    EXPECT_EQ(bin.st_mtim.tv_nsec, 123);
    EXPECT_EQ(sub.st_mtim.tv_sec, 1'000'000'000);
}

// A copy cut short, by a full file system or by a crash, leaves nothing under the item's name there,
// so the next move of it goes through.
TEST_F(MovesAcrossDevices, CutShortLeaveNothingUnderTheName)
{
    constexpr rlim_t room = 64 * 1024;
    writeFile(at("tree/a.txt"), "a");
    writeFile(at("tree/big.bin"), std::string(1 << 20, 'b'));
    const std::string to = other_ + "/tree";
    {
        FileSizeLimit full(room);
        EXPECT_EQ(moveError(at("tree"), to), std::errc::file_too_large);
    }
    EXPECT_EQ(namesIn(other_), std::vector<std::string> {});

    GTEST_FLAG_SET(death_test_style, "fast"); // the crash must happen in this test's own folders
    EXPECT_EXIT(
        {
            // A forked child draws the tokens its parent draws next; one draw of its own gives its
            // partial copy another name than the retry's, as a restarted app would.
            Platform::Token::random();
            FileSizeLimit crash(room, true);
            Platform::moveNoReplace(at("tree"), to);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGXFSZ), "");
    EXPECT_FALSE(fs::exists(fs::symlink_status(to)));

    Platform::moveNoReplace(at("tree"), to);
    EXPECT_EQ(readFile(to + "/a.txt"), "a");
    EXPECT_EQ(readFile(to + "/big.bin"), std::string(1 << 20, 'b'));
    EXPECT_FALSE(fs::exists(at("tree")));
    // The killed move's partial copy went with the next move there.
    EXPECT_EQ(namesIn(other_), std::vector<std::string> { "tree" });
}

TEST_F(MovesAcrossDevices, FailWithoutHarmToEitherSide)
{
    writeFile(at("file"), "mine");
    writeFile(other_ + "/file", "theirs");
    EXPECT_EQ(moveError(at("file"), other_ + "/file"), std::errc::file_exists);
    EXPECT_EQ(readFile(at("file")), "mine");
    EXPECT_EQ(readFile(other_ + "/file"), "theirs");

    // A socket cannot be copied: the half-made copy goes, the original stays whole.
    writeFile(at("tree/a.txt"), "a");
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::string socketPath = at("tree/z.sock");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    EXPECT_NE(moveError(at("tree"), other_ + "/tree"), std::error_code {});
    EXPECT_FALSE(fs::exists(other_ + "/tree"));
    EXPECT_EQ(readFile(at("tree/a.txt")), "a");
    EXPECT_TRUE(fs::is_socket(at("tree/z.sock")));
}

} // namespace
