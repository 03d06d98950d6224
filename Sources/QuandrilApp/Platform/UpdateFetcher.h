#pragma once

// Downloading the version file. The check sends nothing of its own: a plain GET of one https
// address, no header, cookie or query of ours. A transfer that stalls, runs too long or grows past
// the size cap ends as a failure, so a check always comes to an end.

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

class QNetworkAccessManager;

namespace Quandril::App {

class UpdateFetcher {
public:
    // The most a version file may hold.
    static constexpr qint64 maxBodyBytes = 64 * 1024;

    // What one download gave: the body that arrived, or why none did (one sentence for the user).
    struct Outcome {
        bool ok = false;
        QByteArray body;
        QString error;

        static Outcome received(QByteArray body) { return { true, std::move(body), {} }; }
        static Outcome failed(QString error) { return { false, {}, std::move(error) }; }

        friend bool operator==(const Outcome&, const Outcome&) = default;
    };
    using Callback = std::function<void(const Outcome&)>;

    virtual ~UpdateFetcher() = default;

    // Downloads `url` and calls `done` once, later, on `context`'s thread; never from inside this
    // call, and not at all once `context` (or the fetcher) is gone. A server's error page counts
    // as a body: the status code is not looked at.
    virtual void fetch(const QUrl& url, QObject* context, Callback done) = 0;
};

// The real download, through QNetworkAccessManager.
class NetworkUpdateFetcher final : public UpdateFetcher {
public:
    struct Limits {
        // Without a byte moving for this long, the transfer is given up.
        std::chrono::milliseconds stallTimeout { 30'000 };
        // However it trickles, the whole transfer ends by then.
        std::chrono::milliseconds deadline { 60'000 };
        qint64 maxBodyBytes = UpdateFetcher::maxBodyBytes;
    };

    // `manager` (not owned; it must outlive the fetcher) lets tests script the replies; without
    // one the fetcher makes its own.
    explicit NetworkUpdateFetcher(QNetworkAccessManager* manager = nullptr);
    NetworkUpdateFetcher(QNetworkAccessManager* manager, Limits limits);
    ~NetworkUpdateFetcher() override;

    void fetch(const QUrl& url, QObject* context, Callback done) override;

private:
    std::unique_ptr<QNetworkAccessManager> owned_;
    QNetworkAccessManager* manager_;
    Limits limits_;
};

} // namespace Quandril::App
