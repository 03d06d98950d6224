#pragma once

// Running one row of a Qt test as an ordinary user: root writes into read-only folders, so what an
// ordinary user meets there shows only without root's rights. CI runs the tests as root; such a row
// then runs in a child of this same test binary as the engine tests' ordinary user instead of skipping.

namespace Quandril::AppTesting {

// Runs the current test function's current row again in a child of this test binary as uid and gid
// 65534 ("nobody") with no supplementary groups, its $HOME and $TMPDIR a fresh folder of that user's,
// and waits for it. A failure there (its output shown) is a failure here. Call it as root, then
// return: the child, being no root, runs the row itself.
void runRowAsOrdinaryUser();

} // namespace Quandril::AppTesting
