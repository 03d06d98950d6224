#include "QuandrilApp/Platform/UpdateFetcher.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslError>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

using Quandril::App::NetworkUpdateFetcher;
using Outcome = Quandril::App::UpdateFetcher::Outcome;

namespace {

// What the fetcher did to the replies; it outlives them, since the fetcher deletes them.
struct Trace {
    bool aborted = false;
    bool tlsErrorsIgnored = false;
    int redirectsAllowed = 0;
};

// A reply the test drives by hand, standing in for the server.
class ScriptedReply final : public QNetworkReply {
public:
    ScriptedReply(const QNetworkRequest& request, QObject* parent, Trace& trace)
        : QNetworkReply(parent)
        , trace_(trace)
    {
        setRequest(request);
        setUrl(request.url());
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        connect(this, &QNetworkReply::redirectAllowed, this, [this] { ++trace_.redirectsAllowed; });
    }
    void declare(int status, qint64 length)
    {
        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, status);
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
        if (isFinished())
            return;
        trace_.aborted = true;
        end(OperationCanceledError, QStringLiteral("Operation canceled"));
    }
    void ignoreSslErrors() override { trace_.tlsErrorsIgnored = true; }
    qint64 bytesAvailable() const override { return pending_.size(); }

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

class ScriptedNetwork final : public QNetworkAccessManager {
public:
    QPointer<ScriptedReply> last;
    Trace trace;

protected:
    QNetworkReply* createRequest(Operation, const QNetworkRequest& request, QIODevice*) override
    {
        return last = new ScriptedReply(request, this, trace);
    }
};

using Script = std::function<void(ScriptedReply&)>;

QString describe(const Trace& t)
{
    return (t.aborted ? QStringLiteral(", aborted") : QString())
        + (t.redirectsAllowed ? QStringLiteral(", redirected") : QString())
        + (t.tlsErrorsIgnored ? QStringLiteral(", TLS errors ignored") : QString());
}

// Whatever happens, exactly one answer arrives.
QString fetchOnce(Quandril::App::UpdateFetcher& fetcher, const QUrl& url, const std::function<void()>& afterStart = {})
{
    QObject context;
    std::optional<Outcome> got;
    int answers = 0;
    fetcher.fetch(url, &context, [&](const Outcome& o) {
        got = o;
        ++answers;
    });
    if (afterStart)
        afterStart();
    if (!QTest::qWaitFor([&] { return got.has_value(); }, 15'000))
        return QStringLiteral("no answer");
    QCoreApplication::processEvents();
    if (answers != 1)
        return QStringLiteral("%1 answers").arg(answers);
    return got->ok ? QStringLiteral("received %1 bytes").arg(got->body.size()) : got->error;
}

const QUrl versionFile(QStringLiteral("https://gorrin.example/version.json"));
constexpr qint64 cap = Quandril::App::UpdateFetcher::maxBodyBytes;

} // namespace

Q_DECLARE_METATYPE(Script)

class UpdateFetcherTests : public QObject {
    Q_OBJECT
private slots:
    void endsEveryTransfer_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<Script>("script");
        QTest::addColumn<QString>("expected");
        const auto add = [](const char* name, Script script, const char* expected, const QUrl& url = versionFile) {
            QTest::newRow(name) << url << script << QString::fromUtf8(expected);
        };
        const QByteArray half(cap / 2, 'x');
        add(
            "exactly 64 KiB", [half](ScriptedReply& r) { r.arrive(half), r.arrive(half), r.end(); },
            "received 65536 bytes");
        add(
            "one byte past 64 KiB", [half](ScriptedReply& r) { r.arrive(half), r.arrive(half + 'x'), r.end(); },
            "The version file is larger than 64 KiB., aborted");
        add(
            "a declared length past 64 KiB", [](ScriptedReply& r) { r.declare(200, 10'000'000); },
            "The version file is larger than 64 KiB., aborted");
        add(
            "a server's error page is a body",
            [](ScriptedReply& r) {
                r.declare(404, 9), r.arrive("Not Found"),
                    r.end(QNetworkReply::ContentNotFoundError, QStringLiteral("x"));
            },
            "received 9 bytes");
        add(
            "a host that does not resolve",
            [](ScriptedReply& r) {
                r.end(QNetworkReply::HostNotFoundError, QStringLiteral("Host gorrin.example not found"));
            },
            "Host gorrin.example not found");
        add(
            "a refused certificate",
            [](ScriptedReply& r) {
                emit r.sslErrors({ QSslError(QSslError::SelfSignedCertificate) });
                r.end(QNetworkReply::SslHandshakeFailedError, QStringLiteral("SSL handshake failed"));
            },
            "SSL handshake failed");
        add(
            "a redirect to https",
            [](ScriptedReply& r) {
                emit r.redirected(QUrl(QStringLiteral("https://mirror.gorrin.example/version.json")));
                r.arrive("{}"), r.end();
            },
            "received 2 bytes, redirected");
        add(
            "a redirect to http",
            [](ScriptedReply& r) { emit r.redirected(QUrl(QStringLiteral("http://gorrin.example/version.json"))); },
            "The version file was redirected to an address that isn't https., aborted");
        add(
            "the stall timeout",
            [](ScriptedReply& r) {
                r.end(QNetworkReply::OperationCanceledError, QStringLiteral("Operation canceled"));
            },
            "The server took too long to answer.");
        add(
            "a server that never answers", [](ScriptedReply&) {}, "The server took too long to answer., aborted");
        // Bytes keep coming, so only the deadline can end it.
        add(
            "a server that trickles",
            [](ScriptedReply& r) {
                auto* drip = new QTimer(&r);
                QObject::connect(drip, &QTimer::timeout, &r, [&r] { r.arrive(" "); });
                drip->start(5);
            },
            "The server took too long to answer., aborted");
        add("an http address", {}, "The version file's address isn't an https address.",
            QUrl(QStringLiteral("http://gorrin.example/version.json")));
        add("an address without a host", {}, "The version file's address isn't an https address.",
            QUrl(QStringLiteral("https:///version.json")));
    }
    void endsEveryTransfer()
    {
        QFETCH(QUrl, url);
        QFETCH(Script, script);
        QFETCH(QString, expected);
        ScriptedNetwork network;
        NetworkUpdateFetcher fetcher(&network, { std::chrono::seconds(30), std::chrono::milliseconds(100), cap });
        const QString got = fetchOnce(fetcher, url, [&] {
            QCOMPARE(bool(network.last), bool(script));
            if (script)
                script(*network.last);
        });
        QCOMPARE(got + describe(network.trace), expected);
        QTRY_VERIFY(!network.last);
    }

    // Real transfers to a local server that speaks no TLS: the silent one ends by the stall
    // timeout, well before the deadline; the others fail their handshake, with a stall timeout
    // that a busy machine can't reach first.
    void realTransfersToAServerWithoutTlsEnd_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("stallMs");
        QTest::addColumn<QString>("expected");
        QTest::newRow("silent") << QByteArray() << 200 << QStringLiteral("The server took too long to answer.");
        QTest::newRow("plain HTTP") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}") << 20'000
                                    << QStringLiteral("SSL handshake failed");
    }
    void realTransfersToAServerWithoutTlsEnd()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, stallMs);
        QFETCH(QString, expected);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, &server, [&] {
            QTcpSocket* socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket, answer] {
                socket->readAll();
                if (!answer.isEmpty())
                    socket->write(answer), socket->disconnectFromHost();
            });
        });
        NetworkUpdateFetcher fetcher(nullptr, { std::chrono::milliseconds(stallMs), std::chrono::seconds(20), cap });
        QUrl url(QStringLiteral("https://localhost/version.json"));
        url.setPort(server.serverPort());
        const QString got = fetchOnce(fetcher, url);
        QVERIFY2(got.startsWith(expected), qPrintable(got));
    }

    void abandonsTheTransferWhenTheCallerGoes()
    {
        ScriptedNetwork network;
        NetworkUpdateFetcher fetcher(&network);
        bool called = false;
        auto context = std::make_unique<QObject>();
        fetcher.fetch(versionFile, context.get(), [&](const Outcome&) { called = true; });
        context.reset();
        QVERIFY(network.trace.aborted);
        QTRY_VERIFY(!network.last);
        QVERIFY(!called);
    }
};

QTEST_GUILESS_MAIN(UpdateFetcherTests)
#include "UpdateFetcherTests.moc"
