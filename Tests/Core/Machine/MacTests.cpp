#include "QuandrilCore/Machine/Mac.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "Support/FakeMachine.h"
#include "Support/SystemState.h"

using namespace Quandril;
using Quandril::Testing::FakeMachine;
using Quandril::Testing::makeFolders;
using Quandril::Testing::ownBytes;
using Quandril::Testing::ScopedEnv;
using Quandril::Testing::TempDir;
using Quandril::Testing::writeFile;

namespace {

constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t smallest = std::numeric_limits<std::int64_t>::min();

// Sets the file-provider attribute; false where the file system keeps no user attributes.
bool setProvider(const std::string& path, const std::string& value)
{
    return ::lsetxattr(path.c_str(), "user.com.apple.file-provider-domain-id", value.data(), value.size(), 0) == 0;
}

Mac fakeAt(const std::string& root, Fixture fixture = {})
{
    return Mac(root, root + "/Users/me", std::move(fixture));
}

// A live-style machine (no fixture) whose home is a temporary folder, never the real one.
Mac liveWithHome(const std::string& home)
{
    return Mac("", home, std::nullopt);
}

} // namespace

TEST(MacPaths, DisplayToRealAndBack)
{
    Mac fake = fakeAt("/tmp/fx");
    struct Case {
        std::string display;
        std::string real;
    };
    const std::vector<Case> toReal {
        { "~", "/tmp/fx/Users/me" },
        { "~/a", "/tmp/fx/Users/me/a" },
        { "~/Library/Caches", "/tmp/fx/Users/me/Library/Caches" },
        { "/Applications", "/tmp/fx/Applications" },
        { "/", "/tmp/fx/" },
        { "~other/x", "/tmp/fx~other/x" },
    };
    for (const auto& c : toReal)
        EXPECT_EQ(fake.path(c.display), c.real) << c.display;

    const std::vector<Case> toDisplay {
        { "~", "/tmp/fx/Users/me" },
        { "~/a", "/tmp/fx/Users/me/a" },
        { "/", "/tmp/fx" },
        { "/", "/tmp/fx/" },
        { "/Applications/A.app", "/tmp/fx/Applications/A.app" },
        { "/Users/me2/x", "/tmp/fx/Users/me2/x" }, // a sibling of the home is not inside it
        { "/tmp/fx2/a", "/tmp/fx2/a" },            // a sibling of the root is not inside it
        { "/tmp/fx2", "/tmp/fx2" },
        { "/elsewhere", "/elsewhere" },
    };
    for (const auto& c : toDisplay)
        EXPECT_EQ(fake.display(c.real), c.display) << c.real;

    Mac live = liveWithHome("/Users/me");
    for (const Case& c : { Case { "~", "/Users/me" }, Case { "~/Music", "/Users/me/Music" },
                           Case { "/Applications/A.app", "/Applications/A.app" } }) {
        EXPECT_EQ(live.path(c.display), c.real);
        EXPECT_EQ(live.display(c.real), c.display);
    }
    EXPECT_EQ(live.display("/Users/meadow/x"), "/Users/meadow/x");
}

TEST(MacFixture, LoadingFailsOnBadFixtures)
{
    struct Case {
        const char* label;
        const char* json;
        const char* failingKey; // the key path the error names
    };
    const std::vector<Case> cases {
        { "no drives", R"({"running": []})", "drives" },
        { "null drives", R"({"drives": null})", "drives" },
        { "drives not a list", R"({"drives": {}})", "drives" },
        { "drive lacking free", R"({"drives": [{"name": "HD", "path": "/", "total": 10}]})", "drives[0].free" },
        { "drive with null name", R"({"drives": [{"name": null, "path": "/", "total": 1, "free": 1}]})",
          "drives[0].name" },
        { "fractional total", R"({"drives": [{"name": "HD", "path": "/", "total": 1.5, "free": 1}]})",
          "drives[0].total" },
        { "tools not a list", R"({"drives": [], "tools": "git"})", "tools" },
        { "scale as text", R"({"drives": [], "scale": "0.3"})", "scale" },
        { "lastUsed date not text", R"({"drives": [], "lastUsed": {"/Applications/A.app": 5}})",
          "lastUsed./Applications/A.app" },
        { "runtime lacking bytes", R"({"drives": [], "simRuntimes": [{"id": "a", "name": "iOS 17"}]})",
          "simRuntimes[0].bytes" },
        { "not JSON", R"({"drives": [)", "" },
        { "not an object", R"([])", "" },
    };
    for (const auto& c : cases) {
        TempDir dir;
        writeFile(dir.path() + "/quandril-fixture.json", c.json);
        EXPECT_EQ(Testing::decodeFailure([&] { Mac::fake(dir.path()); }), c.failingKey) << c.label;
    }
}

