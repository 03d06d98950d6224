#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Platform/UrlOpener.h"
#include "Support/FakeUrlOpener.h"

#include <QtTest>

class UrlOpenerTests : public QObject {
    Q_OBJECT
private slots:
    void opensOnlyHttpsPagesWithAHost_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("opened");
        const auto add = [](const char* address, bool opened) {
            QTest::newRow(address) << QString::fromUtf8(address) << opened;
        };
        add("https://gorrin.example/#download", true);
        add("HTTPS://Gorrin.Example/changelog", true);
        add("https://192.0.2.1:8443/get?x=1", true);
        add("http://gorrin.example/", false);
        add("file:///etc/passwd", false);
        add("javascript:alert(1)", false);
        add("gorrin-update://install", false);
        add("https:///no-host", false);
        add("https:gorrin.example", false);
        add("//gorrin.example/", false);
        add("", false);
    }
    void opensOnlyHttpsPagesWithAHost()
    {
        QFETCH(QString, address);
        QFETCH(bool, opened);
        QuandrilAppTests::FakeUrlOpener opener;
        const QUrl url(address);
        QCOMPARE(opener.open(url), opened);
        QCOMPARE(opener.opened, opened ? QList<QUrl>{url} : QList<QUrl>{});
    }

    void theSitesPagesAreSafeToOpen()
    {
        namespace Info = Quandril::AppInfo;
        const QString site = Info::site().toString();
        QVERIFY(!site.endsWith(u'/'));
        const QList<QUrl> pages{Info::site(), Info::updateUrl(), Info::faqUrl(), Info::changelogUrl(), Info::downloadUrl()};
        const QStringList addresses{site, site + QStringLiteral("/version.json"), site + QStringLiteral("/#faq"),
            site + QStringLiteral("/changelog"), site + QStringLiteral("/#download")};
        for (qsizetype i = 0; i < pages.size(); ++i) {
            QCOMPARE(pages[i].toString(), addresses[i]);
            QVERIFY(Quandril::isSecureWebAddress(pages[i]));
        }
    }
};

QTEST_GUILESS_MAIN(UrlOpenerTests)
#include "UrlOpenerTests.moc"
