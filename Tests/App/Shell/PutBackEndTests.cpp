// The real app ended during a Put Back of files copied back across file systems: by the session's
// SIGTERM, or by its X server going away.

#include <QtTest>

#include "Support/EndScenarios.h"
#include "Support/RealGorrin.h"

using namespace Quandril::AppTesting;

class PutBackEndTests : public QObject {
    Q_OBJECT

private slots:
    // The Trash's own file system is mounted only in a mount namespace of our own.
    void initTestCase()
    {
        if (!enterOwnMounts())
            QSKIP("no mount namespace of our own here, and mounting in the shared one would disturb other tests");
        Throttle::sweep();
    }

    // One function per end: Qt Test's time limit counts a function's rows together.
    void aSigtermDuringAPutBackWaitsForIt() { endPutBack(Ending::sigterm); }
    void theDisplayGoingDuringAPutBackWaitsForIt() { endPutBack(Ending::displayGone); }
};

QTEST_GUILESS_MAIN(PutBackEndTests)
#include "PutBackEndTests.moc"
