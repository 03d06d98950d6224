#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Settings/UpdateCheck.h"
#include "Support/FakeUpdateFetcher.h"

#include <QtTest>

using Quandril::UpdateFetcher;
using Quandril::UpdateCheck::Result;

Q_DECLARE_METATYPE(Quandril::UpdateCheck::Result)
Q_DECLARE_METATYPE(Quandril::UpdateFetcher::Outcome)

namespace Quandril::UpdateCheck {
char* toString(const Result& r)
{
    const char* kinds[] = {"newer", "failed", "upToDate"};
    return qstrdup(QStringLiteral("%1(version=%2 url=%3 notes=%4 message=%5)")
                       .arg(QLatin1String(kinds[int(r.kind)]), r.version, r.url.toString(),
                           r.notes ? *r.notes : QStringLiteral("<none>"), r.message)
                       .toUtf8()
                       .constData());
}
} // namespace Quandril::UpdateCheck

namespace {

const QString noLink = QStringLiteral("The version file didn't have a usable link.");

// JSON written with ' for ", so the rows stay readable.
QByteArray json(const char* text)
{
    return QByteArray(text).replace('\'', '"');
}

QByteArray file(const QString& version, const QString& url)
{
    return QStringLiteral("{\"version\": \"%1\", \"url\": \"%2\"}").arg(version, url).toUtf8();
}

Result failed(const char* message)
{
    return Result::failed(QStringLiteral("Couldn't check: ") + QString::fromUtf8(message));
}

Result newer(const char* version, const char* url, std::optional<QString> notes = std::nullopt)
{
    return Result::newer(QString::fromUtf8(version), QUrl(QString::fromUtf8(url)), std::move(notes));
}

} // namespace

class UpdateCheckTests : public QObject {
    Q_OBJECT
private slots:
    void isNewerComparesDottedNumbers_data()
    {
        QTest::addColumn<QString>("candidate");
        QTest::addColumn<QString>("current");
        QTest::addColumn<bool>("expected");
        const auto row = [](const char* name, const char* candidate, const char* current, bool expected) {
            QTest::newRow(name) << QString::fromUtf8(candidate) << QString::fromUtf8(current) << expected;
        };
        row("parts compare as numbers", "1.10", "1.9", true);
        row("a missing part counts as 0", "1.2", "1.2.0", false);
        row("a missing current part counts as 0", "1.2.0", "1.2", false);
        row("a longer candidate", "1.2.0.1", "1.2", true);
        row("first difference decides", "1.3", "1.2.9", true);
        row("older", "1.2.9", "1.3", false);
        row("equal is not newer", "1.2", "1.2", false);
        row("letters drop the piece", "2.0-beta", "2.0", false);
        row("a prefix letter drops the first piece", "v2.0", "1.9", false);
        row("later pieces move up", "1.x.3", "1.2", true);
        row("empty pieces add nothing", "1..2", "1.1", true);
        row("dots at the ends add nothing", ".1.2.", "1.1", true);
        row("a trailing blank drops the last piece", "1.2.3 ", "1.2.1", false);
        row("a trailing line break drops the last piece", "1.2.3\n", "1.2.1", false);
        row("a leading blank drops the first piece", " 2.0", "1.0", false);
        row("a blank inside drops the piece", "1. 3", "1.2", false);
        row("leading zeros", "1.02", "1.2", false);
        row("a plus sign reads as the number", "+1.0", "1.0", false);
        row("a plus sign and a bigger number", "+1.1", "1.0", true);
        row("negative numbers compare signed", "0", "-1", true);
        row("a sign alone is dropped", "+.-.1", "1", false);
        row("two signs drop the piece", "+-5", "0", false);
        row("the largest 64-bit number", "9223372036854775807", "9223372036854775806", true);
        row("a number too big to fit is dropped", "9223372036854775808", "1", false);
        row("the smallest 64-bit number", "-9223372036854775808", "-9223372036854775807", false);
        row("non-ASCII digits are dropped", "\xd9\xa2.0", "1.0", false);
        row("fullwidth digits are dropped", "\xef\xbc\x92.0", "1.0", false);
        row("an empty candidate", "", "0.0.0", false);
        row("no digits against an empty text", "beta", "", false);
        row("anything against an empty text", "0.0.1", "", true);
    }
    void isNewerComparesDottedNumbers()
    {
        QFETCH(QString, candidate);
        QFETCH(QString, current);
        QFETCH(bool, expected);
        QCOMPARE(Quandril::UpdateCheck::isNewer(candidate, current), expected);
    }

