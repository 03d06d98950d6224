#include "QuandrilApp/Platform/UpdateFetcher.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslError>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <functional>

using Quandril::UpdateFetcher;
using Outcome = Quandril::UpdateFetcher::Outcome;

namespace {

// What the fetcher did to a reply; it outlives the reply, which the fetcher deletes.
struct Trace {
    bool aborted = false;
    bool tlsErrorsIgnored = false;
    int redirectsAllowed = 0;
};

// A reply that the test drives by hand, standing in for the server.
class ScriptedReply final : public QNetworkReply {
public:
    ScriptedReply(const QNetworkRequest& request, QObject* parent, Trace& trace)
        : QNetworkReply(parent)
        , trace_(trace)
    {
        setRequest(request);
        setUrl(request.url());
        setOperation(QNetworkAccessManager::GetOperation);
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        connect(this, &QNetworkReply::redirectAllowed, this, [this] { ++trace_.redirectsAllowed; });
    }

    void answerHeaders(int status, qint64 length = -1)
    {
        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, status);
        if (length >= 0)
            setHeader(QNetworkRequest::ContentLengthHeader, length);
        emit metaDataChanged();
    }
    void arrive(const QByteArray& data)
    {
        pending_ += data;
        emit readyRead();
    }
    void end(NetworkError error = NoError, const QString& message = {})
    {
        if (isFinished())
            return;
        if (error != NoError) {
            setError(error, message);
            emit errorOccurred(error);
        }
        setFinished(true);
        emit finished();
    }

    void abort() override
    {
        trace_.aborted = true;
        end(OperationCanceledError, QStringLiteral("Operation canceled"));
    }
    void ignoreSslErrors() override { trace_.tlsErrorsIgnored = true; }
    qint64 bytesAvailable() const override { return pending_.size() + QNetworkReply::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 n = std::min<qint64>(maxSize, pending_.size());
        std::memcpy(data, pending_.constData(), size_t(n));
        pending_.remove(0, n);
        return n;
    }

private:
    Trace& trace_;
    QByteArray pending_;
};

// Hands out scripted replies and keeps the requests it was given.
class ScriptedNetwork final : public QNetworkAccessManager {
public:
    QList<QNetworkRequest> requests;
    QPointer<ScriptedReply> last;
    Trace trace;

protected:
    QNetworkReply* createRequest(Operation, const QNetworkRequest& request, QIODevice*) override
    {
        requests.append(request);
        last = new ScriptedReply(request, this, trace);
        return last;
    }
};

using Script = std::function<void(ScriptedReply&)>;

const QUrl versionFile(QStringLiteral("https://gorrin.example/version.json"));
const Quandril::NetworkUpdateFetcher::Limits testLimits{std::chrono::milliseconds(30'000),
    std::chrono::milliseconds(100), UpdateFetcher::maxBodyBytes};

} // namespace

Q_DECLARE_METATYPE(Script)
Q_DECLARE_METATYPE(Outcome)

namespace QTest {
template <>
char* toString(const Outcome& o)
{
    return qstrdup(o.ok ? QByteArray("received " + QByteArray::number(o.body.size()) + " bytes: " + o.body.left(40))
                        : QByteArray("failed: " + o.error.toUtf8()));
}
} // namespace QTest

