// The real app ended in the middle of one cache too large to go in a moment, slowed: by SIGTERM,
// by SIGINT, and by its own Quit pressed on a private X server. One function per end, each within
// Qt Test's time limit on a loaded machine.

#include <QtTest>

#include "Support/EndScenarios.h"
#include "Support/RealGorrin.h"

using namespace Quandril::AppTesting;

class MidItemEndTests : public QObject {
    Q_OBJECT

private slots:
    // The drive the tests mount stays in a mount namespace of their own.
    void initTestCase()
    {
        if (!enterOwnMounts())
            QSKIP("no mount namespace of our own here, and mounting in the shared one would disturb other tests");
        Throttle::sweep();
    }

    void aSigtermMidItemLeavesHistoryTrueToTheDisk() { endCleanUpMidItem(Ending::sigterm); }
    void aSigintMidItemLeavesHistoryTrueToTheDisk() { endCleanUpMidItem(Ending::sigint); }
    void quitMidItemLeavesHistoryTrueToTheDisk() { endCleanUpMidItem(Ending::quit); }
};

QTEST_GUILESS_MAIN(MidItemEndTests)
#include "MidItemEndTests.moc"
