#pragma once

// Running part of a test as a user without privileges: root reads and removes everything, so what an
// ordinary user meets (read-only folders, unreadable files) shows only once a forked child gives
// root's rights up. CI runs the tests as root, so these parts run there too instead of skipping.

#include <functional>
#include <initializer_list>
#include <string>

namespace Quandril::Testing {

// The user the forked child becomes: "nobody" and its group, never the owner of a test's files.
inline constexpr unsigned ordinaryUid = 65534;
inline constexpr unsigned ordinaryGid = 65534;

// Runs `body` as an ordinary user: right here when this process isn't root; as root, in a forked
// child that first gives every file below `trees` (made by the test before) to `ordinaryUid`, then
// takes that user's ids with no supplementary groups and runs `body`. The body uses gtest's
// expectations as usual: the child prints its failures, and its exit status adds one failure here.
// What the body changes on disk is seen here after it. Fixtures made inside the body belong to that
// user already ($TMPDIR is /tmp there when the user couldn't write to the one given). Where threads
// already run (the engine's workers, left by an earlier test when a whole test binary runs in one
// process), a child would lack them: the body then runs in this process with the user's effective
// ids (getuid() still says 0) and root's come back after it.
void asOrdinaryUser(const std::function<void()>& body, std::initializer_list<std::string> trees = {});

// The same for a body that says whether it held, and what went wrong on standard error.
void withoutPrivileges(const std::string& tree, const std::function<bool()>& body);

} // namespace Quandril::Testing