TEST(MacFixture, UnreadableFixtureFileNamesTheFile)
{
    TempDir missing;
    try {
        Mac::fake(missing.path());
        ADD_FAILURE() << "loaded without a fixture";
    } catch (const Json::DecodeError&) {
        ADD_FAILURE() << "a missing file is a read error";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(missing.path() + "/quandril-fixture.json"), std::string::npos)
            << error.what();
    }

    TempDir folder;
    makeFolders(folder.path() + "/quandril-fixture.json");
    EXPECT_THROW(Mac::fake(folder.path()), std::runtime_error);
}

TEST(MacFixture, OnlyDrivesGivesAnEmptyMachine)
{
    TempDir dir;
    writeFile(dir.path() + "/quandril-fixture.json",
              R"({"drives": [{"name": "HD", "path": "/", "total": 100, "free": 40, "extra": true}],
                  "running": null, "unknown": [1, 2]})");
    // The given path is resolved: a trailing separator and a dot do not reach the root.
    Mac mac = Mac::fake(dir.path() + "/./");
    EXPECT_EQ(mac.root, dir.path());
    EXPECT_EQ(mac.home, dir.path() + "/Users/me");
    ASSERT_TRUE(mac.isFake());
    EXPECT_TRUE(mac.runningBundleIDs().empty());
    EXPECT_EQ(mac.which("git"), std::nullopt);
    EXPECT_EQ(mac.lastUsed(dir.path() + "/Applications/A.app"), std::nullopt);
    EXPECT_EQ(mac.simulatorRuntimes(), std::nullopt);
    EXPECT_EQ(mac.fixture->scale, std::nullopt);
    EXPECT_EQ(mac.cloud,
              (std::vector<CloudFolder> { { mac.home + "/Library/Mobile Documents", "iCloud Drive" },
                                          { mac.home + "/Library/CloudStorage", "a cloud drive" } }));
}

TEST(MacFixture, EncodesWhatItDecodes)
{
    Fixture full;
    full.drives = { { "HD", "/", 100, 40 }, { "Backup", "/Volumes/Backup", 7, 3 } };
    full.running = std::vector<std::string> { "com.example.a" };
    full.lastUsed = std::map<std::string, std::string> { { "/Applications/A.app", "2025-01-31T09:30:00Z" } };
    full.tools = std::vector<std::string> { "git", "brew" };
    full.simRuntimes = std::vector<SimRuntime> { { "r1", "iOS 17.4", 5 } };
    full.scale = 0.25;
    full.cloud = std::vector<std::string> { "~/Sync" };

    Json::Value encoded = toJson(full);
    EXPECT_EQ(Json::dump(encoded),
              R"({"drives":[{"name":"HD","path":"/","total":100,"free":40},)"
              R"({"name":"Backup","path":"/Volumes/Backup","total":7,"free":3}],)"
              R"("running":["com.example.a"],"lastUsed":{"/Applications/A.app":"2025-01-31T09:30:00Z"},)"
              R"("tools":["git","brew"],"simRuntimes":[{"id":"r1","name":"iOS 17.4","bytes":5}],)"
              R"("scale":0.25,"cloud":["~/Sync"]})");
    EXPECT_EQ(toJson(Json::decodeAs<Fixture>(encoded)), encoded);

    Fixture bare;
    EXPECT_EQ(Json::dump(toJson(bare)), R"({"drives":[]})");
}