    void judgeReadsOnlyAWellFormedFile_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("current");
        QTest::addColumn<Result>("expected");
        const QString low = QStringLiteral("1.0");
        const QString high = QStringLiteral("9.9");

        QTest::newRow("newer with notes")
            << json("{'version': '1.4.2', 'url': 'https://gorrin.example/get', 'notes': 'Faster scans.'}")
            << low << newer("1.4.2", "https://gorrin.example/get", QStringLiteral("Faster scans."));
        QTest::newRow("no notes key") << file("2.0", "https://gorrin.example/get") << low
                                      << newer("2.0", "https://gorrin.example/get");
        QTest::newRow("null notes")
            << json("{'version': '2.0', 'url': 'https://gorrin.example/get', 'notes': null}") << low
            << newer("2.0", "https://gorrin.example/get");
        QTest::newRow("other keys are ignored")
            << json("{'extra': [1, {'x': 2}], 'version': '2.0', 'url': 'https://gorrin.example/get'}")
            << low << newer("2.0", "https://gorrin.example/get");
        QTest::newRow("markup in the texts stays as it came")
            << QByteArray("{\"version\": \"2.0 <i>beta</i>\", \"url\": \"https://gorrin.example/get\", "
                          "\"notes\": \"<a href='file:///etc'>Fixes</a> &amp; <img src=x>\\nmore\"}")
            << QStringLiteral("1") << newer("2.0 <i>beta</i>", "https://gorrin.example/get",
                                          QStringLiteral("<a href='file:///etc'>Fixes</a> &amp; <img src=x>\nmore"));
        QTest::newRow("not newer") << file("1.0.0", "https://gorrin.example/get") << low << Result::upToDate();
        QTest::newRow("upper-case scheme and host")
            << file("2.0", "HTTPS://Gorrin.EXAMPLE/Get") << low << newer("2.0", "https://gorrin.example/Get");

        QTest::newRow("a number for version")
            << json("{'version': 2, 'url': 'https://gorrin.example/get'}") << low
            << failed("\"version\" in the version file isn't text.");
        QTest::newRow("null version") << json("{'version': null, 'url': 'https://gorrin.example/get'}")
                                      << low << failed("\"version\" in the version file isn't text.");
        QTest::newRow("an object for url") << json("{'version': '2.0', 'url': {'href': 'https://x.example'}}")
                                           << low << failed("\"url\" in the version file isn't text.");
        QTest::newRow("a number for notes")
            << json("{'version': '2.0', 'url': 'https://gorrin.example/get', 'notes': 3}") << low
            << failed("\"notes\" in the version file isn't text.");
        QTest::newRow("no version") << json("{'url': 'https://gorrin.example/get'}") << low
                                    << failed("The version file has no \"version\".");
        QTest::newRow("no url") << json("{'version': '2.0'}") << low
                                << failed("The version file has no \"url\".");
        QTest::newRow("a top-level array")
            << json("[{'version': '2.0', 'url': 'https://gorrin.example/get'}]") << low
            << failed("The version file isn't a JSON object.");
        QTest::newRow("an HTML error page") << QByteArray("<html><body>404 Not Found</body></html>") << low
                                            << failed("The version file isn't valid JSON.");
        QTest::newRow("an empty body") << QByteArray() << low << failed("The version file isn't valid JSON.");
        QTest::newRow("a truncated object") << json("{'version': '2.0', 'url': 'https://gor") << low
                                            << failed("The version file isn't valid JSON.");
        QTest::newRow("invalid UTF-8") << QByteArray("{\"version\": \"2.\xff\", \"url\": \"https://x.example\"}")
                                       << low << failed("The version file isn't valid JSON.");
        QTest::newRow("deep nesting") << QByteArray(60000, '[') << low << failed("The version file isn't valid JSON.");

