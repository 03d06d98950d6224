#include <QtTest>
#include <QLabel>

class SmokeTests : public QObject {
    Q_OBJECT
private slots:
    void widgetsRunOffscreen()
    {
        QLabel label(QStringLiteral("Gorrin"));
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QCOMPARE(label.text(), QStringLiteral("Gorrin"));
    }
};

QTEST_MAIN(SmokeTests)
#include "SmokeTests.moc"
