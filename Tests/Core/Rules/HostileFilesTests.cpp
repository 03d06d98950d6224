// Files the engine reads that someone else put there: a named pipe where a file belongs, and a
// property list crafted to upset the library that reads it.

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "QuandrilCore/Rules/Catalog.h"
#include "QuandrilCore/Rules/Inventory.h"
#include "QuandrilCore/Rules/VDF.h"
#include "Support/AppBundles.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"
#include "Support/PlistBytes.h"

using namespace Quandril;
using Quandril::Testing::FakeMachine;

namespace {

void makePipe(const std::string& path)
{
    Testing::makeFolders(std::filesystem::path(path).parent_path().string());
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0) << path;
}

// Runs `work`; should it still be waiting on the pipe long after it ought to have returned, a
// writer comes and goes so that it returns, and the wait is reported. A guard against a hung
// test, not a measure of speed.
std::string withoutWaitingOn(const std::string& pipe, const std::function<std::string()>& work)
{
    auto outcome = std::async(std::launch::async, work);
    if (outcome.wait_for(std::chrono::seconds(30)) == std::future_status::timeout) {
        const int fd = ::open(pipe.c_str(), O_RDWR | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        outcome.get();
        return "waited on the pipe";
    }
    return outcome.get();
}

std::string identifierOf(const FakeMachine& machine, const std::string& app)
{
    const Mac mac = machine.mac();
    const AppIndex index = AppIndex::discover(mac, mac.drives(), {});
    for (const auto& found : index.apps)
        if (found.path == machine.at(app))
            return found.bundleID.value_or("listed without an identifier");
    return "not listed";
}

template <typename Error>
std::string errorOf(const std::function<void()>& work)
{
    try {
        work();
        return "loaded";
    } catch (const std::system_error& error) {
        return "read error: " + error.code().message();
    } catch (const Error& error) {
        return std::string("decode error: ") + error.what();
    }
}

HistoryEntry someEntry()
{
    return HistoryEntry { *Platform::parseIso8601("2025-03-04T05:06:07Z"), "a", "A", Action::Kind::trash, 1, {}, {} };
}

struct PipeCase {
    const char* name;
    std::string display; // where the pipe is laid
    std::function<std::string(FakeMachine&)> read;
    std::string outcome;
};

class PipeInPlaceOfAFile : public testing::TestWithParam<PipeCase> {};

TEST_P(PipeInPlaceOfAFile, IsRefusedWithoutWaiting)
{
    const auto& row = GetParam();
    FakeMachine machine;
    machine.mac(); // the fixture file, before any pipe takes a name
    const std::string pipe = machine.at(row.display);
    makePipe(pipe);
    EXPECT_EQ(withoutWaitingOn(pipe, [&] { return row.read(machine); }), row.outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PipeInPlaceOfAFile,
    testing::Values(
        PipeCase { "Info.plist", "/Applications/Tool.app/Contents/Info.plist",
                   [](FakeMachine& machine) { return identifierOf(machine, "/Applications/Tool.app"); },
                   "listed without an identifier" },
        PipeCase {
            "history file when loading", std::string(History::displayPath),
            [](FakeMachine& machine) { return std::to_string(History::load(machine.mac()).size()) + " entries"; },
            "0 entries" },
        PipeCase { "history file when appending", std::string(History::displayPath),
                   [](FakeMachine& machine) {
                       return History::append(someEntry(), machine.mac()) ? "appended" : "not appended";
                   },
                   "not appended" },
        PipeCase { "catalog", "/rules/catalog.json",
                   [](FakeMachine& machine) {
                       return errorOf<Json::DecodeError>([&] { Catalog::load(machine.at("/rules/catalog.json")); });
                   },
                   "read error: " + std::generic_category().message(EINVAL) },
        PipeCase { "fixture", "/quandril-fixture.json",
                   [](FakeMachine& machine) { return errorOf<Json::DecodeError>([&] { Mac::fake(machine.root()); }); },
                   "read error: " + std::generic_category().message(EINVAL) },
        PipeCase { "Steam manifest", "/Library/appmanifest_7.acf",
                   [](FakeMachine& machine) {
                       return VDF::parse(machine.at("/Library/appmanifest_7.acf")) ? "read" : "not read";
                   },
                   "not read" }),
    Testing::CaseNamed {});

TEST(HostileFiles, HistoryIsNeverAppendedThroughALink)
{
    FakeMachine machine;
    const std::string elsewhere = machine.at("~/Documents/notes.txt");
    Testing::writeFile(elsewhere, "mine\n");
    Testing::makeFolders(std::filesystem::path(machine.at(std::string(History::displayPath))).parent_path().string());
    std::filesystem::create_symlink(elsewhere, machine.at(std::string(History::displayPath)));
    EXPECT_FALSE(History::append(someEntry(), machine.mac()));
    EXPECT_EQ(Testing::readFile(elsewhere), "mine\n");
}

// ---- Crafted property lists ----

using namespace Quandril::Testing;

// An identifier, then a key "a" whose value holds `levels` arrays, each inside the one before.
std::string deepBinary(std::size_t levels)
{
    std::vector<std::string> objects { plistDict({ { 1, 3 }, { 2, 4 } }, 4), plistASCII("CFBundleIdentifier"),
                                       plistASCII("a"), plistASCII("com.example.deep") };
    for (std::size_t i = 0; i < levels; ++i)
        objects.push_back(i + 1 < levels ? plistArray({ objects.size() + 1 }, 4) : plistArray({}, 4));
    return binaryPlist(objects, 4);
}

std::string deepXml(std::size_t levels)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>a</key>";
    for (std::size_t i = 0; i < levels; ++i)
        out += "<array>";
    for (std::size_t i = 0; i < levels; ++i)
        out += "</array>";
    return out + "<key>CFBundleIdentifier</key><string>com.example.deep</string></dict></plist>";
}

// Arrays that each hold the next one twice: a few hundred bytes that stand for 2^60 arrays when
// every reference is followed.
std::string sharedBinary(std::size_t levels)
{
    std::vector<std::string> objects { plistDict({ { 1, 2 }, { 3, 4 } }, 1), plistASCII("a"), plistArray({ 5, 5 }, 1),
                                       plistASCII("CFBundleIdentifier"), plistASCII("com.example.shared") };
    for (std::size_t i = 0; i < levels; ++i)
        objects.push_back(i + 1 < levels ? plistArray({ objects.size() + 1, objects.size() + 1 }, 1)
                                         : plistArray({}, 1));
    return binaryPlist(objects, 1);
}

struct CraftedCase {
    const char* name;
    std::string plist;
    std::string identifier;
};

class CraftedInfoPlist : public testing::TestWithParam<CraftedCase> {};

TEST_P(CraftedInfoPlist, NeverStopsTheScan)
{
    FakeMachine machine;
    Testing::addApp(machine, "/Applications/Crafted.app", Testing::AppSpec().plist(Testing::InfoPlist::none));
    Testing::writeFile(machine.at("/Applications/Crafted.app/Contents/Info.plist"), GetParam().plist);
    EXPECT_EQ(identifierOf(machine, "/Applications/Crafted.app"), GetParam().identifier);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CraftedInfoPlist,
    testing::Values(
        CraftedCase {
            "53 bytes whose one key holds a NUL",
            binaryPlist({ plistDict({ { 1, 2 } }, 1), plistUTF16(std::u16string(u"A\0", 2)), plistASCII("x") }, 1),
            "listed without an identifier" },
        CraftedCase { "a NUL key beside the identifier",
                      binaryPlist({ plistDict({ { 1, 3 }, { 2, 4 } }, 1), plistUTF16(std::u16string(u"\0", 1)),
                                    plistASCII("CFBundleIdentifier"), plistASCII("x"), plistASCII("com.example.ok") },
                                  1),
                      "com.example.ok" },
        CraftedCase { "binary arrays 200,000 deep", deepBinary(200'000), "com.example.deep" },
        CraftedCase { "XML arrays 200,000 deep", deepXml(200'000), "com.example.deep" },
        CraftedCase { "binary arrays shared 60 levels deep", sharedBinary(60), "com.example.shared" }),
    Testing::CaseNamed {});

} // namespace
