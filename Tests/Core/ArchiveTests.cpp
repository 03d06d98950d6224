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

TEST(EncryptedDiskImage, HeaderAtStartOrTrailerAtEndOnly)
{
    TempDir dir;
    const struct {
        const char* name;
        std::string content;
        bool encrypted;
    } cases[] = {
        { "start.dmg", diskImage(ImageHeader::encryptedAtStart, 4'096), true },
        { "end.dmg", diskImage(ImageHeader::encryptedAtEnd, 4'096), true },
        { "exactly the header.dmg", "encrcdsa", true },
        { "plain.dmg", diskImage(ImageHeader::plain, 4'096), false },
        { "shifted.dmg", " " + diskImage(ImageHeader::encryptedAtStart, 4'096), false },
        { "short.dmg", "encrcds", false },
        { "empty.dmg", "", false },
    };
    for (const auto& c : cases) {
        writeFile(dir.path() + "/" + c.name, c.content);
        EXPECT_EQ(Platform::isEncryptedDiskImage(dir.path() + "/" + c.name), c.encrypted) << c.name;
    }
    ASSERT_EQ(::mkfifo((dir.path() + "/pipe.dmg").c_str(), 0600), 0);
    EXPECT_FALSE(Platform::isEncryptedDiskImage(dir.path() + "/pipe.dmg"));
    EXPECT_FALSE(Platform::isEncryptedDiskImage(dir.path() + "/missing.dmg"));
}

} // namespace
