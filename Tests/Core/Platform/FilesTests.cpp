// The plain file reads and writes: whole files, folder names, link texts, taken names and whole
// writes, each with the error of what can't be done.

#include "QuandrilCore/Platform/Files.h"

#include <cerrno>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Support/FakeMachine.h"

using namespace Quandril::Platform;
using Quandril::Testing::TempDir;
using Quandril::Testing::writeFile;

namespace {

TEST(Files, WholeFilesAndFolderNamesOrTheError)
{
    TempDir dir;
    const std::string file = dir.path() + "/f";
    std::string big(200'000, 'x'); // more than one read
    big.back() = 'y';
    writeFile(file, big);

    EXPECT_EQ(readFile(file), big);
    int error = 0;
    EXPECT_EQ(readFile(dir.path() + "/missing", &error), std::nullopt);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(readFile(dir.path(), &error), std::nullopt);
    EXPECT_EQ(error, EISDIR);

    EXPECT_EQ(readEntryNames(dir.path()), std::vector<std::string> { "f" });
    EXPECT_EQ(readEntryNames(file, &error), std::nullopt);
    EXPECT_EQ(error, ENOTDIR);

    EXPECT_TRUE(sameItem(file, dir.path() + "/./f"));
    EXPECT_FALSE(sameItem(file, dir.path()));
    EXPECT_FALSE(sameItem(file, dir.path() + "/missing"));
}

// Link texts longer than a first guess, dangling links (they take their name), and the error of a
// read or write that can't be done.
TEST(Files, LinkTextsTakenNamesAndWholeWrites)
{
    TempDir dir;
    const std::string file = dir.path() + "/f";
    writeFile(file, "x");
    const std::string longTarget = std::string(3000, 'a') + "/\xc3\xa9 \"quoted\"\nname";
    const struct {
        const char* name;
        std::string target;
    } links[] = { { "dangling", "nowhere" }, { "long", longTarget }, { "exact", std::string(256, 'b') } };
    for (const auto& link : links) {
        const std::string path = dir.path() + "/" + link.name;
        ASSERT_EQ(::symlink(link.target.c_str(), path.c_str()), 0) << link.name;
        EXPECT_EQ(linkText(path), link.target) << link.name;
        EXPECT_TRUE(nameTaken(path)) << link.name;
    }
    const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    EXPECT_EQ(linkText(folder, "long"), longTarget);
    ::close(folder);
    errno = 0;
    EXPECT_EQ(linkText(file), std::nullopt);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(linkText(dir.path() + "/missing"), std::nullopt);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(nameTaken(file));
    EXPECT_FALSE(nameTaken(dir.path() + "/missing"));

    std::string content(1 << 20, 'z');
    content += "end";
    const int out = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    ASSERT_GE(out, 0);
    EXPECT_EQ(writeAll(out, content), 0);
    EXPECT_EQ(writeAll(out, ""), 0);
    ::close(out);
    EXPECT_EQ(readFile(file), content);

    const int readOnly = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(readOnly, 0);
    EXPECT_EQ(writeAll(readOnly, "x"), EBADF);
    ::close(readOnly);
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (full >= 0) {
        EXPECT_EQ(writeAll(full, content), ENOSPC);
        ::close(full);
    }
}

} // namespace
