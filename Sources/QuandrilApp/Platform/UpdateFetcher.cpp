#include "QuandrilApp/Platform/UpdateFetcher.h"

#include "QuandrilApp/Platform/UrlOpener.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace Quandril::App {

namespace {

const QString tooLarge = QStringLiteral("The version file is larger than 64 KiB.");
const QString tooSlow = QStringLiteral("The server took too long to answer.");
const QString unsafeRedirect = QStringLiteral("The version file was redirected to an address that isn't https.");
const QString unsafeAddress = QStringLiteral("The version file's address isn't an https address.");

// Errors that only mean the server answered with an error status: the body still counts.
bool isStatusError(QNetworkReply::NetworkError error)
{
    const int code = error;
    return (code >= QNetworkReply::ContentAccessDenied && code <= QNetworkReply::UnknownContentError)
        || (code >= QNetworkReply::InternalServerError && code <= QNetworkReply::UnknownServerError);
}

// One download in flight. It lives as long as its reply.
struct Transfer {
    QPointer<QObject> context;
    UpdateFetcher::Callback done;
    qint64 cap = 0;
    QByteArray body;
    bool finished = false;

    void deliver(const UpdateFetcher::Outcome& outcome)
    {
        if (finished)
            return;
        finished = true;
        if (context)
            QMetaObject::invokeMethod(context, [done = std::move(done), outcome] { done(outcome); });
    }
};

void deliverLater(QObject* context, UpdateFetcher::Callback done, UpdateFetcher::Outcome outcome)
{
    QMetaObject::invokeMethod(
        context, [done = std::move(done), outcome = std::move(outcome)] { done(outcome); }, Qt::QueuedConnection);
}

} // namespace

NetworkUpdateFetcher::NetworkUpdateFetcher(QNetworkAccessManager* manager)
    : NetworkUpdateFetcher(manager, Limits())
{
}

NetworkUpdateFetcher::NetworkUpdateFetcher(QNetworkAccessManager* manager, Limits limits)
    : owned_(manager ? nullptr : std::make_unique<QNetworkAccessManager>())
    , manager_(manager ? manager : owned_.get())
    , limits_(limits)
{
}

NetworkUpdateFetcher::~NetworkUpdateFetcher() = default;

void NetworkUpdateFetcher::fetch(const QUrl& url, QObject* context, Callback done)
{
    if (!context)
        return;
    if (!isSecureWebAddress(url)) {
        deliverLater(context, std::move(done), Outcome::failed(unsafeAddress));
        return;
    }

    QNetworkRequest request(url);
    request.setTransferTimeout(int(limits_.stallTimeout.count()));
    // Each redirect is checked below, so an https download never continues over plain http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    // No cookies or remembered credentials go out with the check, and none come back in.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    QNetworkReply* reply = manager_->get(request);
    auto transfer = std::make_shared<Transfer>();
    transfer->context = context;
    transfer->done = std::move(done);
    transfer->cap = limits_.maxBodyBytes;

    // Delivered before the abort, so the cancellation that the abort reports is not mistaken for
    // the stall timeout.
    const auto giveUp = [reply, transfer](const QString& why) {
        if (transfer->finished)
            return;
        transfer->deliver(Outcome::failed(why));
        reply->abort();
        reply->deleteLater();
    };

    // Reads what arrived, keeping the body within the cap; false when the cap was passed.
    const auto take = [reply, transfer, giveUp] {
        if (transfer->body.size() + reply->bytesAvailable() > transfer->cap) {
            giveUp(tooLarge);
            return false;
        }
        transfer->body += reply->readAll();
        return true;
    };

    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [giveUp] { giveUp(tooSlow); });
    deadline->start(limits_.deadline);

    // The caller went away: nobody wants the answer any more.
    QObject::connect(context, &QObject::destroyed, reply, [reply, transfer] {
        transfer->finished = true;
        reply->abort();
        reply->deleteLater();
    });

    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, transfer, giveUp] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > transfer->cap)
            giveUp(tooLarge);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, take);
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, giveUp](const QUrl& to) {
        if (isSecureWebAddress(to))
            emit reply->redirectAllowed();
        else
            giveUp(unsafeRedirect);
    });
    // TLS errors are never ignored: the handshake fails and so does the check.
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, transfer, take] {
        if (transfer->finished)
            return;
        const QNetworkReply::NetworkError error = reply->error();
        if (error == QNetworkReply::NoError || isStatusError(error)) {
            if (take())
                transfer->deliver(Outcome::received(transfer->body));
        } else if (error == QNetworkReply::OperationCanceledError) {
            // Nobody here aborted it, so it was the stall timeout.
            transfer->deliver(Outcome::failed(tooSlow));
        } else {
            transfer->deliver(Outcome::failed(reply->errorString()));
        }
        reply->deleteLater();
    });
}

} // namespace Quandril::App
