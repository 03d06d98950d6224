#include "Support/FakeUrlOpener.h"

#include <QtTest>

class UrlOpenerTests : public QObject {
    Q_OBJECT
private slots:
    void opensOnlyHttpsPagesWithAHost()
    {
        Quandril::AppTesting::FakeUrlOpener opener;
        const QList<QUrl> pages { QUrl(QStringLiteral("https://gorrin.example/#download")),
                                  QUrl(QStringLiteral("HTTPS://Gorrin.Example/changelog")),
                                  QUrl(QStringLiteral("https://192.0.2.1:8443/get?x=1")) };
        for (const QUrl& page : pages)
            QVERIFY(opener.open(page));
        for (const char* address :
             { "http://gorrin.example/", "file:///etc/passwd", "javascript:alert(1)", "gorrin-update://install",
               "https:///no-host", "https:gorrin.example", "//gorrin.example/", "" })
            QVERIFY2(!opener.open(QUrl(QString::fromUtf8(address))), address);
        QCOMPARE(opener.opened, pages);
    }
};

QTEST_GUILESS_MAIN(UrlOpenerTests)
#include "UrlOpenerTests.moc"
