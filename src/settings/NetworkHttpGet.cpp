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

// One GET's reply and what cut it short, shared by its handlers and the
// task's cancellation.
struct Transfer {
    QPointer<QNetworkReply> reply;
    bool refused = false;
};

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
    QPointer<QNetworkAccessManager> guarded(&manager);
    return [guarded](HttpRequest request) -> rt::Async<HttpResult> {
        auto transfer = std::make_shared<Transfer>();
        rt::Executor* main = &rt::mainExecutor();
        // A check given up on (its deadline passed) stops reading at once.
        rt::CancellationHandler onCancel([transfer, main] {
            main->post([transfer] {
                if (transfer->reply)
                    transfer->reply->abort();
            });
        });
        co_return co_await rt::withContinuation<HttpResult>([guarded, request,
                                                             transfer](rt::Continuation<HttpResult> done) {
            if (!guarded) {
                done.resume(HttpResult{HttpResult::Kind::otherFailure, 0, {}});
                return;
            }
            const QUrl url(QString::fromStdString(request.url));
            QNetworkRequest networkRequest(url);
            networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
            networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                        QNetworkRequest::UserVerifiedRedirectPolicy);
            networkRequest.setMaximumRedirectsAllowed(mostRedirects);
            networkRequest.setTransferTimeout(request.timeoutMs);
            for (const auto& [name, value] : request.headers)
                networkRequest.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
            QNetworkReply* reply = guarded->get(networkRequest);
            transfer->reply = reply;
            const std::string origin = request.url;
            QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, transfer, origin](const QUrl& to) {
                if (redirectStaysHome(origin, to.toString().toStdString())) {
                    emit reply->redirectAllowed();
                    return;
                }
                transfer->refused = true;
                reply->abort();
            });
            // Judged as the data comes, by what is announced and what has
            // arrived: Qt's progress signal is rate-limited and would let a
            // fast sender fill memory first.
            const auto limit = static_cast<qint64>(request.maxBodyBytes);
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
            QObject::connect(reply, &QNetworkReply::finished, reply, [reply, transfer, done]() mutable {
                HttpResult result;
                const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
                if (transfer->refused) {
                    result.kind = HttpResult::Kind::otherFailure;
                } else if (status.isValid()) {
                    result.kind = HttpResult::Kind::response;
                    result.status = status.toInt();
                    result.body = reply->readAll().toStdString();
                } else {
                    result.kind = HttpResult::Kind::connectionFailed;
                }
                reply->deleteLater();
                done.resume(std::move(result));
            });
        });
    };
}

}  // namespace parlaro::settings