        // Exactly the cap still reads; one byte more does not, whatever it holds.
        const QByteArray small = file("2.0", "https://gorrin.example/get");
        const QByteArray atCap = small + QByteArray(UpdateFetcher::maxBodyBytes - small.size(), ' ');
        QTest::newRow("a body of exactly 64 KiB") << atCap << low << newer("2.0", "https://gorrin.example/get");
        QTest::newRow("a body over 64 KiB") << atCap + ' ' << low << failed("The version file is larger than 64 KiB.");

        // The link is judged before the versions, so a bad one fails even when nothing is newer.
        const char* badLinks[] = {"", "file:///etc/passwd", "javascript:alert(1)", "http://gorrin.example/get",
            "gorrin-update://install", "data:text/html,<b>x</b>", "https:///get", "https:gorrin.example/get",
            "//gorrin.example/get", " https://gorrin.example/get", "https://gorrin example/get", "get.html"};
        for (const char* link : badLinks) {
            QTest::addRow("link \"%s\", newer", link) << file("2.0", QString::fromUtf8(link)) << low << Result::failed(noLink);
            QTest::addRow("link \"%s\", not newer", link) << file("2.0", QString::fromUtf8(link)) << high
                                                          << Result::failed(noLink);
        }
    }
    void judgeReadsOnlyAWellFormedFile()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, current);
        QFETCH(Result, expected);
        QCOMPARE(Quandril::UpdateCheck::judge(body, current), expected);
    }

    void runFetchesTheVersionFileAndJudgesIt_data()
    {
        QTest::addColumn<UpdateFetcher::Outcome>("outcome");
        QTest::addColumn<Result>("expected");
        QTest::newRow("newer") << UpdateFetcher::Outcome::received(file("99.0", "https://gorrin.example/get"))
                               << newer("99.0", "https://gorrin.example/get");
        QTest::newRow("up to date") << UpdateFetcher::Outcome::received(file("0.0.1", "https://gorrin.example/get"))
                                    << Result::upToDate();
        QTest::newRow("download failed") << UpdateFetcher::Outcome::failed(QStringLiteral("Host gorrin.example not found"))
                                         << failed("Host gorrin.example not found");
        QTest::newRow("unreadable body") << UpdateFetcher::Outcome::received("<html>")
                                         << failed("The version file isn't valid JSON.");
    }
    void runFetchesTheVersionFileAndJudgesIt()
    {
        QFETCH(UpdateFetcher::Outcome, outcome);
        QFETCH(Result, expected);
        QuandrilAppTests::FakeUpdateFetcher fetcher;
        QObject context;
        std::optional<Result> got;
        Quandril::UpdateCheck::run(Quandril::AppInfo::version(), fetcher, &context, [&](const Result& r) { got = r; });
        QCOMPARE(fetcher.requested, QList<QUrl>{Quandril::AppInfo::updateUrl()});
        QVERIFY(!got);
        QCOMPARE(fetcher.answer(outcome), 1);
        QVERIFY(got);
        QCOMPARE(*got, expected);
    }

    void runHandsNothingToAContextThatIsGone()
    {
        QuandrilAppTests::FakeUpdateFetcher fetcher;
        bool called = false;
        {
            QObject context;
            Quandril::UpdateCheck::run(QStringLiteral("1.0"), fetcher, &context, [&](const Result&) { called = true; });
        }
        QCOMPARE(fetcher.answer(UpdateFetcher::Outcome::received(file("2.0", "https://gorrin.example/get"))), 0);
        QVERIFY(!called);
    }
};

QTEST_GUILESS_MAIN(UpdateCheckTests)
#include "UpdateCheckTests.moc"
