#include "QuandrilCore/Scanning/Finders/Finders.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Support/FakeMachine.h"
#include "Support/FinderChecks.h"
#include "Support/MiniCatalog.h"
#include "Support/Thresholds.h"

using namespace Quandril;
using Quandril::Testing::FakeMachine;

namespace {

FinderResult findStale(const ScanContext& context)
{
    return StaleMountsFinder {}.find(context);
}

FinderResult findStale(const Mac& mac, const Catalog& catalog, std::optional<std::int64_t> minimum = std::nullopt)
{
    return findStale(Scanner::makeContext(mac, catalog, ScanOptions { .minimumBytes = minimum, .now = Clock::now() }));
}

TEST(StaleMountsFinder, OnlyFoldersLeftBehindInVolumes)
{
    // "Ü" decomposed, as some file systems store it; the id's key is composed.
    const std::string name = "Old \"Disk\" U\xCC\x88";
    FakeMachine m;
    m.file("/Volumes/" + name + "/Photos/a.jpg", 40'000);
    m.drive("Backup", "/Volumes/Backup", 1'000'000'000, 500'000'000).file("/Volumes/Backup/data", 40'000);
    m.file("/Volumes/stray.bin", 40'000);
    m.file("/Elsewhere/data", 40'000).link("/Volumes/Link", m.at("/Elsewhere"));
    Mac mac = m.mac();

    FinderResult result = findStale(mac, Testing::miniCatalog());
    const std::string path = m.at("/Volumes/" + name);
    Finding expected("stale-volume-olddisk\xC3\xBC", "stale-mounts", "\"" + name + "\" folder that isn't the drive",
                     "Something saved files into /Volumes/" + name + " while " + name
                         + " wasn't plugged in, so they're on your Mac, not on the drive.",
                     "Plug the drive in and move what you want to keep onto it; nothing here is removed for you.",
                     Tier::personal, mac.usage(path).bytes, { path }, std::nullopt, Action::review(), std::nullopt,
                     std::nullopt, false, std::nullopt);
    Testing::expectOnly(result, { expected });
}

TEST(StaleMountsFinder, ThresholdIsInclusive)
{
    FakeMachine m;
    m.file("/Volumes/Ghost/data", 40'000);
    Mac mac = m.mac();
    const std::int64_t bytes = mac.usage(m.at("/Volumes/Ghost")).bytes;
    ASSERT_GT(bytes, 0);

    for (const auto& c : Testing::thresholdCases(bytes)) {
        Catalog catalog = Testing::miniCatalog();
        catalog.thresholds.staleMount = c.catalogBytes;
        EXPECT_EQ(findStale(mac, catalog, c.minimum).findings.size(), c.found ? 1u : 0u) << c;
    }
}

// A live machine is told from a fake one by its fixture, so a machine with a root and no fixture
// runs the device test against real folders.
TEST(StaleMountsFinder, OnTheLiveMachineAFolderOnTheStartupDiskIsStale)
{
    Testing::TempDir root;
    Testing::writeFile(root.path() + "/Volumes/Ghost/data", std::string(40'000, 'x'));
    Testing::makeFolders(root.path() + "/Volumes/Real");
    Testing::makeFolders(root.path() + "/Users/me");
    Mac mac(root.path(), root.path() + "/Users/me", std::nullopt);
    ASSERT_FALSE(mac.isFake());

    DriveInfo real { "Real", root.path() + "/Volumes/Real", false, 1'000, 1'000, 1'000 };
    ScanContext context {
        mac, Testing::miniCatalog(),           { real }, {}, nullptr, {}, {}, ScanOptions { .now = Clock::now() },
        {},  std::make_shared<UsageCache>(mac)
    };
    FinderResult result = findStale(context);
    ASSERT_EQ(result.findings.size(), 1u);
    EXPECT_EQ(result.findings[0].paths, (std::vector<std::string> { root.path() + "/Volumes/Ghost" }));
    EXPECT_EQ(result.findings[0].id, "stale-volume-ghost");
}

} // namespace