class UpdateFetcherTests : public QObject {
    Q_OBJECT
private slots:
    void endsEveryTransfer_data()
    {
        QTest::addColumn<Script>("script");
        QTest::addColumn<Outcome>("expected");
        QTest::addColumn<bool>("aborted");
        QTest::addColumn<int>("redirectsAllowed");

        const QByteArray half(UpdateFetcher::maxBodyBytes / 2, 'x');
        const Outcome tooLarge = Outcome::failed(QStringLiteral("The version file is larger than 64 KiB."));
        const Outcome tooSlow = Outcome::failed(QStringLiteral("The server took too long to answer."));

        QTest::newRow("a whole body") << Script([](ScriptedReply& r) {
            r.answerHeaders(200, 12);
            r.arrive("{\"a\":");
            r.arrive("\"b\"}\n\n\n\n\n");
            r.end();
        }) << Outcome::received("{\"a\":\"b\"}\n\n\n\n\n") << false << 0;
        QTest::newRow("exactly 64 KiB") << Script([half](ScriptedReply& r) {
            r.arrive(half);
            r.arrive(half);
            r.end();
        }) << Outcome::received(half + half) << false << 0;
        QTest::newRow("one byte past 64 KiB") << Script([half](ScriptedReply& r) {
            r.arrive(half);
            r.arrive(half + 'x');
            r.arrive("more");
            r.end();
        }) << tooLarge << true << 0;
        QTest::newRow("a declared length past 64 KiB") << Script([](ScriptedReply& r) {
            r.answerHeaders(200, 10'000'000);
        }) << tooLarge << true << 0;
        QTest::newRow("a server error page is a body") << Script([](ScriptedReply& r) {
            r.answerHeaders(404);
            r.arrive("<html>Not Found</html>");
            r.end(QNetworkReply::ContentNotFoundError, QStringLiteral("Not Found"));
        }) << Outcome::received("<html>Not Found</html>") << false << 0;
        QTest::newRow("a host that does not resolve") << Script([](ScriptedReply& r) {
            r.end(QNetworkReply::HostNotFoundError, QStringLiteral("Host gorrin.example not found"));
        }) << Outcome::failed(QStringLiteral("Host gorrin.example not found")) << false << 0;
        QTest::newRow("a refused certificate") << Script([](ScriptedReply& r) {
            emit r.sslErrors({QSslError(QSslError::SelfSignedCertificate)});
            r.end(QNetworkReply::SslHandshakeFailedError, QStringLiteral("SSL handshake failed"));
        }) << Outcome::failed(QStringLiteral("SSL handshake failed")) << false << 0;
        QTest::newRow("a connection dropped mid-body") << Script([](ScriptedReply& r) {
            r.answerHeaders(200, 40);
            r.arrive("{\"version\": \"2.");
            r.end(QNetworkReply::RemoteHostClosedError, QStringLiteral("Connection closed"));
        }) << Outcome::failed(QStringLiteral("Connection closed")) << false << 0;
        QTest::newRow("a redirect to https is followed") << Script([](ScriptedReply& r) {
            emit r.redirected(QUrl(QStringLiteral("https://mirror.gorrin.example/version.json")));
            r.arrive("{}");
            r.end();
        }) << Outcome::received("{}") << false << 1;
        QTest::newRow("a redirect to http is refused") << Script([](ScriptedReply& r) {
            emit r.redirected(QUrl(QStringLiteral("http://gorrin.example/version.json")));
        }) << Outcome::failed(QStringLiteral("The version file was redirected to an address that isn't https."))
           << true << 0;
        QTest::newRow("the stall timeout") << Script([](ScriptedReply& r) {
            r.end(QNetworkReply::OperationCanceledError, QStringLiteral("Operation canceled"));
        }) << tooSlow << false << 0;
        QTest::newRow("a server that never answers") << Script([](ScriptedReply&) {}) << tooSlow << true << 0;
        // Bytes keep flowing, so only the deadline can end it.
        QTest::newRow("a server that trickles") << Script([](ScriptedReply& r) {
            auto* drip = new QTimer(&r);
            QObject::connect(drip, &QTimer::timeout, &r, [&r] { r.arrive(" "); });
            drip->start(5);
        }) << tooSlow << true << 0;
    }
    void endsEveryTransfer()
    {
        QFETCH(Script, script);
        QFETCH(Outcome, expected);
        QFETCH(bool, aborted);
        QFETCH(int, redirectsAllowed);

        ScriptedNetwork network;
        Quandril::NetworkUpdateFetcher fetcher(&network, testLimits);
        QObject context;
        std::optional<Outcome> got;
        int calls = 0;
        fetcher.fetch(versionFile, &context, [&](const Outcome& o) {
            got = o;
            ++calls;
        });
        QPointer<ScriptedReply> reply = network.last;
        QVERIFY(reply);
        script(*reply);
        QTRY_VERIFY(got);
        QCOMPARE(*got, expected);
        QCOMPARE(network.trace.aborted, aborted);
        QCOMPARE(network.trace.redirectsAllowed, redirectsAllowed);
        QVERIFY(!network.trace.tlsErrorsIgnored);
        // The answer is given once, and the reply is let go.
        if (reply)
            reply->end();
        QTRY_VERIFY(!reply);
        QCOMPARE(calls, 1);
    }

