#include "QuandrilCore/Platform/Archive.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Support/Archives.h"
#include "Support/FakeMachine.h"

using namespace Quandril;
using namespace Quandril::Testing;

namespace {

using Names = std::optional<std::vector<std::string>>;

TEST(ZipEntryNames, DirectoryOrderFoldersMarkedCappedAndNothingForNonArchives)
{
    TempDir dir;
    const std::string zip = dir.path() + "/a.zip";
    writeZip(zip, { { "App.app/", "" }, { "App.app/Contents/Info.plist", "<plist/>" }, { "Read me.txt", "hi" } });
    EXPECT_EQ(Platform::zipEntryNames(zip, 100), Names({ "App.app/", "App.app/Contents/Info.plist", "Read me.txt" }));
    EXPECT_EQ(Platform::zipEntryNames(zip, 2), Names({ "App.app/", "App.app/Contents/Info.plist" }));

    writeFile(dir.path() + "/text.zip", std::string(4'000, 'z'));
    writeFile(dir.path() + "/empty.zip", "");
    ASSERT_EQ(::mkfifo((dir.path() + "/pipe.zip").c_str(), 0600), 0);
    makeFolders(dir.path() + "/folder.zip");
    for (const char* name : { "text.zip", "empty.zip", "pipe.zip", "folder.zip", "missing.zip" })
        EXPECT_EQ(Platform::zipEntryNames(dir.path() + "/" + name, 100), std::nullopt) << name;
}

TEST(EncryptedDiskImage, NothingForWhatIsTooShortOrNoFile)
{
    // Headers at either end are checked through the installers finder; these are the edges.
    TempDir dir;
    writeFile(dir.path() + "/header only.dmg", "encrcdsa");
    writeFile(dir.path() + "/short.dmg", "encrcds");
    writeFile(dir.path() + "/empty.dmg", "");
    ASSERT_EQ(::mkfifo((dir.path() + "/pipe.dmg").c_str(), 0600), 0);
    EXPECT_TRUE(Platform::isEncryptedDiskImage(dir.path() + "/header only.dmg"));
    for (const char* name : { "short.dmg", "empty.dmg", "pipe.dmg", "missing.dmg" })
        EXPECT_FALSE(Platform::isEncryptedDiskImage(dir.path() + "/" + name)) << name;
}

} // namespace
