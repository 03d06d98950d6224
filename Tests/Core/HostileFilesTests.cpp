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

#include "QuandrilCore/Catalog.h"
#include "QuandrilCore/Cleaner.h"
#include "QuandrilCore/Inventory.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "QuandrilCore/VDF.h"
#include "Support/AppBundles.h"
#include "Support/CaseName.h"
#include "Support/FakeMachine.h"

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
    return HistoryEntry {*Platform::parseIso8601("2025-03-04T05:06:07Z"), "a", "A", Action::Kind::trash, 1, {}, {}};
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
        PipeCase {"Info.plist", "/Applications/Tool.app/Contents/Info.plist",
                  [](FakeMachine& machine) { return identifierOf(machine, "/Applications/Tool.app"); },
                  "listed without an identifier"},
        PipeCase {"history file when loading", std::string(History::displayPath),
                  [](FakeMachine& machine) {
                      return std::to_string(History::load(machine.mac()).size()) + " entries";
                  },
                  "0 entries"},
        PipeCase {"history file when appending", std::string(History::displayPath),
                  [](FakeMachine& machine) {
                      return History::append(someEntry(), machine.mac()) ? "appended" : "not appended";
                  },
                  "not appended"},
        PipeCase {"catalog", "/rules/catalog.json",
                  [](FakeMachine& machine) {
                      return errorOf<Json::DecodeError>([&] { Catalog::load(machine.at("/rules/catalog.json")); });
                  },
                  "read error: " + std::generic_category().message(EINVAL)},
        PipeCase {"fixture", "/quandril-fixture.json",
                  [](FakeMachine& machine) {
                      return errorOf<Json::DecodeError>([&] { Mac::fake(machine.root()); });
                  },
                  "read error: " + std::generic_category().message(EINVAL)},
        PipeCase {"Steam manifest", "/Library/appmanifest_7.acf",
                  [](FakeMachine& machine) {
                      return VDF::parse(machine.at("/Library/appmanifest_7.acf")) ? "read" : "not read";
                  },
                  "not read"}),
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

// ---- A crafted binary property list ----

// An object's type and length: lengths from 15 on follow as a one-byte integer.
std::string marker(int type, std::size_t length)
{
    if (length < 15)
        return std::string(1, static_cast<char>(type << 4 | static_cast<int>(length)));
    return std::string {static_cast<char>(type << 4 | 0xF), '\x10', static_cast<char>(length)};
}

// One dictionary in binary form: keys as UTF-16 text, values as ASCII text, every offset and
// reference one byte wide. Laid out by hand so that any bytes can stand in a key.
std::string binaryPlist(const std::vector<std::pair<std::u16string, std::string>>& entries)
{
    std::string objects;
    std::vector<std::size_t> offsets;
    const auto count = entries.size();
    offsets.push_back(8 + objects.size());
    objects += marker(0xD, count);
    for (std::size_t i = 0; i < count; ++i)
        objects += static_cast<char>(1 + i);
    for (std::size_t i = 0; i < count; ++i)
        objects += static_cast<char>(1 + count + i);
    for (const auto& [key, value] : entries) {
        offsets.push_back(8 + objects.size());
        objects += marker(0x6, key.size());
        for (char16_t unit : key) {
            objects += static_cast<char>(unit >> 8);
            objects += static_cast<char>(unit & 0xFF);
        }
    }
    for (const auto& [key, value] : entries) {
        offsets.push_back(8 + objects.size());
        objects += marker(0x5, value.size());
        objects += value;
    }
    std::string out = "bplist00" + objects;
    const std::size_t table = out.size();
    for (auto offset : offsets)
        out += static_cast<char>(offset);
    std::string trailer(32, '\0');
    trailer[6] = 1; // offset width
    trailer[7] = 1; // reference width
    trailer[15] = static_cast<char>(offsets.size());
    trailer[31] = static_cast<char>(table);
    return out + trailer;
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
    testing::Values(CraftedCase {"53 bytes whose one key holds a NUL", binaryPlist({{std::u16string(u"A\0", 2), "x"}}),
                                 "listed without an identifier"},
                    CraftedCase {"a NUL key beside the identifier",
                                 binaryPlist({{std::u16string(u"\0", 1), "x"},
                                              {u"CFBundleIdentifier", "com.example.ok"}}),
                                 "com.example.ok"}),
    Testing::CaseNamed {});

} // namespace
