#pragma once

// Running part of a test as a user without privileges: root reads and removes everything, so what an
// ordinary user meets (read-only folders, unreadable files) shows only once a forked child gives
// root's rights up.

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace Quandril::Testing {

// Runs `body` as a user without privileges, and expects it to return true: as this user when that is
// no root, else in a forked child that gives `tree` to the user "nobody" and becomes it. The child's
// own expectations don't reach the test; the body says what went wrong on standard error.
inline void withoutPrivileges(const std::string& tree, const std::function<bool()>& body)
{
    if (::geteuid() != 0) {
        EXPECT_TRUE(body());
        return;
    }
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            constexpr uid_t nobody = 65534;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(tree))
                ::lchown(entry.path().c_str(), nobody, nobody);
            ::lchown(tree.c_str(), nobody, nobody);
            if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0
                || ::setresuid(nobody, nobody, nobody) != 0)
                std::_Exit(2);
            std::_Exit(body() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace Quandril::Testing
