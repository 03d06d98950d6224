// The real app, ended by the session's signals while it works: SIGTERM, and SIGINT from the
// terminal it was started in, while its autopilot deletes a large set of caches or one large
// cache; its own Quit in the middle of that large cache. (The Put Back's end has a suite of its
// own, PutBackEndTests, so that each suite stays well inside its time limit on a loaded machine.)

#include <QtTest>

#include "Support/EndScenarios.h"
#include "Support/RealGorrin.h"

using namespace Quandril::AppTesting;

class EndOfSessionTests : public QObject {
    Q_OBJECT

private slots:
    // The drives the tests mount stay in a mount namespace of their own, which the app inherits,
    // so no other test running beside them sees drives come and go.
    void initTestCase()
    {
        if (!enterOwnMounts())
            QSKIP("no mount namespace of our own here, and mounting in the shared one would disturb other tests");
        Throttle::sweep();
    }

    void aSignalStopsTheCleanUpBetweenItemsAndEndsTheApp_data()
    {
        QTest::addColumn<Ending>("ending");
        QTest::newRow("SIGTERM") << Ending::sigterm;
        QTest::newRow("SIGINT") << Ending::sigint;
    }

    void aSignalStopsTheCleanUpBetweenItemsAndEndsTheApp()
    {
        QFETCH(Ending, ending);
        endCleanUpBetweenItems(ending);
    }

    void anEndMidItemLeavesHistoryTrueToTheDisk_data()
    {
        QTest::addColumn<Ending>("ending");
        QTest::newRow("SIGTERM") << Ending::sigterm;
        QTest::newRow("SIGINT") << Ending::sigint;
        QTest::newRow("Quit Gorrin") << Ending::quit;
    }

    void anEndMidItemLeavesHistoryTrueToTheDisk()
    {
        QFETCH(Ending, ending);
        endCleanUpMidItem(ending);
    }
};

QTEST_GUILESS_MAIN(EndOfSessionTests)
#include "EndOfSessionTests.moc"
