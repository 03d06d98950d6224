#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Settings/UpdateCheck.h"
#include "Support/FakeUpdateFetcher.h"

#include <QtTest>

using Quandril::App::UpdateFetcher;
using Quandril::App::UpdateCheck::Result;

namespace {

QString describe(const Result& r)
{
    switch (r.kind) {
    case Result::Kind::newer:
        return QStringLiteral("newer %1 at %2").arg(r.version, r.url.toString())
            + (r.notes ? QStringLiteral(": ") + *r.notes : QString());
    case Result::Kind::failed:
        return r.message;
    case Result::Kind::upToDate:
        break;
    }
    return QStringLiteral("up to date");
}

// JSON written with ' for ", so the rows stay readable.
QByteArray json(const char* text)
{
    return QByteArray(text).replace('\'', '"');
}

QByteArray file(const char* version, const char* url)
{
    return json("{'version': '") + version + json("', 'url': '") + url + json("'}");
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
        const auto add = [](const char* name, const char* candidate, const char* current, bool expected) {
            QTest::newRow(name) << QString::fromUtf8(candidate) << QString::fromUtf8(current) << expected;
        };
        add("parts compare as numbers", "1.10", "1.9", true);
        add("a missing part counts as 0", "1.2", "1.2.0", false);
        add("a longer candidate", "1.2.0.1", "1.2", true);
        add("the first difference decides", "1.3", "1.2.9", true);
        add("letters drop the piece", "2.0-beta", "2.0", false);
        add("a letter in front drops the first piece", "v2.0", "1.9", false);
        add("later pieces move up", "1.x.3", "1.2", true);
        add("empty pieces add nothing", ".1..2.", "1.1", true);
        add("a trailing blank drops the last piece", "1.2.3 ", "1.2.1", false);
        add("a leading blank drops the first piece", " 2.0", "1.0", false);
        add("leading zeros", "1.02", "1.2", false);
        add("a plus sign", "+1.1", "1.0", true);
        add("signed comparison", "0", "-1", true);
        add("a sign alone or two signs", "+.-.+-5.1", "1", false);
        add("the largest 64-bit number", "9223372036854775807", "9223372036854775806", true);
        add("a number too big to fit is dropped", "9223372036854775808", "1", false);
        add("non-ASCII digits are dropped", "\xd9\xa2.0", "1.0", false);
        add("an empty candidate", "", "0.0.0", false);
        add("no digits against an empty text", "beta", "", false);
        add("an equal text", "1.2", "1.2", false);
    }
    void isNewerComparesDottedNumbers()
    {
        QFETCH(QString, candidate);
        QFETCH(QString, current);
        QFETCH(bool, expected);
        QCOMPARE(Quandril::App::UpdateCheck::isNewer(candidate, current), expected);
    }

    void judgeReadsOnlyAWellFormedFile_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("expected");
        const auto add = [](const char* name, const QByteArray& body, const char* expected,
                            const char* current = "1.0") {
            QTest::newRow(name) << body << QString::fromUtf8(current) << QString::fromUtf8(expected);
        };
        add("newer with notes", json("{'version': '1.4.2', 'url': 'https://gorrin.example/get', 'notes': 'Faster.'}"),
            "newer 1.4.2 at https://gorrin.example/get: Faster.");
        add("no notes", file("2.0", "https://gorrin.example/get"), "newer 2.0 at https://gorrin.example/get");
        add("null notes, other keys ignored",
            json("{'x': [1, {}], 'version': '2.0', 'url': 'https://gorrin.example/get', 'notes': null}"),
            "newer 2.0 at https://gorrin.example/get");
        add("markup stays as it came",
            "{\"version\": \"2.0 <i>b</i>\", \"url\": \"https://gorrin.example/get\", \"notes\": \"<a href='file:///'>x</a>\"}",
            "newer 2.0 <i>b</i> at https://gorrin.example/get: <a href='file:///'>x</a>");
        add("not newer", file("1.0.0", "https://gorrin.example/get"), "up to date");
        add("upper-case scheme and host", file("2.0", "HTTPS://Gorrin.EXAMPLE/Get"),
            "newer 2.0 at https://gorrin.example/Get");

        add("a number for version", json("{'version': 2, 'url': 'https://gorrin.example/get'}"),
            "Couldn't check: \"version\" in the version file isn't text.");
        add("an object for url", json("{'version': '2.0', 'url': {'href': 'https://x.example'}}"),
            "Couldn't check: \"url\" in the version file isn't text.");
        add("a number for notes", json("{'version': '2.0', 'url': 'https://gorrin.example/get', 'notes': 3}"),
            "Couldn't check: \"notes\" in the version file isn't text.");
        add("no url", json("{'version': '2.0'}"), "Couldn't check: The version file has no \"url\".");
        add("a top-level array", "[" + file("2.0", "https://gorrin.example/get") + "]",
            "Couldn't check: The version file isn't a JSON object.");
        add("an HTML error page", "<html>404</html>", "Couldn't check: The version file isn't valid JSON.");
        add("invalid UTF-8", file("2.\xff", "https://x.example"), "Couldn't check: The version file isn't valid JSON.");
        add("deep nesting", QByteArray(60'000, '['), "Couldn't check: The version file isn't valid JSON.");

        // Exactly the cap still reads; one byte more does not, whatever it holds.
        const QByteArray small = file("2.0", "https://gorrin.example/get");
        const QByteArray atCap = small + QByteArray(UpdateFetcher::maxBodyBytes - small.size(), ' ');
        add("exactly 64 KiB", atCap, "newer 2.0 at https://gorrin.example/get");
        add("past 64 KiB", atCap + ' ', "Couldn't check: The version file is larger than 64 KiB.");

        // The link is judged before the versions, so a bad one fails even when nothing is newer.
        for (const char* link :
             { "", "file:///etc/passwd", "javascript:alert(1)", "http://gorrin.example/get", "gorrin-update://install",
               "https:///get", "https:gorrin.example", "//gorrin.example/get", " https://gorrin.example/get",
               "https://gorrin example/get" }) {
            for (const char* current : { "1.0", "9.9" })
                QTest::addRow("link \"%s\" against %s", link, current)
                    << file("2.0", link) << QString::fromUtf8(current)
                    << QStringLiteral("The version file didn't have a usable link.");
        }
    }
    void judgeReadsOnlyAWellFormedFile()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, current);
        QFETCH(QString, expected);
        QCOMPARE(describe(Quandril::App::UpdateCheck::judge(body, current)), expected);
    }

    void runJudgesTheDownloadedVersionFile()
    {
        Quandril::AppTesting::FakeUpdateFetcher fetcher;
        QObject context;
        QStringList got;
        for (const auto& outcome :
             { UpdateFetcher::Outcome::received(file("99.0", "https://gorrin.example/get")),
               UpdateFetcher::Outcome::failed(QStringLiteral("Host gorrin.example not found")) }) {
            Quandril::App::UpdateCheck::run(Quandril::App::AppInfo::version(), fetcher, &context,
                                            [&](const Result& r) { got << describe(r); });
            QVERIFY(fetcher.answer(outcome) == 1);
        }
        QCOMPARE(fetcher.requested, QList<QUrl>(2, Quandril::App::AppInfo::updateUrl()));
        QCOMPARE(got,
                 QStringList({ QStringLiteral("newer 99.0 at https://gorrin.example/get"),
                               QStringLiteral("Couldn't check: Host gorrin.example not found") }));
    }
};

QTEST_GUILESS_MAIN(UpdateCheckTests)
#include "UpdateCheckTests.moc"
