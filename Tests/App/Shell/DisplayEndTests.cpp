// The real app on a private X server that goes away while it works (a logout that ends the X
// server first, or the server's crash), alone or together with the session's SIGTERM, during its
// autopilot's clean-up of many caches or of one large one.

#include <QtTest>

#include "Support/EndScenarios.h"
#include "Support/RealGorrin.h"

using namespace Quandril::AppTesting;

class DisplayEndTests : public QObject {
    Q_OBJECT

private slots:
    // As the session's end tests: drives mounted only in a mount namespace of our own.
    void initTestCase()
    {
        if (!enterOwnMounts())
            QSKIP("no mount namespace of our own here, and mounting in the shared one would disturb other tests");
        Throttle::sweep();
    }

    // One function per case: Qt Test's time limit counts a function's rows together.
    void theDisplayGoingStopsTheCleanUpBetweenItems() { endCleanUpBetweenItems(Ending::displayGone); }
    void theDisplayGoingWithSigtermStopsTheCleanUpBetweenItems()
    {
        endCleanUpBetweenItems(Ending::displayGoneWithSigterm);
    }
    void theDisplayGoingMidItemLeavesHistoryTrueToTheDisk() { endCleanUpMidItem(Ending::displayGone); }
};

QTEST_GUILESS_MAIN(DisplayEndTests)
#include "DisplayEndTests.moc"