    void sendsAPlainRequest()
    {
        ScriptedNetwork network;
        Quandril::NetworkUpdateFetcher fetcher(&network);
        QObject context;
        fetcher.fetch(versionFile, &context, [](const Outcome&) {});
        QCOMPARE(network.requests.size(), 1);
        const QNetworkRequest& request = network.requests.front();
        QCOMPARE(request.url(), versionFile);
        QCOMPARE(request.rawHeaderList(), QList<QByteArray>());
        QCOMPARE(request.transferTimeout(), 30'000);
        QCOMPARE(request.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
            int(QNetworkRequest::UserVerifiedRedirectPolicy));
        QCOMPARE(request.attribute(QNetworkRequest::CookieLoadControlAttribute).toInt(), int(QNetworkRequest::Manual));
        QCOMPARE(request.attribute(QNetworkRequest::CookieSaveControlAttribute).toInt(), int(QNetworkRequest::Manual));
    }

    void refusesAddressesThatAreNotHttps_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::newRow("http") << QUrl(QStringLiteral("http://gorrin.example/version.json"));
        QTest::newRow("file") << QUrl(QStringLiteral("file:///etc/passwd"));
        QTest::newRow("no host") << QUrl(QStringLiteral("https:///version.json"));
        QTest::newRow("empty") << QUrl();
    }
    void refusesAddressesThatAreNotHttps()
    {
        QFETCH(QUrl, url);
        ScriptedNetwork network;
        Quandril::NetworkUpdateFetcher fetcher(&network);
        QObject context;
        std::optional<Outcome> got;
        fetcher.fetch(url, &context, [&](const Outcome& o) { got = o; });
        QVERIFY(!got);
        QTRY_VERIFY(got);
        QCOMPARE(*got, Outcome::failed(QStringLiteral("The version file's address isn't an https address.")));
        QVERIFY(network.requests.isEmpty());
    }

    // Real transfers to a local server that doesn't speak TLS: each ends as a failure, and the one
    // that never answers ends by the stall timeout, not the later deadline.
    void realTransfersToABadServerEnd_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("silent") << QByteArray() << false << QStringLiteral("The server took too long to answer.");
        QTest::newRow("plain HTTP") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}") << true
                                    << QString();
        QTest::newRow("hangs up") << QByteArray() << true << QString();
    }
    void realTransfersToABadServerEnd()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, closes);
        QFETCH(QString, expected);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, &server, [&] {
            QTcpSocket* socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket, answer, closes] {
                socket->readAll();
                socket->write(answer);
                if (closes)
                    socket->disconnectFromHost();
            });
        });

        Quandril::NetworkUpdateFetcher fetcher(
            nullptr, {std::chrono::milliseconds(200), std::chrono::milliseconds(20'000), UpdateFetcher::maxBodyBytes});
        QObject context;
        std::optional<Outcome> got;
        QUrl url(QStringLiteral("https://localhost/version.json"));
        url.setPort(server.serverPort());
        fetcher.fetch(url, &context, [&](const Outcome& o) { got = o; });
        QTRY_VERIFY_WITH_TIMEOUT(got, 15'000);
        QVERIFY(!got->ok);
        QVERIFY(!got->error.isEmpty());
        if (!expected.isEmpty())
            QCOMPARE(got->error, expected);
    }

    void abandonsTheTransferWhenTheCallerGoes()
    {
        ScriptedNetwork network;
        Quandril::NetworkUpdateFetcher fetcher(&network, testLimits);
        bool called = false;
        auto context = std::make_unique<QObject>();
        fetcher.fetch(versionFile, context.get(), [&](const Outcome&) { called = true; });
        QPointer<ScriptedReply> reply = network.last;
        context.reset();
        QVERIFY(network.trace.aborted);
        QTRY_VERIFY(!reply);
        QVERIFY(!called);
    }
};

QTEST_GUILESS_MAIN(UpdateFetcherTests)
#include "UpdateFetcherTests.moc"