TEST(MacQueries, DrivesOfAFakeMachine)
{
    FakeMachine machine;
    machine.drive("Backup", "/Volumes/Backup", 2'000, 1'500);
    Mac mac = machine.mac();
    auto drives = mac.drives();
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0],
              (DriveInfo { "Macintosh HD", machine.root(), true, 500'000'000'000, 100'000'000'000, 100'000'000'000 }));
    EXPECT_EQ(drives[1], (DriveInfo { "Backup", machine.root() + "/Volumes/Backup", false, 2'000, 1'500, 1'500 }));
}

TEST(MacQueries, CloudListAndCloudFolder)
{
    FakeMachine machine;
    machine.fixture()["cloud"] = { "~/Library/Mobile Documents", "~/Sync", "~/Sync", "/Shared/Box" };
    Mac mac = machine.mac();
    const std::string home = machine.home();
    EXPECT_EQ(mac.cloud,
              (std::vector<CloudFolder> {
                  { home + "/Library/Mobile Documents", "iCloud Drive" },
                  { home + "/Library/CloudStorage", "a cloud drive" },
                  { home + "/Sync", "iCloud Drive" },
                  { machine.root() + "/Shared/Box", "iCloud Drive" },
              }));

    struct Case {
        std::string path;
        std::optional<std::string> folder;
    };
    const std::vector<Case> cases {
        { home + "/Sync", home + "/Sync" },
        { home + "/Sync/a/b", home + "/Sync" },
        { home + "/Sync2", std::nullopt },
        { home + "/Library/CloudStorage/Dropbox/x", home + "/Library/CloudStorage" },
        { home + "/Library", std::nullopt },
        { home, std::nullopt },
    };
    for (const auto& c : cases) {
        auto found = mac.cloudFolder(c.path);
        EXPECT_EQ(found ? std::optional(found->path) : std::nullopt, c.folder) << c.path;
    }
}

TEST(MacQueries, FileProviderNamesTheService)
{
    TempDir dir;
    const std::string icloud = dir.path() + "/icloud", other = dir.path() + "/other", plain = dir.path() + "/plain";
    for (const auto& folder : { icloud, other, plain })
        makeFolders(folder);
    if (!setProvider(icloud, "com.apple.CloudDocs.iCloudDriveFileProvider"))
        GTEST_SKIP() << "this file system keeps no user attributes";
    ASSERT_TRUE(setProvider(other, "com.getdropbox.dropbox.fileprovider"));
    ASSERT_EQ(::symlink(icloud.c_str(), (dir.path() + "/link").c_str()), 0);

    EXPECT_EQ(fileProvider(icloud), "iCloud Drive");
    EXPECT_EQ(fileProvider(other), "a cloud drive");
    EXPECT_EQ(fileProvider(plain), std::nullopt);
    EXPECT_EQ(fileProvider(dir.path() + "/link"), std::nullopt); // the link's own attributes lack it
    EXPECT_EQ(fileProvider(dir.path() + "/missing"), std::nullopt);

    // A synced standard folder of the home joins the cloud list after the two fixed entries.
    FakeMachine machine;
    machine.folder("~/Documents").folder("~/Music");
    ASSERT_TRUE(setProvider(machine.at("~/Music"), "com.apple.CloudDocs"));
    ASSERT_TRUE(setProvider(machine.at("~/Documents"), "com.example.sync"));
    Mac mac = machine.mac();
    ASSERT_EQ(mac.cloud.size(), 4u);
    EXPECT_EQ(mac.cloud[2], (CloudFolder { machine.at("~/Documents"), "a cloud drive" }));
    EXPECT_EQ(mac.cloud[3], (CloudFolder { machine.at("~/Music"), "iCloud Drive" }));
}

TEST(MacQueries, UsageLeavesCloudContentsOut)
{
    FakeMachine machine;
    machine.fixture()["cloud"] = { "~/Library/Sync" };
    machine.file("~/Library/Mobile Documents/big", 200'000)
        .file("~/Library/Sync/big", 200'000)
        .file("~/Library/Caches/x", 5'000);
    Mac mac = machine.mac();

    const std::string library = machine.at("~/Library");
    std::int64_t expected = ownBytes(library) + ownBytes(library + "/Mobile Documents") + ownBytes(library + "/Sync")
        + ownBytes(library + "/Caches") + ownBytes(library + "/Caches/x");
    EXPECT_EQ(mac.usage(library), (Usage { expected, 0 }));
    EXPECT_EQ(mac.usage(library + "/Mobile Documents").bytes, ownBytes(library + "/Mobile Documents"));
    EXPECT_EQ(mac.usage(library + "/Sync").bytes, ownBytes(library + "/Sync"));

    auto many = mac.usageOf({ library, library + "/Caches", library });
    ASSERT_EQ(many.size(), 2u);
    EXPECT_EQ(many[library].bytes, expected);
    EXPECT_EQ(many[library + "/Caches"].bytes, ownBytes(library + "/Caches") + ownBytes(library + "/Caches/x"));
}

TEST(MacQueries, ScaleIsTruncatedSaturatesAndNeverGoesBelowZero)
{
    TempDir dir;
    writeFile(dir.path() + "/Users/me/data/a", std::string(10'000, 'x'));
    const std::string data = dir.path() + "/Users/me/data";
    const std::int64_t measured = fakeAt(dir.path()).usage(data).bytes;
    ASSERT_GT(measured, 0);
    ASSERT_EQ(measured % 512, 0);

    struct Case {
        double scale;
        std::int64_t bytes;
    };
    const std::vector<Case> cases {
        { 0.3, measured * 3 / 10 }, // exact product truncated toward zero
        { 1.0, measured },
        { 0.0, 0 },
        { 1e300, largest },
        { std::numeric_limits<double>::infinity(), largest },
        // A size never drops below nothing.
        { -0.5, 0 },
        { -0.0, 0 },
        { -1e300, 0 },
        { -std::numeric_limits<double>::infinity(), 0 },
        { std::nan(""), measured }, // no usable factor: the measurement stands
    };
    for (const auto& c : cases) {
        Fixture fixture;
        fixture.scale = c.scale;
        Mac mac = fakeAt(dir.path(), fixture);
        EXPECT_EQ(mac.usage(data).bytes, c.bytes) << c.scale;
        EXPECT_EQ(mac.usageOf({ data })[data].bytes, c.bytes) << c.scale;
        // Unreadable counts are never scaled.
        EXPECT_EQ(mac.usage(dir.path() + "/missing"), (Usage { 0, 1 })) << c.scale;
    }

    // The factor read from the fixture file takes effect the same way.
    FakeMachine machine;
    machine.fixture()["scale"] = 0.3;
    machine.file("~/data/a", 10'000);
    std::int64_t unscaled = fakeAt(machine.root()).usage(machine.at("~/data")).bytes;
    EXPECT_EQ(machine.mac().usage(machine.at("~/data")).bytes, unscaled * 3 / 10);
}

TEST(MacQueries, FakeMachineAnswersFromItsFixture)
{
    FakeMachine machine;
    machine.fixture()["tools"] = { "git" };
    machine.fixture()["running"] = { "com.example.a", "com.example.b", "com.example.a" };
    machine.fixture()["simRuntimes"] = Json::Value::array();
    machine.fixture()["lastUsed"] = {
        { "~/Applications/X.app", "2025-01-31T09:30:00Z" },
        { "/Applications/Y.app", "2025-01-31T10:30:00+01:00" },
        { "/Applications/Bad.app", "yesterday" },
        // Beyond what the clock holds: unreadable, not wrapped round.
        { "/Applications/Old.app", "1500-01-01T00:00:00Z" },
        { "/Applications/Future.app", "2300-01-01T00:00:00Z" },
    };
    Mac mac = machine.mac();

    EXPECT_EQ(mac.which("git"), "/fake/bin/git");
    EXPECT_EQ(mac.which("Git"), std::nullopt);
    EXPECT_EQ(mac.which("sh"), std::nullopt);
    // Nothing is started on a fake machine, not even a real program.
    EXPECT_EQ(mac.run({ "/bin/sh", "-c", "echo hi" }), std::nullopt);
    EXPECT_EQ(mac.run({ "git", "--version" }), std::nullopt);
    EXPECT_EQ(mac.runningBundleIDs(), (std::set<std::string> { "com.example.a", "com.example.b" }));
    EXPECT_EQ(mac.simulatorRuntimes(), std::vector<SimRuntime> {});

    auto expected = Platform::parseIso8601("2025-01-31T09:30:00Z");
    EXPECT_EQ(mac.lastUsed(machine.at("~/Applications/X.app")), expected);
    EXPECT_EQ(mac.lastUsed(machine.at("/Applications/Y.app")), expected);
    for (const char* app : { "/Applications/Bad.app", "/Applications/Old.app", "/Applications/Future.app" })
        EXPECT_EQ(mac.lastUsed(machine.at(app)), std::nullopt) << app;
    EXPECT_EQ(mac.lastUsed(machine.at("/Applications/X.app")), std::nullopt);
}

TEST(MacQueries, WhichSearchesPathThenTheUsualFolders)
{
    TempDir dir;
    const std::string first = dir.path() + "/first", second = dir.path() + "/second";
    const std::string home = dir.path() + "/home";
    const std::string tool = "quandril-which-probe";
    writeFile(first + "/" + tool, "not executable");
    writeFile(second + "/" + tool, "#!/bin/sh\n");
    ::chmod((second + "/" + tool).c_str(), 0755);
    makeFolders(first + "/" + tool + "-dir");
    ::chmod((first + "/" + tool + "-dir").c_str(), 0755);
    writeFile(home + "/.local/bin/" + tool + "-home", "#!/bin/sh\n");
    ::chmod((home + "/.local/bin/" + tool + "-home").c_str(), 0755);
    Mac mac = liveWithHome(home);

    {
        ScopedEnv path("PATH", ":" + first + "::" + second + ":");
        EXPECT_EQ(mac.which(tool), second + "/" + tool);
        EXPECT_EQ(mac.which(tool + "-dir"), std::nullopt);
        EXPECT_EQ(mac.which(tool + "-home"), home + "/.local/bin/" + tool + "-home");
        EXPECT_EQ(mac.which(tool + "-nowhere"), std::nullopt);
        EXPECT_EQ(mac.run({ tool + "-nowhere" }), std::nullopt);
    }
    {
        ScopedEnv path("PATH", "");
        EXPECT_EQ(mac.which(tool), std::nullopt);
        EXPECT_EQ(mac.which(tool + "-home"), home + "/.local/bin/" + tool + "-home");
    }
}

TEST(MacQueries, RunCollectsStandardOutput)
{
    TempDir home;
    Mac mac = liveWithHome(home.path());
    struct Case {
        std::vector<std::string> command;
        std::optional<std::string> output;
    };
    const std::vector<Case> cases {
        { { "/bin/sh", "-c", "printf 'a\\n b \\n'" }, "a\n b \n" },
        { { "/bin/sh", "-c", "true" }, "" },
        { { "/bin/sh", "-c", "echo printed; exit 1" }, std::nullopt },
        { { "/bin/sh", "-c", "echo hidden >&2; echo shown" }, "shown\n" },
        { { "/bin/sh", "-c", "readlink /proc/self/fd/0" }, "/dev/null\n" },
        { { "/bin/sh", "-c", "cat; echo done" }, "done\n" },
        { { "/bin/sh", "-c", "printf 'x\\377y'" }, "x\xEF\xBF\xBDy" },
        { { "/bin/sh", "-c", "kill -9 $$" }, std::nullopt },
        { { "/no/such/program" }, std::nullopt },
        { {}, std::nullopt },
    };
    for (const auto& c : cases)
        EXPECT_EQ(mac.run(c.command), c.output) << (c.command.empty() ? "" : c.command.back());

    // More than a pipe holds: the output is read before the wait.
    auto big = mac.run({ "/bin/sh", "-c", "head -c 1000000 /dev/zero" });
    ASSERT_TRUE(big);
    EXPECT_EQ(big->size(), 1'000'000u);
}

TEST(MacQueries, SimulatorRuntimesParsing)
{
    struct Case {
        const char* label;
        const char* json;
        std::optional<std::vector<SimRuntime>> runtimes;
    };
    using List = std::vector<SimRuntime>;
    const std::vector<Case> cases {
        { "full entry",
          R"({"A": {"identifier": "id-a", "deletable": true, "sizeBytes": 123,
                    "platformIdentifier": "com.apple.platform.iphonesimulator", "version": "17.4"}})",
          List { { "id-a", "iOS 17.4", 123 } } },
        { "not deletable", R"({"A": {"identifier": "a", "deletable": false}})", List {} },
        { "deletable not a Boolean", R"({"A": {"identifier": "a", "deletable": "no", "version": "1"}})",
          List { { "a", " 1", 0 } } },
        { "platforms",
          R"({"w": {"identifier": "w", "platformIdentifier": "com.apple.platform.watchsimulator", "version": "10.2"},
              "t": {"identifier": "t", "platformIdentifier": "com.apple.platform.appletvsimulator", "version": "17"},
              "x": {"identifier": "x", "platformIdentifier": "com.apple.platform.xrsimulator", "version": "1.0"},
              "m": {"identifier": "m", "platformIdentifier": "com.apple.platform.macosx", "version": "14"}})",
          List { { "w", "watchOS 10.2", 0 },
                 { "t", "tvOS 17", 0 },
                 { "x", "visionOS 1.0", 0 },
                 { "m", "macosx 14", 0 } } },
        { "no version", R"({"A": {"identifier": "a", "platformIdentifier": "com.apple.platform.appletvsimulator"}})",
          List { { "a", "tvOS ", 0 } } },
        { "sizes",
          R"({"a": {"identifier": "a", "sizeBytes": "12"}, "b": {"identifier": "b", "sizeBytes": 12.9},
              "c": {"identifier": "c", "sizeBytes": 1e30}, "d": {"identifier": "d", "sizeBytes": -1e30},
              "e": {"identifier": "e", "sizeBytes": 18446744073709551615}, "f": {"identifier": "f", "sizeBytes": -5}})",
          List { { "a", " ", 0 },
                 { "b", " ", 12 },
                 { "c", " ", largest },
                 { "d", " ", smallest },
                 { "e", " ", largest },
                 { "f", " ", -5 } } },
        { "identifier missing or not text", R"({"a": {"version": "1"}, "b": {"identifier": 7}})", List {} },
        { "empty object", R"({})", List {} },
        { "a runtime that is not an object", R"({"a": {"identifier": "a"}, "b": 1})", std::nullopt },
        { "top level a list", R"([{"identifier": "a"}])", std::nullopt },
        { "not JSON", R"({"a": )", std::nullopt },
        { "empty output", "", std::nullopt },
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseSimulatorRuntimes(c.json), c.runtimes) << c.label;
}

TEST(MacQueries, StatusListsDrivesAndTheTrash)
{
    FakeMachine machine;
    machine.drive("Backup", "/Volumes/Backup", 10, 5);
    ScanReport missingTrash = ScanReport::status(machine.mac());
    EXPECT_EQ(missingTrash.engine, "quandril 0.1.0");
    EXPECT_EQ(missingTrash.trashBytes, 0);
    EXPECT_EQ(missingTrash.drives, machine.mac().drives());
    EXPECT_TRUE(missingTrash.findings.empty() && missingTrash.skipped.empty() && missingTrash.notes.empty());

    machine.file("~/.Trash/old", 50'000);
    const std::int64_t trash = ScanReport::status(machine.mac()).trashBytes;
    EXPECT_EQ(trash, machine.mac().usage(machine.at("~/.Trash/old")).bytes);
    EXPECT_GE(trash, 50'000);
}

// Emptying the Trash frees what lies in it; the folder keeps its own blocks. The live Trash counts
// only while it is ours alone, as nothing is put in one that isn't.
TEST(MacQueries, TrashBytesAreItsItems)
{
    ScopedEnv data("XDG_DATA_HOME", std::nullopt);
    FakeMachine machine;
    const struct {
        Mac mac;
        std::string folder;
    } rows[] = {
        { machine.mac(), machine.at("~/.Trash") },
        { liveWithHome(machine.home()), machine.at("~/.local/share/Trash/files") },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.folder);
        EXPECT_EQ(row.mac.trashBytes(), 0); // no Trash yet
        makeFolders(row.folder + "/a folder");
        writeFile(row.folder + "/a folder/inside", std::string(10'000, 'x'));
        writeFile(row.folder + "/loose", std::string(3'000, 'x'));
        const std::int64_t items = row.mac.usage(row.folder + "/a folder").bytes + ownBytes(row.folder + "/loose");
        EXPECT_EQ(row.mac.trashBytes(), items);
        std::filesystem::remove_all(row.folder + "/a folder");
        std::filesystem::remove(row.folder + "/loose");
        EXPECT_EQ(row.mac.trashBytes(), 0);
        EXPECT_EQ(ScanReport::status(row.mac).trashBytes, 0);
    }
    const Mac live = liveWithHome(machine.home());
    writeFile(rows[1].folder + "/loose", std::string(3'000, 'x'));
    const std::int64_t full = live.trashBytes();
    ASSERT_GT(full, 0);
    ::chmod(rows[1].folder.c_str(), 0777); // the user's own, whatever its mode
    EXPECT_EQ(live.trashBytes(), full);
    if (Quandril::Testing::runningAsRoot()) {
        ASSERT_EQ(::chown(rows[1].folder.c_str(), 65534, 65534), 0);
        EXPECT_EQ(live.trashBytes(), 0);
    }
}

TEST(AdminShellLine, QuotesEveryElementForTheShell)
{
    const struct {
        std::vector<std::vector<std::string>> commands;
        std::string line;
    } rows[] = {
        { { { "mv", "a b", "c" } }, "'mv' 'a b' 'c'" },
        { { { "echo", "it's" } }, "'echo' 'it'\\''s'" },
        { { { "echo", "back\\slash", "say \"hi\"" } }, "'echo' 'back\\slash' 'say \"hi\"'" },
        { { { "mv", "a", "b" }, { "ln", "-s", "b", "a" } }, "'mv' 'a' 'b' && 'ln' '-s' 'b' 'a'" },
        { { {}, { "true" } }, " && 'true'" },
        { { { "" } }, "''" },
        { {}, "" },
    };
    for (const auto& row : rows)
        EXPECT_EQ(adminShellLine(row.commands), row.line);
}

TEST(AdminShellLine, EveryArgumentReachesTheShellUnchanged)
{
    const std::vector<std::string> arguments = { "it's",   "back\\slash", "say \"hi\"", "$HOME", "`id`",
                                                 "a b\nc", "*",           "",           "''",    "\\'" };
    std::vector<std::string> command = { "printf", "[%s]" };
    command.insert(command.end(), arguments.begin(), arguments.end());
    const std::string line = adminShellLine({ command });

    FILE* shell = ::popen(line.c_str(), "r");
    ASSERT_NE(shell, nullptr);
    std::string printed;
    char buffer[256];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, shell)) > 0;)
        printed.append(buffer, n);
    ASSERT_EQ(::pclose(shell), 0);

    std::string expected;
    for (const auto& argument : arguments)
        expected += "[" + argument + "]";
    EXPECT_EQ(printed, expected);
}

TEST(RunAsAdmin, IsFalseWithoutRunningAnything)
{
    FakeMachine machine;
    const std::string marker = machine.root() + "/ran";
    const std::vector<std::vector<std::string>> touch = { { "/usr/bin/touch", marker } };

    EXPECT_FALSE(machine.mac().runAsAdmin(touch));
    const Mac live("", machine.home(), std::nullopt);
    EXPECT_FALSE(live.runAsAdmin({}));
    // Without the system's privilege tool the run cannot even be prepared; that is a failure.
    if (::access("/usr/bin/pkexec", X_OK) != 0 && ::access("/bin/pkexec", X_OK) != 0) {
        EXPECT_FALSE(live.runAsAdmin(touch));
    }
    EXPECT_FALSE(exists(marker));
}
