#include "settings/NetworkHttpGet.h"

#include "runtime/Continuation.h"
#include "runtime/Executor.h"
#include "runtime/Runtime.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>

#include <memory>

namespace parlaro::settings {

namespace {

constexpr int mostRedirects = 5;

// One GET, through any redirects, shared by its handlers and the task's
// cancellation.
struct Transfer {
    HttpRequest request;
    rt::Continuation<HttpResult> done;
    // The reply now under way: the first request's, then each redirect's.
    QPointer<QNetworkReply> reply;
    int redirects = 0;
    // Cut short: too large, or given up on.
    bool refused = false;
};

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

void send(const QPointer<QNetworkAccessManager>& manager, const std::shared_ptr<Transfer>& transfer, const QUrl& url);

// Redirects are followed here rather than by Qt, whose own following ends
// some same-origin chains with no answer at all: each hop is judged by the
// same rule, and one more is never taken after the last allowed.
void onFinished(const QPointer<QNetworkAccessManager>& manager, const std::shared_ptr<Transfer>& transfer,
                QNetworkReply* reply)
{
    reply->deleteLater();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (transfer->refused) {
        transfer->done.resume(HttpResult{HttpResult::Kind::otherFailure, 0, {}});
        return;
    }
    if (!status.isValid()) {
        transfer->done.resume(HttpResult{HttpResult::Kind::connectionFailed, 0, {}});
        return;
    }
    const QByteArray location = reply->rawHeader("Location");
    if (isRedirect(status.toInt()) && !location.isEmpty()) {
        const QUrl target = reply->url().resolved(QUrl::fromEncoded(location));
        if (transfer->redirects >= mostRedirects || !manager
            || !redirectStaysHome(transfer->request.url, target.toString().toStdString())) {
            transfer->done.resume(HttpResult{HttpResult::Kind::otherFailure, 0, {}});
            return;
        }
        ++transfer->redirects;
        send(manager, transfer, target);
        return;
    }
    transfer->done.resume(HttpResult{HttpResult::Kind::response, status.toInt(), reply->readAll().toStdString()});
}

void send(const QPointer<QNetworkAccessManager>& manager, const std::shared_ptr<Transfer>& transfer, const QUrl& url)
{
    QNetworkRequest networkRequest(url);
    networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    networkRequest.setTransferTimeout(transfer->request.timeoutMs);
    for (const auto& [name, value] : transfer->request.headers)
        networkRequest.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    QNetworkReply* reply = manager->get(networkRequest);
    transfer->reply = reply;
    // Judged as the data comes, by what is announced and what has arrived:
    // Qt's progress signal is rate-limited and would let a fast sender fill
    // memory first.
    const auto limit = static_cast<qint64>(transfer->request.maxBodyBytes);
    auto tooLarge = [reply, transfer, limit] {
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        if (transfer->refused
            || (reply->bytesAvailable() <= limit && (!announced.isValid() || announced.toLongLong() <= limit)))
            return;
        transfer->refused = true;
        reply->abort();
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, tooLarge);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, tooLarge);
    QObject::connect(reply, &QNetworkReply::finished, reply,
                     [manager, transfer, reply] { onFinished(manager, transfer, reply); });
}

// A coroutine of its own, not the lambda's body: the lambda's captures would
// be gone if the caller drops the function before it awaits the result.
rt::Async<HttpResult> get(QPointer<QNetworkAccessManager> guarded, HttpRequest request)
{
    rt::Executor* main = &rt::mainExecutor();
    // A check given up on (its deadline passed) stops reading at once,
    // whichever hop it is on, and follows no redirect after that.
    auto current = std::make_shared<std::weak_ptr<Transfer>>();
    rt::CancellationHandler onCancel([current, main] {
        main->post([current] {
            auto transfer = current->lock();
            if (!transfer)
                return;
            transfer->refused = true;
            if (transfer->reply)
                transfer->reply->abort();
        });
    });
    co_return co_await rt::withContinuation<HttpResult>(
        [guarded, request = std::move(request), current](rt::Continuation<HttpResult> done) {
            if (!guarded) {
                done.resume(HttpResult{HttpResult::Kind::otherFailure, 0, {}});
                return;
            }
            auto transfer = std::make_shared<Transfer>(Transfer{request, std::move(done), {}, 0, false});
            *current = transfer;
            send(guarded, transfer, QUrl(QString::fromStdString(request.url)));
        });
}

}  // namespace

bool redirectStaysHome(const std::string& from, const std::string& to)
{
    const QUrl origin(QString::fromStdString(from));
    const QUrl target(QString::fromStdString(to));
    const QString https = QStringLiteral("https");
    return origin.isValid() && target.isValid() && origin.scheme() == https && target.scheme() == https
        && !target.host().isEmpty() && origin.host() == target.host() && origin.port(443) == target.port(443)
        && target.userInfo().isEmpty();
}

HttpGet networkHttpGet(QNetworkAccessManager& manager)
{
    return [guarded = QPointer<QNetworkAccessManager>(&manager)](HttpRequest request) {
        return get(guarded, std::move(request));
    };
}

}  // namespace parlaro::settings
