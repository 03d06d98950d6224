// The real app, ended by the session's signals while its autopilot deletes a large set of caches:
// SIGTERM, and SIGINT from the terminal it was started in. (The end in the middle of one large
// cache, the display's end and the Put Back's end have suites of their own, and each case is a
// function of its own: Qt Test's time limit counts a function's rows together, and on a loaded
// machine one case takes minutes.)

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

    void aSigtermStopsTheCleanUpBetweenItems() { endCleanUpBetweenItems(Ending::sigterm); }
    void aSigintStopsTheCleanUpBetweenItems() { endCleanUpBetweenItems(Ending::sigint); }
};

QTEST_GUILESS_MAIN(EndOfSessionTests)
#include "EndOfSessionTests.moc"
